#include "Steps.h"

#include "Console.h"

#include "protocol/Commands.h"

#include <type_traits>

namespace cli::steps {

using core::DeviceSession;

namespace {

// A command and its answer: `send` writes the command, and the session's first `answer` after
// it ends the step through `take`.
template <typename Value>
Step Exchange(std::function<void(DeviceSession &)> send, void (DeviceSession::*answer)(Value),
              std::function<void(DeviceJob &, std::decay_t<Value>)> take)
{
    return Step{ Step::Wait::Reply, [=](DeviceJob &job, QObject *context) {
                    QObject::connect(&job.Session(), answer, context,
                                     [&job, take](Value value) { take(job, value); });
                    send(job.Session());
                } };
}

// The answer of a set: success, or the window's own failure text.
std::function<void(DeviceJob &, bool)> Accepted(const QString &failure)
{
    return [failure](DeviceJob &job, bool ok) { ok ? job.StepDone() : job.Fail(failure); };
}

void OnDownloadStopped(DeviceJob &job, bool succeeded)
{
    if (succeeded) {
        job.StepDone();
        return;
    }
    for (const BlockResult &block : job.Result().blocks) {
        if (block.result != QLatin1String("Update Complete")) {
            job.Fail(QString::asprintf("block 0x%08x: ", block.address) + block.result);
            return;
        }
    }
    job.Fail(QStringLiteral("download stopped"));
}

} // namespace

Step ReadVersion()
{
    return Exchange(&DeviceSession::RequestVersion, &DeviceSession::versionRead,
                    [](DeviceJob &job, const QByteArray &version) {
                        job.Values().version = protocol::FromWire(version);
                        job.StepDone();
                    });
}

Step ReadAddresses()
{
    return Exchange(&DeviceSession::RequestAddresses, &DeviceSession::addressesRead,
                    [](DeviceJob &job, const QList<QByteArray> &items) {
                        // The first five are the addresses, as the window fills its fields.
                        QStringList addresses;
                        for (qsizetype i = 0; i < 5; ++i)
                            addresses.append(protocol::FromWire(items.value(i)));
                        job.Values().addresses = addresses;
                        job.StepDone();
                    });
}

Step ReadMac()
{
    return Exchange(&DeviceSession::RequestMac, &DeviceSession::macRead,
                    [](DeviceJob &job, const QByteArray &mac) {
                        job.Values().mac = protocol::FromWire(mac);
                        job.StepDone();
                    });
}

Step SetAddresses(const DeviceSession::Addresses &addresses)
{
    return Exchange([addresses](DeviceSession &session) { session.SetAddresses(addresses); },
                    &DeviceSession::addressesSet,
                    Accepted(QStringLiteral("IP Address Set Failed")));
}

Step SetMac(const QByteArray &mac)
{
    return Exchange([mac](DeviceSession &session) { session.SetMac(mac); }, &DeviceSession::macSet,
                    Accepted(QStringLiteral("MAC Address Set Failed")));
}

Step Download(const QByteArray &image, quint32 baseAddress)
{
    return Step{ Step::Wait::Own, [image, baseAddress](DeviceJob &job, QObject *context) {
                    DeviceSession &session = job.Session();
                    QObject::connect(
                            &session, &DeviceSession::blockFinished, context,
                            [&job](quint32 address, qint32 length, const QString &result) {
                                // The device's own text ends in the CR of its reply.
                                job.AddBlock(BlockResult{ address, length, OneLine(result) });
                            });
                    QObject::connect(&session, &DeviceSession::downloadStopped, context,
                                     [&job](bool succeeded) { OnDownloadStopped(job, succeeded); });
                    session.StartDownload(image, baseAddress);
                } };
}

} // namespace cli::steps
