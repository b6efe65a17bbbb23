#pragma once

#include "core/DeviceLink.h"
#include "core/ReplyRouting.h"
#include "download/DownloadSequence.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>

namespace core {

// One device: its link, the routing of its replies, its reads and sets, and its firmware
// download. Many sessions can live in one thread; nothing here is shared between them.
//
// Requests write their command on the link's recorded connection and enable receiving; they
// never connect by themselves (the caller connects first, waiting or not). Each line the link
// reads is taken apart once, by its reply prefix, and goes on as its routing says.
class DeviceSession : public QObject, private download::DownloadLink
{
    Q_OBJECT

public:
    using Addresses = std::array<QByteArray, 5>;

    explicit DeviceSession(QObject *parent = nullptr);
    ~DeviceSession() override;

    DeviceLink &Link() { return m_link; }
    const DeviceLink &Link() const { return m_link; }

    // Who routes the lines the link reads.
    enum class Routing {
        // The session: every reply to the signal of its kind, asked for or not (the default).
        ByPrefix,
        // The session: only the answers to what was written (see AnswersOnly); receiving then
        // stays on while connected, so each line is read as it comes.
        AnswersOnly,
        // Not the session: whoever hosts it takes the lines from the link's lineReceived().
        None,
    };
    void SetRouting(Routing routing);

    // The block whose exchange is under way (announced and not yet answered), and how many of its
    // bytes have been handed to the system so far.
    struct OpenBlock
    {
        quint32 address = 0;
        qint32 length = 0;
        qint64 written = 0;
    };
    std::optional<OpenBlock> CurrentBlock() const;
    // Drops whatever has been received and not handed on yet, an unfinished line included; what
    // there was goes to replyIgnored().
    void DiscardReceived();

    // Device IP, DP-310 IP, subnet mask, gateway, multicast: sent as given, commas between.
    void SetAddresses(const Addresses &addresses);
    void RequestAddresses();
    // The MAC text goes out upper-cased by the single-byte code page's rules.
    void SetMac(QByteArrayView mac);
    void RequestMac();
    void RequestVersion();

    // Starts a download of `image` (phase 1 from `baseAddress`) on the recorded connection;
    // false if one is running. The first step comes one tick (100 ms) later.
    bool StartDownload(const QByteArray &image, quint32 baseAddress);
    // One step of the download, as its timer does it.
    void StepDownload();
    // Stops a running download at once: no further byte goes out, and a block left open is
    // abandoned with its connection.
    void AbortDownload();
    const download::DownloadSequence &Download() const { return m_sequence; }
    // The download's waits for a size acknowledgement and for a block's result, in 100 ms ticks;
    // a session the windows host keeps the update window's.
    void SetDownloadWaits(int sizeWaitTicks, int resultWaitTicks)
    {
        m_sequence.SetWaits(sizeWaitTicks, resultWaitTicks);
    }
    // How the download steps on. Ticks: one step per 100 ms tick, as the windows do, the pacing
    // devices have been used with. Replies: each step as soon as the device has answered the
    // one before (the block right after its size acknowledgement, the next announce right after
    // the result), which assumes the device is ready once it has answered. The same bytes go
    // out in the same order, and the waits count ticks from the step that sent.
    enum class DownloadPace { Ticks, Replies };
    void SetDownloadPace(DownloadPace pace) { m_pace = pace; }
    // Busy from a confirmation on, before the download itself starts.
    void ReserveDownload() { m_sequence.Reserve(); }
    void ReleaseDownload() { m_sequence.Release(); }
    // The hand-over point of the "ACK_DOWNLOAD:" replies: what the download reads next.
    void SetDownloadReplyText(const QByteArray &text) { m_sequence.SetReplyText(text); }

Q_SIGNALS:
    // Each command text or block as it is handed to the link.
    void commandSent(const QByteArray &command);
    // A block's announce as it is handed to the link.
    void blockAnnounced(quint32 address, qint32 length);
    // The block's bytes as they go out, valid during the emission only (no copy is made).
    void blockSent(quint32 address, const QByteArray &bytes);
    // Each reply line as it is routed.
    void replyReceived(const QByteArray &line);
    // Answers only: a line that answered nothing, and was dropped.
    void replyIgnored(const QByteArray &line);

    void addressesSet(bool accepted);
    // The items of the address list, in order (up to five are meaningful; more may come).
    void addressesRead(const QList<QByteArray> &items);
    void macSet(bool accepted);
    void macRead(const QByteArray &mac);
    void versionRead(const QByteArray &version);
    void downloadStatus(const QString &text);
    void downloadProgress();
    void blockFinished(quint32 address, qint32 length, const QString &result);
    // The download is over; `succeeded` when every block it sent was accepted.
    void downloadStopped(bool succeeded);

private:
    void Send(const QByteArray &command, protocol::ReplyKind answer);
    void Route(const QByteArray &line);
    // The download's last write went out, or (false) did not.
    void DownloadWritten(bool written);
    // With the pacing by replies: takes, from the loop, every step that waits for nothing.
    void HurryDownload();
    void StepUntilTheDevice();

    // download::DownloadLink
    void SendCommand(QByteArrayView bytes) override;
    void SendBlock(QByteArrayView bytes) override;
    void StartReceivePolling() override;
    void HoldOtherCommands(bool hold) override;
    void AbandonBlock() override;

    DeviceLink m_link;
    download::DownloadSequence m_sequence{ *this };
    QTimer m_downloadTimer;
    // Null when the host routes.
    std::unique_ptr<ReplyRouting> m_routing;
    DownloadPace m_pace = DownloadPace::Ticks;
    bool m_hurryQueued = false;
};

} // namespace core
