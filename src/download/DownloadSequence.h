#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

// The firmware download: a state machine stepped once per 100 ms tick that writes an image into
// the device block by block. Phase 1 writes the image from its first byte in 0x20000-byte blocks
// (at most 16) from the base address up; phase 2 then writes the image's bytes from offset
// 0x40000 (two blocks at most) to device addresses 0 and 0x20000. Each block is an announce, a
// wait for "SizeOK", the raw bytes, and a wait for the result. No widgets: the sequence writes
// through a DownloadLink and tells what it shows through its signals.
namespace download {

// The link as the download writes to it.
class DownloadLink
{
public:
    virtual ~DownloadLink() = default;

    // One write of the bytes, then receiving the reply.
    virtual void SendCommand(QByteArrayView bytes) = 0;
    // A block's raw bytes, written like a command.
    virtual void SendBlock(QByteArrayView bytes) { SendCommand(bytes); }
    virtual void StartReceivePolling() = 0;
    // Between an announce and the end of its block the device counts raw bytes: any other
    // command written meanwhile would become part of the block. While held, the link keeps
    // other commands back and sends them once the block is out.
    virtual void HoldOtherCommands(bool hold) { Q_UNUSED(hold); }
    // The size acknowledgement never came: the device may still have opened the block and would
    // take whatever is written next as image data. Only a new connection clears that.
    virtual void AbandonBlock() { }
};

class DownloadSequence : public QObject
{
    Q_OBJECT

public:
    static constexpr qint32 BlockLength = 0x20000;
    static constexpr int Phase1Blocks = 16;
    // The most of an image that phase 1 writes; the rest is never sent.
    static constexpr qint32 Phase1Length = BlockLength * Phase1Blocks;
    static constexpr int Phase2FirstBlock = 2;
    static constexpr int Phase2EndBlock = 4;
    static constexpr int SizeWaitTicks = 30;
    static constexpr int ResultWaitTicks = 50;

    // Phase 2's states are phase 1's plus PhaseStride.
    enum class State : int {
        Prepare = 0,
        Announce1 = 1,
        WaitSize1 = 2,
        SendBlock1 = 3,
        WaitResult1 = 4,
        NextBlock1 = 5,
        Prepare2 = 6,
        Announce2 = 7,
        WaitSize2 = 8,
        SendBlock2 = 9,
        WaitResult2 = 10,
        NextBlock2 = 11,
        Finished = 12,
        Abandon = 99,
        Stop = 100,
    };
    static constexpr int PhaseStride = 6;

    explicit DownloadSequence(DownloadLink &link, QObject *parent = nullptr)
        : QObject(parent), m_link(link)
    {
    }

    // Starts a sequence over `image` (held by the sequence for its whole run, so loading another
    // image meanwhile cannot change the bytes being sent) writing phase 1 from `baseAddress`.
    // The first state runs at the next Tick().
    void Start(const QByteArray &image, quint32 baseAddress);
    // How long the sequence waits for a size acknowledgement and for a block's result, in ticks;
    // the windows keep the defaults. Taken at the next announce or block.
    void SetWaits(int sizeWaitTicks, int resultWaitTicks);
    int SizeWait() const { return m_sizeWait; }
    int ResultWait() const { return m_resultWait; }

    // Busy already (from the confirmation on), before the sequence itself starts.
    void Reserve() { m_busy = 1; }
    void Release() { m_busy = 0; }

    // One step of the state machine.
    void Tick();
    // Whether the next step waits for the device: a size acknowledgement or a block's result
    // that has not come yet. Every other step could be taken at once.
    bool AwaitsTheDevice() const;
    // Ends a running sequence now, without a further byte or status text.
    void Abort();

    // The hand-over point of the "ACK_DOWNLOAD:" replies.
    const QByteArray &ReplyText() const { return m_replyText; }
    void SetReplyText(const QByteArray &text) { m_replyText = text; }

    State DownloadState() const { return m_state; }
    int DownloadBusy() const { return m_busy; }
    qint32 DownloadLength() const { return m_downloadLength; }
    qint32 BlockSize() const { return m_blockSize; }
    quint32 BlockAddress() const { return m_blockAddress; }
    int WaitTicks() const { return m_waitTicks; }
    // True once a sequence ended with every block it sent accepted. An empty image sends
    // nothing, and nothing written is no success.
    bool Succeeded() const { return m_blocksFailed == 0 && m_blocksAccepted > 0; }

    const QByteArray &Image() const { return m_image; }
    quint32 BaseAddress() const { return m_baseAddress; }

Q_SIGNALS:
    // The status text to show ("Update Start", "Data Send", a block's result).
    void statusChanged(const QString &text);
    // One tick of waiting for a block's result.
    void progressed();
    // A block's exchange is over; `result` is the status text it ended with ("Update Complete",
    // the device's "Failed:..." or "Error:...", or "Error!!(Timeout)").
    void blockFinished(quint32 address, qint32 length, const QString &result);
    // The sequence has stopped: its timer, the progress bar and the progress timer go off.
    void stopped();

private:
    enum class Outcome { Success, Failure, Timeout, Waiting };

    bool InPhase2() const;
    // The state of the current phase that corresponds to phase 1's `state`.
    State Phased(State state) const;
    // Places the next block of the current phase; false when the phase has nothing more.
    bool PlaceBlock();
    void SendAnnounce();
    void SendBlock();
    void SizeWaitOver();
    Outcome ResultTest();
    void FinishBlock(const QString &result, bool accepted);
    void StopSequence();

    DownloadLink &m_link;
    QByteArray m_image;
    quint32 m_baseAddress = 0;
    QByteArray m_replyText;

    State m_state = State::Prepare;
    int m_busy = 0;
    qint32 m_downloadLength = 0;
    qint32 m_blockSize = 0;
    int m_blockNumber = 0;
    quint32 m_blockAddress = 0;
    qint32 m_blockData = 0; // offset of the block's first byte in the image
    int m_waitTicks = 0;
    int m_sizeWait = SizeWaitTicks;
    int m_resultWait = ResultWaitTicks;
    int m_blocksFailed = 0;
    int m_blocksAccepted = 0;
};

} // namespace download
