#pragma once

#include "protocol/Replies.h"

#include <QByteArray>
#include <QMainWindow>

#include <memory>

class QTcpSocket;
class QTimer;

namespace Ui {
class TFormComNet;
}

// The communication window and the device link it hosts: the one TCP connection to the device,
// its receive polling, and the address and port read from the settings file. Normally hidden;
// the main window's hidden gesture shows its connection controls.
class TFormComNet : public QMainWindow
{
    Q_OBJECT

public:
    explicit TFormComNet(QWidget *parent = nullptr);
    ~TFormComNet() override;

    // The connected socket; nullptr when no connection is recorded.
    QTcpSocket *SockHandle = nullptr;
    // Where the last connection attempt went (host byte order).
    struct SocketAddress
    {
        quint32 address = 0;
        quint16 port = 0;
    } SockAddr;
    // The last text received from the device.
    QByteArray RcvMsg;
    // Receive polling, 100 ms.
    QTimer *TmrPktRcv = nullptr;
    // Display switch of the receive view: 0 shows appended lines, 1 suppresses them.
    int MemoComMsgTag = 0;

    // Makes sure a connection is recorded; false after a failure, which it has reported.
    bool ConnectLink();
    void CloseLink();
    // Writes the bytes in one call when connected and starts polling; returns `count` always.
    int SendCommand(const char *bytes, int count);
    void StartReceivePolling();
    // The download sequence's own writes: never held back. The bytes of an open block are not
    // written to a connection other than the one its announce went out on.
    int SendDownloadBytes(const char *bytes, int count);
    // While held, commands of the other windows wait and go out in order when released.
    void SetCommandHold(bool hold);
    bool CommandHold() const { return m_commandHold; }
    // Closes the connection if it is the one the open block's announce went out on: the device
    // there may be waiting for the block's bytes and would take any later bytes as image data.
    void AbandonOpenBlock();
    // The next connection goes to `text`; an open connection is left alone.
    void SetDeviceAddress(const QString &text);
    // Reads the settings file into the address and port fields.
    bool LoadLinkSettings();

    // Sets the height of the whole window, frame and title bar included.
    void SetOuterHeight(int height);
    int OuterHeight() const;

    void AppendReceiveLine(const QString &text);

    QString StatusText() const;
    void SetStatusText(const QString &text);

    Ui::TFormComNet *ui() const { return m_ui.get(); }

    // Bytes of an unfinished reply line held until its LF arrives.
    qsizetype PendingReplyBytes() const { return m_assembler.PendingSize(); }

public Q_SLOTS:
    void TmrPktRcvTimer();
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
    void ReleaseSocket(bool graceful);
    void ConnectFailed(const QString &text);
    void HandOver(const QList<QByteArray> &lines);
    QByteArray SendListBytes() const;
    qint64 Write(const QByteArray &bytes);

    std::unique_ptr<Ui::TFormComNet> m_ui;
    QString m_initialFolder;
    protocol::LineAssembler m_assembler;
    int m_requestedOuterHeight = 0;
    bool m_commandHold = false;
    QByteArray m_heldCommands;
    // Counts the connections made, so a block's bytes go only where its announce went.
    quint64 m_connectionNumber = 0;
    quint64 m_holdConnection = 0;
};

extern TFormComNet *FormComNet;
