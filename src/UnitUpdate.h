#pragma once

#include "download/DownloadSequence.h"

#include <QByteArray>
#include <QWidget>

#include <memory>

class QTimer;

namespace Ui {
class TFormUpdate;
}

// The firmware update window: loads an image file, downloads it into the device in a timed
// sequence, and reads the device's firmware version.
class TFormUpdate : public QWidget, private download::DownloadPort
{
    Q_OBJECT

public:
    explicit TFormUpdate(QWidget *parent = nullptr);
    ~TFormUpdate() override;

    // Device address where phase 1 of a download starts: 0x1000000 normally, 0 for the
    // device's backup area. Set by the main window before every showing.
    quint32 DownloadBaseAddress() const { return m_downloadBaseAddress; }
    void SetDownloadBaseAddress(quint32 address) { m_downloadBaseAddress = address; }

    // The translated "ACK_DOWNLOAD:" reply, read by the download sequence.
    QByteArray ReplyText() const { return Sequence.ReplyText; }
    void SetReplyText(const QByteArray &text) { Sequence.ReplyText = text; }

    // The image last loaded; empty before the first load and after a failed one.
    QByteArray ImageBuffer;

    download::DownloadSequence Sequence{ *this };
    QTimer *TmrDownload = nullptr;
    QTimer *TmrDownloadMnt = nullptr;

    QString StatusText() const;
    void SetStatusText(const QString &text) override;
    void SetVersionText(const QString &text);

    Ui::TFormUpdate *ui() const { return m_ui.get(); }

public Q_SLOTS:
    void BtnOpenClick();
    void BtnDownloadClick();
    void BtnReadClick();
    void TmrDownloadTimer();
    void TmrDownloadMntTimer();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    void FormShow();
    bool LoadImage(const QString &path);
    // An image longer than phase 1 writes is cut: the engineer says whether to go on.
    bool ConfirmTruncation();

    // download::DownloadPort
    void SendCommand(const char *bytes, int count) override;
    void StartReceivePolling() override;
    void StepProgress() override;
    void Stopped() override;
    void HoldOtherCommands(bool hold) override;
    void AbandonBlock() override;

    std::unique_ptr<Ui::TFormUpdate> m_ui;
    quint32 m_downloadBaseAddress = 0;
    QString m_initialFolder;
    bool m_shownOnce = false;
};

extern TFormUpdate *FormUpdate;
