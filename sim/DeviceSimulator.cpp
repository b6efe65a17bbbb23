#include "DeviceSimulator.h"

#include "Bytes.h"

#include <QTcpSocket>

#include <algorithm>

#ifdef Q_OS_WIN
#  include <winsock2.h>
#else
#  include <sys/socket.h>
#endif

namespace sim {

namespace {

const QByteArray CrLf = QByteArrayLiteral("\r\n");

// With linger 0 the close that abort() does sends RST instead of FIN.
void setLingerZero(qintptr descriptor)
{
    if (descriptor < 0)
        return;
    linger value{};
    value.l_onoff = 1;
    value.l_linger = 0;
#ifdef Q_OS_WIN
    ::setsockopt(static_cast<SOCKET>(descriptor), SOL_SOCKET, SO_LINGER,
                 reinterpret_cast<const char *>(&value), sizeof value);
#else
    ::setsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_LINGER, &value, sizeof value);
#endif
}

QString hex32(quint32 value)
{
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

} // namespace

DeviceSimulator::DeviceSimulator(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<sim::BlockRecord>();
    m_clock.start();
    m_sendTimer.setSingleShot(true);
    m_sendTimer.setTimerType(Qt::PreciseTimer);
    m_unsolicitedTimer.setSingleShot(true);
    connect(&m_server, &QTcpServer::newConnection, this, &DeviceSimulator::onNewConnection);
    connect(&m_sendTimer, &QTimer::timeout, this, &DeviceSimulator::pump);
    connect(&m_unsolicitedTimer, &QTimer::timeout, this, [this] {
        if (!m_unsolicitedReply.isEmpty())
            sendUnsolicited(m_unsolicitedReply);
    });
}

DeviceSimulator::~DeviceSimulator()
{
    // No signals from a half-destroyed object: just drop the peer.
    if (m_socket) {
        QObject::disconnect(m_socket, nullptr, this, nullptr);
        m_socket->abort();
    }
}

bool DeviceSimulator::listen(const QHostAddress &address, quint16 port)
{
    if (m_server.isListening())
        close();
    if (!m_allowRemote && !address.isLoopback()) {
        m_errorString = QStringLiteral("refusing to listen on %1: not a loopback address")
                                .arg(address.toString());
        return false;
    }
    if (!m_server.listen(address, port)) {
        m_errorString = m_server.errorString();
        return false;
    }
    m_errorString.clear();
    note(QStringLiteral("listening on %1:%2").arg(address.toString()).arg(m_server.serverPort()));
    return true;
}

void DeviceSimulator::close()
{
    if (m_server.isListening()) {
        m_server.close();
        note(QStringLiteral("stopped listening"));
    }
    if (m_socket) {
        QTcpSocket *socket = m_socket;
        endSession(QStringLiteral("simulator closed"));
        socket->abort();
    }
}

void DeviceSimulator::disconnectClient(CloseMode mode)
{
    if (!m_socket)
        return;
    m_outgoing.clear();
    m_sendTimer.stop();
    queueAction(mode == CloseMode::Reset ? Outgoing::Kind::Reset : Outgoing::Kind::Close);
}

bool DeviceSimulator::setAddresses(const QList<QByteArray> &addresses)
{
    if (addresses.size() != 5)
        return false;
    m_addresses = addresses;
    return true;
}

void DeviceSimulator::setReplySplit(int splitAt, int pauseMs)
{
    m_splitAt = qMax(0, splitAt);
    m_splitPauseMs = qMax(0, pauseMs);
}

void DeviceSimulator::setOneByteSegments(bool enabled, int pauseMs)
{
    m_oneByteSegments = enabled;
    m_bytePauseMs = qMax(0, pauseMs);
}

void DeviceSimulator::setBlockReply(int blockIndex, const QByteArray &payload)
{
    m_blockReplies.insert(blockIndex, payload);
}

void DeviceSimulator::setIgnoredAnnounce(int blockIndex)
{
    m_ignoredAnnounces.insert(blockIndex);
}

void DeviceSimulator::closeAfterCommands(int count, CloseMode mode)
{
    m_closeCountdown = qMax(0, count);
    m_closeMode = mode;
}

void DeviceSimulator::setUnsolicitedOnConnect(const QByteArray &reply, int delayMs)
{
    m_unsolicitedReply = reply;
    m_unsolicitedDelayMs = qMax(0, delayMs);
}

void DeviceSimulator::clearFaults()
{
    m_replyDelayMs = 0;
    m_splitAt = 0;
    m_splitPauseMs = 0;
    m_oneByteSegments = false;
    m_bytePauseMs = 0;
    m_blockReplies.clear();
    m_ignoredAnnounces.clear();
    m_dropRemaining = 0;
    m_closeCountdown = 0;
    m_closeMode = CloseMode::Graceful;
    m_refuseSets = false;
    m_garbage.clear();
    m_unsolicitedReply.clear();
    m_unsolicitedDelayMs = 0;
    m_unsolicitedTimer.stop();
}

bool DeviceSimulator::sendUnsolicited(const QByteArray &reply)
{
    if (!m_socket || m_closing)
        return false;
    note(QStringLiteral("unsolicited reply %1").arg(printable(reply)));
    queueReply(reply, false);
    return true;
}

bool DeviceSimulator::sendRaw(const QByteArray &bytes)
{
    if (!m_socket || m_closing)
        return false;
    Outgoing item;
    item.bytes = bytes;
    item.dueAt = m_clock.elapsed();
    item.completesReply = bytes;
    m_outgoing.append(item);
    pump();
    return true;
}

void DeviceSimulator::clearRecords()
{
    m_commands.clear();
    m_blocks.clear();
    m_counters = {};
    m_nextBlockIndex = 0;
}

void DeviceSimulator::onNewConnection()
{
    while (QTcpSocket *incoming = m_server.nextPendingConnection()) {
        if (m_socket) {
            QTcpSocket *old = m_socket;
            endSession(QStringLiteral("replaced by a new connection"));
            old->abort();
        }
        // The new firmware runs once the connection that brought it has been given up.
        if (m_blockWritten && !m_versionAfterDownload.isEmpty()
            && m_version != m_versionAfterDownload) {
            m_version = m_versionAfterDownload;
            note(QStringLiteral("now reports version %1").arg(printable(m_version)));
        }
        m_blockWritten = false;
        m_socket = incoming;
        ++m_counters.connections;
        incoming->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(incoming, &QTcpSocket::readyRead, this, &DeviceSimulator::onReadyRead);
        connect(incoming, &QTcpSocket::disconnected, this, &DeviceSimulator::onDisconnected);
        m_lastWriteAt = m_clock.elapsed();
        note(QStringLiteral("client %1 connected").arg(peerText()));
        Q_EMIT clientConnected();
        if (m_socket == incoming && !m_unsolicitedReply.isEmpty())
            m_unsolicitedTimer.start(m_unsolicitedDelayMs);
    }
}

void DeviceSimulator::onReadyRead()
{
    if (!m_socket)
        return;
    const QByteArray data = m_socket->readAll();
    m_counters.bytesReceived += data.size();
    if (m_closing) {
        note(QStringLiteral("closing: %1 bytes ignored").arg(data.size()));
        return;
    }
    consume(data);
}

void DeviceSimulator::onDisconnected()
{
    endSession(m_closing ? QStringLiteral("closed by the device")
                         : QStringLiteral("closed by the peer"));
}

void DeviceSimulator::endSession(const QString &reason)
{
    if (!m_socket)
        return;
    QTcpSocket *socket = m_socket;
    const QString peer = peerText();
    m_socket = nullptr;
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->deleteLater();

    if (m_block.active) {
        ++m_counters.blocksDiscarded;
        note(QStringLiteral("block #%1 at %2 discarded: %3 of %4 bytes arrived")
                     .arg(m_block.index)
                     .arg(hex32(m_block.address))
                     .arg(m_block.data.size())
                     .arg(m_block.length));
    }
    if (!m_line.isEmpty())
        note(QStringLiteral("unterminated command discarded: %1").arg(printable(m_line)));
    const auto unsent =
            std::count_if(m_outgoing.cbegin(), m_outgoing.cend(),
                          [](const Outgoing &o) { return !o.completesReply.isEmpty(); });
    if (unsent > 0)
        note(QStringLiteral("%1 pending replies not sent").arg(unsent));

    m_block = {};
    m_line.clear();
    m_discardingLine = false;
    m_closing = false;
    m_outgoing.clear();
    m_sendTimer.stop();
    m_unsolicitedTimer.stop();

    note(QStringLiteral("client %1 disconnected: %2").arg(peer, reason));
    Q_EMIT clientDisconnected();
}

void DeviceSimulator::consume(QByteArrayView data)
{
    qsizetype pos = 0;
    while (pos < data.size() && m_socket && !m_closing) {
        if (m_block.active) {
            const qsizetype wanted = qsizetype(m_block.length) - m_block.data.size();
            const qsizetype take = std::min(wanted, data.size() - pos);
            m_block.data.append(data.sliced(pos, take));
            pos += take;
            if (m_block.data.size() == qsizetype(m_block.length))
                finishBlock();
            continue;
        }
        if (m_line.isEmpty() && !m_discardingLine && data[pos] == '\n') {
            ++pos;
            continue;
        }
        const qsizetype cr = data.indexOf('\r', pos);
        if (cr < 0) {
            appendPartialLine(data.sliced(pos));
            return;
        }
        const QByteArrayView piece = data.sliced(pos, cr - pos);
        pos = cr + 1;
        appendPartialLine(piece);
        if (m_discardingLine) {
            m_discardingLine = false;
            continue;
        }
        const QByteArray line = m_line;
        m_line.clear();
        handleCommand(line);
    }
}

void DeviceSimulator::appendPartialLine(QByteArrayView piece)
{
    if (m_discardingLine)
        return;
    if (m_line.size() + piece.size() > MaxLineLength) {
        ++m_counters.linesDiscarded;
        QByteArray start = m_line.left(32);
        start.append(piece.first(std::min<qsizetype>(piece.size(), 32 - start.size())));
        note(QStringLiteral("line over %1 bytes without CR discarded, starting %2")
                     .arg(MaxLineLength)
                     .arg(printable(start)));
        m_line.clear();
        m_discardingLine = true;
        return;
    }
    m_line.append(piece);
}

void DeviceSimulator::handleCommand(const QByteArray &line)
{
    ++m_counters.commands;
    m_commands.append(line);
    if (m_commands.size() > MaxRecordedCommands)
        m_commands.remove(0, m_commands.size() - MaxRecordedCommands);
    Q_EMIT commandReceived(line);

    const Command command = parseCommand(line);
    bool silent = false;
    const QByteArray reply = answer(command, line, &silent);
    if (!silent) {
        if (m_dropRemaining > 0) {
            --m_dropRemaining;
            ++m_counters.repliesDropped;
            note(QStringLiteral("reply dropped: %1").arg(printable(reply)));
        } else {
            queueReply(reply, true);
        }
    }

    if (m_closeCountdown > 0 && --m_closeCountdown == 0) {
        m_closing = true;
        note(QStringLiteral("closing the connection after this command (%1)")
                     .arg(m_closeMode == CloseMode::Reset ? QStringLiteral("reset")
                                                          : QStringLiteral("graceful")));
        queueAction(m_closeMode == CloseMode::Reset ? Outgoing::Kind::Reset
                                                    : Outgoing::Kind::Close);
    }
}

QByteArray DeviceSimulator::answer(const Command &command, const QByteArray &line, bool *silent)
{
    const bool known = command.kind != CommandKind::Unknown;
    if (!known) {
        ++m_counters.unknownCommands;
        note(line.isEmpty() ? QStringLiteral("empty line ignored")
                            : QStringLiteral("unknown command ignored: %1").arg(printable(line)));
        *silent = true;
        return {};
    }
    if (!command.valid) {
        ++m_counters.malformedCommands;
        note(QStringLiteral("malformed %1 command: %2")
                     .arg(QLatin1String(commandKindName(command.kind)), printable(line)));
    }

    switch (command.kind) {
    case CommandKind::SetIp: {
        const bool valid = command.valid && command.arguments.size() == 5
                && std::all_of(command.arguments.cbegin(), command.arguments.cend(),
                               [](const QByteArray &a) { return isDottedDecimalIpv4(a); });
        const bool ok = valid && !m_refuseSets;
        if (ok)
            m_addresses = command.arguments;
        else if (valid)
            note(QStringLiteral("addresses refused (fault)"));
        else if (command.valid)
            note(QStringLiteral("addresses refused: not five dotted-decimal IPv4 addresses"));
        return ok ? QByteArrayLiteral("ACK_SET_IP:1") : QByteArrayLiteral("ACK_SET_IP:0");
    }
    case CommandKind::ReqIp:
        return "ACK_REC_IP:" + m_addresses.join(',');
    case CommandKind::SetMac: {
        const bool valid = command.valid && isMacText(command.arguments.value(0));
        const bool ok = valid && !m_refuseSets;
        if (ok)
            m_mac = command.arguments.value(0);
        else if (valid)
            note(QStringLiteral("MAC address refused (fault)"));
        else if (command.valid)
            note(QStringLiteral("MAC address refused: not twelve hexadecimal digits"));
        return ok ? QByteArrayLiteral("ACK_SET_MAC:1") : QByteArrayLiteral("ACK_SET_MAC:0");
    }
    case CommandKind::ReqMac:
        return "ACK_REQ_MAC:" + m_mac;
    case CommandKind::ReqVer:
        return "ACK_REQ_VER:" + m_version;
    case CommandKind::Download:
        return answerDownload(command, silent);
    case CommandKind::Unknown:
        break;
    }
    *silent = true;
    return {};
}

QByteArray DeviceSimulator::answerDownload(const Command &command, bool *silent)
{
    const int index = m_nextBlockIndex++;
    if (m_ignoredAnnounces.contains(index)) {
        ++m_counters.announcesIgnored;
        note(QStringLiteral("announce of block #%1 ignored (fault)").arg(index));
        *silent = true;
        return {};
    }
    if (!command.valid)
        return QByteArrayLiteral("ACK_DOWNLOAD:Error:Bad Parameter");
    if (command.length == 0 || command.length > MaxBlockLength) {
        note(QStringLiteral("block #%1 refused: length %2").arg(index).arg(command.length));
        return QByteArrayLiteral("ACK_DOWNLOAD:Error:Bad Size");
    }
    if (!m_memory.contains(command.address, command.length)) {
        note(QStringLiteral("block #%1 refused: %2 + %3 bytes is outside the device's memory")
                     .arg(index)
                     .arg(hex32(command.address))
                     .arg(command.length));
        return QByteArrayLiteral("ACK_DOWNLOAD:Error:Bad Address");
    }
    if (!command.exactForm)
        note(QStringLiteral("note: announce not in the tool's own spelling"));
    m_block.active = true;
    m_block.index = index;
    m_block.address = command.address;
    m_block.length = command.length;
    m_block.exactAnnounce = command.exactForm;
    m_block.data.clear();
    m_block.data.reserve(qsizetype(command.length));
    return "ACK_DOWNLOAD:Size:" + QByteArray::number(command.length);
}

void DeviceSimulator::finishBlock()
{
    BlockRecord record;
    record.index = m_block.index;
    record.address = m_block.address;
    record.length = m_block.length;
    record.crc32 = crc32(m_block.data);
    record.exactAnnounce = m_block.exactAnnounce;
    record.reply = m_blockReplies.value(record.index, QByteArrayLiteral("Result:1"));
    const bool reportsFailure = !record.reply.isEmpty() && !record.reply.startsWith("Result:1");
    record.written = !reportsFailure && m_memory.write(record.address, m_block.data);
    m_blockWritten = m_blockWritten || record.written;
    m_block = {};

    ++m_counters.blocksReceived;
    m_blocks.append(record);
    Q_EMIT blockReceived(record);
    if (record.reply.isEmpty())
        note(QStringLiteral("result of block #%1 withheld (fault)").arg(record.index));
    else
        queueReply("ACK_DOWNLOAD:" + record.reply, true);
}

void DeviceSimulator::queueReply(const QByteArray &reply, bool delayed)
{
    QTcpSocket *const socket = m_socket.data();
    if (!socket)
        return;
    if (socket->bytesToWrite() > MaxUnsentBytes) {
        ++m_counters.repliesDropped;
        note(QStringLiteral("peer is not reading: reply dropped: %1").arg(printable(reply)));
        return;
    }
    const QByteArray bytes = m_garbage + reply + CrLf;
    QList<QByteArray> segments;
    int gap = 0;
    if (m_oneByteSegments) {
        for (const char c : bytes)
            segments.append(QByteArray(1, c));
        gap = m_bytePauseMs;
    } else if (m_splitAt > 0 && m_splitAt < bytes.size()) {
        segments = { bytes.first(m_splitAt), bytes.sliced(m_splitAt) };
        gap = m_splitPauseMs;
    } else {
        segments = { bytes };
    }

    const qint64 due = m_clock.elapsed() + (delayed ? m_replyDelayMs : 0);
    for (qsizetype i = 0; i < segments.size(); ++i) {
        Outgoing item;
        item.bytes = segments[i];
        item.dueAt = i == 0 ? due : -1;
        item.gapMs = i == 0 ? 0 : gap;
        if (i == segments.size() - 1)
            item.completesReply = bytes;
        m_outgoing.append(item);
    }
    pump();
}

void DeviceSimulator::queueAction(Outgoing::Kind kind)
{
    Outgoing item;
    item.kind = kind;
    item.dueAt = m_clock.elapsed();
    m_outgoing.append(item);
    pump();
}

// Sends what is due, in order, and sleeps on the timer until the next item is.
void DeviceSimulator::pump()
{
    while (m_socket && !m_outgoing.isEmpty()) {
        const Outgoing &head = m_outgoing.first();
        const qint64 now = m_clock.elapsed();
        const qint64 due = head.dueAt >= 0 ? head.dueAt : m_lastWriteAt + head.gapMs;
        if (now < due) {
            m_sendTimer.start(int(due - now));
            return;
        }
        const Outgoing item = m_outgoing.takeFirst();
        switch (item.kind) {
        case Outgoing::Kind::Write:
            m_socket->write(item.bytes);
            m_socket->flush();
            m_lastWriteAt = now;
            m_counters.bytesSent += item.bytes.size();
            Q_EMIT dataSent(item.bytes);
            if (!item.completesReply.isEmpty()) {
                ++m_counters.repliesSent;
                Q_EMIT replySent(item.completesReply);
            }
            break;
        case Outgoing::Kind::Close:
            m_closing = true;
            // May end the session right here when nothing is left to write.
            m_socket->disconnectFromHost();
            break;
        case Outgoing::Kind::Reset: {
            QTcpSocket *socket = m_socket;
            m_socket->flush();
            endSession(QStringLiteral("reset by the device"));
            setLingerZero(socket->socketDescriptor());
            socket->abort();
            break;
        }
        }
    }
}

void DeviceSimulator::note(const QString &text)
{
    Q_EMIT logMessage(text);
}

QString DeviceSimulator::peerText() const
{
    if (!m_socket)
        return {};
    return m_socket->peerAddress().toString() + QLatin1Char(':')
            + QString::number(m_socket->peerPort());
}

} // namespace sim
