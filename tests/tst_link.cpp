// The device link, the settings it starts from and the communication window, against a real
// loopback peer.
#include "support/TestSupport.h"

#include "UnitComNet.h"
#include "UnitMacAdr.h"
#include "UnitMain.h"
#include "UnitUpdate.h"
#include "platform/SocketPoll.h"
#include "platform/SocketReset.h"
#include "ui_UnitComNet.h"
#include "ui_UnitMacAdr.h"
#include "ui_UnitMain.h"
#include "ui_UnitUpdate.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTimer>

#ifdef Q_OS_WIN
#  include <winsock2.h>
using RawSocket = SOCKET;
#else
#  include <sys/socket.h>
using RawSocket = int;
#endif

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
        platform::SetResetOnClose(m_socket->socketDescriptor());
        m_socket->abort();
    }
    void stop() { m_server.close(); }

private:
    QTcpServer m_server;
    QTcpSocket *m_socket = nullptr;
    QByteArray m_received;
    int m_connections = 0;
};

core::DeviceLink &link()
{
    return testsupport::link();
}

// Waits until the link has made `count` receives in all.
bool waitReceives(const QSignalSpy &receives, qsizetype count)
{
    return waitFor([&receives, count] { return receives.size() >= count; }, 3000);
}

QByteArray receiveAt(const QSignalSpy &receives, qsizetype index)
{
    return receives.at(index).first().toByteArray();
}

QStringList texts(const QSignalSpy &spy)
{
    QStringList all;
    for (const QList<QVariant> &emission : spy)
        all << emission.first().toString();
    return all;
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
    void typedAddressReplacesACheckedTarget();
    void noFailedSocketWhileTheBoxIsOpen();
    void sendWritesExactlyTheBytes();
    void commandGoesOutBeforeTheRepaint();
    void sendWithoutConnectionSendsNothing();
    void startPollingDoesNotRestartTheTimer();

    void replyInOnePiece();
    void replyInTwoPiecesIsReassembled();
    void twoRepliesInOneReceiveAreBothHandled();
    void longLineIsReceivedInChunks();
    void textEndsAtNul();
    void loneZeroIsNotHandedOn();
    void quietTickKeepsPolling();
    void deviceCloseAndNextCommandReconnects();
    void deviceResetAndNextCommandReconnects();
    void replyJustBeforeCloseIsNotLost();
    void readButtonShowsTheReply();

    void connectButtonOpensANewConnection();
    void connectButtonUsesEditedFields();
    void disconnectButton();
    void setDeviceAddressLeavesTheOpenConnection();
    void programEndClosesTheConnectionInOrder();

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
    QVERIFY(!link().IsConnected());
    QCOMPARE(m_boxes->count(), 0);
}

void TestLink::connectSucceeds()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QSignalSpy statuses(&link(), &core::DeviceLink::statusChanged);
    QVERIFY(FormComNet->ConnectLink());
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("Connect Complete"));
    QCOMPARE(texts(statuses),
             (QStringList{ QStringLiteral("127.0.0.1Connect..."),
                           QStringLiteral("Connect Complete") }));
    QVERIFY(link().IsConnected());
    QVERIFY(peer.waitConnected());
    // A recorded connection is used as it is, without any network call: with nobody listening
    // any more, a new attempt would fail.
    peer.stop();
    QVERIFY(FormComNet->ConnectLink());
    QCOMPARE(statuses.size(), 2);
    QCOMPARE(link().SendCommand(QByteArray("ReqVer\r")), 7);
    QVERIFY(peer.waitReceived(7));
    QCOMPARE(peer.takeReceived(), QByteArray("ReqVer\r"));
    QCOMPARE(peer.connections(), 1);
    QCOMPARE(m_boxes->count(), 0);
}

void TestLink::connectRefusedIsReportedOnce()
{
    aim(QStringLiteral("127.0.0.1"), closedPort());
    link().StartReceivePolling();
    QVERIFY(!FormComNet->ConnectLink());
    const QString expected = QStringLiteral("Error:connect(), Code = 10061\n\n");
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->shown().front().text, expected);
    QCOMPARE(m_boxes->shown().front().style, gui::mb::Ok | gui::mb::IconWarning);
    QCOMPARE(FormComNet->StatusText(), expected);
    QVERIFY(!link().IsConnected());
    // Nothing left behind: no socket child of the window survives the failure.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(FormComNet->findChildren<QTcpSocket *>().size(), 0);
    // Polling is left as it was: only a receive or a lost connection ends it.
    QVERIFY(link().IsPolling());
}

void TestLink::addressAndPortAreCheckedFirst_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("error");
    QTest::addColumn<quint32>("peerAt"); // where a peer listens (its port is used), 0: nowhere

    const QString badAddress = QStringLiteral("Error: invalid IP address");
    const QString badPort = QStringLiteral("Error: invalid port");
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
    // Leading zeros are decimal: .010 is ten, not eight (where nobody listens).
    QTest::newRow("leading zeros are decimal")
            << QStringLiteral("127.000.000.010") << QStringLiteral("PEER") << QString()
            << 0x7F00000Au;
    QTest::newRow("blanks around are trimmed")
            << QStringLiteral(" 127.0.0.1\t") << QStringLiteral("PEER") << QString() << 0x7F000001u;
    QTest::newRow("any address: no device there")
            << QStringLiteral("0.0.0.0") << QStringLiteral("2000")
            << QStringLiteral("Error:connect(), Code = 10049\n\n") << 0u;
}

void TestLink::addressAndPortAreCheckedFirst()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, error);
    QFETCH(quint32, peerAt);

    std::unique_ptr<LoopbackPeer> peer;
    if (peerAt)
        peer = std::make_unique<LoopbackPeer>(QHostAddress(peerAt));
    FormComNet->ui()->edtIPADR->setText(address);
    FormComNet->ui()->edtPORT->setText(peer ? QString::number(peer->port()) : port);
    QCOMPARE(FormComNet->ConnectLink(), error.isEmpty());
    if (error.isEmpty()) {
        QVERIFY(peer->waitConnected());
        QCOMPARE(FormComNet->StatusText(), QStringLiteral("Connect Complete"));
        QCOMPARE(m_boxes->count(), 0);
        return;
    }
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->shown().front().text, error);
    QCOMPARE(FormComNet->StatusText(), error);
    QVERIFY(!link().IsConnected());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(FormComNet->findChildren<QTcpSocket *>().size(), 0);
}

void TestLink::typedAddressReplacesACheckedTarget()
{
    // A target handed over as numbers (the command-line tool's) connects as it is...
    LoopbackPeer peer(QHostAddress(0x7F000002u));
    QSignalSpy statuses(&link(), &core::DeviceLink::statusChanged);
    link().SetTarget(0x7F000002u, peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(peer.waitConnected());
    QCOMPARE(statuses.first().first().toString(), QStringLiteral("127.0.0.2Connect..."));
    // ...and text typed later is what the next connection checks, not the old numbers.
    link().DropConnection();
    FormComNet->ui()->edtIPADR->setText(QStringLiteral("127.1"));
    QVERIFY(!FormComNet->ConnectLink());
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("Error: invalid IP address"));
    QCOMPARE(peer.connections(), 1);
}

void TestLink::noFailedSocketWhileTheBoxIsOpen()
{
    // Ticks that run while the box is open must find no connection, not a broken one: a broken
    // one would show "Disconnected" or a receive error.
    aim(QStringLiteral("127.0.0.1"), closedPort());
    link().StartReceivePolling();
    QSignalSpy statuses(&link(), &core::DeviceLink::statusChanged);
    QSignalSpy ticks(testsupport::pollTimer(), &QTimer::timeout);
    bool ticked = false;
    bool recorded = true;
    m_boxes->setWhileOpen([&] {
        ticked = waitFor([&ticks] { return ticks.size() >= 2; }, 1000);
        recorded = link().IsConnected() || link().IsConnecting();
    });
    QVERIFY(!FormComNet->ConnectLink());
    QVERIFY(ticked);
    QVERIFY(!recorded);
    QCOMPARE(texts(statuses),
             (QStringList{ QStringLiteral("127.0.0.1Connect..."),
                           QStringLiteral("Error:connect(), Code = 10061\n\n") }));
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
    QCOMPARE(link().SendCommand(QByteArray("ReqVer\r")), 7);
    QVERIFY(link().IsPolling());
    QCOMPARE(link().SendCommand(block), static_cast<int>(block.size()));
    QVERIFY(peer.waitReceived(7 + block.size()));
    QCOMPARE(peer.takeReceived(), QByteArray("ReqVer\r") + block);
}

void TestLink::commandGoesOutBeforeTheRepaint()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    // Posted events alone (repaints among them), with no word from the socket yet.
    link().SendCommand(QByteArray("ReqVer\r"));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(link().BytesToWrite(), 0);
    QVERIFY(peer.waitReceived(7));
}

void TestLink::sendWithoutConnectionSendsNothing()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QCOMPARE(link().SendCommand(QByteArray("ReqVer\r")), 7);
    QVERIFY(!link().IsPolling());
    // The next connection is the peer's first, and the next command the first thing it gets.
    QVERIFY(FormComNet->ConnectLink());
    QCOMPARE(link().SendCommand(QByteArray("ReqMAC_ADR\r")), 11);
    QVERIFY(peer.waitReceived(11));
    QCOMPARE(peer.takeReceived(), QByteArray("ReqMAC_ADR\r"));
    QCOMPARE(peer.connections(), 1);
}

void TestLink::startPollingDoesNotRestartTheTimer()
{
    // Without a connection the ticks do nothing and polling goes on.
    FormComNet->SetStatusText(QStringLiteral("before"));
    QSignalSpy ticks(testsupport::pollTimer(), &QTimer::timeout);
    link().StartReceivePolling();
    QVERIFY(waitFor([&ticks] { return ticks.size() >= 2; }, 1000));
    QVERIFY(link().IsPolling());
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("before"));

    // Enabling polling again and again, more often than the 100 ms tick, must not put off the
    // tick that notices a closed connection.
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(peer.waitConnected());
    peer.socket()->disconnectFromHost();
    QElapsedTimer clock;
    clock.start();
    while (FormComNet->StatusText() != QLatin1String("Disconnected\n") && clock.elapsed() < 2000) {
        link().StartReceivePolling();
        QTest::qWait(20);
    }
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("Disconnected\n"));
    QVERIFY(!link().IsConnected());
}

void TestLink::replyInOnePiece()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(peer.waitConnected());
    QSignalSpy receives(&link(), &core::DeviceLink::received);
    QSignalSpy ticks(testsupport::pollTimer(), &QTimer::timeout);
    peer.send("ACK_SET_IP:1\r\n");
    link().StartReceivePolling();
    QVERIFY(waitFor([] { return mainStatus() == QLatin1String("IP Address Set Complete"); }, 3000));
    // Handed over as its bytes came, not at the next tick.
    QCOMPARE(ticks.size(), 0);
    QCOMPARE(receives.size(), 1);
    QCOMPARE(receiveAt(receives, 0), QByteArray("ACK_SET_IP:1\r\n"));
    QVERIFY(FormComNet->ui()->MemoComMsg->toPlainText().startsWith(QStringLiteral("ACK_SET_IP:1")));
    // One reply handed on: polling stops until the next command.
    QVERIFY(!link().IsPolling());
}

void TestLink::replyInTwoPiecesIsReassembled()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(peer.waitConnected());
    QSignalSpy receives(&link(), &core::DeviceLink::received);
    link().StartReceivePolling();
    peer.send("ACK_REQ_VER:2.");
    QVERIFY(waitReceives(receives, 1));
    QCOMPARE(FormUpdate->StatusText(), QString());
    // Still waiting for the rest of the line.
    QCOMPARE(link().PendingReplyBytes(), qsizetype(14));
    QVERIFY(link().IsPolling());
    peer.send("05\r\n");
    QVERIFY(waitFor([] { return FormUpdate->StatusText() == QLatin1String("Version Received"); },
                    3000));
    QCOMPARE(FormUpdate->ui()->STextVersion->text(), QStringLiteral("2.05"));
    QCOMPARE(receives.size(), 2);
    QCOMPARE(link().PendingReplyBytes(), qsizetype(0));
    QVERIFY(!link().IsPolling());
}

void TestLink::twoRepliesInOneReceiveAreBothHandled()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(peer.waitConnected());
    QSignalSpy receives(&link(), &core::DeviceLink::received);
    link().StartReceivePolling();
    peer.send("ACK_SET_IP:1\nACK_REQ_VER:2.00\n");
    QVERIFY(waitFor([] { return FormUpdate->ui()->STextVersion->text() == QLatin1String("2.00"); },
                    3000));
    QCOMPARE(mainStatus(), QStringLiteral("IP Address Set Complete"));
    QCOMPARE(receives.size(), 1);
}

void TestLink::longLineIsReceivedInChunks()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(peer.waitConnected());
    QSignalSpy receives(&link(), &core::DeviceLink::received);
    QSignalSpy ticks(testsupport::pollTimer(), &QTimer::timeout);
    QByteArray mac;
    while (mac.size() < 10 * 1024)
        mac += "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    mac.truncate(10 * 1024);
    const QByteArray line = "ACK_REQ_MAC:" + mac + "\r\n";
    // Sent while receiving is off: it waits in the socket, two 100 ms ticks and more, until
    // receiving is enabled.
    peer.send(line);
    QTest::qWait(200);
    QVERIFY(receives.isEmpty());
    QCOMPARE(FormMacAdr->ui()->EdtMacAdr->text(), QString());

    link().StartReceivePolling();
    QVERIFY(waitFor([] { return !FormMacAdr->StatusText().isEmpty(); }, 3000));
    QCOMPARE(FormMacAdr->ui()->EdtMacAdr->text(), QString::fromLatin1(mac));
    QCOMPARE(FormMacAdr->StatusText(), QStringLiteral("MAC Address Received"));
    // Everything that waited is taken at once, 4096 bytes a receive, without waiting for a tick.
    QCOMPARE(ticks.size(), 0);
    QCOMPARE(receives.size(), 3);
    QCOMPARE(receiveAt(receives, 0), line.first(4096));
    QCOMPARE(receiveAt(receives, 1), line.sliced(4096, 4096));
    QCOMPARE(receiveAt(receives, 2), line.sliced(8192));
    // The view shows the last receive.
    QCOMPARE(FormComNet->ui()->MemoComMsg->toPlainText().trimmed(),
             QString::fromLatin1(line.sliced(8192)).trimmed());
    QVERIFY(!link().IsPolling());
}

void TestLink::textEndsAtNul()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(peer.waitConnected());
    QSignalSpy receives(&link(), &core::DeviceLink::received);
    link().StartReceivePolling();
    peer.send(QByteArray("ACK_SET_IP:1\0\nACK_SET_IP:0\n", 28));
    QVERIFY(waitReceives(receives, 1));
    QCOMPARE(receiveAt(receives, 0), QByteArray("ACK_SET_IP:1"));
    QCOMPARE(FormComNet->ui()->MemoComMsg->toPlainText(), QStringLiteral("ACK_SET_IP:1"));
    QCOMPARE(mainStatus(), QString());
    // The text after the NUL is gone with this receive; the line waits for its end.
    QVERIFY(link().IsPolling());
    peer.send("\n");
    QVERIFY(waitFor([] { return mainStatus() == QLatin1String("IP Address Set Complete"); }, 3000));
    QCOMPARE(receives.size(), 2);
}

void TestLink::loneZeroIsNotHandedOn()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(peer.waitConnected());
    QSignalSpy receives(&link(), &core::DeviceLink::received);
    link().StartReceivePolling();
    peer.send("0");
    QVERIFY(waitReceives(receives, 1));
    QCOMPARE(FormComNet->ui()->MemoComMsg->toPlainText(), QStringLiteral("0"));
    QVERIFY(!link().IsPolling());
    // A "0" that ends a reply line must not be lost with it... and it was not held either.
    peer.send("ACK_REQ_VER:1.\n");
    link().StartReceivePolling();
    QVERIFY(waitReceives(receives, 2));
    QCOMPARE(FormUpdate->ui()->STextVersion->text(), QStringLiteral("1."));
    // Inside an unfinished line, "0" is part of it.
    peer.send("ACK_REQ_VER:3.");
    link().StartReceivePolling();
    QVERIFY(waitReceives(receives, 3));
    peer.send("0");
    QVERIFY(waitReceives(receives, 4));
    peer.send("1\n");
    QVERIFY(waitReceives(receives, 5));
    QCOMPARE(FormUpdate->ui()->STextVersion->text(), QStringLiteral("3.01"));
}

void TestLink::quietTickKeepsPolling()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    QSignalSpy ticks(testsupport::pollTimer(), &QTimer::timeout);
    link().StartReceivePolling();
    QVERIFY(waitFor([&ticks] { return ticks.size() >= 5; }, 2000));
    QVERIFY(link().IsPolling());
    QVERIFY(link().IsConnected());
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("Connect Complete"));
}

void TestLink::deviceCloseAndNextCommandReconnects()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    link().StartReceivePolling();
    QVERIFY(peer.waitConnected());
    peer.socket()->disconnectFromHost();
    QVERIFY(waitFor([] { return FormComNet->StatusText() == QLatin1String("Disconnected\n"); },
                    3000));
    QVERIFY(!link().IsConnected());
    QVERIFY(!link().IsPolling());
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
    link().StartReceivePolling();
    QVERIFY(peer.waitConnected());
    peer.reset();
    // A reset reaches the tool as the end of the connection.
    QVERIFY(waitFor(
            [] {
                const QString status = FormComNet->StatusText();
                return status == QLatin1String("Disconnected\n")
                        || status == QLatin1String("recv() failed: error 10054\n");
            },
            3000));
    QVERIFY(!link().IsConnected());
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
    link().StartReceivePolling();
    QVERIFY(peer.waitConnected());
    peer.send("ACK_SET_IP:1\r\n");
    peer.socket()->disconnectFromHost();
    QVERIFY(waitFor([] { return mainStatus() == QLatin1String("IP Address Set Complete"); }, 3000));
    // The close is noticed while polling runs.
    link().StartReceivePolling();
    QVERIFY(waitFor([] { return FormComNet->StatusText() == QLatin1String("Disconnected\n"); },
                    3000));
    QVERIFY(!link().IsConnected());
}

void TestLink::readButtonShowsTheReply()
{
    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    QVERIFY(peer.waitReceived(10));
    peer.send("ACK_REC_IP:127.0.0.1,1.2.3.4\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(mainStatus(), QStringLiteral("IP Address Received"), 3000);
    QCOMPARE(FormMain->ui()->EdtIP2->text(), QStringLiteral("1.2.3.4"));
    QTRY_VERIFY_WITH_TIMEOUT(!link().IsPolling(), 1000);
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
    link().SendCommand(QByteArray("ReqVer\r"));
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
    link().SendCommand(QByteArray("A\r"));
    QVERIFY(first.waitReceived(2));
    QTest::mouseClick(FormComNet->ui()->SBtnLanConnect, Qt::LeftButton);
    QVERIFY(second.waitConnected());
    link().SendCommand(QByteArray("B\r"));
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
    QVERIFY(!link().IsConnected());
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
    link().SendCommand(QByteArray("ReqVer\r"));
    QVERIFY(peer.waitReceived(7));
    QCOMPARE(peer.connections(), 1);
}

// The windows go with the connection open: the device sees it end in order, as when the system
// releases a program's socket, not reset.
void TestLink::programEndClosesTheConnectionInOrder()
{
    QTcpServer device;
    QVERIFY(device.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    aim(QStringLiteral("127.0.0.1"), device.serverPort());
    QVERIFY(FormComNet->ConnectLink());
    QVERIFY(device.waitForNewConnection(10000));
    // Read past Qt, with no event loop running: the end of the stream, or an error for a reset.
    const qintptr end = device.nextPendingConnection()->socketDescriptor();
    m_forms.reset();
    for (int i = 0; i < 1000 && !platform::SocketHasInput(end); ++i)
        QTest::qSleep(10);
    char byte = 0;
    const qint64 received = ::recv(static_cast<RawSocket>(end), &byte, 1, 0);
    QCOMPARE(received, qint64(0));
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
    QVERIFY(link().IsPolling());
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
    QVERIFY(!link().IsPolling());

    LoopbackPeer peer;
    aim(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(FormComNet->ConnectLink());
    FormComNet->ui()->edtIPADR->setText(QStringLiteral(" \t"));
    FormComNet->btnComSendClick();
    QCOMPARE(FormComNet->StatusText(), QString());
    QVERIFY(!link().IsPolling());
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
    QCOMPARE(dialogs.requests().front().kind, gui::FileDialogRequest::Kind::Open);
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
    QCOMPARE(m_boxes->shown().front().style & 0xF0, gui::mb::IconError);
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
    QTextDocument *view = FormComNet->ui()->MemoComMsg->document();
    QCOMPARE(FormComNet->ui()->BtnRcvDsp->text(), QStringLiteral("表示"));
    FormComNet->AppendReceiveLine(QStringLiteral("shown"));
    FormComNet->BtnRcvDspClick();
    QCOMPARE(FormComNet->ui()->BtnRcvDsp->text(), QStringLiteral("停止"));
    FormComNet->AppendReceiveLine(QStringLiteral("suppressed"));
    QCOMPARE(view->toPlainText(), QStringLiteral("shown"));
    FormComNet->BtnRcvDspClick();
    QCOMPARE(FormComNet->ui()->BtnRcvDsp->text(), QStringLiteral("表示"));
    FormComNet->AppendReceiveLine(QStringLiteral("shown again"));
    QCOMPARE(view->toPlainText(), QStringLiteral("shown\nshown again"));
}

QLT36_TEST_MAIN(TestLink)
#include "tst_link.moc"
