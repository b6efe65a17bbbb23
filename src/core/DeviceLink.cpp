#include "DeviceLink.h"

#include "platform/Inet.h"
#include "platform/SocketErrors.h"
#include "platform/SocketPoll.h"
#include "platform/SocketReset.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QScopedValueRollback>
#include <QTcpSocket>

#include <optional>
#include <utility>

namespace core {

namespace {

// What the socket may hold beyond one receive before TCP itself makes the device wait.
constexpr qint64 SocketReadBuffer = 256 * 1024;

QString ConnectErrorText(int code)
{
    return QString::asprintf("Error:connect(), Code = %d\n\n", code);
}

} // namespace

DeviceLink::DeviceLink(QObject *parent) : QObject(parent), m_connectTimer(this), m_pollTimer(this)
{
    m_pollTimer.setObjectName(QStringLiteral("TmrPktRcv"));
    m_pollTimer.setInterval(PollIntervalMs);
    m_pollTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pollTimer, &QTimer::timeout, this, &DeviceLink::PollTick);

    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_pending)
            FailConnect(ConnectErrorText(platform::wsa::TimedOut), platform::wsa::TimedOut);
    });
}

DeviceLink::~DeviceLink()
{
    // Nothing is closed on purpose at the end: the socket goes as the system releases a
    // program's sockets, in order, after what was handed to it. Only Abort() resets.
    if (m_pending)
        disconnect(m_pending, nullptr, this, nullptr);
    if (m_socket) {
        disconnect(m_socket, nullptr, this, nullptr);
        m_socket->flush();
    }
}

void DeviceLink::SetAddress(const QString &address)
{
    m_address = address;
    m_checkedAddress.reset();
}

void DeviceLink::SetPort(const QString &port)
{
    m_port = port;
    m_checkedPort.reset();
}

void DeviceLink::SetTarget(quint32 address, quint16 port)
{
    m_address = QHostAddress(address).toString(); // for the status texts
    m_port = QString::number(port);
    m_checkedAddress = address;
    m_checkedPort = port;
}

void DeviceLink::BeginConnect()
{
    if (m_socket || m_pending)
        return;

    const std::optional<quint32> address =
            m_checkedAddress ? m_checkedAddress : platform::ParseDottedDecimal(m_address);
    if (!address) {
        FailConnect(QStringLiteral("Error: invalid IP address"), 0);
        return;
    }
    const std::optional<quint16> port = m_checkedPort ? m_checkedPort : platform::ParsePort(m_port);
    if (!port) {
        FailConnect(QStringLiteral("Error: invalid port"), 0);
        return;
    }

    Q_EMIT statusChanged(m_address + QStringLiteral("Connect..."));

    // 0.0.0.0 names no device; some systems would quietly connect it to this machine.
    if (*address == 0 || !platform::IsConnectAllowed(*address)) {
        const int code =
                *address == 0 ? platform::wsa::AddressNotAvailable : platform::wsa::AccessDenied;
        FailConnect(ConnectErrorText(code), code);
        return;
    }

    auto *socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    socket->setReadBufferSize(SocketReadBuffer);
    connect(socket, &QAbstractSocket::connected, this, &DeviceLink::OnPendingConnected);
    connect(socket, &QAbstractSocket::errorOccurred, this, &DeviceLink::OnPendingFailed);
    m_pending = socket;
    socket->connectToHost(QHostAddress(*address), *port);

    if (m_pending && socket->state() == QAbstractSocket::UnconnectedState
        && socket->error() == QAbstractSocket::SocketResourceError) {
        const int code = platform::WsaErrorCode(socket->error(), socket->errorString(),
                                                platform::SocketPhase::Connect);
        FailConnect(QString::asprintf("Error: socket(), Code = %d", code), code);
        return;
    }
    if (m_pending)
        m_connectTimer.start(m_connectTimeoutMs);
}

bool DeviceLink::ConnectWaiting()
{
    BeginConnect();
    if (!m_pending)
        return m_socket != nullptr;

    // The attempt's own signals are ignored meanwhile and its outcome is taken from the socket,
    // so no handler runs inside the socket's wait.
    QTcpSocket *socket = m_pending;
    m_waiting = true;
    const bool made = socket->waitForConnected(qMax(1, m_connectTimer.remainingTime()));
    m_waiting = false;
    if (m_pending != socket)
        return m_socket != nullptr;
    if (made) {
        FinishConnect();
        return true;
    }
    OnPendingFailed();
    return false;
}

void DeviceLink::OnPendingConnected()
{
    if (!m_waiting && m_pending)
        FinishConnect();
}

void DeviceLink::OnPendingFailed()
{
    if (m_waiting || !m_pending)
        return;
    const int code = platform::WsaErrorCode(m_pending->error(), m_pending->errorString(),
                                            platform::SocketPhase::Connect);
    FailConnect(ConnectErrorText(code), code);
}

void DeviceLink::FinishConnect()
{
    QTcpSocket *socket = std::exchange(m_pending, nullptr);
    m_connectTimer.stop();
    disconnect(socket, nullptr, this, nullptr);
    connect(socket, &QIODevice::readyRead, this, &DeviceLink::OnReadyRead);
    connect(socket, &QIODevice::bytesWritten, this, &DeviceLink::OnBytesWritten);
    // Direct: from the moment the connection ends nothing more is written there.
    connect(socket, &QAbstractSocket::disconnected, this, &DeviceLink::OnSocketEnded);
    m_socket = socket;
    ++m_connectionNumber;
    m_assembler.Clear();
    ForgetAwaitedReplies();
    Q_EMIT statusChanged(QStringLiteral("Connect Complete"));
    Q_EMIT connected();
    // Data that came with the connection waits for receiving to be enabled.
    if (m_receiveAlways && m_socket == socket)
        StartReceivePolling();
}

void DeviceLink::FailConnect(const QString &text, int code)
{
    m_connectTimer.stop();
    m_lastConnectFailure = text;
    if (QTcpSocket *socket = std::exchange(m_pending, nullptr)) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        socket->deleteLater();
    }
    // Nothing failed stays recorded while a handler (a modal box, say) runs the event loop.
    Q_EMIT connectFailed(text, code);
    Q_EMIT statusChanged(text);
}

void DeviceLink::ReleaseSocket(bool graceful)
{
    QTcpSocket *socket = std::exchange(m_socket, nullptr);
    m_assembler.Clear();
    ForgetAwaitedReplies();
    if (!socket)
        return;
    disconnect(socket, nullptr, this, nullptr);
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        // Ended already (this may run inside its own end): only the object is left to go.
        socket->deleteLater();
    } else if (graceful) {
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromHost();
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->deleteLater();
    } else {
        platform::SetResetOnClose(socket->socketDescriptor());
        socket->abort();
        socket->deleteLater();
    }
}

void DeviceLink::CloseLink()
{
    if (!m_socket)
        return;
    ReleaseSocket(true);
    const QString text = QStringLiteral("Disconnect");
    Q_EMIT statusChanged(text);
    Q_EMIT connectionLost(text, 0);
}

void DeviceLink::DropConnection()
{
    ReleaseSocket(true);
}

void DeviceLink::Abort()
{
    m_pollTimer.stop();
    m_connectTimer.stop();
    m_heldCommands.clear();
    m_heldCount = 0;
    m_commandHold = false;
    m_heldSendQueued = false;
    if (QTcpSocket *socket = std::exchange(m_pending, nullptr)) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        socket->deleteLater();
    }
    ReleaseSocket(false);
}

qint64 DeviceLink::Write(QByteArrayView bytes, int commands)
{
    const qint64 written = m_socket->write(bytes.data(), bytes.size());
    ++m_writeSerial;
    m_awaitedReplies += commands;
    // Out as soon as this step is over, ahead of any repaint, rather than on the socket's next
    // can-write notice: on Windows that notice is a round of window messages of its own, queued
    // behind the repaint. Queued, so that a failing write is still reported from the event loop.
    QMetaObject::invokeMethod(
            m_socket, [socket = m_socket] { socket->flush(); }, Qt::QueuedConnection);
    return written;
}

int DeviceLink::SendCommand(QByteArrayView bytes)
{
    if (m_socket) {
        if (m_commandHold || m_heldSendQueued) {
            m_heldCommands.append(bytes);
            ++m_heldCount;
        } else {
            Write(bytes);
        }
        StartReceivePolling();
    }
    return static_cast<int>(bytes.size());
}

bool DeviceLink::SendDownload(QByteArrayView bytes)
{
    if (!m_socket)
        return false;
    // A device on a newer connection never saw the announce and would read the image as
    // commands; unsent, the block simply gets no result and its wait runs out.
    const bool written = !m_commandHold || m_holdConnection == m_connectionNumber;
    if (written)
        Write(bytes);
    StartReceivePolling();
    return written;
}

qint64 DeviceLink::WriteRaw(QByteArrayView bytes)
{
    if (!m_socket)
        return -1;
    if (m_commandHold || m_heldSendQueued) {
        m_heldCommands.append(bytes);
        ++m_heldCount;
        return bytes.size();
    }
    return Write(bytes);
}

void DeviceLink::SetReceiveAlways(bool always)
{
    m_receiveAlways = always;
    if (always && m_socket)
        StartReceivePolling();
}

QByteArray DeviceLink::DiscardReceived()
{
    QByteArray dropped = m_assembler.Pending();
    m_assembler.Clear();
    if (m_socket)
        dropped += m_socket->readAll();
    return dropped;
}

void DeviceLink::StartReceivePolling()
{
    if (m_pollTimer.isActive())
        return;
    m_pollTimer.start();
    // Bytes that came while receiving was off are taken now, not a tick later.
    if (m_socket && m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &DeviceLink::OnReadyRead, Qt::QueuedConnection);
}

void DeviceLink::SetCommandHold(bool hold)
{
    if (hold && !m_commandHold)
        m_holdConnection = m_socket ? m_connectionNumber : 0;
    m_commandHold = hold;
    if (hold || m_heldCommands.isEmpty() || m_heldSendQueued)
        return;
    if (!m_socket) {
        // The hold's connection is gone (abandoned after a size time-out, or ended by the
        // device): the commands go out on a fresh one, never dropped. Connecting is left until
        // the step that ended the hold is over, so a failure box cannot open inside it.
        m_heldSendQueued = true;
        QMetaObject::invokeMethod(this, &DeviceLink::SendHeldOnFreshConnection,
                                  Qt::QueuedConnection);
        return;
    }
    const QByteArray held = std::exchange(m_heldCommands, QByteArray());
    Write(held, std::exchange(m_heldCount, 0));
    StartReceivePolling();
}

void DeviceLink::SendHeldOnFreshConnection()
{
    if (!m_heldSendQueued)
        return; // aborted meanwhile
    // A block opened meanwhile: they go when that one is out.
    if (m_commandHold || m_heldCommands.isEmpty()) {
        m_heldSendQueued = false;
        return;
    }
    // Still queued while connecting: a hold that ends inside the failure box (the download's
    // stop, say) finds these commands under way and starts no second attempt for them.
    const bool connected = m_socket || ConnectWaiting();
    if (!m_heldSendQueued)
        return; // aborted inside the box
    m_heldSendQueued = false;
    if (!connected) {
        // Reported once, by the failed connection; the status says what it cost.
        const int count = std::exchange(m_heldCount, 0);
        m_heldCommands.clear();
        QString cause = m_lastConnectFailure;
        while (cause.endsWith(QLatin1Char('\n')))
            cause.chop(1);
        Q_EMIT statusChanged(
                count == 1 ? QStringLiteral("1 held command not sent: %1").arg(cause)
                           : QStringLiteral("%1 held commands not sent: %2").arg(count).arg(cause));
        return;
    }
    SetCommandHold(false);
}

void DeviceLink::AbandonOpenBlock()
{
    if (m_socket && m_commandHold && m_holdConnection == m_connectionNumber)
        CloseLink();
}

void DeviceLink::OnReadyRead()
{
    if (m_pollTimer.isActive())
        Receive();
}

void DeviceLink::OnBytesWritten()
{
    if (m_socket && m_socket->bytesToWrite() == 0)
        m_writtenSerial = m_writeSerial;
}

std::pair<QString, int> DeviceLink::EndOf(const QTcpSocket &socket) const
{
    const QAbstractSocket::SocketError error = socket.error();
    if (error == QAbstractSocket::RemoteHostClosedError
        || error == QAbstractSocket::UnknownSocketError) {
        return { QStringLiteral("Disconnected\n"), 0 };
    }
    const int code =
            platform::WsaErrorCode(error, socket.errorString(), platform::SocketPhase::Established);
    return { QString::asprintf("recv() failed: error %d\n", code), code };
}

void DeviceLink::OnSocketEnded()
{
    QTcpSocket *socket = m_socket;
    if (!socket || socket != sender())
        return;
    // Replies that came before the end answer commands already written.
    if (m_pollTimer.isActive())
        Receive();
    // A handler may have closed or replaced it meanwhile.
    if (m_socket != socket)
        return;
    const auto [text, code] = EndOf(*socket);
    LoseConnection(text, code);
}

void DeviceLink::PollTick()
{
    if (!m_socket)
        return; // nothing recorded: the timer ticks on without effect
    if (m_socket->bytesAvailable() > 0) {
        Receive();
        return;
    }
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        // A notice of input can go missing (Wine's sockets lose the one for bytes that come
        // together with a reset): the tick asks the socket itself, and what it finds arrives
        // through the socket's signals as usual.
        if (platform::SocketHasInput(m_socket->socketDescriptor()))
            m_socket->waitForReadyRead(0);
        return; // otherwise the device has not answered yet: try again next tick
    }
    const auto [text, code] = EndOf(*m_socket);
    LoseConnection(text, code);
}

void DeviceLink::LoseConnection(const QString &text, int code)
{
    Q_EMIT statusChanged(text);
    m_pollTimer.stop();
    ReleaseSocket(false);
    Q_EMIT connectionLost(text, code);
}

void DeviceLink::Receive()
{
    // A handler that runs the event loop (an error box) must not start a second receive that
    // would hand on later lines before the earlier ones.
    if (m_receiving)
        return;
    const QScopedValueRollback<bool> receiving(m_receiving, true);
    bool declined = false;
    // A handler may close or replace the connection while lines are handed on.
    while (m_socket && m_pollTimer.isActive() && m_socket->bytesAvailable() > 0) {
        if (!TakeReceived(m_socket->read(ReceiveMax)))
            declined = true;
    }
    // Receiving goes on while a command still awaits its reply or a reply is incomplete.
    const bool moreWaiting = m_socket && m_socket->bytesAvailable() > 0;
    if (!m_receiveAlways && !declined && m_awaitedReplies == 0 && !m_assembler.HasPendingLine()
        && !moreWaiting)
        m_pollTimer.stop();
}

void DeviceLink::ForgetAwaitedReplies()
{
    m_awaitedReplies = 0;
    ++m_awaitedResets;
}

void DeviceLink::LineTaken(bool reply)
{
    if (m_taking) {
        m_taking->taken = true;
        m_taking->reply = m_taking->reply || reply;
    }
}

bool DeviceLink::TakeReceived(QByteArray text)
{
    // The device's texts are C strings: the text ends at the first NUL.
    if (const qsizetype nul = text.indexOf('\0'); nul >= 0)
        text.truncate(nul);
    Q_EMIT received(text);

    // A lone "0" is not a reply; inside an unfinished line it is part of that line.
    if (text == "0" && !m_assembler.HasPendingLine())
        return true;
    bool taken = true;
    // The room of the last receive's line list and line is used again (a taker that keeps a
    // line keeps its own copy of it).
    QList<QByteArrayView> lines = std::exchange(m_lines, {});
    lines.clear();
    m_assembler.Feed(text, lines);
    QByteArray line = std::exchange(m_line, {});
    for (const QByteArrayView view : std::as_const(lines)) {
        line.resize(0);
        line.append(view);
        // The reply counts as seen before its taker ran: a command written meanwhile awaits a
        // reply of its own, and a connection made or lost meanwhile awaits nothing yet.
        const bool awaited = m_awaitedReplies > 0;
        const quint64 resets = m_awaitedResets;
        LineTaking taking;
        const QScopedValueRollback<LineTaking *> handing(m_taking, &taking);
        Q_EMIT lineReceived(line);
        if (taking.reply && awaited && resets == m_awaitedResets)
            --m_awaitedReplies;
        // Nobody took it: dropped, the next line still goes, and receiving stays on.
        if (!taking.taken)
            taken = false;
    }
    m_lines = std::move(lines);
    m_line = std::move(line);
    return taken;
}

} // namespace core
