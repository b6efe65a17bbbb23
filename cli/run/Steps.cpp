#include "run/Steps.h"

#include "protocol/Commands.h"
#include "protocol/Replies.h"

#include <QTimer>

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
                         const int settleMs = job.Settings().settleMs;
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

Step ReadVersion(std::optional<QString> Outcome::*into)
{
    return Exchange(ReplyKind::ReqVer, &DeviceSession::RequestVersion, &DeviceSession::versionRead,
                    [into](DeviceJob &job, const QByteArray &version) {
                        job.Values().*into = protocol::FromWire(version);
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

} // namespace cli::steps
