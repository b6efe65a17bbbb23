#include "UnitUpdate.h"
#include "ui_UnitUpdate.h"

#include "gui/FormUtil.h"
#include "UnitComNet.h"
#include "UnitMain.h"
#include "core/DeviceSession.h"
#include "download/FirmwareImage.h"
#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "platform/ProgramPath.h"
#include "protocol/Commands.h"

#include <QApplication>
#include <QShowEvent>
#include <QTimer>

#include <utility>

TFormUpdate *FormUpdate = nullptr;

namespace {

// Restores the cursor however the load ends.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace

TFormUpdate::TFormUpdate(QWidget *parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::TFormUpdate>())
{
    m_ui->setupUi(this);
    UseFixedDialogFrame(this);
    setAttribute(Qt::WA_QuitOnClose, false);
    m_ui->PBar->hide();

    // The download's own timer is the session's; this one would only move the bar.
    m_tmrDownloadMnt = new QTimer(this);
    m_tmrDownloadMnt->setObjectName(QStringLiteral("TmrDownloadMnt"));
    m_tmrDownloadMnt->setInterval(100);
    m_tmrDownloadMnt->setTimerType(Qt::PreciseTimer);
    connect(m_tmrDownloadMnt, &QTimer::timeout, this, &TFormUpdate::TmrDownloadMntTimer);

    connect(m_ui->BtnOpen, &QPushButton::clicked, this, &TFormUpdate::BtnOpenClick);
    connect(m_ui->BtnDownload, &QPushButton::clicked, this, &TFormUpdate::BtnDownloadClick);
    connect(m_ui->BtnRead, &QPushButton::clicked, this, &TFormUpdate::BtnReadClick);

    FormCreate();
}

void TFormUpdate::AttachDownload(core::DeviceSession &session)
{
    m_session = &session;
    connect(&session, &core::DeviceSession::downloadStatus, this, &TFormUpdate::SetStatusText);
    connect(&session, &core::DeviceSession::downloadProgress, this, &TFormUpdate::StepProgress);
    connect(&session, &core::DeviceSession::downloadStopped, this, &TFormUpdate::DownloadStopped);
}

QByteArray TFormUpdate::ReplyText() const
{
    return m_session ? m_session->Download().ReplyText() : QByteArray();
}

void TFormUpdate::SetReplyText(const QByteArray &text)
{
    if (m_session)
        m_session->SetDownloadReplyText(text);
}

TFormUpdate::~TFormUpdate() = default;

void TFormUpdate::FormCreate()
{
    m_initialFolder = platform::ProgramFolder();
}

void TFormUpdate::showEvent(QShowEvent *event)
{
    if (IsProgramShow(event)) {
        if (!m_shownOnce) {
            m_shownOnce = true;
            CenterOver(this, FormMain);
        }
        FormShow();
    }
    QWidget::showEvent(event);
}

void TFormUpdate::FormShow()
{
    m_ui->PnlBackup->setVisible(m_downloadBaseAddress == 0);
}

QString TFormUpdate::StatusText() const
{
    return ::StatusText(m_ui->SBar);
}

void TFormUpdate::SetStatusText(const QString &text)
{
    ::SetStatusText(m_ui->SBar, text);
}

void TFormUpdate::SetVersionText(const QString &text)
{
    m_ui->STextVersion->setText(text);
}

void TFormUpdate::BtnOpenClick()
{
    const QString path = gui::GetOpenFileName(this, m_initialFolder);
    if (path.isEmpty())
        return;

    m_ui->STextFilePath->setText(platform::ExtractFilePath(path));
    m_ui->STextFileName->setText(platform::ExtractFileName(path));

    bool loaded = false;
    {
        WaitCursor wait;
        loaded = LoadImage(path);
    }
    if (!loaded) {
        gui::ShowMessageBox(
                this,
                QStringLiteral("Can't perform one of the following file operations: Open, Seek, "
                               "Read, Close."),
                QStringLiteral("File Error"), gui::mb::OkCancel);
    }
}

bool TFormUpdate::LoadImage(const QString &path)
{
    // Whatever happens below, no stale image may stay loaded under the new file's name.
    m_imageBuffer = QByteArray();
    m_ui->STextSize->clear();

    download::ImageFile file = download::ReadImageFile(path);
    if (!file.ok)
        return false;
    m_imageBuffer = std::move(file.bytes);
    m_ui->STextSize->setText(QString::number(m_imageBuffer.size()));
    return true;
}

void TFormUpdate::BtnDownloadClick()
{
    if (protocol::Trim(m_ui->STextSize->text()).isEmpty())
        return;
    if (m_session->Download().DownloadBusy() == 1)
        return;
    if (!ConfirmTruncation())
        return;
    if (gui::ShowMessageBox(this, QStringLiteral("Firmwear Update Start OK ?"),
                            QStringLiteral("Firmwear Update"),
                            gui::mb::YesNo | gui::mb::IconQuestion)
        != gui::id::Yes) {
        return;
    }
    // The answer may have taken a while; a sequence started meanwhile wins.
    if (m_session->Download().DownloadBusy() == 1)
        return;

    // The announce needs a connection, like every other command: after a size time-out the
    // previous one was closed, and a fresh tool has none yet. Busy meanwhile, so a second
    // "Start" during the connection's failure box is ignored.
    m_session->ReserveDownload();
    if (!FormComNet->ConnectLink()) {
        m_session->ReleaseDownload();
        return;
    }

    m_ui->PBar->setValue(0);
    m_ui->PBar->show();
    m_session->StartDownload(m_imageBuffer, m_downloadBaseAddress);
}

bool TFormUpdate::ConfirmTruncation()
{
    const qint64 length = m_imageBuffer.size();
    const qint64 cut = download::BytesNotWritten(length);
    if (cut == 0)
        return true;
    const QString text =
            QStringLiteral("The image is %1 bytes long, but only its first %2 bytes can be "
                           "written: the last %3 bytes will not be written.\n\nGo on?")
                    .arg(length)
                    .arg(download::MaxImageLength)
                    .arg(cut);
    return gui::ShowMessageBox(this, text, QStringLiteral("Firmwear Update"),
                               gui::mb::YesNo | gui::mb::IconWarning | gui::mb::DefButton2)
            == gui::id::Yes;
}

void TFormUpdate::TmrDownloadMntTimer()
{
    StepProgress();
}

void TFormUpdate::BtnReadClick()
{
    m_ui->STextVersion->clear();
    FormComNet->ConnectLink();
    m_session->RequestVersion();
    SetStatusText(QString());
}

void TFormUpdate::StepProgress()
{
    m_ui->PBar->setValue(std::min(m_ui->PBar->value() + 1, m_ui->PBar->maximum()));
}

void TFormUpdate::DownloadStopped()
{
    m_ui->PBar->hide();
    m_tmrDownloadMnt->stop();
}
