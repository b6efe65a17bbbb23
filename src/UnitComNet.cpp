#include "UnitComNet.h"
#include "ui_UnitComNet.h"

#include "UnitMain.h"
#include "core/DeviceSession.h"
#include "core/LinkSettings.h"
#include "gui/Application.h"
#include "gui/FileDialog.h"
#include "gui/FormUtil.h"
#include "gui/MessageBox.h"
#include "gui/ReplyMessage.h"
#include "platform/ProgramPath.h"
#include "protocol/Commands.h"

#include <QApplication>
#include <QFile>
#include <QShowEvent>
#include <QTextBlock>
#include <QTimer>

#include <stdexcept>

TFormComNet *FormComNet = nullptr;

namespace {

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

    m_session = new core::DeviceSession(this);
    core::DeviceLink &link = m_session->Link();
    // The link connects to what the fields say when it connects.
    connect(m_ui->edtIPADR, &QLineEdit::textChanged, &link, &core::DeviceLink::SetAddress);
    connect(m_ui->edtPORT, &QLineEdit::textChanged, &link, &core::DeviceLink::SetPort);
    link.SetAddress(m_ui->edtIPADR->text());
    link.SetPort(m_ui->edtPORT->text());
    connect(&link, &core::DeviceLink::statusChanged, this, &TFormComNet::SetStatusText);
    connect(&link, &core::DeviceLink::connectFailed, this, [](const QString &text) {
        gui::ShowMessageBox(QApplication::activeWindow(), text, QStringLiteral("Error"),
                            gui::mb::Ok | gui::mb::IconWarning);
    });
    // The view holds the last text received, whatever its display switch says.
    connect(&link, &core::DeviceLink::received, this, [this](const QByteArray &text) {
        m_ui->MemoComMsg->setPlainText(protocol::FromWire(text));
    });
    // Each reply line goes to the main window, found by its title, as the reply message, whose
    // result says whether it was a reply; with no such window it is not taken, and receiving
    // goes on.
    m_session->SetRouting(core::DeviceSession::Routing::None);
    connect(&link, &core::DeviceLink::lineReceived, this, [&link](const QByteArray &line) {
        QWidget *mainWindow = FormMain ? gui::FindTopLevelWindow(FormMain->windowTitle()) : nullptr;
        if (mainWindow)
            link.LineTaken(gui::SendReplyMessage(mainWindow, 0, line) != 0);
    });

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
}

bool TFormComNet::LoadLinkSettings()
{
    const core::LinkSettings settings = core::ReadLinkSettings(m_initialFolder);
    m_ui->edtIPADR->setText(settings.address);
    m_ui->edtPORT->setText(settings.port);
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
    return m_session->Link().ConnectWaiting();
}

void TFormComNet::CloseLink()
{
    m_session->Link().CloseLink();
}

void TFormComNet::SetDeviceAddress(const QString &text)
{
    m_ui->edtIPADR->setText(text);
}

void TFormComNet::SBtnLanConnectClick()
{
    // Always a new connection to what the fields say now; the old one is closed, not leaked.
    m_session->Link().DropConnection();
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
    core::DeviceLink &link = m_session->Link();
    if (!link.IsConnected())
        return;
    const qint64 sent = link.WriteRaw(SendListBytes());
    SetStatusText(sent < 0 ? QStringLiteral("Socket Error!!") : QString::number(sent));
    link.StartReceivePolling();
}

void TFormComNet::btnSndClrClick()
{
    m_ui->MemoComList->clear();
}

void TFormComNet::BtnOpenClick()
{
    // A file that cannot be read is shown in the error box, as any error of a handler.
    try {
        OpenSendList();
    } catch (...) {
        gui::ShowException(std::current_exception());
    }
}

void TFormComNet::OpenSendList()
{
    const QString path = gui::GetOpenFileName(this, m_initialFolder);
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
    try {
        SaveSendList();
    } catch (...) {
        gui::ShowException(std::current_exception());
    }
}

void TFormComNet::SaveSendList()
{
    const QString path = gui::GetSaveFileName(this, m_initialFolder);
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
    m_memoComMsgTag = m_memoComMsgTag == 0 ? 1 : 0;
    m_ui->BtnRcvDsp->setText(m_memoComMsgTag == 1 ? QStringLiteral("停止")
                                                  : QStringLiteral("表示"));
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
    if (m_memoComMsgTag == 0)
        m_ui->MemoComMsg->appendPlainText(text);
}
