#pragma once

#include <QByteArray>
#include <QWidget>

#include <memory>

class QTimer;

namespace Ui {
class TFormUpdate;
}
namespace core {
class DeviceSession;
}

// The firmware update window: loads an image file, downloads it into the device through the
// device session (which steps the download on its own 100 ms timer), and reads the device's
// firmware version.
class TFormUpdate : public QWidget
{
    Q_OBJECT

public:
    explicit TFormUpdate(QWidget *parent = nullptr);
    ~TFormUpdate() override;

    // Device address where phase 1 of a download starts: 0x1000000 normally, 0 for the
    // device's backup area. Set by the main window before every showing.
    quint32 DownloadBaseAddress() const { return m_downloadBaseAddress; }
    void SetDownloadBaseAddress(quint32 address) { m_downloadBaseAddress = address; }

    // The translated "ACK_DOWNLOAD:" reply the download reads next.
    QByteArray ReplyText() const;
    void SetReplyText(const QByteArray &text);

    // The image last loaded; empty before the first load and after a failed one.
    const QByteArray &ImageBuffer() const { return m_imageBuffer; }

    QString StatusText() const;
    void SetStatusText(const QString &text);
    void SetVersionText(const QString &text);

    // Shows the session's download: its status texts, progress and end.
    void AttachDownload(core::DeviceSession &session);

    Ui::TFormUpdate *ui() const { return m_ui.get(); }

public Q_SLOTS:
    void BtnOpenClick();
    void BtnDownloadClick();
    void BtnReadClick();
    void TmrDownloadMntTimer();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    void FormShow();
    bool LoadImage(const QString &path);
    // An image longer than phase 1 writes is cut: the engineer says whether to go on.
    bool ConfirmTruncation();
    void StepProgress();
    void DownloadStopped();

    std::unique_ptr<Ui::TFormUpdate> m_ui;
    core::DeviceSession *m_session = nullptr;
    QTimer *m_tmrDownloadMnt = nullptr;
    QByteArray m_imageBuffer;
    quint32 m_downloadBaseAddress = 0;
    QString m_initialFolder;
    bool m_shownOnce = false;
};

extern TFormUpdate *FormUpdate;
