#include "UnitMain.h"
#include "ui_UnitMain.h"

#include "gui/FormUtil.h"
#include "UnitComNet.h"
#include "UnitMacAdr.h"
#include "UnitUpdate.h"
#include "core/DeviceSession.h"
#include "download/FirmwareImage.h"
#include "gui/Application.h"
#include "gui/EditLimit.h"
#include "gui/ReplyMessage.h"
#include "platform/Signals.h"
#include "protocol/Commands.h"
#include "protocol/Replies.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <array>
#include <optional>

TFormMain *FormMain = nullptr;

namespace {

const char *const ProgramVersion = "2.00";

// Frame of a fixed dialog window where the window system has not told us its own yet.
constexpr QSize DesignDialogFrame(6, 25);

constexpr quint16 ShiftSeen = 1;
constexpr quint16 CtrlSeen = 2;
constexpr quint16 BothSeen = ShiftSeen | CtrlSeen;

} // namespace

TFormMain::TFormMain(QWidget *parent) : QWidget(parent), m_ui(std::make_unique<Ui::TFormMain>())
{
    m_ui->setupUi(this);
    UseFixedDialogFrame(this);
    setWindowIcon(ProgramIcon());
    // The layout is measured in pixels of a 13-pixel font.
    QFont pixelFont = font();
    pixelFont.setPixelSize(13);
    setFont(pixelFont);

    for (QLineEdit *edit :
         { m_ui->EdtIP1, m_ui->EdtIP2, m_ui->EdtMask, m_ui->EdtGate, m_ui->EdtMCast }) {
        gui::LimitText(edit, edit->property("typingLimit").toInt());
    }

    connect(m_ui->BtnSet, &QPushButton::clicked, this, &TFormMain::BtnSetClick);
    connect(m_ui->BtnRead, &QPushButton::clicked, this, &TFormMain::BtnReadClick);
    connect(m_ui->BtnUpdate, &QPushButton::clicked, this, &TFormMain::BtnUpdateClick);
    connect(m_ui->BtnMacAdr, &QPushButton::clicked, this, &TFormMain::BtnMacAdrClick);

    // Key preview: the window sees every key of its controls before they do.
    installEventFilter(this);
    const QList<QWidget *> children = findChildren<QWidget *>();
    for (QWidget *child : children)
        child->installEventFilter(this);

    FormCreate();
}

TFormMain::~TFormMain() = default;

void TFormMain::FormCreate()
{
    m_featureMode = 1;
    m_modifierKeys = 0;
}

void TFormMain::FormShow()
{
    switch (m_featureMode) {
    case 0:
        m_ui->BtnUpdate->hide();
        m_ui->BtnMacAdr->hide();
        SetOuterWidth(417);
        break;
    case 1:
        m_ui->BtnUpdate->show();
        m_ui->BtnMacAdr->hide();
        break;
    default:
        m_ui->BtnUpdate->show();
        m_ui->BtnMacAdr->show();
        break;
    }
    setWindowTitle(
            QString::asprintf("%s <Version %s>", qUtf8Printable(windowTitle()), ProgramVersion));
}

void TFormMain::SetOuterWidth(int width)
{
    const int client = width - FrameExtra(this, DesignDialogFrame).width();
    setFixedWidth(client);
}

void TFormMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (IsProgramShow(event))
        FormShow();
}

bool TFormMain::eventFilter(QObject *watched, QEvent *event)
{
    // Both handlers only record the modifier state, so seeing a key again while it travels up
    // from a control to the window does no harm.
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        FormKeyDown(key->key(), key->modifiers());
    } else if (event->type() == QEvent::KeyRelease) {
        const auto *key = static_cast<QKeyEvent *>(event);
        // Some window systems send a release before every repeated press of a held key; only
        // a real release counts.
        if (!key->isAutoRepeat())
            FormKeyUp(key->key(), key->modifiers());
    }
    return QWidget::eventFilter(watched, event);
}

void TFormMain::FormKeyDown(int key, Qt::KeyboardModifiers shift)
{
    Q_UNUSED(key);
    if (shift & Qt::ShiftModifier)
        m_modifierKeys |= ShiftSeen;
    if (shift & Qt::ControlModifier)
        m_modifierKeys |= CtrlSeen;
}

void TFormMain::FormKeyUp(int key, Qt::KeyboardModifiers shift)
{
    Q_UNUSED(key);
    Q_UNUSED(shift);
    m_modifierKeys = 0;
}

void TFormMain::mousePressEvent(QMouseEvent *event)
{
    // Controls that ignore the mouse (labels, the frame) pass their clicks up to the window;
    // those are clicks on a control, not on the window's own surface.
    m_pressedOnSurface =
            event->button() == Qt::LeftButton && childAt(event->position().toPoint()) == nullptr;
    QWidget::mousePressEvent(event);
}

void TFormMain::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    const bool click = m_pressedOnSurface && event->button() == Qt::LeftButton
            && rect().contains(at) && childAt(at) == nullptr;
    m_pressedOnSurface = false;
    QWidget::mouseReleaseEvent(event);
    if (click)
        FormClick();
}

void TFormMain::FormClick()
{
    if (m_modifierKeys == BothSeen) {
        FormComNet->SetOuterHeight(164);
        FormComNet->show();
        FormComNet->raise();
        FormComNet->activateWindow();
    }
    m_modifierKeys = 0;
}

void TFormMain::BtnUpdateClick()
{
    FormUpdate->SetDownloadBaseAddress(m_modifierKeys == BothSeen ? download::BackupBaseAddress
                                                                  : download::MainBaseAddress);
    if (FormUpdate->isVisible())
        FormUpdate->close();
    FormUpdate->show();
    FormUpdate->raise();
    FormUpdate->activateWindow();
    m_modifierKeys = 0;
}

void TFormMain::BtnMacAdrClick()
{
    FormMacAdr->show();
    FormMacAdr->raise();
    FormMacAdr->activateWindow();
}

void TFormMain::SetStatusText(const QString &text)
{
    ::SetStatusText(m_ui->SBar, text);
}

void TFormMain::BtnSetClick()
{
    const std::array<const QLineEdit *, 5> fields = { m_ui->EdtIP1, m_ui->EdtIP2, m_ui->EdtMask,
                                                      m_ui->EdtGate, m_ui->EdtMCast };
    core::DeviceSession::Addresses addresses;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (protocol::Trim(fields[i]->text()).isEmpty())
            return;
        addresses[i] = protocol::ToWire(fields[i]->text()); // as typed, blanks included
    }

    FormComNet->ConnectLink();
    FormComNet->Session().SetAddresses(addresses);
    SetStatusText(QString());
}

void TFormMain::BtnReadClick()
{
    for (QLineEdit *field :
         { m_ui->EdtIP1, m_ui->EdtIP2, m_ui->EdtMask, m_ui->EdtGate, m_ui->EdtMCast }) {
        field->clear();
    }

    FormComNet->ConnectLink();
    FormComNet->Session().RequestAddresses();
    SetStatusText(QString());
}

bool TFormMain::event(QEvent *event)
{
    if (event->type() == gui::ReplyMessageEvent::eventType()) {
        OnReplyMessage(static_cast<gui::ReplyMessageEvent &>(*event));
        return true;
    }
    return QWidget::event(event);
}

void TFormMain::OnReplyMessage(gui::ReplyMessageEvent &message)
{
    // The link counts the replies that answer its commands.
    message.setResult(DispatchReply(message.text()) ? 1 : 0);
}

bool TFormMain::DispatchReply(const QByteArray &text)
{
    // In the order of the reply table.
    static constexpr std::array<void (TFormMain::*)(const QByteArray &), 7> Handlers = {
        &TFormMain::AckSetIp,    &TFormMain::AckRecIp,  &TFormMain::AckSetMac,
        &TFormMain::AckReqMac,   &TFormMain::AckReqVer, &TFormMain::AckUpload,
        &TFormMain::AckDownload,
    };
    const std::optional<protocol::Reply> reply = protocol::MatchReply(text);
    if (!reply)
        return false;
    (this->*Handlers[static_cast<std::size_t>(reply->kind)])(reply->payload);
    return true;
}

void TFormMain::AckSetIp(const QByteArray &payload)
{
    SetStatusText(protocol::IsAccepted(payload) ? QStringLiteral("IP Address Set Complete")
                                                : QStringLiteral("IP Address Set Failed"));
    // The device now answers at the address it was just given.
    FormComNet->SetDeviceAddress(m_ui->EdtIP1->text());
}

void TFormMain::AckRecIp(const QByteArray &payload)
{
    const QList<QByteArray> items = protocol::SplitCommaText(payload);
    const std::array<QLineEdit *, 5> fields = { m_ui->EdtIP1, m_ui->EdtIP2, m_ui->EdtMask,
                                                m_ui->EdtGate, m_ui->EdtMCast };
    for (std::size_t i = 0; i < fields.size() && i < static_cast<std::size_t>(items.size()); ++i)
        gui::SetEditText(fields[i], protocol::FromWire(items[static_cast<qsizetype>(i)]));
    SetStatusText(QStringLiteral("IP Address Received"));
}

void TFormMain::AckSetMac(const QByteArray &payload)
{
    FormMacAdr->SetStatusText(protocol::IsAccepted(payload)
                                      ? QStringLiteral("MAC Address Set Complete")
                                      : QStringLiteral("MAC Address Set Failed"));
}

void TFormMain::AckReqMac(const QByteArray &payload)
{
    FormMacAdr->SetMacText(protocol::FromWire(protocol::Trim(payload)));
    FormMacAdr->SetStatusText(QStringLiteral("MAC Address Received"));
}

void TFormMain::AckReqVer(const QByteArray &payload)
{
    FormUpdate->SetVersionText(protocol::FromWire(protocol::Trim(payload)));
    FormUpdate->SetStatusText(QStringLiteral("Version Received"));
}

void TFormMain::AckUpload(const QByteArray &payload)
{
    // Recognised so that it never reaches another handler; nothing here asks for it.
    Q_UNUSED(payload);
}

void TFormMain::AckDownload(const QByteArray &payload)
{
    // Taken whether or not a download runs; the download reads it at its next step.
    FormUpdate->SetReplyText(protocol::TranslateDownloadReply(payload, FormUpdate->ReplyText()));
}

void CreateForms()
{
    FormMain = new TFormMain;
    FormComNet = new TFormComNet;
    FormUpdate = new TFormUpdate;
    FormMacAdr = new TFormMacAdr;
    FormUpdate->AttachDownload(FormComNet->Session());
}

void DestroyForms()
{
    delete FormMacAdr;
    FormMacAdr = nullptr;
    delete FormUpdate;
    FormUpdate = nullptr;
    delete FormComNet;
    FormComNet = nullptr;
    delete FormMain;
    FormMain = nullptr;
}

int ProgramEntry(int argc, char **argv)
{
    try {
        gui::Application application(argc, argv);
        platform::EndOnTerminationSignals();
        QApplication::setApplicationName(QStringLiteral("QL-T36"));
        QApplication::setWindowIcon(ProgramIcon());
        try {
            gui::RegisterReplyMessage();
            CreateForms();
            CenterOnScreen(FormMain);
            FormMain->show();
            QApplication::exec();
        } catch (...) {
            gui::ShowException(std::current_exception());
        }
        DestroyForms();
    } catch (...) {
        // Without an application object there is no window to show the error in.
    }
    return 0;
}
