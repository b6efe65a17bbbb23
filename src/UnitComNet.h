#pragma once

#include <QByteArray>
#include <QMainWindow>

#include <memory>

namespace Ui {
class TFormComNet;
}
namespace core {
class DeviceSession;
}

// The communication window: it hosts the device session and its link (the one TCP connection to
// the device), shows the link's status texts and the address and port read from the settings
// file, and connects and disconnects by hand. Normally hidden; the main window's hidden gesture
// shows its connection controls.
class TFormComNet : public QMainWindow
{
    Q_OBJECT

public:
    explicit TFormComNet(QWidget *parent = nullptr);
    ~TFormComNet() override;

    // The device behind the address and port fields.
    core::DeviceSession &Session() { return *m_session; }

    // Makes sure a connection is recorded; false after a failure, which it has reported in a
    // warning box and the status bar.
    bool ConnectLink();
    void CloseLink();
    // The next connection goes to `text`; an open connection is left alone.
    void SetDeviceAddress(const QString &text);
    // Reads the settings file into the address and port fields.
    bool LoadLinkSettings();

    // Sets the height of the whole window, frame and title bar included.
    void SetOuterHeight(int height);
    int OuterHeight() const;

    // One line into the receive view, which keeps the last 500 before it; while the view's
    // display switch is off, lines beyond 500 still go but nothing is added.
    void AppendReceiveLine(const QString &text);

    QString StatusText() const;
    void SetStatusText(const QString &text);

    Ui::TFormComNet *ui() const { return m_ui.get(); }

public Q_SLOTS:
    void SBtnLanConnectClick();
    void SBtnLanCloseClick();
    void btnComSendClick();
    void btnSndClrClick();
    void BtnOpenClick();
    void BtnSaveClick();
    void btnComAbortClick();
    void BtnRcvClrClick();
    void BtnRcvDspClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    void FormShow();
    void OpenSendList();
    void SaveSendList();
    QByteArray SendListBytes() const;

    std::unique_ptr<Ui::TFormComNet> m_ui;
    core::DeviceSession *m_session = nullptr;
    QString m_initialFolder;
    int m_requestedOuterHeight = 0;
    // Display switch of the receive view: 0 shows appended lines, 1 suppresses them.
    int m_memoComMsgTag = 0;
};

extern TFormComNet *FormComNet;
