#include "commands/FlashDownload.h"

#include "io/Console.h"

#include "platform/SocketErrors.h"

#include <algorithm>
#include <memory>

namespace cli::steps {

using core::DeviceSession;

namespace {

// The download counts its waits in 100 ms ticks.
int Ticks(int ms)
{
    return std::max(1, (ms + 99) / 100);
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

Step Download(const QByteArray &image, quint32 baseAddress, int sizeWaitMs, int resultWaitMs,
              DeviceSession::DownloadPace pace)
{
    return Step{
        Step::Wait::Own, QString(),
        [image, baseAddress, sizeWaitMs, resultWaitMs, pace](DeviceJob &job, QObject *context) {
            DeviceSession &session = job.Session();
            session.SetDownloadWaits(Ticks(sizeWaitMs), Ticks(resultWaitMs));
            session.SetDownloadPace(pace);
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
