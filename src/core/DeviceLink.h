#pragma once

#include "protocol/Replies.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

namespace core {

// One TCP connection to one device: connecting (bounded, waiting or not), writing commands and
// image blocks, receiving and reassembling reply lines, and the status texts of all of it.
//
// The target is held as text, as typed, and checked only when a connection is attempted: a
// strict dotted-decimal IPv4 address and a decimal port 1-65535 (a caller that has checked its
// target already hands it over as numbers, which go to the socket as they are). A connection is
// "recorded" once it is made; commands are written only to a recorded connection, never queued
// for a later one.
//
// Receiving is enabled by a command (SendCommand) or by StartReceivePolling, and ends once every
// command written since has had a reply line, nothing more waits and no line is unfinished.
// While enabled, bytes are taken as soon as they arrive. Every complete line is handed on to
// whoever takes it; an unfinished line waits for the rest of it. Bytes that arrive while
// receiving is off wait for the next command on the same connection.
//
// The end of the connection (the device closed or reset it) is noticed when it happens, whether
// or not receiving is enabled: lines that had come before it are still handed on if receiving
// is, anything else that waited there is dropped with it, and nothing more is written there.
//
// While a download block is open (between its announce and its bytes) the device counts raw
// bytes, so other commands are held and go out, in order, when the hold ends; a hold that ends
// on a connection that is gone sends them on a fresh one, made after the step that ended it.
class DeviceLink : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultConnectTimeoutMs = 3000;
    static constexpr int PollIntervalMs = 100;
    // One receive takes at most this much.
    static constexpr qint64 ReceiveMax = 4096;

    explicit DeviceLink(QObject *parent = nullptr);
    ~DeviceLink() override;

    // Where the next connection goes; a connection that is open is left alone.
    void SetAddress(const QString &address);
    void SetPort(const QString &port);
    // Both, checked already: an IPv4 address in host order, a port 1-65535.
    void SetTarget(quint32 address, quint16 port);
    QString Address() const { return m_address; }
    // The bound on one connection attempt.
    void SetConnectTimeout(int ms) { m_connectTimeoutMs = ms; }

    bool IsConnected() const { return m_socket != nullptr; }
    bool IsConnecting() const { return m_pending != nullptr; }

    // Starts a connection unless one is recorded or under way; connected() or connectFailed()
    // follows. The event loop runs meanwhile.
    void BeginConnect();
    // The waiting form: returns true once a connection is recorded, false after a failure
    // (reported through connectFailed() before it returns). Holds the thread for at most the
    // connect bound.
    bool ConnectWaiting();
    // Closes the recorded connection, if any, and says "Disconnect".
    void CloseLink();
    // Forgets the recorded connection, closing it quietly, so that the next connect is a new one.
    void DropConnection();
    // Ends everything at once (an interrupt): the connection is reset, so not even bytes already
    // queued in the system reach the device; an attempt under way is given up and held commands
    // are dropped. No status text. Destroying the link resets nothing.
    void Abort();

    // Writes a command in one call when a connection is recorded (held while a block is open)
    // and enables receiving; without a connection nothing is sent. Returns the byte count.
    int SendCommand(QByteArrayView bytes);
    // A download's own writes: never held, and never written to a connection other than the one
    // the open block's announce went out on. False when nothing was written.
    bool SendDownload(QByteArrayView bytes);
    // Raw bytes on the recorded connection (held like a command); -1 without a connection.
    qint64 WriteRaw(QByteArrayView bytes);
    void StartReceivePolling();
    bool IsPolling() const { return m_pollTimer.isActive(); }
    // Receiving stays enabled for as long as a connection is recorded, so every line is read
    // when it arrives: only then does the order of reads and writes tell an answer from a line
    // that was already there.
    void SetReceiveAlways(bool always);

    // Each write on a connection gets the next serial number; a write counts as written once all
    // of its bytes (and those before it) have been handed to the system.
    quint64 LastWriteSerial() const { return m_writeSerial; }
    bool IsWritten(quint64 serial) const { return serial != 0 && serial <= m_writtenSerial; }
    // Bytes handed to the link that the system has not taken yet.
    qint64 BytesToWrite() const { return m_socket ? m_socket->bytesToWrite() : 0; }
    // Drops whatever has been received and not handed on yet, an unfinished line included, and
    // returns it.
    QByteArray DiscardReceived();

    void SetCommandHold(bool hold);
    bool CommandHold() const { return m_commandHold; }
    // Closes the connection if it is the one the open block's announce went out on: the device
    // there may be waiting for the block's bytes and would take any later bytes as image data.
    void AbandonOpenBlock();

    // Said by whoever takes the line being handed on (lineReceived()); `reply` when it was a
    // reply, which answers one command awaiting its reply line. A line nobody takes is dropped,
    // the lines after it are still handed on, and receiving stays enabled.
    void LineTaken(bool reply);

    // Bytes of an unfinished reply line held until its LF arrives.
    qsizetype PendingReplyBytes() const { return m_assembler.PendingSize(); }

    // What one receive does with the bytes it read: cuts them at the first NUL, reports them
    // (received()) and hands on every line they complete (lineReceived()). False when a line
    // was not taken. Needs no connection, so the line handling can be fed bytes from memory.
    bool TakeReceived(QByteArray text);

Q_SIGNALS:
    // Every status text of the link, exactly as shown ("Connect Complete", "Disconnected\n" ...).
    void statusChanged(const QString &text);
    void connected();
    // A connection attempt failed; `code` is the Winsock-numbered error (0 for a target that is
    // not valid). statusChanged(text) follows.
    void connectFailed(const QString &text, int code);
    // The recorded connection ended: closed here, by the device, or after a receive error.
    // `code` is the Winsock-numbered error, 0 for a plain close.
    void connectionLost(const QString &text, int code);
    // Each receive, cut at its first NUL, before its lines are handed on.
    void received(const QByteArray &text);
    // Each complete reply line (LF included), in order; its taker says so with LineTaken().
    void lineReceived(const QByteArray &line);

private:
    void OnPendingConnected();
    void OnPendingFailed();
    void FinishConnect();
    void FailConnect(const QString &text, int code);
    void ReleaseSocket(bool graceful);
    void PollTick();
    void OnReadyRead();
    void OnBytesWritten();
    void OnSocketEnded();
    void Receive();
    void LoseConnection(const QString &text, int code);
    void ForgetAwaitedReplies();
    // How the connection ended: its status text and its code (0 for a plain close).
    std::pair<QString, int> EndOf(const QTcpSocket &socket) const;
    // One write of `bytes`, which hold `commands` commands that each await a reply line.
    qint64 Write(QByteArrayView bytes, int commands = 1);
    void SendHeldOnFreshConnection();

    QString m_address;
    QString m_port;
    // Set with the text when the target came as numbers: nothing left to parse.
    std::optional<quint32> m_checkedAddress;
    std::optional<quint16> m_checkedPort;
    int m_connectTimeoutMs = DefaultConnectTimeoutMs;

    // Children of the link, released with deleteLater once their pointer here is cleared, so
    // a socket stays valid through any handler that runs while it is in use.
    QTcpSocket *m_socket = nullptr; // the recorded connection
    QTcpSocket *m_pending = nullptr; // an attempt under way
    QTimer m_connectTimer;
    bool m_waiting = false;

    QTimer m_pollTimer;
    protocol::LineAssembler m_assembler;
    QList<QByteArrayView> m_lines;
    QByteArray m_line;
    bool m_receiving = false;
    bool m_receiveAlways = false;
    quint64 m_writeSerial = 0;
    quint64 m_writtenSerial = 0;

    // Commands written on this connection whose reply line has not come yet.
    int m_awaitedReplies = 0;
    // How often that count started again from nothing (a connection made or released).
    quint64 m_awaitedResets = 0;
    // What the taker said of the line being handed on; null between lines.
    struct LineTaking
    {
        bool taken = false;
        bool reply = false;
    };
    LineTaking *m_taking = nullptr;

    bool m_commandHold = false;
    QByteArray m_heldCommands;
    int m_heldCount = 0;
    // Held commands wait for a fresh connection, made once the current step is over, and stay
    // queued until that attempt is decided; commands that come meanwhile queue behind them.
    bool m_heldSendQueued = false;
    QString m_lastConnectFailure;
    // Counts the connections made, so a block's bytes go only where its announce went.
    quint64 m_connectionNumber = 0;
    quint64 m_holdConnection = 0;
};

} // namespace core
