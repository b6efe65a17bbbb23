// The device link, the settings it starts from and the communication window, against a real
// loopback peer.
#include "support/TestSupport.h"

#include "UnitComNet.h"
#include "UnitMacAdr.h"
#include "UnitMain.h"
#include "UnitUpdate.h"
#include "ui_UnitComNet.h"
#include "ui_UnitMacAdr.h"
#include "ui_UnitMain.h"
#include "ui_UnitUpdate.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTimer>

#include <sys/socket.h>

using testsupport::MessageBoxRecorder;
using testsupport::TestForms;
using testsupport::waitFor;

namespace {

// A device stand-in that the test drives byte by byte.
class LoopbackPeer : public QObject
{
public:
    explicit LoopbackPeer(const QHostAddress &address = QHostAddress(QStringLiteral("127.0.0.1")))
    {
        if (!m_server.listen(address, 0))
            qFatal("cannot listen on loopback");
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                ++m_connections;
                m_socket = s;
                connect(s, &QTcpSocket::readyRead, this, [this, s] { m_received += s->readAll(); });
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    int connections() const { return m_connections; }
    QTcpSocket *socket() const { return m_socket; }

    bool waitConnected(int count = 1)
    {
        return waitFor([this, count] { return m_connections >= count && m_socket; }, 3000);
    }
    bool waitReceived(qsizetype bytes)
    {
        return waitFor([this, bytes] { return m_received.size() >= bytes; }, 3000);
    }
    QByteArray takeReceived()
    {
        QByteArray r = m_received;
        m_received.clear();
        return r;
    }
    void send(const QByteArray &bytes)
    {
        m_socket->write(bytes);
        m_socket->flush();
    }
    // Ends the connection with a reset instead of a close.
    void reset()
    {
        struct linger l = { 1, 0 };
        ::setsockopt(static_cast<int>(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l,
                     sizeof l);
        m_socket->abort();
    }
    void stop() { m_server.close(); }

private:
    QTcpServer m_server;
    QTcpSocket *m_socket = nullptr;
    QByteArray m_received;
    int m_connections = 0;
};

// Waits until the link's socket holds at least `bytes` bytes, then runs one receive tick.
bool tickWhenArrived(qsizetype bytes = 1)
{
    if (!waitFor(
                [bytes] {
                    return FormComNet->SockHandle
                            && FormComNet->SockHandle->bytesAvailable() >= bytes;
                },
                3000)) {
        return false;
    }
    FormComNet->TmrPktRcvTimer();
    return true;
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QString mainStatus()
{
    return FormMain->ui()->SBar->currentMessage();
}

void aim(const QString &address, quint16 port)
{
    FormComNet->ui()->edtIPADR->setText(address);
    FormComNet->ui()->edtPORT->setText(QString::number(port));
}

} // namespace

class TestLink final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void settingsFillTheFields_data();
    void settingsFillTheFields();

    void connectSucceeds();
    void connectRefusedIsReportedOnce();
    void addressAndPortAreCheckedFirst_data();
    void addressAndPortAreCheckedFirst();
    void noFailedSocketWhileTheBoxIsOpen();
    void sendWritesExactlyTheBytes();
    void sendWithoutConnectionSendsNothing();
    void startPollingDoesNotRestartTheTimer();

    void replyInOnePiece();
    void replyInTwoPiecesIsReassembled();
    void twoRepliesInOneReceiveAreBothHandled();
    void longLineIsReceivedInSeveralTicks();
    void textEndsAtNul();
    void loneZeroIsNotHandedOn();
    void quietTickKeepsPolling();
    void deviceCloseAndNextCommandReconnects();
    void deviceResetAndNextCommandReconnects();
    void replyJustBeforeCloseIsNotLost();
    void realTimerDeliversTheReply();

    void connectButtonOpensANewConnection();
    void connectButtonUsesEditedFields();
    void disconnectButton();
    void setDeviceAddressLeavesTheOpenConnection();

    void sendListGoesOutAsOneBlock();
    void sendListNeedsAddressAndConnection();
    void sendListOpenAndSaveRoundTrip();
    void receiveViewKeepsFiveHundredLines();
    void displaySwitchFlips();

private:
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<TestForms> m_forms;
};

void TestLink::init()
{
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_forms = std::make_unique<TestForms>();
}

void TestLink::cleanup()
{
    m_forms.reset();
    m_boxes.reset();
}

void TestLink::settingsFillTheFields_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");

    QTest::newRow("no file") << QByteArray() << false << QStringLiteral("192.168.0.1")
                             << QStringLiteral("2000");
    QTest::newRow("address only") << QByteArray("[LAN]\r\nADR=10.0.0.5\r\n") << true
                                  << QStringLiteral("10.0.0.5") << QStringLiteral("2000");
    QTest::newRow("any case") << QByteArray("[lan]\nadr = 127.0.0.2\nport=2001\n") << true
                              << QStringLiteral("127.0.0.2") << QStringLiteral("2001");
    QTest::newRow("empty value is not the default")
            << QByteArray("[LAN]\nADR=\nPORT=\n") << true << QString() << QString();
    QTest::newRow("other section") << QByteArray("[WAN]\nADR=1.2.3.4\n") << true
                                   << QStringLiteral("192.168.0.1") << QStringLiteral("2000");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[LAN]\r\nADR=127.0.0.3\r\n") << true
                                     << QStringLiteral("127.0.0.3") << QStringLiteral("2000");
    QTest::newRow("binary garbage") << QByteArray("\x00\xFF[\x01]=\n\x80\x81", 9) << true
                                    << QStringLiteral("192.168.0.1") << QStringLiteral("2000");
}

void TestLink::settingsFillTheFields()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, exists);
    QFETCH(QString, address);
    QFETCH(QString, port);

    m_forms.reset();
    m_forms = std::make_unique<TestForms>(TestForms::withIni(exists ? &ini : nullptr));
    QCOMPARE(FormComNet->ui()->edtIPADR->text(), address);
    QCOMPARE(FormComNet->ui()->edtPORT->text(), port);
    // Read once, never connected at start.
    QVERIFY(!FormComNet->SockHandle);
    QCOMPARE(m_boxes->count(), 0);
}

void TestLink::connectSucceeds()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("Connect Complete"));
    QVERIFY(FormComNet->SockHandle);
    QVERIFY(peer.waitConnected());
    QCOMPARE(FormComNet->SockAddr.address, 0x7F000001u);
    QCOMPARE(FormComNet->SockAddr.port, peer.port());
    // A recorded connection is used as it is, without any network call.
    QTcpSocket *first = FormComNet->SockHandle;
    peer.stop();
    QVERIFY(FormComNet->ConnectLink());
    QCOMPARE(FormComNet->SockHandle, first);
    QCOMPARE(m_boxes->count(), 0);
}

void TestLink::connectRefusedIsReportedOnce()
{
    aim(QStringLiteral("127.0.0.1"), closedPort());
    FormComNet->StartReceivePolling();
    QVERIFY(!FormComNet->ConnectLink());
    const QString expected = QStringLiteral("Error:connect(), Code = 10061\n\n");
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->shown().front().text, expected);
    QCOMPARE(m_boxes->shown().front().style, platform::mb::Ok | platform::mb::IconWarning);
    QCOMPARE(FormComNet->StatusText(), expected);
    QVERIFY(!FormComNet->SockHandle);
    // Nothing left behind: no socket child of the window survives the failure.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(FormComNet->findChildren<QTcpSocket *>().size(), 0);
    // The polling timer is left as it was: it only stops itself.
    QVERIFY(FormComNet->TmrPktRcv->isActive());
}

void TestLink::addressAndPortAreCheckedFirst_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("error");
    QTest::addColumn<quint32>("aimedAt");

    const QString badAddress = QStringLiteral("Error: invalid IP address");
    const QString badPort = QStringLiteral("Error: invalid port");
    const QString refused = QStringLiteral("Error:connect(), Code = 10061\n\n");
    QTest::newRow("short form") << QStringLiteral("127.1") << QStringLiteral("2000") << badAddress
                                << 0u;
    QTest::newRow("hex") << QStringLiteral("0x7f.0.0.1") << QStringLiteral("2000") << badAddress
                         << 0u;
    QTest::newRow("five parts") << QStringLiteral("127.0.0.1.1") << QStringLiteral("2000")
                                << badAddress << 0u;
    QTest::newRow("256") << QStringLiteral("127.0.0.256") << QStringLiteral("2000") << badAddress
                         << 0u;
    QTest::newRow("name") << QStringLiteral("localhost") << QStringLiteral("2000") << badAddress
                          << 0u;
    QTest::newRow("empty") << QString() << QStringLiteral("2000") << badAddress << 0u;
    QTest::newRow("port 0") << QStringLiteral("127.0.0.1") << QStringLiteral("0") << badPort << 0u;
    QTest::newRow("port 65536 is not port 0")
            << QStringLiteral("127.0.0.1") << QStringLiteral("65536") << badPort << 0u;
    QTest::newRow("port not a number")
            << QStringLiteral("127.0.0.1") << QStringLiteral("20x") << badPort << 0u;
    QTest::newRow("port empty") << QStringLiteral("127.0.0.1") << QString() << badPort << 0u;
    // Leading zeros are decimal: .010 is ten, not eight.
    QTest::newRow("leading zeros are decimal")
            << QStringLiteral("127.000.000.010") << QStringLiteral("CLOSED") << refused
            << 0x7F00000Au;
    QTest::newRow("blanks around are trimmed")
            << QStringLiteral(" 127.0.0.1\t") << QStringLiteral("CLOSED") << refused << 0x7F000001u;
    QTest::newRow("any address: no device there")
            << QStringLiteral("0.0.0.0") << QStringLiteral("2000")
            << QStringLiteral("Error:connect(), Code = 10049\n\n") << 0u;
}

void TestLink::addressAndPortAreCheckedFirst()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, error);
    QFETCH(quint32, aimedAt);

    FormComNet->ui()->edtIPADR->setText(address);
    FormComNet->ui()->edtPORT->setText(
            port == QLatin1String("CLOSED") ? QString::number(closedPort()) : port);
    QVERIFY(!FormComNet->ConnectLink());
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->shown().front().text, error);
    QCOMPARE(FormComNet->StatusText(), error);
    QVERIFY(!FormComNet->SockHandle);
    if (aimedAt)
        QCOMPARE(FormComNet->SockAddr.address, aimedAt);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(FormComNet->findChildren<QTcpSocket *>().size(), 0);
}

void TestLink::noFailedSocketWhileTheBoxIsOpen()
{
    // Ticks that run while the box is open must find no connection, not a broken one.
    aim(QStringLiteral("127.0.0.1"), closedPort());
    FormComNet->StartReceivePolling();
    bool sawSocket = false;
    m_boxes->setWhileOpen([&sawSocket] {
        FormComNet->TmrPktRcvTimer();
        sawSocket = FormComNet->SockHandle != nullptr;
    });
    FormComNet->ConnectLink();
    QVERIFY(!sawSocket);
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("Error:connect(), Code = 10061\n\n"));
}

void TestLink::sendWritesExactlyTheBytes()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QByteArray block(0x20000, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 7 + (i >> 8));
    QCOMPARE(FormComNet->SendCommand("ReqVer\r", 7), 7);
    QVERIFY(FormComNet->TmrPktRcv->isActive());
    QCOMPARE(FormComNet->SendCommand(block.constData(), static_cast<int>(block.size())),
             static_cast<int>(block.size()));
    QVERIFY(peer.waitReceived(7 + block.size()));
    QCOMPARE(peer.takeReceived(), QByteArray("ReqVer\r") + block);
}

void TestLink::sendWithoutConnectionSendsNothing()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QCOMPARE(FormComNet->SendCommand("ReqVer\r", 7), 7);
    QVERIFY(!FormComNet->TmrPktRcv->isActive());
    QTest::qWait(50);
    QCOMPARE(peer.connections(), 0);
}

void TestLink::startPollingDoesNotRestartTheTimer()
{
    FormComNet->StartReceivePolling();
    QVERIFY(FormComNet->TmrPktRcv->isActive());
    QCOMPARE(FormComNet->TmrPktRcv->interval(), 100);
    QCOMPARE(FormComNet->TmrPktRcv->timerType(), Qt::PreciseTimer);
    QTest::qWait(60);
    const int remaining = FormComNet->TmrPktRcv->remainingTime();
    FormComNet->StartReceivePolling();
    QVERIFY(FormComNet->TmrPktRcv->remainingTime() <= remaining);
    // Without a connection a tick does nothing and polling goes on.
    FormComNet->TmrPktRcvTimer();
    QVERIFY(FormComNet->TmrPktRcv->isActive());
}

void TestLink::replyInOnePiece()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    FormComNet->StartReceivePolling();
    QVERIFY(peer.waitConnected());
    peer.send("ACK_SET_IP:1\r\n");
    QVERIFY(tickWhenArrived(14));
    QCOMPARE(mainStatus(), QStringLiteral("IP Address Set Complete"));
    QCOMPARE(FormComNet->RcvMsg, QByteArray("ACK_SET_IP:1\r\n"));
    QVERIFY(FormComNet->ui()->MemoComMsg->toPlainText().startsWith(QStringLiteral("ACK_SET_IP:1")));
    // One reply handed on: polling stops until the next command.
    QVERIFY(!FormComNet->TmrPktRcv->isActive());
}

void TestLink::replyInTwoPiecesIsReassembled()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    FormComNet->StartReceivePolling();
    QVERIFY(peer.waitConnected());
    peer.send("ACK_REQ_VER:2.");
    QVERIFY(tickWhenArrived(14));
    QCOMPARE(FormUpdate->StatusText(), QString());
    // Still waiting for the rest of the line.
    QVERIFY(FormComNet->TmrPktRcv->isActive());
    peer.send("05\r\n");
    QVERIFY(tickWhenArrived(4));
    QCOMPARE(FormUpdate->ui()->STextVersion->text(), QStringLiteral("2.05"));
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Version Received"));
    QVERIFY(!FormComNet->TmrPktRcv->isActive());
}

void TestLink::twoRepliesInOneReceiveAreBothHandled()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    FormComNet->StartReceivePolling();
    QVERIFY(peer.waitConnected());
    peer.send("ACK_SET_IP:1\nACK_REQ_VER:2.00\n");
    QVERIFY(tickWhenArrived(30));
    QCOMPARE(mainStatus(), QStringLiteral("IP Address Set Complete"));
    QCOMPARE(FormUpdate->ui()->STextVersion->text(), QStringLiteral("2.00"));
}

void TestLink::longLineIsReceivedInSeveralTicks()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    FormComNet->StartReceivePolling();
    QVERIFY(peer.waitConnected());
    const QByteArray mac(10 * 1024, 'A');
    const QByteArray line = "ACK_REQ_MAC:" + mac + "\r\n";
    peer.send(line);
    QVERIFY(waitFor([&] { return FormComNet->SockHandle->bytesAvailable() >= line.size(); }, 3000));
    int ticks = 0;
    while (FormComNet->TmrPktRcv->isActive() && ticks < 10) {
        FormComNet->TmrPktRcvTimer();
        ++ticks;
        // At most 4096 bytes per receive.
        QVERIFY(FormComNet->RcvMsg.size() <= 4096);
    }
    QCOMPARE(ticks, 3);
    QCOMPARE(FormMacAdr->ui()->EdtMacAdr->text(), QString::fromLatin1(mac));
    QCOMPARE(FormMacAdr->StatusText(), QStringLiteral("MAC Address Received"));
}

void TestLink::textEndsAtNul()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    FormComNet->StartReceivePolling();
    QVERIFY(peer.waitConnected());
    peer.send(QByteArray("ACK_SET_IP:1\0\nACK_SET_IP:0\n", 28));
    QVERIFY(tickWhenArrived(28));
    QCOMPARE(FormComNet->RcvMsg, QByteArray("ACK_SET_IP:1"));
    QCOMPARE(mainStatus(), QString());
    // The text after the NUL is gone with this receive.
    peer.send("\n");
    QVERIFY(tickWhenArrived(1));
    QCOMPARE(mainStatus(), QStringLiteral("IP Address Set Complete"));
}

void TestLink::loneZeroIsNotHandedOn()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    FormComNet->StartReceivePolling();
    QVERIFY(peer.waitConnected());
    peer.send("0");
    QVERIFY(tickWhenArrived(1));
    QCOMPARE(FormComNet->ui()->MemoComMsg->toPlainText(), QStringLiteral("0"));
    QVERIFY(!FormComNet->TmrPktRcv->isActive());
    // A "0" that ends a reply line must not be lost with it... and it was not held either.
    peer.send("ACK_REQ_VER:1.\n");
    FormComNet->StartReceivePolling();
    QVERIFY(tickWhenArrived(15));
    QCOMPARE(FormUpdate->ui()->STextVersion->text(), QStringLiteral("1."));
    // Inside an unfinished line, "0" is part of it.
    peer.send("ACK_REQ_VER:3.");
    FormComNet->StartReceivePolling();
    QVERIFY(tickWhenArrived(14));
    peer.send("0");
    QVERIFY(tickWhenArrived(1));
    peer.send("1\n");
    QVERIFY(tickWhenArrived(2));
    QCOMPARE(FormUpdate->ui()->STextVersion->text(), QStringLiteral("3.01"));
}

void TestLink::quietTickKeepsPolling()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    FormComNet->StartReceivePolling();
    for (int i = 0; i < 5; ++i)
        FormComNet->TmrPktRcvTimer();
    QVERIFY(FormComNet->TmrPktRcv->isActive());
    QVERIFY(FormComNet->SockHandle);
}

void TestLink::deviceCloseAndNextCommandReconnects()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    FormComNet->StartReceivePolling();
    QVERIFY(peer.waitConnected());
    peer.socket()->disconnectFromHost();
    QVERIFY(waitFor(
            [] { return FormComNet->SockHandle->state() != QAbstractSocket::ConnectedState; },
            3000));
    FormComNet->TmrPktRcvTimer();
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("Disconnected\n"));
    QVERIFY(!FormComNet->SockHandle);
    QVERIFY(!FormComNet->TmrPktRcv->isActive());
    QCOMPARE(m_boxes->count(), 0);

    // The next command opens a new connection.
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    QVERIFY(peer.waitConnected(2));
    QVERIFY(peer.waitReceived(10));
    QCOMPARE(peer.takeReceived(), QByteArray("ReqIP_ADR\r"));
}

void TestLink::deviceResetAndNextCommandReconnects()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    FormComNet->StartReceivePolling();
    QVERIFY(peer.waitConnected());
    peer.reset();
    QVERIFY(waitFor(
            [] { return FormComNet->SockHandle->state() != QAbstractSocket::ConnectedState; },
            3000));
    FormComNet->TmrPktRcvTimer();
    // A reset reaches the tool as the end of the connection.
    const QString status = FormComNet->StatusText();
    QVERIFY2(status == QLatin1String("Disconnected\n")
                     || status == QLatin1String("recv() failed: error 10054\n"),
             qPrintable(status));
    QVERIFY(!FormComNet->SockHandle);
    QTest::mouseClick(FormUpdate->ui()->BtnRead, Qt::LeftButton);
    QVERIFY(peer.waitConnected(2));
    QVERIFY(peer.waitReceived(7));
    QCOMPARE(peer.takeReceived(), QByteArray("ReqVer\r"));
}

void TestLink::replyJustBeforeCloseIsNotLost()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    FormComNet->StartReceivePolling();
    QVERIFY(peer.waitConnected());
    peer.send("ACK_SET_IP:1\r\n");
    peer.socket()->disconnectFromHost();
    QVERIFY(waitFor(
            [] { return FormComNet->SockHandle->state() != QAbstractSocket::ConnectedState; },
            3000));
    FormComNet->TmrPktRcvTimer();
    QCOMPARE(mainStatus(), QStringLiteral("IP Address Set Complete"));
    FormComNet->StartReceivePolling();
    FormComNet->TmrPktRcvTimer();
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("Disconnected\n"));
}

void TestLink::realTimerDeliversTheReply()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    QVERIFY(peer.waitReceived(10));
    peer.send("ACK_REC_IP:127.0.0.1,1.2.3.4\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(mainStatus(), QStringLiteral("IP Address Received"), 3000);
    QCOMPARE(FormMain->ui()->EdtIP2->text(), QStringLiteral("1.2.3.4"));
    QTRY_VERIFY_WITH_TIMEOUT(!FormComNet->TmrPktRcv->isActive(), 1000);
}

void TestLink::connectButtonOpensANewConnection()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(peer.waitConnected());
    QTcpSocket *firstPeerSide = peer.socket();
    QSignalSpy oldClosed(firstPeerSide, &QTcpSocket::disconnected);

    QTest::mouseClick(FormComNet->ui()->SBtnLanConnect, Qt::LeftButton);
    QVERIFY(peer.waitConnected(2));
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("Connect Complete"));
    // The old connection is closed, not left open.
    QVERIFY(oldClosed.count() > 0 || oldClosed.wait(3000));
    // Later commands use the new one.
    FormComNet->SendCommand("ReqVer\r", 7);
    QVERIFY(peer.waitReceived(7));
    QVERIFY(peer.socket() != firstPeerSide);
}

void TestLink::connectButtonUsesEditedFields()
{
    LoopbackPeer first;
    LoopbackPeer second(QHostAddress(QStringLiteral("127.0.0.2")));
    aim(QStringLiteral("127.0.0.1"), first.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(first.waitConnected());
    // Editing the fields changes nothing until a new connection is opened.
    aim(QStringLiteral("127.0.0.2"), second.port());
    FormComNet->SendCommand("A\r", 2);
    QVERIFY(first.waitReceived(2));
    QTest::mouseClick(FormComNet->ui()->SBtnLanConnect, Qt::LeftButton);
    QVERIFY(second.waitConnected());
    FormComNet->SendCommand("B\r", 2);
    QVERIFY(second.waitReceived(2));
    QCOMPARE(second.takeReceived(), QByteArray("B\r"));
    QCOMPARE(first.takeReceived(), QByteArray("A\r"));
}

void TestLink::disconnectButton()
{
    FormComNet->SetStatusText(QStringLiteral("before"));
    QTest::mouseClick(FormComNet->ui()->SBtnLanClose, Qt::LeftButton);
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("before"));

    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(peer.waitConnected());
    QSignalSpy closed(peer.socket(), &QTcpSocket::disconnected);
    QTest::mouseClick(FormComNet->ui()->SBtnLanClose, Qt::LeftButton);
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("Disconnect"));
    QVERIFY(!FormComNet->SockHandle);
    QVERIFY(closed.count() > 0 || closed.wait(3000));
}

void TestLink::setDeviceAddressLeavesTheOpenConnection()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(peer.waitConnected());
    FormComNet->SetDeviceAddress(QStringLiteral("127.0.0.2"));
    QCOMPARE(FormComNet->ui()->edtIPADR->text(), QStringLiteral("127.0.0.2"));
    FormComNet->SendCommand("ReqVer\r", 7);
    QVERIFY(peer.waitReceived(7));
    QCOMPARE(peer.connections(), 1);
}

void TestLink::sendListGoesOutAsOneBlock()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(peer.waitConnected());
    FormComNet->ui()->MemoComList->setPlainText(QStringLiteral("ab\nc"));
    FormComNet->btnComSendClick();
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("5"));
    QVERIFY(FormComNet->TmrPktRcv->isActive());
    QVERIFY(peer.waitReceived(5));
    QCOMPARE(peer.takeReceived(), QByteArray("ab\r\nc"));

    FormComNet->ui()->MemoComList->setPlainText(QStringLiteral("ReqVer"));
    FormComNet->btnComSendClick();
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("6"));
}

void TestLink::sendListNeedsAddressAndConnection()
{
    FormComNet->ui()->MemoComList->setPlainText(QStringLiteral("ReqVer"));
    FormComNet->SetStatusText(QStringLiteral("before"));
    FormComNet->btnComSendClick();
    QCOMPARE(FormComNet->StatusText(), QString());
    QVERIFY(!FormComNet->TmrPktRcv->isActive());

    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    FormComNet->ui()->edtIPADR->setText(QStringLiteral(" \t"));
    FormComNet->btnComSendClick();
    QCOMPARE(FormComNet->StatusText(), QString());
    QVERIFY(!FormComNet->TmrPktRcv->isActive());
}

void TestLink::sendListOpenAndSaveRoundTrip()
{
    testsupport::FileDialogAnswerer dialogs;
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.txt"));
    const QString out = dir.filePath(QStringLiteral("out.txt"));
    QFile f(in);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("ReqVer\r\nReqIP_ADR\rReqMAC_ADR\n\xE9nd");
    f.close();

    dialogs.answerNext(in);
    FormComNet->BtnOpenClick();
    QCOMPARE(dialogs.requests().front().kind, platform::FileDialogRequest::Kind::Open);
    QCOMPARE(QDir::cleanPath(dialogs.requests().front().initialFolder),
             QDir::cleanPath(m_forms->folder()));
    dialogs.answerNext(out);
    FormComNet->BtnSaveClick();
    QFile saved(out);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("ReqVer\r\nReqIP_ADR\r\nReqMAC_ADR\r\n\xE9nd"));

    // Cancelled dialogs change nothing.
    FormComNet->ui()->MemoComList->setPlainText(QStringLiteral("kept"));
    FormComNet->BtnOpenClick();
    QCOMPARE(FormComNet->ui()->MemoComList->toPlainText(), QStringLiteral("kept"));

    // A file that cannot be read is an error shown in the error box; the list keeps its text.
    dialogs.answerNext(dir.filePath(QStringLiteral("missing.txt")));
    QTimer::singleShot(0, FormComNet, &TFormComNet::BtnOpenClick);
    QVERIFY(waitFor([this] { return m_boxes->count() == 1; }, 2000));
    QCOMPARE(m_boxes->shown().front().style & 0xF0, platform::mb::IconError);
    QCOMPARE(FormComNet->ui()->MemoComList->toPlainText(), QStringLiteral("kept"));
}

void TestLink::receiveViewKeepsFiveHundredLines()
{
    for (int i = 0; i < 500; ++i)
        FormComNet->AppendReceiveLine(QString::number(i));
    QCOMPARE(FormComNet->ui()->MemoComMsg->document()->blockCount(), 500);
    FormComNet->AppendReceiveLine(QStringLiteral("500"));
    QCOMPARE(FormComNet->ui()->MemoComMsg->document()->blockCount(), 501);
    FormComNet->AppendReceiveLine(QStringLiteral("501"));
    QCOMPARE(FormComNet->ui()->MemoComMsg->document()->blockCount(), 501);
    QCOMPARE(FormComNet->ui()->MemoComMsg->document()->firstBlock().text(), QStringLiteral("1"));
    QCOMPARE(FormComNet->ui()->MemoComMsg->document()->lastBlock().text(), QStringLiteral("501"));
    // Switched off, it only trims.
    FormComNet->BtnRcvDspClick();
    FormComNet->AppendReceiveLine(QStringLiteral("502"));
    QCOMPARE(FormComNet->ui()->MemoComMsg->document()->blockCount(), 500);
    QCOMPARE(FormComNet->ui()->MemoComMsg->document()->lastBlock().text(), QStringLiteral("501"));
}

void TestLink::displaySwitchFlips()
{
    QCOMPARE(FormComNet->MemoComMsgTag, 0);
    FormComNet->BtnRcvDspClick();
    QCOMPARE(FormComNet->MemoComMsgTag, 1);
    QCOMPARE(FormComNet->ui()->BtnRcvDsp->text(), QStringLiteral("停止"));
    FormComNet->BtnRcvDspClick();
    QCOMPARE(FormComNet->MemoComMsgTag, 0);
    QCOMPARE(FormComNet->ui()->BtnRcvDsp->text(), QStringLiteral("表示"));
}

QLT36_TEST_MAIN(TestLink)
#include "tst_link.moc"
