#pragma once

#include <QByteArray>
#include <QString>

// The firmware download: a state machine stepped once per 100 ms tick that writes an image into
// the device block by block. Phase 1 writes the image from its first byte in 0x20000-byte blocks
// (at most 16) from the base address up; phase 2 then writes the image's bytes from offset
// 0x40000 (two blocks at most) to device addresses 0 and 0x20000. Each block is an announce, a
// wait for "SizeOK", the raw bytes, and a wait for the result. No widgets: the sequence talks to
// the link and the display through DownloadPort.
namespace download {

class DownloadPort
{
public:
    virtual ~DownloadPort() = default;

    // The link: one write of the bytes, then polling for the reply.
    virtual void SendCommand(const char *bytes, int count) = 0;
    virtual void StartReceivePolling() = 0;
    // The display.
    virtual void SetStatusText(const QString &text) = 0;
    virtual void StepProgress() = 0;
    // The sequence has stopped: its timer, the progress bar and the progress timer go off.
    virtual void Stopped() = 0;
    // Between an announce and the end of its block the device counts raw bytes: any other
    // command written meanwhile would become part of the block. While held, the link keeps
    // other windows' commands back and sends them once the block is out.
    virtual void HoldOtherCommands(bool hold) { Q_UNUSED(hold); }
    // The size acknowledgement never came: the device may still have opened the block and would
    // take whatever is written next as image data. Only a new connection clears that.
    virtual void AbandonBlock() { }
};

class DownloadSequence
{
public:
    static constexpr qint32 BlockLength = 0x20000;
    static constexpr int Phase1Blocks = 16;
    // The most of an image that phase 1 writes; the rest is never sent.
    static constexpr qint32 Phase1Length = BlockLength * Phase1Blocks;
    static constexpr int Phase2FirstBlock = 2;
    static constexpr int Phase2EndBlock = 4;
    static constexpr int SizeWaitTicks = 30;
    static constexpr int ResultWaitTicks = 50;

    enum State : int {
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

    explicit DownloadSequence(DownloadPort &port) : m_port(port) { }

    // Starts a sequence over `image` (held by the sequence for its whole run, so loading another
    // image meanwhile cannot change the bytes being sent) writing phase 1 from `baseAddress`.
    // The first state runs at the next Tick().
    void Start(const QByteArray &image, quint32 baseAddress);

    // One step of the state machine.
    void Tick();

    // The hand-over point of the "ACK_DOWNLOAD:" replies.
    QByteArray ReplyText;

    int DownloadState = 0;
    int DownloadBusy = 0;
    qint32 DownloadLength = 0;
    qint32 BlockSize = 0;
    int BlockNumber = 0;
    quint32 BlockAddress = 0;
    qint32 BlockData = 0; // offset of the block's first byte in the image
    int WaitTicks = 0;

    const QByteArray &Image() const { return m_image; }
    quint32 BaseAddress() const { return m_baseAddress; }

private:
    enum class Outcome { Success, Failure, Timeout, Waiting };

    void SendAnnounce();
    void SendBlock();
    bool SizeAcknowledged();
    void SizeWaitOver();
    Outcome ResultTest();
    void StopSequence();

    DownloadPort &m_port;
    QByteArray m_image;
    quint32 m_baseAddress = 0;
};

} // namespace download
