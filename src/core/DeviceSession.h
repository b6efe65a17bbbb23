#pragma once

#include "core/DeviceLink.h"
#include "download/DownloadSequence.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <optional>
#include <functional>

namespace core {

// One device: its link, the routing of its replies, its reads and sets, and its firmware
// download. Many sessions can live in one thread; nothing here is shared between them.
//
// Requests write their command on the link's recorded connection and enable receiving; they
// never connect by themselves (the caller connects first, waiting or not). As the windows have
// it, replies are not tied to requests: each reply line is routed by its prefix to the signal of
// its kind whenever it comes, asked for or not. With strict replies, only answers are routed.
class DeviceSession : public QObject, private download::DownloadPort
{
    Q_OBJECT

public:
    using Addresses = std::array<QByteArray, 5>;

    explicit DeviceSession(QObject *parent = nullptr);
    ~DeviceSession() override;

    DeviceLink &Link() { return m_link; }
    const DeviceLink &Link() const { return m_link; }

    // Routes one received text by its reply prefix (first line only, first prefix of the table
    // that occurs in it); false when it is no reply.
    bool DispatchReply(QByteArrayView text);
    // Where each received reply line goes before it is routed: by default straight to
    // DispatchReply. A hand-over that returns false did not take the line.
    using HandOver = std::function<bool(const QByteArray &line)>;
    void SetHandOver(HandOver handOver) { m_handOver = std::move(handOver); }

    // A reply then counts only as the answer to something written before it was read: a read or
    // set is answered by the first line of its own kind after its command was written; a size
    // acknowledgement only while its announce awaits one and after the announce was written; a
    // block's result only after the block's last byte was written. Every other line goes to
    // replyIgnored() instead of its kind's signal. Receiving stays on while connected, so each
    // line is read as it comes and cannot pass for the answer to a later command.
    void SetStrictReplies(bool strict);
    bool StrictReplies() const { return m_strict; }

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

Q_SIGNALS:
    // Each command text or block as it is handed to the link.
    void commandSent(const QByteArray &command);
    // A block's announce as it is handed to the link.
    void blockAnnounced(quint32 address, qint32 length);
    // The block's bytes as they go out, valid during the emission only (no copy is made).
    void blockSent(quint32 address, const QByteArray &bytes);
    // Each reply line as it is routed.
    void replyReceived(const QByteArray &line);
    // With strict replies: a line that answered nothing, and was dropped.
    void replyIgnored(const QByteArray &line);

    void addressesSet(bool accepted);
    // The items of the address list, in order (up to five are meaningful; more may come).
    void addressesRead(const QList<QByteArray> &items);
    void macSet(bool accepted);
    void macRead(const QByteArray &mac);
    void versionRead(const QByteArray &version);
    // The translated "ACK_DOWNLOAD:" reply, after it reached the download.
    void downloadReply(const QByteArray &translation);

    void downloadStatus(const QString &text);
    void downloadProgress();
    void blockFinished(quint32 address, qint32 length, const QString &result);
    // The download is over; `succeeded` when every block it sent was accepted.
    void downloadStopped(bool succeeded);

private:
    void Send(const QByteArray &command, protocol::ReplyKind answer);
    // With the pacing by replies: takes, from the loop, every step that waits for nothing.
    void HurryDownload();
    void StepUntilTheDevice();
    // With strict replies: whether `line` answers what was written; an answer is taken off the
    // list of those awaited.
    bool Answers(const QByteArray &line);

    // download::DownloadPort
    void SendCommand(QByteArrayView bytes) override;
    void SendBlock(QByteArrayView bytes) override;
    void StartReceivePolling() override;
    void SetStatusText(const QString &text) override;
    void StepProgress() override;
    void Stopped() override;
    void HoldOtherCommands(bool hold) override;
    void AbandonBlock() override;
    void BlockFinished(quint32 address, qint32 length, const QString &result) override;

    DeviceLink m_link;
    HandOver m_handOver;

    struct Awaited
    {
        protocol::ReplyKind kind;
        quint64 serial; // the link's write that carried the command
    };
    bool m_strict = false;
    QList<Awaited> m_awaited;
    // The link's write that carried the download's last announce or block (0: none made).
    quint64 m_downloadSerial = 0;
    download::DownloadSequence m_sequence{ *this };
    QTimer m_downloadTimer;
    DownloadPace m_pace = DownloadPace::Ticks;
    bool m_hurryQueued = false;
};

} // namespace core
