// The device core with no window system at all: sessions against the in-process simulator on
// loopback, driven only by their own timers and socket events.
#include "support/Images.h"

#include "Bytes.h"
#include "DeviceSimulator.h"
#include "core/DeviceSession.h"
#include "platform/Inet.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using core::DeviceLink;
using core::DeviceSession;

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));

// A session aimed at `port` on loopback, connected (waiting form).
std::unique_ptr<DeviceSession>
connectedSession(quint16 port, DeviceSession::Routing routing = DeviceSession::Routing::ByPrefix)
{
    auto session = std::make_unique<DeviceSession>();
    session->SetRouting(routing);
    session->Link().SetAddress(QStringLiteral("127.0.0.1"));
    session->Link().SetPort(QString::number(port));
    if (!session->Link().ConnectWaiting())
        qWarning("no connection to 127.0.0.1:%u", port);
    return session;
}

} // namespace

class TestSession final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void requestsAndReplies_data();
    void requestsAndReplies();
    void failedConnect_data();
    void failedConnect();
    void downloadOnItsOwnTimer_data();
    void downloadOnItsOwnTimer();
    void twoSessionsAtOnce();
    void declinedLineLeavesTheNextOne();
    void emptyImageIsNoSuccess();
};

void TestSession::initTestCase()
{
#ifdef Q_OS_LINUX
    QFile maps(QStringLiteral("/proc/self/maps"));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray loaded = maps.readAll();
    QVERIFY(loaded.contains("libQt6Core"));
    QVERIFY2(!loaded.contains("libQt6Gui") && !loaded.contains("libQt6Widgets"),
             "the device core pulled in Qt Gui or Widgets");
#endif
    platform::SetConnectGuard([](quint32 address) { return (address >> 24) == 127; });
}

void TestSession::requestsAndReplies_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("wire"); // the command line the device saw
    QTest::addColumn<QString>("heard"); // the one typed signal that followed, and its value

    QTest::newRow("version") << QByteArray("version") << QByteArray("ReqVer")
                             << QStringLiteral("versionRead 2.00");
    QTest::newRow("addresses")
            << QByteArray("addresses") << QByteArray("ReqIP_ADR")
            << QStringLiteral("addressesRead "
                              "192.168.0.10,192.168.0.20,255.255.255.0,192.168.0.254,239.0.0.1");
    QTest::newRow("mac") << QByteArray("mac") << QByteArray("ReqMAC_ADR")
                         << QStringLiteral("macRead 00A0B1C2D3E4");
    QTest::newRow("set mac, upper-cased")
            << QByteArray("set-mac") << QByteArray("SetMAC_ADR(0A0B0C0D0E0F)")
            << QStringLiteral("macSet 1");
    QTest::newRow("set addresses, as given")
            << QByteArray("set-addresses")
            << QByteArray("SetIP_ADR(10.0.0.9,10.0.0.2,255.0.0.0,10.0.0.254,239.1.1.1)")
            << QStringLiteral("addressesSet 1");
}

void TestSession::requestsAndReplies()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, wire);
    QFETCH(QString, heard);

    sim::DeviceSimulator device;
    QVERIFY(device.listen(Loopback));
    const auto session = connectedSession(device.serverPort());
    QStringList emitted;
    const auto text = [&emitted](const char *name, const QByteArray &value) {
        emitted << QLatin1String(name) + QLatin1Char(' ') + QString::fromLatin1(value);
    };
    DeviceSession *s = session.get();
    connect(s, &DeviceSession::versionRead, this, [=](auto v) { text("versionRead", v); });
    connect(s, &DeviceSession::macRead, this, [=](auto v) { text("macRead", v); });
    connect(s, &DeviceSession::macSet, this, [=](bool ok) { text("macSet", ok ? "1" : "0"); });
    connect(s, &DeviceSession::addressesSet, this,
            [=](bool ok) { text("addressesSet", ok ? "1" : "0"); });
    connect(s, &DeviceSession::addressesRead, this,
            [=](const QList<QByteArray> &items) { text("addressesRead", items.join(',')); });

    if (request == "version")
        s->RequestVersion();
    else if (request == "addresses")
        s->RequestAddresses();
    else if (request == "mac")
        s->RequestMac();
    else if (request == "set-mac")
        s->SetMac("0a0b0c0d0e0f");
    else
        s->SetAddresses({ "10.0.0.9", "10.0.0.2", "255.0.0.0", "10.0.0.254", "239.1.1.1" });

    // Handed over when its bytes arrive, well before a 100 ms poll.
    QVERIFY(QTest::qWaitFor([&emitted] { return !emitted.isEmpty(); }, 2000));
    QCOMPARE(emitted, QStringList{ heard });
    QCOMPARE(device.receivedCommands(), QList<QByteArray>{ wire });
    QCOMPARE(device.counters().bytesReceived, wire.size() + 1); // and its CR, nothing more
}

void TestSession::failedConnect_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("waiting");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");

    QTest::newRow("refused, waiting")
            << QStringLiteral("127.0.0.1") << true
            << QStringLiteral("Error:connect(), Code = 10061\n\n") << 10061;
    QTest::newRow("refused, not waiting")
            << QStringLiteral("127.0.0.1") << false
            << QStringLiteral("Error:connect(), Code = 10061\n\n") << 10061;
    QTest::newRow("not an address") << QStringLiteral("127.0.0.256") << false
                                    << QStringLiteral("Error: invalid IP address") << 0;
}

void TestSession::failedConnect()
{
    QFETCH(QString, address);
    QFETCH(bool, waiting);
    QFETCH(QString, text);
    QFETCH(int, code);

    // A port nobody listens on: bind one, then let it go.
    quint16 port = 0;
    {
        sim::DeviceSimulator probe;
        QVERIFY(probe.listen(Loopback));
        port = probe.serverPort();
    }
    DeviceSession session;
    DeviceLink &link = session.Link();
    link.SetAddress(address);
    link.SetPort(QString::number(port));
    QSignalSpy failed(&link, &DeviceLink::connectFailed);
    QSignalSpy statuses(&link, &DeviceLink::statusChanged);
    QSignalSpy made(&link, &DeviceLink::connected);

    if (waiting) {
        QVERIFY(!link.ConnectWaiting());
    } else {
        link.BeginConnect();
        QVERIFY(failed.size() == 1 || failed.wait(10000));
    }
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.first().at(0).toString(), text);
    QCOMPARE(failed.first().at(1).toInt(), code);
    QCOMPARE(statuses.last().first().toString(), text);
    QVERIFY(made.isEmpty());
    QVERIFY(!link.IsConnected() && !link.IsConnecting());

    // Nothing is sent without a connection, and the next attempt starts afresh.
    session.RequestVersion();
    QVERIFY(!link.IsConnected());
    sim::DeviceSimulator device;
    QVERIFY(device.listen(Loopback, port));
    link.SetAddress(QStringLiteral("127.0.0.1"));
    QVERIFY(link.ConnectWaiting());
    QCOMPARE(statuses.last().first().toString(), QStringLiteral("Connect Complete"));
}

void TestSession::downloadOnItsOwnTimer_data()
{
    QTest::addColumn<DeviceSession::Routing>("routing");
    QTest::newRow("replies by prefix") << DeviceSession::Routing::ByPrefix;
    QTest::newRow("answers only") << DeviceSession::Routing::AnswersOnly;
}

void TestSession::downloadOnItsOwnTimer()
{
    QFETCH(DeviceSession::Routing, routing);
    sim::DeviceSimulator device;
    QVERIFY(device.listen(Loopback));
    const auto session = connectedSession(device.serverPort(), routing);
    const QByteArray image = testsupport::PatternedImage(0x20000 + 0x1a0, 0x21);
    QSignalSpy stopped(session.get(), &DeviceSession::downloadStopped);
    QSignalSpy finished(session.get(), &DeviceSession::blockFinished);
    QSignalSpy statuses(session.get(), &DeviceSession::downloadStatus);

    QVERIFY(session->StartDownload(image, 0x1000000));
    QVERIFY(!session->StartDownload(image, 0)); // one at a time
    QVERIFY(stopped.wait(5000));
    QCOMPARE(stopped.first().first().toBool(), true);

    QCOMPARE(device.receivedCommands(),
             (QList<QByteArray>{ "Download(0x01000000,0x20000)", "Download(0x01020000,0x1a0)" }));
    QCOMPARE(device.memory(0x1000000, image.size()), image);
    QCOMPARE(finished.size(), 2);
    QCOMPARE(finished.last().at(0).toUInt(), 0x1020000u);
    QCOMPARE(finished.last().at(1).toInt(), 0x1a0);
    QCOMPARE(finished.last().at(2).toString(), QStringLiteral("Update Complete"));
    QCOMPARE(statuses.last().first().toString(), QStringLiteral("Update Complete"));
    QCOMPARE(session->Download().DownloadBusy(), 0);
}

void TestSession::twoSessionsAtOnce()
{
    // One device refuses a block, one never acknowledges an announce: neither holds up the other.
    sim::DeviceSimulator refusing;
    sim::DeviceSimulator silent;
    QVERIFY(refusing.listen(Loopback));
    QVERIFY(silent.listen(QHostAddress(QStringLiteral("127.0.0.2"))));
    refusing.setBlockReply(0, "Error:Flash");
    silent.setIgnoredAnnounce(0);
    const auto first = connectedSession(refusing.serverPort());
    auto second = std::make_unique<DeviceSession>();
    second->Link().SetAddress(QStringLiteral("127.0.0.2"));
    second->Link().SetPort(QString::number(silent.serverPort()));
    // Its size wait is short, still over twice the steps the other one needs.
    second->SetDownloadWaits(16, 50);
    QSignalSpy made(&second->Link(), &DeviceLink::connected);
    second->Link().BeginConnect();
    QVERIFY(made.wait(2000));

    const QByteArray image = testsupport::PatternedImage(0x100, 0x42);
    QSignalSpy firstStopped(first.get(), &DeviceSession::downloadStopped);
    QSignalSpy secondStopped(second.get(), &DeviceSession::downloadStopped);
    QVERIFY(first->StartDownload(image, 0x1000000));
    QVERIFY(second->StartDownload(image, 0));
    QVERIFY(firstStopped.wait(3000));
    QCOMPARE(firstStopped.first().first().toBool(), false);
    QVERIFY(secondStopped.isEmpty());
    QCOMPARE(refusing.receivedBlocks().size(), 1);
    QVERIFY(!refusing.receivedBlocks().first().written);

    QVERIFY(secondStopped.wait(5000)); // its size wait ran out
    QCOMPARE(secondStopped.first().first().toBool(), false);
    QVERIFY(silent.receivedBlocks().isEmpty());
    // The announce was left open, so that connection is gone; the other session's is not.
    QVERIFY(!second->Link().IsConnected());
    QVERIFY(first->Link().IsConnected());
    QCOMPARE(refusing.receivedCommands(), QList<QByteArray>{ "Download(0x01000000,0x100)" });
    QCOMPARE(silent.receivedCommands(), QList<QByteArray>{ "Download(0x00000000,0x100)" });
}

void TestSession::declinedLineLeavesTheNextOne()
{
    sim::DeviceSimulator device;
    QVERIFY(device.listen(Loopback));
    // The host takes the lines, as the windows do, and declines the first.
    const auto session = connectedSession(device.serverPort(), DeviceSession::Routing::None);
    DeviceLink &link = session->Link();
    int offered = 0;
    QList<QByteArray> taken;
    connect(&link, &DeviceLink::lineReceived, this, [&](const QByteArray &line) {
        if (++offered > 1) {
            taken << line;
            link.LineTaken(true);
        }
    });
    QSignalSpy versions(session.get(), &DeviceSession::versionRead);
    link.StartReceivePolling();
    // Two replies in one segment; the first is declined.
    QTRY_VERIFY_WITH_TIMEOUT(device.hasClient(), 2000);
    device.sendRaw("ACK_REQ_VER:1.00\r\nACK_REQ_VER:2.00\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(offered, 2, 2000);
    QCOMPARE(taken, QList<QByteArray>{ "ACK_REQ_VER:2.00\r\n" });
    // The session routed neither.
    QVERIFY(versions.isEmpty());
    QVERIFY(link.IsPolling());
}

void TestSession::emptyImageIsNoSuccess()
{
    sim::DeviceSimulator device;
    QVERIFY(device.listen(Loopback));
    const auto session = connectedSession(device.serverPort());
    QSignalSpy stopped(session.get(), &DeviceSession::downloadStopped);
    QVERIFY(session->StartDownload(QByteArray(), 0x1000000));
    QVERIFY(stopped.wait(2000));
    QCOMPARE(stopped.first().first().toBool(), false);
    QCOMPARE(device.counters().bytesReceived, 0);
    // The next download is a real one.
    QVERIFY(session->StartDownload(testsupport::PatternedImage(0x10), 0x1000000));
    QVERIFY(stopped.wait(3000));
    QCOMPARE(stopped.last().first().toBool(), true);
}

QTEST_GUILESS_MAIN(TestSession)

#include "tst_session.moc"
