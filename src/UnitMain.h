#pragma once

#include <QByteArray>
#include <QWidget>

#include <memory>

namespace Ui {
class TFormMain;
}
namespace gui {
class ReplyMessageEvent;
}

// The main window: the five network address fields with "Send" and "Read", the buttons that
// open the update and MAC windows, the hidden gestures, and the dispatcher that receives every
// reply of the device and routes it to its handler.
class TFormMain : public QWidget
{
    Q_OBJECT

public:
    explicit TFormMain(QWidget *parent = nullptr);
    ~TFormMain() override;

    // 0: address settings only; 1 (the tool as shipped): and firmware update; anything else:
    // and the MAC address window. Takes effect when the window is next shown.
    quint32 FeatureMode() const { return m_featureMode; }
    void SetFeatureMode(quint32 mode) { m_featureMode = mode; }
    // Bit 0: Shift seen held; bit 1: Ctrl seen held. Only key-downs set it.
    quint16 ModifierKeys() const { return m_modifierKeys; }

    // Routes one received text to the handler of its reply (first line only, first prefix of
    // the table that occurs in it) with the rest of the line; false when nothing matched.
    bool DispatchReply(const QByteArray &text);

    // Reply handlers, one per prefix: what the device answered, shown in the window concerned.
    void AckSetIp(const QByteArray &payload);
    void AckRecIp(const QByteArray &payload);
    void AckSetMac(const QByteArray &payload);
    void AckReqMac(const QByteArray &payload);
    void AckReqVer(const QByteArray &payload);
    void AckUpload(const QByteArray &payload);
    void AckDownload(const QByteArray &payload);

    Ui::TFormMain *ui() const { return m_ui.get(); }

public Q_SLOTS:
    void BtnSetClick();
    void BtnReadClick();
    void BtnUpdateClick();
    void BtnMacAdrClick();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void FormCreate();
    void FormShow();
    void FormKeyDown(int key, Qt::KeyboardModifiers shift);
    void FormKeyUp(int key, Qt::KeyboardModifiers shift);
    void FormClick();
    void OnReplyMessage(gui::ReplyMessageEvent &message);

    void SetStatusText(const QString &text);
    void SetOuterWidth(int width);

    std::unique_ptr<Ui::TFormMain> m_ui;
    quint32 m_featureMode = 0;
    quint16 m_modifierKeys = 0;
    bool m_pressedOnSurface = false;
};

extern TFormMain *FormMain;

// The program: creates the four windows in their fixed order, shows the main window and runs
// the message loop until the main window is closed. Returns 0.
int ProgramEntry(int argc, char **argv);

// Creates FormMain, FormComNet, FormUpdate and FormMacAdr, in this order, each running its
// creation handler, then lets the update window show the session's download; DestroyForms
// deletes them again (tests create fresh windows per case).
void CreateForms();
void DestroyForms();
