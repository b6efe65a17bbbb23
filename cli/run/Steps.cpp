#include "run/Steps.h"

#include "io/Console.h"

#include "protocol/Commands.h"
#include "platform/SocketErrors.h"
#include "protocol/Replies.h"

#include <QTimer>

#include <memory>
#include <type_traits>

namespace cli::steps {

using core::DeviceLink;
using core::DeviceSession;
using protocol::ReplyKind;

namespace {

// A command and its answer: `send` writes the command, and the session's first `answer` after
// it (a line of reply kind `kind`, read after the command was written) ends the step through
// `take`.
template <typename Value>
Step Exchange(ReplyKind kind, std::function<void(DeviceSession &)> send,
              void (DeviceSession::*answer)(Value),
              std::function<void(DeviceJob &, std::decay_t<Value>)> take)
{
    return Step{ Step::Wait::Reply,
                 QLatin1String(protocol::ReplyPrefixes[static_cast<std::size_t>(kind)]),
                 [=](DeviceJob &job, QObject *context) {
                     QObject::connect(&job.Session(), answer, context,
                                      [&job, take](Value value) { take(job, value); });
                     send(job.Session());
                 },
                 QString() };
}

// The answer of a set: success (told to `accepted` first), or the window's own failure text.
std::function<void(DeviceJob &, bool)> Accepted(const QString &failure,
                                                std::function<void(DeviceJob &)> accepted = {})
{
    return [failure, accepted](DeviceJob &job, bool ok) {
        if (!ok) {
            job.Fail(failure);
            return;
        }
        if (accepted)
            accepted(job);
        job.StepDone();
    };
}

// What a download step has seen of its device.
struct DownloadWatch
{
    QString failure; // why the first block that failed did: the device's text or the wait's
    int ignored = 0; // download replies that answered nothing, since the current announce
    bool firstAnnounceUnanswered = false;
};

// A connection that ended under a download, in words; a reset shows only when a write met it.
QString ConnectionEnd(int code)
{
    if (code == 0)
        return QStringLiteral("the device closed the connection");
    if (code == platform::wsa::ConnectionReset)
        return QStringLiteral("the connection was reset");
    return QStringLiteral("the connection failed (error %1, %2)")
            .arg(code)
            .arg(platform::WsaErrorName(code));
}

QString BlockText(quint32 address)
{
    return QString::asprintf("block 0x%08x: ", address);
}

// The block's result as the tool saw it: the device's refusal as it stands, a wait by what it
// waited for.
QString BlockFailure(const DeviceSession &session, quint32 address, const QString &result,
                     int ignored)
{
    using State = download::DownloadSequence::State;
    if (result != QLatin1String("Error!!(Timeout)"))
        return BlockText(address) + result;
    const download::DownloadSequence &sequence = session.Download();
    const State state = sequence.DownloadState();
    const bool sizeWait = state == State::WaitSize1 || state == State::WaitSize2;
    QString text = sizeWait
            ? QStringLiteral("no size acknowledgement within %1 s").arg(sequence.SizeWait() / 10.0)
            : QStringLiteral("no result within %1 s").arg(sequence.ResultWait() / 10.0);
    if (ignored == 1)
        text += QStringLiteral(" (1 download reply came too early and was ignored, see --trace)");
    else if (ignored > 1)
        text += QStringLiteral(" (%1 download replies came too early and were ignored, see "
                               "--trace)")
                        .arg(ignored);
    return BlockText(address) + text;
}

// The sequence closed the connection itself: a size acknowledgement that never came leaves the
// device perhaps counting bytes for a block that will not follow.
bool AbandonedBySequence(const DeviceSession &session)
{
    using State = download::DownloadSequence::State;
    const State state = session.Download().DownloadState();
    return (state == State::WaitSize1 || state == State::WaitSize2)
            && session.Download().WaitTicks() <= 0;
}

} // namespace

Step Connect()
{
    return Step{ Step::Wait::Own, QString(),
                 [](DeviceJob &job, QObject *context) {
                     DeviceLink &link = job.Session().Link();
                     QObject::connect(&link, &DeviceLink::connected, context, [&job, context] {
                         // Reading before writing is the only way to tell a greeting or a stale
                         // reply from an answer: whatever comes before the first command is
                         // ignored.
                         const int settleMs = job.Asked().settleMs;
                         if (settleMs <= 0) {
                             job.StepDone();
                             return;
                         }
                         QTimer::singleShot(settleMs, Qt::PreciseTimer, context, [&job] {
                             job.Session().DiscardReceived();
                             job.StepDone();
                         });
                     });
                     QObject::connect(&link, &DeviceLink::connectFailed, context,
                                      [&job](const QString &text, int code) {
                                          const QString error = WithCause(text, code);
                                          if (!job.Retry(error) && !job.Unreachable(error))
                                              job.Fail(error);
                                      });
                     QObject::connect(&link, &DeviceLink::connectionLost, context,
                                      [&job](const QString &text, int code) {
                                          job.ConnectionEnded(WithCause(text, code));
                                      });
                     link.BeginConnect();
                 },
                 QString() };
}

Step Disconnect(int delayMs)
{
    return Step{ Step::Wait::Own, QString(),
                 [delayMs](DeviceJob &job, QObject *context) {
                     job.Session().Link().CloseLink();
                     QTimer::singleShot(delayMs, Qt::PreciseTimer, context,
                                        [&job] { job.StepDone(); });
                 },
                 QString() };
}

Step Check(std::function<void(DeviceJob &job)> check)
{
    return Step{ Step::Wait::Own, QString(), [check](DeviceJob &job, QObject *) { check(job); },
                 QString() };
}

Step ReadVersion()
{
    return Exchange(ReplyKind::ReqVer, &DeviceSession::RequestVersion, &DeviceSession::versionRead,
                    [](DeviceJob &job, const QByteArray &version) {
                        job.Values().version = protocol::FromWire(version);
                        job.StepDone();
                    });
}

Step ConfirmVersion(std::optional<QString> Outcome::*read)
{
    return Exchange(ReplyKind::ReqVer, &DeviceSession::RequestVersion, &DeviceSession::versionRead,
                    [read](DeviceJob &job, const QByteArray &version) {
                        const QString first = (job.Values().*read).value_or(QString());
                        const QString again = protocol::FromWire(version);
                        if (again == first) {
                            job.StepDone();
                            return;
                        }
                        // Neither answer can be told from a line the device sent by itself.
                        job.Values().*read = std::nullopt;
                        job.Fail(QStringLiteral("the version was read twice and the answers "
                                                "differ: \"%1\", then \"%2\"")
                                         .arg(first, again));
                    });
}

Step ReadVersionAfter()
{
    return Exchange(ReplyKind::ReqVer, &DeviceSession::RequestVersion, &DeviceSession::versionRead,
                    [](DeviceJob &job, const QByteArray &version) {
                        job.Values().versionAfter = protocol::FromWire(version);
                        job.StepDone();
                    });
}

Step ReadAddresses()
{
    return Exchange(ReplyKind::RecIp, &DeviceSession::RequestAddresses,
                    &DeviceSession::addressesRead,
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
    return Exchange(ReplyKind::ReqMac, &DeviceSession::RequestMac, &DeviceSession::macRead,
                    [](DeviceJob &job, const QByteArray &mac) {
                        job.Values().mac = protocol::FromWire(mac);
                        job.StepDone();
                    });
}

Step SetAddresses(const DeviceSession::Addresses &addresses, const QString &failure,
                  std::function<void(DeviceJob &job)> accepted)
{
    Step step = Exchange(
            ReplyKind::SetIp,
            [addresses](DeviceSession &session) { session.SetAddresses(addresses); },
            &DeviceSession::addressesSet, Accepted(failure, std::move(accepted)));
    step.sets = true;
    return step;
}

Step SetMac(const QByteArray &mac, const QString &failure)
{
    Step step = Exchange(
            ReplyKind::SetMac, [mac](DeviceSession &session) { session.SetMac(mac); },
            &DeviceSession::macSet, Accepted(failure));
    step.sets = true;
    return step;
}

Step Download(const QByteArray &image, quint32 baseAddress)
{
    return Step{
        Step::Wait::Own, QString(),
        [image, baseAddress](DeviceJob &job, QObject *context) {
            DeviceSession &session = job.Session();
            const auto watch = std::make_shared<DownloadWatch>();
            QObject::connect(&session, &DeviceSession::commandSent, context,
                             [watch] { watch->ignored = 0; });
            QObject::connect(&session, &DeviceSession::replyIgnored, context,
                             [watch](const QByteArray &line) {
                                 if (line.contains("ACK_DOWNLOAD:"))
                                     ++watch->ignored;
                             });
            QObject::connect(
                    &session, &DeviceSession::blockFinished, context,
                    [&job, watch](quint32 address, qint32 length, const QString &result) {
                        // The device's own text ends in the CR of its reply.
                        const QString line = OneLine(result);
                        job.AddBlock(BlockResult{ address, length, line });
                        if (watch->failure.isEmpty() && line != QLatin1String("Update Complete")) {
                            watch->failure =
                                    BlockFailure(job.Session(), address, line, watch->ignored);
                            watch->firstAnnounceUnanswered = job.Values().blocks.size() == 1
                                    && AbandonedBySequence(job.Session());
                        }
                    });
            // The device will not answer on a connection that is gone.
            QObject::connect(&session.Link(), &core::DeviceLink::connectionLost, context,
                             [&job](const QString &, int code) {
                                 // Its own ending says why, after this.
                                 if (AbandonedBySequence(job.Session()))
                                     return;
                                 const auto block = job.Session().CurrentBlock();
                                 const QString how = ConnectionEnd(code);
                                 job.ConnectionEnded(
                                         block ? BlockText(block->address) + how
                                                         + QStringLiteral(" during the block")
                                               : how);
                             });
            QObject::connect(&session, &DeviceSession::downloadStopped, context,
                             [&job, watch](bool succeeded) {
                                 if (succeeded) {
                                     job.StepDone();
                                     return;
                                 }
                                 const QString failure = watch->failure.isEmpty()
                                         ? QStringLiteral("download stopped")
                                         : watch->failure;
                                 // Only the first announce, unanswered: nothing was written.
                                 const QList<BlockResult> &blocks = job.Values().blocks;
                                 const bool firstUnanswered =
                                         blocks.size() == 1 && watch->firstAnnounceUnanswered;
                                 if (!firstUnanswered || !job.Retry(failure))
                                     job.Fail(failure);
                             });
            session.StartDownload(image, baseAddress);
        },
        QString()
    };
}

} // namespace cli::steps
