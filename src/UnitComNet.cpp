#include "UnitComNet.h"
#include "ui_UnitComNet.h"

#include "FormUtil.h"
#include "UnitMain.h"
#include "platform/FileDialog.h"
#include "platform/Inet.h"
#include "platform/MessageBox.h"
#include "platform/ProfileString.h"
#include "platform/ProgramPath.h"
#include "platform/ReplyMessage.h"
#include "platform/SocketErrors.h"
#include "protocol/Commands.h"

#include <QApplication>
#include <QFile>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QShowEvent>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTimer>

#include <stdexcept>
#include <utility>

TFormComNet *FormComNet = nullptr;

namespace {

const char *const SettingsFileName = "QL_T36.ini";
const char *const DefaultAddress = "192.168.0.1";
const char *const DefaultPort = "2000";

// An absent device must not freeze the window for long.
constexpr int ConnectTimeoutMs = 3000;
// One receive takes at most this much.
constexpr qint64 ReceiveMax = 4096;
// What the socket may hold beyond that before TCP itself makes the device wait.
constexpr qint64 SocketReadBuffer = 256 * 1024;
// The receive view keeps this many lines before the one appended.
constexpr int ReceiveViewLines = 500;

// Frame of a sizeable window where the window system has not told us its own yet: at an outer
// height of 164 the status bar then sits right below the connection group.
constexpr QSize DesignSizeableFrame(8, 35);

} // namespace

TFormComNet::TFormComNet(QWidget *parent)
    : QMainWindow(parent), m_ui(std::make_unique<Ui::TFormComNet>())
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_QuitOnClose, false);

    // Parts of the layout that this tool never shows.
    for (QWidget *hidden : std::initializer_list<QWidget *>{
                 m_ui->Label2, m_ui->Label5, m_ui->edtLocalPORT, m_ui->RGrpNetSel, m_ui->btnComSend,
                 m_ui->btnSndClr, m_ui->BtnOpen, m_ui->BtnSave, m_ui->btnComAbort, m_ui->BtnRcvClr,
                 m_ui->BtnRcvDsp }) {
        hidden->hide();
    }
    const QList<QAction *> menuEntries = m_ui->MainMenu1->actions();
    for (QAction *entry : menuEntries)
        entry->setVisible(false);
    m_ui->MainMenu1->hide();

    TmrPktRcv = new QTimer(this);
    TmrPktRcv->setObjectName(QStringLiteral("TmrPktRcv"));
    TmrPktRcv->setInterval(100);
    TmrPktRcv->setTimerType(Qt::PreciseTimer);
    connect(TmrPktRcv, &QTimer::timeout, this, &TFormComNet::TmrPktRcvTimer);

    connect(m_ui->SBtnLanConnect, &QToolButton::clicked, this, &TFormComNet::SBtnLanConnectClick);
    connect(m_ui->SBtnLanClose, &QToolButton::clicked, this, &TFormComNet::SBtnLanCloseClick);
    connect(m_ui->btnComSend, &QToolButton::clicked, this, &TFormComNet::btnComSendClick);
    connect(m_ui->btnSndClr, &QToolButton::clicked, this, &TFormComNet::btnSndClrClick);
    connect(m_ui->BtnOpen, &QToolButton::clicked, this, &TFormComNet::BtnOpenClick);
    connect(m_ui->BtnSave, &QToolButton::clicked, this, &TFormComNet::BtnSaveClick);
    connect(m_ui->btnComAbort, &QToolButton::clicked, this, &TFormComNet::btnComAbortClick);
    connect(m_ui->BtnRcvClr, &QToolButton::clicked, this, &TFormComNet::BtnRcvClrClick);
    connect(m_ui->BtnRcvDsp, &QToolButton::clicked, this, &TFormComNet::BtnRcvDspClick);

    FormCreate();
}

TFormComNet::~TFormComNet() = default;

void TFormComNet::FormCreate()
{
    m_initialFolder = platform::ProgramFolder();
    LoadLinkSettings();
    SockHandle = nullptr;
}

bool TFormComNet::LoadLinkSettings()
{
    const QString path = platform::JoinPath(m_initialFolder, QLatin1String(SettingsFileName));
    m_ui->edtIPADR->setText(protocol::FromWire(
            platform::GetPrivateProfileString("LAN", "ADR", DefaultAddress, path)));
    m_ui->edtPORT->setText(protocol::FromWire(
            platform::GetPrivateProfileString("LAN", "PORT", DefaultPort, path)));
    return true;
}

void TFormComNet::showEvent(QShowEvent *event)
{
    if (IsProgramShow(event)) {
        if (!property("shownOnce").toBool()) {
            setProperty("shownOnce", true);
            CenterOver(this, FormMain);
        }
        FormShow();
    }
    QMainWindow::showEvent(event);
    if (IsProgramShow(event) && m_requestedOuterHeight > 0) {
        // The window system may tell the real frame only once the window is up.
        QTimer::singleShot(0, this, [this] {
            if (m_requestedOuterHeight > 0 && OuterHeight() != m_requestedOuterHeight)
                SetOuterHeight(m_requestedOuterHeight);
        });
    }
}

void TFormComNet::FormShow()
{
    setWindowTitle(QStringLiteral("LAN"));
    if (OuterHeight() < 200) {
        m_ui->GBoxSendMsg->hide();
        m_ui->GBoxRcvMsg->hide();
    }
}

void TFormComNet::SetOuterHeight(int height)
{
    m_requestedOuterHeight = height;
    resize(width(), height - FrameExtra(this, DesignSizeableFrame).height());
}

int TFormComNet::OuterHeight() const
{
    return this->height() + FrameExtra(this, DesignSizeableFrame).height();
}

QString TFormComNet::StatusText() const
{
    return ::StatusText(m_ui->SBar);
}

void TFormComNet::SetStatusText(const QString &text)
{
    ::SetStatusText(m_ui->SBar, text);
}

bool TFormComNet::ConnectLink()
{
    if (SockHandle)
        return true;

    const std::optional<quint32> address = platform::ParseDottedDecimal(m_ui->edtIPADR->text());
    if (!address) {
        ConnectFailed(QStringLiteral("Error: invalid IP address"));
        return false;
    }
    const std::optional<quint16> port = platform::ParsePort(m_ui->edtPORT->text());
    if (!port) {
        ConnectFailed(QStringLiteral("Error: invalid port"));
        return false;
    }
    SockAddr = SocketAddress{ *address, *port };

    SetStatusText(m_ui->edtIPADR->text() + QStringLiteral("Connect..."));

    // 0.0.0.0 names no device; some systems would quietly connect it to this machine.
    if (*address == 0 || !platform::IsConnectAllowed(*address)) {
        ConnectFailed(QString::asprintf("Error:connect(), Code = %d\n\n",
                                        *address == 0 ? platform::wsa::AddressNotAvailable
                                                      : platform::wsa::AccessDenied));
        return false;
    }

    auto *socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    socket->setReadBufferSize(SocketReadBuffer);
    socket->connectToHost(QHostAddress(*address), *port);

    if (socket->state() == QAbstractSocket::UnconnectedState
        && socket->error() == QAbstractSocket::SocketResourceError) {
        const int code = platform::WsaErrorCode(socket->error(), socket->errorString(),
                                                platform::SocketPhase::Connect);
        socket->abort();
        socket->deleteLater();
        ConnectFailed(QString::asprintf("Error: socket(), Code = %d", code));
        return false;
    }

    if (!socket->waitForConnected(ConnectTimeoutMs)) {
        const int code = platform::WsaErrorCode(socket->error(), socket->errorString(),
                                                platform::SocketPhase::Connect);
        socket->abort();
        socket->deleteLater();
        ConnectFailed(QString::asprintf("Error:connect(), Code = %d\n\n", code));
        return false;
    }

    SockHandle = socket;
    ++m_connectionNumber;
    m_assembler.Clear();
    SetStatusText(QStringLiteral("Connect Complete"));
    return true;
}

void TFormComNet::ConnectFailed(const QString &text)
{
    // No failed socket stays recorded while the box is open, so polling ticks that run meanwhile
    // find no connection instead of a broken one.
    SockHandle = nullptr;
    platform::ShowMessageBox(QApplication::activeWindow(), text, QStringLiteral("Error"),
                             platform::mb::Ok | platform::mb::IconWarning);
    SetStatusText(text);
    SockHandle = nullptr;
}

void TFormComNet::ReleaseSocket(bool graceful)
{
    QTcpSocket *socket = SockHandle;
    SockHandle = nullptr;
    m_assembler.Clear();
    if (!socket)
        return;
    if (graceful && socket->state() == QAbstractSocket::ConnectedState) {
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromHost();
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->deleteLater();
    } else {
        socket->abort();
        socket->deleteLater();
    }
}

void TFormComNet::CloseLink()
{
    if (!SockHandle)
        return;
    ReleaseSocket(true);
    SetStatusText(QStringLiteral("Disconnect"));
}

int TFormComNet::SendCommand(const char *bytes, int count)
{
    if (SockHandle) {
        if (m_commandHold)
            m_heldCommands.append(bytes, count);
        else
            SockHandle->write(bytes, count);
        StartReceivePolling();
    }
    // Without a connection nothing is sent: no other channel exists.
    return count;
}

int TFormComNet::SendDownloadBytes(const char *bytes, int count)
{
    if (SockHandle) {
        // A device on a newer connection never saw the announce and would read the image as
        // commands; unsent, the block simply gets no result and its wait runs out.
        if (!m_commandHold || m_holdConnection == m_connectionNumber)
            SockHandle->write(bytes, count);
        StartReceivePolling();
    }
    return count;
}

void TFormComNet::SetCommandHold(bool hold)
{
    if (hold && !m_commandHold)
        m_holdConnection = SockHandle ? m_connectionNumber : 0;
    m_commandHold = hold;
    if (hold || m_heldCommands.isEmpty())
        return;
    const QByteArray held = std::exchange(m_heldCommands, QByteArray());
    // The hold's connection may be gone (abandoned after a size time-out, or closed by the
    // device): the commands go out on a fresh one, never dropped.
    if (!SockHandle && !ConnectLink())
        return;
    SockHandle->write(held);
    StartReceivePolling();
}

void TFormComNet::AbandonOpenBlock()
{
    if (SockHandle && m_commandHold && m_holdConnection == m_connectionNumber)
        CloseLink();
}

qint64 TFormComNet::Write(const QByteArray &bytes)
{
    if (m_commandHold) {
        m_heldCommands += bytes;
        return bytes.size();
    }
    return SockHandle->write(bytes);
}

void TFormComNet::StartReceivePolling()
{
    if (!TmrPktRcv->isActive())
        TmrPktRcv->start();
}

void TFormComNet::SetDeviceAddress(const QString &text)
{
    m_ui->edtIPADR->setText(text);
}

void TFormComNet::TmrPktRcvTimer()
{
    if (!SockHandle)
        return;

    if (SockHandle->bytesAvailable() == 0) {
        if (SockHandle->state() == QAbstractSocket::ConnectedState)
            return; // the device has not answered yet: try again next tick
        const QAbstractSocket::SocketError error = SockHandle->error();
        if (error == QAbstractSocket::RemoteHostClosedError
            || error == QAbstractSocket::UnknownSocketError) {
            SetStatusText(QStringLiteral("Disconnected\n"));
        } else {
            const int code = platform::WsaErrorCode(error, SockHandle->errorString(),
                                                    platform::SocketPhase::Established);
            SetStatusText(QString::asprintf("recv() failed: error %d\n", code));
        }
        TmrPktRcv->stop();
        ReleaseSocket(false);
        return;
    }

    QByteArray received = SockHandle->read(ReceiveMax);
    // The device's texts are C strings: the text ends at the first NUL.
    if (const qsizetype nul = received.indexOf('\0'); nul >= 0)
        received.truncate(nul);

    m_ui->MemoComMsg->setPlainText(protocol::FromWire(received));
    RcvMsg = received;

    // A lone "0" is not a reply; inside an unfinished line it is part of that line.
    const bool skip = RcvMsg == "0" && !m_assembler.HasPendingLine();
    if (!skip) {
        const QList<QByteArray> lines = m_assembler.Feed(RcvMsg);
        if (!lines.isEmpty()) {
            QWidget *mainWindow =
                    FormMain ? platform::FindTopLevelWindow(FormMain->windowTitle()) : nullptr;
            if (!mainWindow)
                return; // nobody to hand the reply to: it is dropped, polling goes on
            for (const QByteArray &line : lines)
                platform::SendReplyMessage(mainWindow, 0, line);
        }
    }

    // A handler may have closed or replaced the connection meanwhile.
    const bool moreWaiting = SockHandle && SockHandle->bytesAvailable() > 0;
    if (!m_assembler.HasPendingLine() && !moreWaiting)
        TmrPktRcv->stop();
}

void TFormComNet::SBtnLanConnectClick()
{
    // Always a new connection to what the fields say now; the old one is closed, not leaked.
    ReleaseSocket(true);
    ConnectLink();
}

void TFormComNet::SBtnLanCloseClick()
{
    CloseLink();
}

QByteArray TFormComNet::SendListBytes() const
{
    QString text = m_ui->MemoComList->toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return protocol::ToWire(text);
}

void TFormComNet::btnComSendClick()
{
    SetStatusText(QString());
    if (protocol::Trim(m_ui->edtIPADR->text()).isEmpty())
        return;
    if (!SockHandle)
        return;
    const QByteArray bytes = SendListBytes();
    const qint64 sent = Write(bytes);
    SetStatusText(sent < 0 ? QStringLiteral("Socket Error!!") : QString::number(sent));
    StartReceivePolling();
}

void TFormComNet::btnSndClrClick()
{
    m_ui->MemoComList->clear();
}

void TFormComNet::BtnOpenClick()
{
    const QString path = platform::GetOpenFileName(this, m_initialFolder);
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(file.errorString().toStdString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw std::runtime_error(file.errorString().toStdString());
    // The list holds lines; CR LF, a lone CR and a lone LF are all one line break.
    bytes.replace("\r\n", "\n");
    bytes.replace('\r', '\n');
    m_ui->MemoComList->setPlainText(protocol::FromWire(bytes));
}

void TFormComNet::BtnSaveClick()
{
    const QString path = platform::GetSaveFileName(this, m_initialFolder);
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error(file.errorString().toStdString());
    const QByteArray bytes = SendListBytes();
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw std::runtime_error(file.errorString().toStdString());
}

void TFormComNet::btnComAbortClick() { }

void TFormComNet::BtnRcvClrClick()
{
    m_ui->MemoComMsg->clear();
}

void TFormComNet::BtnRcvDspClick()
{
    MemoComMsgTag = MemoComMsgTag == 0 ? 1 : 0;
    m_ui->BtnRcvDsp->setText(MemoComMsgTag == 1 ? QStringLiteral("停止") : QStringLiteral("表示"));
}

void TFormComNet::AppendReceiveLine(const QString &text)
{
    QTextDocument *document = m_ui->MemoComMsg->document();
    auto lineCount = [document] { return document->isEmpty() ? 0 : document->blockCount(); };
    while (lineCount() > ReceiveViewLines) {
        QTextCursor cursor(document->firstBlock());
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    if (MemoComMsgTag == 0)
        m_ui->MemoComMsg->appendPlainText(text);
}
