#pragma once

#include "Command.h"
#include "DeviceMemory.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace sim {

// One image block as the device took it.
struct BlockRecord
{
    // Which Download command announced it: 0 for the first since start or clearRecords().
    int index = -1;
    quint32 address = 0;
    quint32 length = 0;
    quint32 crc32 = 0;
    // Whether the announce was spelled exactly as the tool spells it (see Command::exactForm).
    bool exactAnnounce = false;
    // False when the device reported the block as failed, so memory was left as it was.
    bool written = false;
    // What followed "ACK_DOWNLOAD:" in the result reply; empty when the result was withheld.
    QByteArray reply;
};

struct SimulatorCounters
{
    int connections = 0;
    int commands = 0; // every CR-terminated line, known or not
    int unknownCommands = 0;
    int malformedCommands = 0; // a known keyword with a broken argument list or number
    int repliesSent = 0; // whole replies written out (commands, blocks, unsolicited)
    int repliesDropped = 0; // by dropReplies() or because the peer stopped reading
    int announcesIgnored = 0;
    int blocksReceived = 0;
    int blocksDiscarded = 0; // partial blocks lost with their connection
    int linesDiscarded = 0; // lines longer than MaxLineLength
    qint64 bytesReceived = 0;
    qint64 bytesSent = 0;
};

// The QL-T36's side of the link: a TCP server that answers the tool's commands, takes image
// blocks into a sparse device memory, records everything it saw and can misbehave on request.
//
// One client at a time. A new connection replaces the current one, which is aborted and its
// partial block discarded: the tool opens a fresh connection after a failure while the old one
// may still look alive here, and a device with a single session slot would have to give up the
// stale one to be reachable at all.
//
// Framing: a command ends with CR. LF bytes at the start of a command are skipped, so a
// terminal program that sends CR LF works too. After an accepted Download announce the next
// `length` bytes are the block, whatever they contain. A line that grows over MaxLineLength
// bytes without a CR is thrown away up to its CR.
//
// Answers: unknown commands and empty lines get no reply (the protocol has no error reply).
// A set command with a broken argument list gets its failure reply. A Download that cannot be
// taken is refused at once with "ACK_DOWNLOAD:Error:..." and no block is taken:
// "Bad Parameter" for malformed numbers, "Bad Size" for a length of 0 or over 0x20000, "Bad
// Address" for a range outside the device's memory.
//
// Faults apply per instance. Block numbers for them count Download commands (every one, taken
// or refused or ignored) from 0 since construction or clearRecords(); reconnecting doesn't
// restart the count.
class DeviceSimulator : public QObject
{
    Q_OBJECT

public:
    enum class CloseMode {
        Graceful, // FIN after the pending replies went out
        Reset, // RST: linger 0, then abort
    };
    Q_ENUM(CloseMode)

    static constexpr qsizetype MaxLineLength = 4096;
    static constexpr quint32 MaxBlockLength = 0x20000;
    // Replies that wait beyond this (a peer that doesn't read) are dropped rather than queued.
    static constexpr qint64 MaxUnsentBytes = 1 << 20;
    // The command record keeps the most recent lines only, so a long run stays bounded.
    static constexpr qsizetype MaxRecordedCommands = 10000;

    explicit DeviceSimulator(QObject *parent = nullptr);
    ~DeviceSimulator() override;

    // --- Listening ---
    // Off loopback only after setAllowRemote(true): a simulator that answers "Download" must
    // not be reachable from the LAN by accident.
    void setAllowRemote(bool allow) { m_allowRemote = allow; }
    bool allowRemote() const { return m_allowRemote; }
    bool listen(const QHostAddress &address, quint16 port = 0);
    void close(); // stops listening and aborts the client
    bool isListening() const { return m_server.isListening(); }
    QHostAddress serverAddress() const { return m_server.serverAddress(); }
    quint16 serverPort() const { return m_server.serverPort(); }
    QString errorString() const { return m_errorString; }

    bool hasClient() const { return m_socket != nullptr; }
    // Ends the current connection now; replies not yet sent are dropped.
    void disconnectClient(CloseMode mode = CloseMode::Graceful);

    // --- Device state ---
    // Device IP, DP-310 IP, subnet mask, gateway, multicast: the texts as last set.
    QList<QByteArray> addresses() const { return m_addresses; }
    bool setAddresses(const QList<QByteArray> &addresses); // false unless exactly five
    QByteArray macAddress() const { return m_mac; }
    void setMacAddress(const QByteArray &mac) { m_mac = mac; }
    QByteArray version() const { return m_version; }
    void setVersion(const QByteArray &version) { m_version = version; }
    // From the first connection opened after one on which a block was written, the device
    // reports `version`: a flash, its skip and its verification can then be rehearsed whole.
    // Empty turns it off.
    void setVersionAfterDownload(const QByteArray &version) { m_versionAfterDownload = version; }

    QByteArray memory(quint32 address, qsizetype length) const
    {
        return m_memory.read(address, length);
    }
    bool writeMemory(quint32 address, QByteArrayView data) { return m_memory.write(address, data); }
    void eraseMemory() { m_memory.erase(); }
    const DeviceMemory &deviceMemory() const { return m_memory; }

    // --- Faults ---
    // Every reply to a command or block goes out this much later than its cause arrived.
    void setReplyDelay(int ms) { m_replyDelayMs = qMax(0, ms); }
    int replyDelay() const { return m_replyDelayMs; }
    // Each reply longer than splitAt bytes goes out as two writes, pauseMs apart; 0 turns it off.
    void setReplySplit(int splitAt, int pauseMs);
    // Each reply goes out one byte per write, pauseMs apart (takes precedence over the split).
    void setOneByteSegments(bool enabled, int pauseMs = 10);
    // Block K is answered with "ACK_DOWNLOAD:" + payload ("Result:0", "Error:Flash") instead of
    // "Result:1"; an empty payload withholds the result. A reported failure leaves memory as it
    // was; a withheld result doesn't (the device wrote it, the answer got lost).
    void setBlockReply(int blockIndex, const QByteArray &payload);
    // The announce of block K is ignored as if it never arrived: no reply, no block taken.
    void setIgnoredAnnounce(int blockIndex);
    // The replies to the next `count` commands that have one are not sent (the commands still
    // take effect, so a dropped "Size:" still leaves the device waiting for the block).
    void dropReplies(int count) { m_dropRemaining = qMax(0, count); }
    int repliesToDrop() const { return m_dropRemaining; }
    // After the next `count` commands (every line counts) and the reply to the last of them,
    // the device closes the connection and reads nothing more from it. Once; 0 disarms.
    void closeAfterCommands(int count, CloseMode mode = CloseMode::Graceful);
    // SetIP_ADR and SetMAC_ADR are answered with failure and change nothing, as a device that
    // is write-protected would answer them.
    void setRefuseSets(bool refuse) { m_refuseSets = refuse; }
    // Written in front of every reply.
    void setReplyGarbage(const QByteArray &prefix) { m_garbage = prefix; }
    // Sent (with CR LF appended) delayMs after each connection; empty turns it off.
    void setUnsolicitedOnConnect(const QByteArray &reply, int delayMs = 0);
    void clearFaults();

    // A reply nobody asked for: reply + CR LF, with the garbage prefix and segmentation but no
    // reply delay of its own; it still goes out behind replies already waiting, never inside
    // one. False when no client is connected.
    bool sendUnsolicited(const QByteArray &reply);
    // Exactly these bytes, nothing added, in order behind pending replies.
    bool sendRaw(const QByteArray &bytes);

    // --- Inspection ---
    // Command lines in arrival order, without their CR (over-long lines are not kept; beyond
    // MaxRecordedCommands the oldest go).
    QList<QByteArray> receivedCommands() const { return m_commands; }
    QList<BlockRecord> receivedBlocks() const { return m_blocks; }
    SimulatorCounters counters() const { return m_counters; }
    int nextBlockIndex() const { return m_nextBlockIndex; }
    bool isReceivingBlock() const { return m_block.active; }
    // Forgets commands, blocks and counters and restarts the block numbering.
    void clearRecords();

Q_SIGNALS:
    void clientConnected();
    void clientDisconnected();
    void commandReceived(const QByteArray &line); // without CR
    void blockReceived(const sim::BlockRecord &block);
    void replySent(const QByteArray &reply); // all bytes of one reply, once the last went out
    void dataSent(const QByteArray &bytes); // each single write to the socket
    void logMessage(const QString &text); // events worth a line in a traffic log

private:
    struct PendingBlock
    {
        bool active = false;
        int index = -1;
        quint32 address = 0;
        quint32 length = 0;
        bool exactAnnounce = false;
        QByteArray data;
    };

    struct Outgoing
    {
        enum class Kind { Write, Close, Reset };
        Kind kind = Kind::Write;
        QByteArray bytes;
        qint64 dueAt = 0; // on m_clock, for the first write of a reply
        int gapMs = 0; // after the previous write, for later segments
        QByteArray completesReply; // set on the last write of a reply
    };

    void onNewConnection();
    void onReadyRead();
    void onDisconnected();
    void endSession(const QString &reason);
    void consume(QByteArrayView data);
    void appendPartialLine(QByteArrayView piece);
    void handleCommand(const QByteArray &line);
    QByteArray answer(const Command &command, const QByteArray &line, bool *silent);
    QByteArray answerDownload(const Command &command, bool *silent);
    void finishBlock();
    void queueReply(const QByteArray &reply, bool delayed);
    void queueAction(Outgoing::Kind kind);
    void pump();
    void note(const QString &text);
    QString peerText() const;

    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
    QString m_errorString;
    bool m_allowRemote = false;

    QList<QByteArray> m_addresses{ "192.168.0.10", "192.168.0.20", "255.255.255.0", "192.168.0.254",
                                   "239.0.0.1" };
    QByteArray m_mac{ "00A0B1C2D3E4" };
    QByteArray m_version{ "2.00" };
    QByteArray m_versionAfterDownload;
    DeviceMemory m_memory;

    int m_replyDelayMs = 0;
    int m_splitAt = 0;
    int m_splitPauseMs = 0;
    bool m_oneByteSegments = false;
    int m_bytePauseMs = 0;
    QHash<int, QByteArray> m_blockReplies;
    QSet<int> m_ignoredAnnounces;
    int m_dropRemaining = 0;
    int m_closeCountdown = 0;
    CloseMode m_closeMode = CloseMode::Graceful;
    bool m_refuseSets = false;
    QByteArray m_garbage;
    QByteArray m_unsolicitedReply;
    int m_unsolicitedDelayMs = 0;

    // Per connection.
    QByteArray m_line;
    bool m_discardingLine = false;
    bool m_closing = false;
    bool m_blockWritten = false;
    PendingBlock m_block;
    QList<Outgoing> m_outgoing;
    qint64 m_lastWriteAt = 0;
    QTimer m_sendTimer;
    QTimer m_unsolicitedTimer;
    QElapsedTimer m_clock;

    QList<QByteArray> m_commands;
    QList<BlockRecord> m_blocks;
    SimulatorCounters m_counters;
    int m_nextBlockIndex = 0;
};

} // namespace sim

Q_DECLARE_METATYPE(sim::BlockRecord)
