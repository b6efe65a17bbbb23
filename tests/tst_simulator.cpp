// The device simulator drives every end-to-end test of the tool, so its own behaviour is pinned
// down here byte for byte, over real loopback connections.

#include "Bytes.h"
#include "Command.h"
#include "DeviceMemory.h"
#include "DeviceSimulator.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

#include <memory>
#include <optional>

#ifdef Q_OS_UNIX
#  include <cerrno>
#  include <netinet/in.h>
#  include <sys/socket.h>
#  include <sys/time.h>
#  include <unistd.h>
#endif

using sim::CommandKind;
using sim::DeviceSimulator;

namespace {

constexpr int WaitMs = 3000;

const QByteArray VersionReply = QByteArrayLiteral("ACK_REQ_VER:2.00\r\n");
const QByteArray MacReply = QByteArrayLiteral("ACK_REQ_MAC:00A0B1C2D3E4\r\n");
const QByteArray IpReply = QByteArrayLiteral(
        "ACK_REC_IP:192.168.0.10,192.168.0.20,255.255.255.0,192.168.0.254,239.0.0.1\r\n");
const QByteArray ResultOk = QByteArrayLiteral("ACK_DOWNLOAD:Result:1\r\n");

// The announce exactly as the tool spells it: eight lower-case digits, then the bare length.
QByteArray announce(quint32 address, quint32 length)
{
    return "Download(0x" + QByteArray::number(address, 16).rightJustified(8, '0') + ",0x"
            + QByteArray::number(length, 16) + ")\r";
}

QByteArray sizeReply(quint32 length)
{
    return "ACK_DOWNLOAD:Size:" + QByteArray::number(length) + "\r\n";
}

QByteArray randomBytes(qsizetype length, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray data(length, Qt::Uninitialized);
    for (char &c : data)
        c = static_cast<char>(rng.bounded(256u));
    return data;
}

QByteArray erased(qsizetype length)
{
    return QByteArray(length, '\xFF');
}

// A loopback client that keeps every read apart, so tests can see how replies were segmented.
struct Client
{
    QTcpSocket socket;
    QByteArray received;
    QList<QByteArray> reads;

    Client()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
            const QByteArray data = socket.readAll();
            reads.append(data);
            received += data;
        });
    }

    bool connectTo(const DeviceSimulator &device)
    {
        socket.connectToHost(QHostAddress::LocalHost, device.serverPort());
        if (!socket.waitForConnected(WaitMs))
            return false;
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return QTest::qWaitFor([&] { return device.hasClient(); }, WaitMs);
    }

    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }

    bool waitForBytes(qsizetype count, int timeoutMs = WaitMs)
    {
        return QTest::qWaitFor([&] { return received.size() >= count; }, timeoutMs);
    }

    // Sends and waits for exactly as many bytes as expected; the caller compares them.
    bool exchange(const QByteArray &bytes, qsizetype expectedBytes)
    {
        const qsizetype before = received.size();
        send(bytes);
        return waitForBytes(before + expectedBytes);
    }

    QByteArray take()
    {
        const QByteArray all = received;
        received.clear();
        reads.clear();
        return all;
    }
};

bool startWithClient(DeviceSimulator &device, Client &client)
{
    return device.listen(QHostAddress::LocalHost) && client.connectTo(device);
}

bool logContains(const QSignalSpy &spy, const QString &needle)
{
    for (const QList<QVariant> &args : spy) {
        if (args.value(0).toString().contains(needle))
            return true;
    }
    return false;
}

} // namespace

class TestSimulator final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandReplies_data();
    void commandReplies();
    void parseCommand_data();
    void parseCommand();
    void parseCommandSurvivesRandomLines();
    void dottedDecimal_data();
    void dottedDecimal();
    void macText_data();
    void macText();
    void crc32KnownValues();
    void printableAndUnescape_data();
    void printableAndUnescape();
    void unescapeRejectsBadEscapes();
    void deviceMemory();
    void stateSetters();

    void segmentation_data();
    void segmentation();
    void blockExchange_data();
    void blockExchange();
    void pipelinedBlocks();
    void disconnectMidBlockDiscardsIt();
    void newConnectionReplacesOld();
    void versionAfterDownload_data();
    void versionAfterDownload();
    void overlongLines_data();
    void overlongLines();
    void randomInputLeavesDeviceWorking();
    void listenRefusesNonLoopback_data();
    void listenRefusesNonLoopback();
    void allowRemoteLiftsTheRefusal();
    void signalsAndCounters();

    void replyDelay();
    void splitReply();
    void oneByteSegments();
    void blockReplyFault_data();
    void blockReplyFault();
    void ignoredAnnounce();
    void dropReplies();
    void droppedSizeReplyStillTakesBlock();
    void closeAfterCommands_data();
    void closeAfterCommands();
    void garbagePrefix();
    void unsolicitedReply();
    void unsolicitedOnConnect();
    void sendRawIsExact();
};

// --- Commands and their replies ---

void TestSimulator::commandReplies_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("version") << QByteArray("ReqVer\r") << VersionReply;
    QTest::newRow("addresses") << QByteArray("ReqIP_ADR\r") << IpReply;
    QTest::newRow("MAC") << QByteArray("ReqMAC_ADR\r") << MacReply;

    QTest::newRow("set addresses, read back")
            << QByteArray("SetIP_ADR(10.0.0.2,10.0.0.3,255.0.0.0,10.0.0.1,239.1.2.3)\rReqIP_ADR\r")
            << QByteArray("ACK_SET_IP:1\r\nACK_REC_IP:10.0.0.2,10.0.0.3,255.0.0.0,10.0.0.1,"
                          "239.1.2.3\r\n");
    QTest::newRow("zero-padded addresses kept as sent")
            << QByteArray("SetIP_ADR(192.168.000.010,0.0.0.0,255.255.255.255,1.2.3.4,"
                          "239.000.000.001)\rReqIP_ADR\r")
            << QByteArray("ACK_SET_IP:1\r\nACK_REC_IP:192.168.000.010,0.0.0.0,255.255.255.255,"
                          "1.2.3.4,239.000.000.001\r\n");

    // A refused set stores nothing: the read-back shows the defaults.
    const auto refusedIp = [](const char *name, const QByteArray &args) {
        QTest::newRow(name) << "SetIP_ADR(" + args + ")\rReqIP_ADR\r"
                            << QByteArray("ACK_SET_IP:0\r\n") + IpReply;
    };
    refusedIp("four items", "1.1.1.1,2.2.2.2,3.3.3.3,4.4.4.4");
    refusedIp("six items (comma inside a field)", "1,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5,6.6.6.6");
    refusedIp("group over 255", "1.1.1.1,2.2.2.2,3.3.3.256,4.4.4.4,5.5.5.5");
    refusedIp("three groups", "1.1.1,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5");
    refusedIp("five groups", "1.1.1.1.1,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5");
    refusedIp("blank after an address", "1.1.1.1 ,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5");
    refusedIp("empty item", "1.1.1.1,,3.3.3.3,4.4.4.4,5.5.5.5");
    refusedIp("letters", "a.b.c.d,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5");
    refusedIp("sign", "1.1.1.1,+2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5");
    refusedIp("four digits", "1.1.1.1,2.2.2.0002,3.3.3.3,4.4.4.4,5.5.5.5");
    refusedIp("trailing dot", "1.1.1.1.,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5");
    refusedIp("byte above 0x7f", "1.1.1.1,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.\xB5");
    QTest::newRow("set addresses without closing parenthesis")
            << QByteArray("SetIP_ADR(1.1.1.1,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5\rReqIP_ADR\r")
            << QByteArray("ACK_SET_IP:0\r\n") + IpReply;
    QTest::newRow("set addresses without argument list")
            << QByteArray("SetIP_ADR\r") << QByteArray("ACK_SET_IP:0\r\n");

    QTest::newRow("set MAC, read back")
            << QByteArray("SetMAC_ADR(0123456789AB)\rReqMAC_ADR\r")
            << QByteArray("ACK_SET_MAC:1\r\nACK_REQ_MAC:0123456789AB\r\n");
    QTest::newRow("lower-case MAC kept as sent")
            << QByteArray("SetMAC_ADR(abcdef012345)\rReqMAC_ADR\r")
            << QByteArray("ACK_SET_MAC:1\r\nACK_REQ_MAC:abcdef012345\r\n");
    const auto refusedMac = [](const char *name, const QByteArray &arg) {
        QTest::newRow(name) << "SetMAC_ADR(" + arg + ")\rReqMAC_ADR\r"
                            << QByteArray("ACK_SET_MAC:0\r\n") + MacReply;
    };
    refusedMac("MAC of eleven digits", "00A0B1C2D3E");
    refusedMac("MAC of thirteen digits", "00A0B1C2D3E45");
    refusedMac("MAC not hex", "00A0B1C2D3EG");
    refusedMac("MAC with separators", "00:A0:B1:C2:D3:E4");
    refusedMac("MAC with blanks", " 00A0B1C2D3E4");
    refusedMac("MAC empty", "");

    // No error reply exists, so the device stays silent; the sentinel after each row proves it.
    QTest::newRow("unknown command") << QByteArray("Hello\r") << QByteArray();
    QTest::newRow("keyword in the wrong case") << QByteArray("reqver\r") << QByteArray();
    QTest::newRow("trailing blank") << QByteArray("ReqVer \r") << QByteArray();
    QTest::newRow("leading blank") << QByteArray(" ReqVer\r") << QByteArray();
    QTest::newRow("empty line") << QByteArray("\r") << QByteArray();
    QTest::newRow("NUL inside") << QByteArray("Req\0Ver\r", 8) << QByteArray();
    QTest::newRow("request with argument list") << QByteArray("ReqVer()\r") << QByteArray();
    QTest::newRow("CR LF from a terminal program")
            << QByteArray("ReqVer\r\nReqMAC_ADR\r\n") << VersionReply + MacReply;

    // A refused announce takes no block: the sentinel is answered as a command.
    QTest::newRow("announce with a malformed address")
            << QByteArray("Download(0x0100000g,0x20000)\r")
            << QByteArray("ACK_DOWNLOAD:Error:Bad Parameter\r\n");
    QTest::newRow("announce without numbers")
            << QByteArray("Download()\r") << QByteArray("ACK_DOWNLOAD:Error:Bad Parameter\r\n");
    QTest::newRow("announce with a 33-bit address")
            << QByteArray("Download(0x100000000,0x10)\r")
            << QByteArray("ACK_DOWNLOAD:Error:Bad Parameter\r\n");
    QTest::newRow("announce of length 0")
            << announce(0x1000000, 0) << QByteArray("ACK_DOWNLOAD:Error:Bad Size\r\n");
    QTest::newRow("announce over the block size")
            << announce(0x1000000, 0x20001) << QByteArray("ACK_DOWNLOAD:Error:Bad Size\r\n");
    QTest::newRow("announce of the largest length")
            << announce(0, 0xFFFFFFFF) << QByteArray("ACK_DOWNLOAD:Error:Bad Size\r\n");
    QTest::newRow("announce between the areas")
            << announce(0x200000, 1) << QByteArray("ACK_DOWNLOAD:Error:Bad Address\r\n");
    QTest::newRow("announce past the backup area")
            << announce(0x1FFFFF, 2) << QByteArray("ACK_DOWNLOAD:Error:Bad Address\r\n");
    QTest::newRow("announce past the main area")
            << announce(0x11FFFF0, 0x20) << QByteArray("ACK_DOWNLOAD:Error:Bad Address\r\n");
    QTest::newRow("announce wrapping the address space")
            << announce(0xFFFFFFF0, 0x20) << QByteArray("ACK_DOWNLOAD:Error:Bad Address\r\n");
    QTest::newRow("announce keyword in lower case")
            << QByteArray("download(0x01000000,0x10)\r") << QByteArray();
}

void TestSimulator::commandReplies()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, expected);

    DeviceSimulator device;
    Client client;
    QVERIFY(startWithClient(device, client));

    const QByteArray sentinel = QByteArrayLiteral("ReqVer\r");
    QVERIFY(client.exchange(sent + sentinel, expected.size() + VersionReply.size()));
    QCOMPARE(client.take(), expected + VersionReply);
    QCOMPARE(device.counters().commands, int(sent.count('\r')) + 1);
    QCOMPARE(device.receivedCommands().constLast(), QByteArray("ReqVer"));
    QVERIFY(!device.isReceivingBlock());
    QCOMPARE(device.counters().blocksReceived, 0);
}

// --- The pure parser and the text checks ---

void TestSimulator::parseCommand_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<CommandKind>("kind");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("exact");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<QList<QByteArray>>("arguments");

    using L = QList<QByteArray>;
    const auto download = [](const char *name, const char *line, bool valid, bool exact,
                             quint32 address, quint32 length, const L &args) {
        QTest::newRow(name) << QByteArray(line) << CommandKind::Download << valid << exact
                            << address << length << args;
    };
    download("tool's full block", "Download(0x01000000,0x20000)", true, true, 0x1000000, 0x20000,
             L{ "0x01000000", "0x20000" });
    download("tool's last block", "Download(0x01000000,0x1a0)", true, true, 0x1000000, 0x1a0,
             L{ "0x01000000", "0x1a0" });
    download("tool's address 0", "Download(0x00000000,0x20000)", true, true, 0, 0x20000,
             L{ "0x00000000", "0x20000" });
    download("length of one digit", "Download(0x00020000,0x1)", true, true, 0x20000, 1,
             L{ "0x00020000", "0x1" });
    download("length 0 is spelled 0x0", "Download(0x00000000,0x0)", true, true, 0, 0,
             L{ "0x00000000", "0x0" });
    download("length over the block size still parses", "Download(0x01000000,0x20001)", true, true,
             0x1000000, 0x20001, L{ "0x01000000", "0x20001" });
    download("largest values", "Download(0xffffffff,0xffffffff)", true, true, 0xFFFFFFFF,
             0xFFFFFFFF, L{ "0xffffffff", "0xffffffff" });
    download("address of seven digits", "Download(0x1000000,0x20000)", true, false, 0x1000000,
             0x20000, L{ "0x1000000", "0x20000" });
    download("length with leading zeros", "Download(0x01000000,0x0020000)", true, false, 0x1000000,
             0x20000, L{ "0x01000000", "0x0020000" });
    download("upper-case digits", "Download(0x01000000,0x1A0)", true, false, 0x1000000, 0x1a0,
             L{ "0x01000000", "0x1A0" });
    download("upper-case prefix", "Download(0X01000000,0X1a0)", true, false, 0x1000000, 0x1a0,
             L{ "0X01000000", "0X1a0" });
    download("wide address that fits", "Download(0x0000000001000000,0x1)", true, false, 0x1000000,
             1, L{ "0x0000000001000000", "0x1" });
    download("bad digit", "Download(0x0100000g,0x20000)", false, false, 0, 0,
             L{ "0x0100000g", "0x20000" });
    download("prefix without digits", "Download(0x,0x20000)", false, false, 0, 0,
             L{ "0x", "0x20000" });
    download("no prefix", "Download(01000000,0x20000)", false, false, 0, 0,
             L{ "01000000", "0x20000" });
    download("decimal length", "Download(0x01000000,131072)", false, false, 0, 0,
             L{ "0x01000000", "131072" });
    download("blank inside", "Download(0x01000000 ,0x20000)", false, false, 0, 0,
             L{ "0x01000000 ", "0x20000" });
    download("sign", "Download(-0x1,0x20000)", false, false, 0, 0, L{ "-0x1", "0x20000" });
    download("33-bit address", "Download(0x100000000,0x1)", false, false, 0, 0,
             L{ "0x100000000", "0x1" });
    download("40-bit length", "Download(0x01000000,0xffffffffff)", false, false, 0, 0,
             L{ "0x01000000", "0xffffffffff" });
    download("one number", "Download(0x01000000)", false, false, 0, 0, L{ "0x01000000" });
    download("three numbers", "Download(0x01000000,0x20000,0x1)", false, false, 0, 0,
             L{ "0x01000000", "0x20000", "0x1" });
    download("no closing parenthesis", "Download(0x01000000,0x20000", false, false, 0, 0, L{});
    download("text after the parenthesis", "Download(0x01000000,0x20000)x", false, false, 0, 0,
             L{});
    download("no argument list", "Download", false, false, 0, 0, L{});

    const auto other = [](const char *name, const char *line, CommandKind kind, bool valid,
                          const L &args) {
        QTest::newRow(name) << QByteArray(line) << kind << valid << false << 0u << 0u << args;
    };
    other("read version", "ReqVer", CommandKind::ReqVer, true, L{});
    other("read addresses", "ReqIP_ADR", CommandKind::ReqIp, true, L{});
    other("read MAC", "ReqMAC_ADR", CommandKind::ReqMac, true, L{});
    other("set addresses", "SetIP_ADR(a,b,,d,e)", CommandKind::SetIp, true,
          L{ "a", "b", "", "d", "e" });
    other("set addresses, empty list", "SetIP_ADR()", CommandKind::SetIp, true, L{ "" });
    other("set MAC keeps commas", "SetMAC_ADR(00,A0)", CommandKind::SetMac, true, L{ "00,A0" });
    other("set MAC, parenthesis inside", "SetMAC_ADR(a)b)", CommandKind::SetMac, true, L{ "a)b" });
    other("set MAC unterminated", "SetMAC_ADR(00A0B1C2D3E4", CommandKind::SetMac, false, L{});
    other("version with blank", "ReqVer ", CommandKind::Unknown, false, L{});
    other("empty", "", CommandKind::Unknown, false, L{});
    other("only a parenthesis", "(", CommandKind::Unknown, false, L{});
    other("lower-case keyword", "download(0x01000000,0x1)", CommandKind::Unknown, false, L{});
    other("reply text", "ACK_REQ_VER:2.00", CommandKind::Unknown, false, L{});
}

void TestSimulator::parseCommand()
{
    QFETCH(QByteArray, line);
    QFETCH(CommandKind, kind);
    QFETCH(bool, valid);
    QFETCH(bool, exact);
    QFETCH(quint32, address);
    QFETCH(quint32, length);
    QFETCH(QList<QByteArray>, arguments);

    const sim::Command command = sim::parseCommand(line);
    QCOMPARE(command.kind, kind);
    QCOMPARE(command.valid, valid);
    QCOMPARE(command.exactForm, exact);
    QCOMPARE(command.address, address);
    QCOMPARE(command.length, length);
    QCOMPARE(command.arguments, arguments);
}

void TestSimulator::parseCommandSurvivesRandomLines()
{
    // Near-miss announces, checked against a regular expression and Qt's own number parsing.
    static constexpr char Digits[] = "0123456789abcdefABCDEF";
    static constexpr char Noise[] = "xXg ,-()+\r";
    QRandomGenerator rng(20240607);
    const auto pick = [&rng](const char *set, quint32 size) { return set[rng.bounded(size)]; };
    const auto number = [&]() {
        QByteArray text =
                rng.bounded(10u) ? QByteArray(rng.bounded(2u) ? "0x" : "0X") : QByteArray();
        const quint32 digits = rng.bounded(12u);
        for (quint32 k = 0; k < digits; ++k)
            text += rng.bounded(25u) ? pick(Digits, sizeof Digits - 1)
                                     : pick(Noise, sizeof Noise - 1);
        return text;
    };
    const QRegularExpression shape(
            QStringLiteral("^Download\\(0[xX]([0-9a-fA-F]+),0[xX]([0-9a-fA-F]+)\\)$"));
    int valid = 0;
    int invalid = 0;
    for (int i = 0; i < 20000; ++i) {
        QByteArray line = "Download(" + number() + "," + number() + ")";
        if (rng.bounded(20u) == 0)
            line.chop(1);
        const sim::Command command = sim::parseCommand(line);
        QCOMPARE(command.kind, CommandKind::Download);

        const QRegularExpressionMatch match = shape.match(QString::fromLatin1(line));
        bool addressOk = false;
        bool lengthOk = false;
        const qulonglong address = match.captured(1).toULongLong(&addressOk, 16);
        const qulonglong length = match.captured(2).toULongLong(&lengthOk, 16);
        const bool expected = match.hasMatch() && addressOk && lengthOk && address <= 0xFFFFFFFFu
                && length <= 0xFFFFFFFFu;
        QVERIFY2(command.valid == expected, line.constData());
        if (!expected) {
            ++invalid;
            continue;
        }
        ++valid;
        QCOMPARE(qulonglong(command.address), address);
        QCOMPARE(qulonglong(command.length), length);
        QByteArray exact = announce(command.address, command.length);
        exact.chop(1);
        QCOMPARE(command.exactForm, line == exact);
    }
    // Both sides of the line were reached often enough to mean something.
    QVERIFY(valid > 1000);
    QVERIFY(invalid > 1000);
}

void TestSimulator::dottedDecimal_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("plain") << QByteArray("192.168.0.10") << true;
    QTest::newRow("zeros") << QByteArray("0.0.0.0") << true;
    QTest::newRow("largest") << QByteArray("255.255.255.255") << true;
    QTest::newRow("zero-padded") << QByteArray("010.001.000.255") << true;
    QTest::newRow("256") << QByteArray("1.2.3.256") << false;
    QTest::newRow("999") << QByteArray("999.1.1.1") << false;
    QTest::newRow("four digits") << QByteArray("1.2.3.0004") << false;
    QTest::newRow("three parts") << QByteArray("1.2.3") << false;
    QTest::newRow("five parts") << QByteArray("1.2.3.4.5") << false;
    QTest::newRow("empty part") << QByteArray("1..3.4") << false;
    QTest::newRow("leading dot") << QByteArray(".1.2.3.4") << false;
    QTest::newRow("trailing dot") << QByteArray("1.2.3.4.") << false;
    QTest::newRow("blank") << QByteArray("1.2.3.4 ") << false;
    QTest::newRow("hex") << QByteArray("0x1.2.3.4") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("single number") << QByteArray("3232235530") << false;
}

void TestSimulator::dottedDecimal()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, accepted);
    QCOMPARE(sim::isDottedDecimalIpv4(text), accepted);
}

void TestSimulator::macText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("upper") << QByteArray("00A0B1C2D3E4") << true;
    QTest::newRow("lower") << QByteArray("00a0b1c2d3e4") << true;
    QTest::newRow("all F") << QByteArray("FFFFFFFFFFFF") << true;
    QTest::newRow("eleven") << QByteArray("00A0B1C2D3E") << false;
    QTest::newRow("thirteen") << QByteArray("00A0B1C2D3E45") << false;
    QTest::newRow("G") << QByteArray("00A0B1C2D3EG") << false;
    QTest::newRow("colons") << QByteArray("00:A0:B1:C2") << false;
    QTest::newRow("blank") << QByteArray("00A0B1C2D3E ") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestSimulator::macText()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, accepted);
    QCOMPARE(sim::isMacText(text), accepted);
}

void TestSimulator::crc32KnownValues()
{
    QCOMPARE(sim::crc32(QByteArrayView("123456789")), 0xCBF43926u);
    QCOMPARE(sim::crc32(QByteArrayView()), 0u);
    QCOMPARE(sim::crc32(QByteArrayView("a")), 0xE8B7BE43u);
    QCOMPARE(sim::crc32(QByteArray(32, '\0')), 0x190A55ADu);
}

void TestSimulator::printableAndUnescape_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("command") << QByteArray("ReqVer\r") << QStringLiteral("ReqVer\\r");
    QTest::newRow("reply end") << QByteArray("2.00\r\n") << QStringLiteral("2.00\\r\\n");
    QTest::newRow("NUL and 0xFF") << QByteArray("\0\xFF", 2) << QStringLiteral("\\x00\\xFF");
    QTest::newRow("backslash") << QByteArray("a\\b") << QStringLiteral("a\\\\b");
    QTest::newRow("tab and DEL") << QByteArray("\t\x7F") << QStringLiteral("\\t\\x7F");
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestSimulator::printableAndUnescape()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(sim::printable(bytes), text);
    const std::optional<QByteArray> back = sim::unescape(text.toLatin1());
    QVERIFY(back.has_value());
    QCOMPARE(*back, bytes);
}

void TestSimulator::unescapeRejectsBadEscapes()
{
    QVERIFY(!sim::unescape("\\q").has_value());
    QVERIFY(!sim::unescape("ab\\").has_value());
    QVERIFY(!sim::unescape("\\x4").has_value());
    QVERIFY(!sim::unescape("\\xG0").has_value());
    QCOMPARE(sim::unescape("\\x4a\\x4A").value(), QByteArray("JJ"));
}

void TestSimulator::deviceMemory()
{
    sim::DeviceMemory memory;
    QCOMPARE(memory.read(0x1000000, 16), erased(16));
    QCOMPARE(memory.pageCount(), 0);

    QVERIFY(memory.contains(0, 0x200000));
    QVERIFY(!memory.contains(0, 0x200001));
    QVERIFY(memory.contains(0x1000000, 0x200000));
    QVERIFY(!memory.contains(0x0FFFFFF, 2));
    QVERIFY(!memory.contains(0x1000000, 0));
    QVERIFY(!memory.contains(0xFFFFFFFF, 0x100000001ull));

    // Across a page boundary, and nothing else touched.
    const QByteArray data = randomBytes(0x30, 7);
    QVERIFY(memory.write(0x100FFF0, data));
    QCOMPARE(memory.read(0x100FFF0, data.size()), data);
    QCOMPARE(memory.read(0x100FFEF, 1), erased(1));
    QCOMPARE(memory.read(0x1010020, 1), erased(1));
    QCOMPARE(memory.pageCount(), 2);

    // All or nothing outside the areas.
    QVERIFY(!memory.write(0x1FFFF0, randomBytes(0x20, 8)));
    QCOMPARE(memory.read(0x1FFFF0, 0x10), erased(0x10));
    QVERIFY(!memory.write(0x800000, QByteArrayView("x")));
    QCOMPARE(memory.pageCount(), 2);

    QCOMPARE(memory.read(0xFFFFFFF0, 0x100).size(), 0x10);
    QCOMPARE(memory.read(0, -1), QByteArray());

    memory.erase();
    QCOMPARE(memory.read(0x100FFF0, data.size()), erased(data.size()));
}

void TestSimulator::stateSetters()
{
    DeviceSimulator device;
    QCOMPARE(device.addresses(),
             (QList<QByteArray>{ "192.168.0.10", "192.168.0.20", "255.255.255.0", "192.168.0.254",
                                 "239.0.0.1" }));
    QCOMPARE(device.macAddress(), QByteArray("00A0B1C2D3E4"));
    QCOMPARE(device.version(), QByteArray("2.00"));

    device.setVersion("1.05");
    device.setMacAddress("112233445566");
    QVERIFY(!device.setAddresses({ "1.1.1.1", "2.2.2.2" }));
    QVERIFY(device.setAddresses({ "1.1.1.1", "2.2.2.2", "3.3.3.3", "4.4.4.4", "5.5.5.5" }));
    QVERIFY(device.writeMemory(0x20000, QByteArrayView("abc")));
    QVERIFY(!device.writeMemory(0x400000, QByteArrayView("abc")));

    Client client;
    QVERIFY(startWithClient(device, client));
    const QByteArray expected =
            QByteArrayLiteral("ACK_REQ_VER:1.05\r\nACK_REQ_MAC:112233445566\r\n"
                              "ACK_REC_IP:1.1.1.1,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5\r\n");
    QVERIFY(client.exchange("ReqVer\rReqMAC_ADR\rReqIP_ADR\r", expected.size()));
    QCOMPARE(client.take(), expected);
    QCOMPARE(device.memory(0x1FFFF, 5), erased(1) + "abc" + erased(1));
    device.eraseMemory();
    QCOMPARE(device.memory(0x20000, 3), erased(3));
}

// --- Framing, blocks and connections ---

void TestSimulator::segmentation_data()
{
    QTest::addColumn<int>("chunk");
    QTest::newRow("one byte at a time") << 1;
    QTest::newRow("two bytes") << 2;
    QTest::newRow("three bytes") << 3;
    QTest::newRow("thirteen bytes") << 13;
    QTest::newRow("64 bytes") << 64;
    QTest::newRow("all at once") << 100000;
}

void TestSimulator::segmentation()
{
    QFETCH(int, chunk);

    DeviceSimulator device;
    Client client;
    QVERIFY(startWithClient(device, client));

    // The block carries CR, LF and command texts that must not be taken as commands.
    const QByteArray block =
            QByteArrayLiteral("\r\n\rReqVer\r\nSetMAC_ADR(FFFFFFFFFFFF)\r") + randomBytes(0x40, 3);
    const quint32 length = quint32(block.size());
    const QByteArray script = "SetIP_ADR(10.1.1.1,10.1.1.2,255.255.0.0,10.1.0.1,239.9.9.9)\r"
            + announce(0x1000100, length) + block + "ReqIP_ADR\rReqVer\rSetMAC_ADR(AABBCCDDEEFF)\r"
            + "ReqMAC_ADR\r";
    const QByteArray expected = "ACK_SET_IP:1\r\n" + sizeReply(length) + ResultOk
            + "ACK_REC_IP:10.1.1.1,10.1.1.2,255.255.0.0,10.1.0.1,239.9.9.9\r\n" + VersionReply
            + "ACK_SET_MAC:1\r\nACK_REQ_MAC:AABBCCDDEEFF\r\n";

    // Each piece is read by the device before the next is written, so every cut is real.
    for (qsizetype at = 0; at < script.size(); at += chunk) {
        const QByteArray piece = script.mid(at, chunk);
        client.send(piece);
        const qint64 target = at + piece.size();
        QVERIFY(QTest::qWaitFor([&] { return device.counters().bytesReceived >= target; }, WaitMs));
        QCOMPARE(device.counters().bytesReceived, target);
    }
    QVERIFY(client.waitForBytes(expected.size()));
    QCOMPARE(client.received, expected);
    QCOMPARE(device.memory(0x1000100, block.size()), block);
    QCOMPARE(device.receivedCommands().size(), 6);
    QCOMPARE(device.receivedCommands().at(1), announce(0x1000100, length).chopped(1));
    QCOMPARE(device.receivedCommands().at(2), QByteArray("ReqIP_ADR"));
}

void TestSimulator::blockExchange_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("full block, main area") << 0x1000000u << randomBytes(0x20000, 1);
    QTest::newRow("full block, backup area") << 0u << randomBytes(0x20000, 2);
    QTest::newRow("full block ending the backup area") << 0x1E0000u << randomBytes(0x20000, 4);
    QTest::newRow("full block ending the main area") << 0x11E0000u << randomBytes(0x20000, 5);
    QTest::newRow("short last block") << 0x1080000u << randomBytes(0x1a0, 6);
    QTest::newRow("last byte of the main area") << 0x11FFFFFu << QByteArray("\r");
    QTest::newRow("CR and LF only") << 0x20000u << QByteArray("\r\n").repeated(0x800);
    QTest::newRow("looks like commands")
            << 0x1000100u << QByteArray("ReqVer\rSetMAC_ADR(FFFFFFFFFFFF)\r\n").repeated(40);
}

void TestSimulator::blockExchange()
{
    QFETCH(quint32, address);
    QFETCH(QByteArray, data);
    const auto length = quint32(data.size());

    DeviceSimulator device;
    Client client;
    QSignalSpy blocks(&device, &DeviceSimulator::blockReceived);
    QVERIFY(startWithClient(device, client));
    QCOMPARE(device.memory(address, data.size()), erased(data.size()));

    QVERIFY(client.exchange(announce(address, length), sizeReply(length).size()));
    QCOMPARE(client.take(), sizeReply(length));
    QVERIFY(device.isReceivingBlock());

    QVERIFY(client.exchange(data, ResultOk.size()));
    QCOMPARE(client.take(), ResultOk);
    QVERIFY(!device.isReceivingBlock());

    // Back in command mode, and nothing in the block was answered.
    QVERIFY(client.exchange("ReqVer\r", VersionReply.size()));
    QCOMPARE(client.take(), VersionReply);
    QCOMPARE(device.macAddress(), QByteArray("00A0B1C2D3E4"));

    QCOMPARE(device.memory(address, data.size()), data);
    if (address > 0)
        QCOMPARE(device.memory(address - 1, 1), erased(1));
    QCOMPARE(device.memory(address + length, 1), erased(1));

    QCOMPARE(blocks.size(), 1);
    const QList<sim::BlockRecord> records = device.receivedBlocks();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].index, 0);
    QCOMPARE(records[0].address, address);
    QCOMPARE(records[0].length, length);
    QCOMPARE(records[0].crc32, sim::crc32(data));
    QVERIFY(records[0].exactAnnounce);
    QVERIFY(records[0].written);
    QCOMPARE(records[0].reply, QByteArray("Result:1"));
    QCOMPARE(blocks[0][0].value<sim::BlockRecord>().crc32, records[0].crc32);
    QCOMPARE(device.receivedCommands(),
             (QList<QByteArray>{ announce(address, length).chopped(1), "ReqVer" }));
}

void TestSimulator::pipelinedBlocks()
{
    DeviceSimulator device;
    Client client;
    QVERIFY(startWithClient(device, client));

    const QByteArray first = randomBytes(0x100, 11);
    const QByteArray second = randomBytes(0x80, 12);
    const QByteArray expected = sizeReply(0x100) + ResultOk + sizeReply(0x80) + ResultOk;
    QVERIFY(client.exchange(announce(0x1000000, 0x100) + first + announce(0, 0x80) + second,
                            expected.size()));
    QCOMPARE(client.take(), expected);
    QCOMPARE(device.memory(0x1000000, 0x100), first);
    QCOMPARE(device.memory(0, 0x80), second);
    const QList<sim::BlockRecord> records = device.receivedBlocks();
    QCOMPARE(records.size(), 2);
    QCOMPARE(records[0].index, 0);
    QCOMPARE(records[1].index, 1);
    QCOMPARE(records[1].address, 0u);
    QCOMPARE(device.nextBlockIndex(), 2);
}

void TestSimulator::disconnectMidBlockDiscardsIt()
{
    DeviceSimulator device;
    QSignalSpy disconnected(&device, &DeviceSimulator::clientDisconnected);
    QSignalSpy log(&device, &DeviceSimulator::logMessage);
    {
        Client client;
        QVERIFY(startWithClient(device, client));
        QVERIFY(client.exchange(announce(0x1000000, 0x100), sizeReply(0x100).size()));
        client.send(randomBytes(0x80, 21));
        QVERIFY(QTest::qWaitFor(
                [&] { return device.counters().bytesReceived >= announce(0, 0x100).size() + 0x80; },
                WaitMs));
        client.socket.disconnectFromHost();
        QVERIFY(disconnected.wait(WaitMs));
    }
    QVERIFY(!device.hasClient());
    QVERIFY(!device.isReceivingBlock());
    QCOMPARE(device.counters().blocksDiscarded, 1);
    QCOMPARE(device.counters().blocksReceived, 0);
    QVERIFY(device.receivedBlocks().isEmpty());
    QCOMPARE(device.memory(0x1000000, 0x100), erased(0x100));
    QVERIFY(logContains(log, QStringLiteral("discarded")));

    // The next connection starts in command mode.
    Client next;
    QVERIFY(next.connectTo(device));
    QVERIFY(next.exchange("ReqVer\r", VersionReply.size()));
    QCOMPARE(next.take(), VersionReply);
}

void TestSimulator::newConnectionReplacesOld()
{
    DeviceSimulator device;
    QSignalSpy connected(&device, &DeviceSimulator::clientConnected);
    QSignalSpy disconnected(&device, &DeviceSimulator::clientDisconnected);
    Client first;
    QVERIFY(startWithClient(device, first));
    first.send("Req");
    QVERIFY(QTest::qWaitFor([&] { return device.counters().bytesReceived == 3; }, WaitMs));

    Client second;
    QVERIFY(second.connectTo(device));
    QVERIFY(QTest::qWaitFor([&] { return connected.size() == 2; }, WaitMs));
    QVERIFY(QTest::qWaitFor(
            [&] { return first.socket.state() == QAbstractSocket::UnconnectedState; }, WaitMs));
    QCOMPARE(disconnected.size(), 1);
    QVERIFY(device.hasClient());
    QCOMPARE(device.counters().connections, 2);

    // The old partial line went with the old connection.
    QVERIFY(second.exchange("Ver\rReqVer\r", VersionReply.size()));
    QCOMPARE(second.take(), VersionReply);
    QCOMPARE(device.receivedCommands(), (QList<QByteArray>{ "Ver", "ReqVer" }));
    QVERIFY(first.received.isEmpty());
}

void TestSimulator::versionAfterDownload_data()
{
    QTest::addColumn<QByteArray>("blockReply"); // empty: the announce without its block
    QTest::addColumn<QByteArray>("versionAfter");

    QTest::newRow("block written") << QByteArray("Result:1") << QByteArray("2.10");
    QTest::newRow("block refused") << QByteArray("Result:0") << QByteArray("2.00");
    QTest::newRow("announce without its block") << QByteArray() << QByteArray("2.00");
}

void TestSimulator::versionAfterDownload()
{
    QFETCH(QByteArray, blockReply);
    QFETCH(QByteArray, versionAfter);

    DeviceSimulator device;
    device.setVersionAfterDownload("2.10");
    device.setBlockReply(0, blockReply.isEmpty() ? QByteArray("Result:1") : blockReply);
    {
        Client flashing;
        QVERIFY(startWithClient(device, flashing));
        QVERIFY(flashing.exchange(announce(0x1000000, 0x40), sizeReply(0x40).size()));
        if (!blockReply.isEmpty()) {
            QVERIFY(flashing.exchange(randomBytes(0x40, 51), 15 + blockReply.size()));
            // The image runs only once the connection that brought it is over.
            QVERIFY(flashing.exchange("ReqVer\r", VersionReply.size()));
            QVERIFY(flashing.take().endsWith(VersionReply));
        }
    }
    for (int connection = 0; connection < 2; ++connection) {
        Client next;
        QVERIFY(next.connectTo(device));
        QVERIFY(next.exchange("ReqVer\r", 14 + versionAfter.size()));
        QCOMPARE(next.take(), "ACK_REQ_VER:" + versionAfter + "\r\n");
    }
}

void TestSimulator::overlongLines_data()
{
    QTest::addColumn<int>("lineLength");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<bool>("kept");

    QTest::newRow("4096 bytes, one write") << 4096 << 100000 << true;
    QTest::newRow("4096 bytes, pieces") << 4096 << 1000 << true;
    QTest::newRow("4097 bytes, one write") << 4097 << 100000 << false;
    QTest::newRow("4097 bytes, pieces") << 4097 << 1000 << false;
    QTest::newRow("64 KiB, pieces") << 65536 << 4000 << false;
}

void TestSimulator::overlongLines()
{
    QFETCH(int, lineLength);
    QFETCH(int, chunk);
    QFETCH(bool, kept);

    DeviceSimulator device;
    Client client;
    QVERIFY(startWithClient(device, client));

    // A long run of commands without their CRs: nothing of it may be obeyed.
    const QByteArray line = QByteArray("ReqVer").repeated(lineLength / 6 + 1).left(lineLength);
    const QByteArray script = line + "\rReqMAC_ADR\r";
    for (qsizetype at = 0; at < script.size(); at += chunk) {
        client.send(script.mid(at, chunk));
        const qint64 target = at + qMin<qsizetype>(chunk, script.size() - at);
        QVERIFY(QTest::qWaitFor([&] { return device.counters().bytesReceived >= target; }, WaitMs));
    }
    QVERIFY(client.waitForBytes(MacReply.size()));
    QCOMPARE(client.received, MacReply);
    QCOMPARE(device.counters().linesDiscarded, kept ? 0 : 1);
    const QList<QByteArray> commands = device.receivedCommands();
    QCOMPARE(commands.size(), kept ? 2 : 1);
    if (kept)
        QCOMPARE(commands.first(), line);
    QCOMPARE(commands.constLast(), QByteArray("ReqMAC_ADR"));
}

void TestSimulator::randomInputLeavesDeviceWorking()
{
    DeviceSimulator device;
    Client client;
    QVERIFY(startWithClient(device, client));

    const QByteArray noise = randomBytes(0x10000, 99);
    QRandomGenerator rng(100);
    qsizetype at = 0;
    while (at < noise.size()) {
        const qsizetype piece = qsizetype(rng.bounded(1u, 3000u));
        client.send(noise.mid(at, piece));
        at += piece;
    }
    QVERIFY(QTest::qWaitFor([&] { return device.counters().bytesReceived == noise.size(); },
                            WaitMs));
    QVERIFY(!device.isReceivingBlock());
    QVERIFY(device.hasClient());
    client.take();
    QVERIFY(client.exchange("\rReqVer\r", VersionReply.size()));
    QCOMPARE(client.take(), VersionReply);
}

void TestSimulator::listenRefusesNonLoopback_data()
{
    QTest::addColumn<QHostAddress>("address");
    QTest::newRow("the tool's default device address")
            << QHostAddress(QStringLiteral("192.168.0.1"));
    QTest::newRow("private address") << QHostAddress(QStringLiteral("10.0.0.1"));
    QTest::newRow("any IPv4") << QHostAddress(QHostAddress::AnyIPv4);
    QTest::newRow("any") << QHostAddress(QHostAddress::Any);
    QTest::newRow("any IPv6") << QHostAddress(QHostAddress::AnyIPv6);
}

void TestSimulator::listenRefusesNonLoopback()
{
    QFETCH(QHostAddress, address);
    DeviceSimulator device;
    QVERIFY(!device.allowRemote());
    QVERIFY(!device.listen(address, 0));
    QVERIFY(!device.isListening());
    QVERIFY(device.errorString().contains(QStringLiteral("loopback")));

    QVERIFY(device.listen(QHostAddress::LocalHost, 0));
    QVERIFY(device.isListening());
    QVERIFY(device.serverPort() != 0);
    QVERIFY(device.errorString().isEmpty());
}

void TestSimulator::allowRemoteLiftsTheRefusal()
{
    // A documentation address that no host here has: binding fails, but for the socket's
    // reason, not the simulator's refusal. Nothing is sent anywhere.
    DeviceSimulator device;
    device.setAllowRemote(true);
    const bool listening = device.listen(QHostAddress(QStringLiteral("192.0.2.1")), 0);
    if (listening)
        device.close();
    else
        QVERIFY(!device.errorString().isEmpty());
    QVERIFY(!device.errorString().contains(QStringLiteral("loopback")));
}

void TestSimulator::signalsAndCounters()
{
    DeviceSimulator device;
    QSignalSpy connected(&device, &DeviceSimulator::clientConnected);
    QSignalSpy disconnected(&device, &DeviceSimulator::clientDisconnected);
    QSignalSpy commands(&device, &DeviceSimulator::commandReceived);
    QSignalSpy replies(&device, &DeviceSimulator::replySent);
    Client client;
    QVERIFY(startWithClient(device, client));
    QCOMPARE(connected.size(), 1);

    const QByteArray block = randomBytes(0x10, 31);
    const QByteArray expected = "ACK_SET_MAC:0\r\n" + sizeReply(0x10) + ResultOk + VersionReply;
    QVERIFY(client.exchange("SetMAC_ADR(x)\rFoo\r" + announce(0x1000000, 0x10) + block + "ReqVer\r",
                            expected.size()));
    QCOMPARE(client.take(), expected);

    QCOMPARE(commands.size(), 4);
    QCOMPARE(commands[0][0].toByteArray(), QByteArray("SetMAC_ADR(x)"));
    QCOMPARE(commands[1][0].toByteArray(), QByteArray("Foo"));
    QCOMPARE(replies.size(), 4);
    QCOMPARE(replies[1][0].toByteArray(), sizeReply(0x10));
    QCOMPARE(replies[2][0].toByteArray(), ResultOk);

    const sim::SimulatorCounters c = device.counters();
    QCOMPARE(c.connections, 1);
    QCOMPARE(c.commands, 4);
    QCOMPARE(c.unknownCommands, 1);
    QCOMPARE(c.malformedCommands, 0);
    QCOMPARE(c.repliesSent, 4);
    QCOMPARE(c.blocksReceived, 1);
    QCOMPARE(c.bytesSent, expected.size());

    device.clearRecords();
    QCOMPARE(device.counters().commands, 0);
    QVERIFY(device.receivedCommands().isEmpty());
    QVERIFY(device.receivedBlocks().isEmpty());
    QCOMPARE(device.nextBlockIndex(), 0);

    client.socket.disconnectFromHost();
    QVERIFY(QTest::qWaitFor([&] { return disconnected.size() == 1; }, WaitMs));
    QVERIFY(!device.hasClient());
}

// --- Faults ---

void TestSimulator::replyDelay()
{
    DeviceSimulator device;
    device.setReplyDelay(300);
    Client client;
    QVERIFY(startWithClient(device, client));

    QElapsedTimer clock;
    clock.start();
    client.send("ReqVer\rReqMAC_ADR\r");
    // Not one byte before the delay is over.
    QVERIFY(client.waitForBytes(1));
    const qint64 elapsed = clock.elapsed();
    QVERIFY(client.waitForBytes(VersionReply.size() + MacReply.size()));
    QCOMPARE(client.received, VersionReply + MacReply);
    QVERIFY2(elapsed >= 290 && elapsed < 2500, QByteArray::number(elapsed).constData());
}

void TestSimulator::splitReply()
{
    DeviceSimulator device;
    device.setReplySplit(5, 200);
    QSignalSpy writes(&device, &DeviceSimulator::dataSent);
    QSignalSpy replies(&device, &DeviceSimulator::replySent);
    Client client;
    QVERIFY(startWithClient(device, client));

    client.send("ReqVer\r");
    QVERIFY(client.waitForBytes(1));
    QElapsedTimer gap;
    gap.start();
    QCOMPARE(client.reads.size(), 1);
    QCOMPARE(client.reads[0], QByteArray("ACK_R"));
    QVERIFY(client.waitForBytes(VersionReply.size()));
    QVERIFY2(gap.elapsed() >= 150, QByteArray::number(gap.elapsed()).constData());
    QCOMPARE(client.reads.size(), 2);
    QCOMPARE(client.reads[1], VersionReply.mid(5));
    QCOMPARE(writes.size(), 2);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies[0][0].toByteArray(), VersionReply);

    // A reply no longer than the split point goes out whole.
    device.setReplySplit(int(VersionReply.size()), 200);
    client.take();
    QVERIFY(client.exchange("ReqVer\r", VersionReply.size()));
    QCOMPARE(client.reads, QList<QByteArray>{ VersionReply });
}

void TestSimulator::oneByteSegments()
{
    DeviceSimulator device;
    device.setOneByteSegments(true, 30);
    QSignalSpy writes(&device, &DeviceSimulator::dataSent);
    Client client;
    QVERIFY(startWithClient(device, client));

    QVERIFY(client.exchange("ReqVer\r", VersionReply.size()));
    QCOMPARE(client.received, VersionReply);
    QCOMPARE(writes.size(), VersionReply.size());
    QCOMPARE(client.reads.size(), VersionReply.size());
    for (const QByteArray &read : std::as_const(client.reads))
        QCOMPARE(read.size(), 1);
}

void TestSimulator::blockReplyFault_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<bool>("written");

    QTest::newRow("Result:0") << QByteArray("Result:0") << QByteArray("ACK_DOWNLOAD:Result:0\r\n")
                              << false;
    QTest::newRow("Error text") << QByteArray("Error:Flash Write")
                                << QByteArray("ACK_DOWNLOAD:Error:Flash Write\r\n") << false;
    QTest::newRow("result withheld") << QByteArray() << QByteArray() << true;
}

void TestSimulator::blockReplyFault()
{
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, result);
    QFETCH(bool, written);

    DeviceSimulator device;
    device.setBlockReply(1, payload);
    Client client;
    QVERIFY(startWithClient(device, client));

    for (quint32 n = 0; n < 3; ++n) {
        const quint32 address = 0x1000000 + n * 0x40;
        const QByteArray data = randomBytes(0x40, 40 + n);
        QVERIFY(client.exchange(announce(address, 0x40), sizeReply(0x40).size()));
        QCOMPARE(client.take(), sizeReply(0x40));
        // The version request behind the block shows whatever came (or didn't) before it.
        const QByteArray expected = (n == 1 ? result : ResultOk) + VersionReply;
        QVERIFY(client.exchange(data + "ReqVer\r", expected.size()));
        QCOMPARE(client.take(), expected);
        const bool stored = n != 1 || written;
        QCOMPARE(device.memory(address, 0x40), stored ? data : erased(0x40));
    }
    const QList<sim::BlockRecord> records = device.receivedBlocks();
    QCOMPARE(records.size(), 3);
    QCOMPARE(records[1].reply, payload);
    QCOMPARE(records[1].written, written);
    QCOMPARE(records[2].reply, QByteArray("Result:1"));
}

void TestSimulator::ignoredAnnounce()
{
    DeviceSimulator device;
    device.setIgnoredAnnounce(1);
    Client client;
    QVERIFY(startWithClient(device, client));

    const QByteArray data = randomBytes(0x20, 50);
    QByteArray expected = sizeReply(0x20) + ResultOk;
    QVERIFY(client.exchange(announce(0x1000000, 0x20) + data, expected.size()));
    QCOMPARE(client.take(), expected);

    // Ignored: no reply, still in command mode.
    QVERIFY(client.exchange(announce(0x1000020, 0x20) + "ReqVer\r", VersionReply.size()));
    QCOMPARE(client.take(), VersionReply);
    QVERIFY(!device.isReceivingBlock());
    QCOMPARE(device.counters().announcesIgnored, 1);

    // The next announce is block 2 and is taken.
    QVERIFY(client.exchange(announce(0x1000020, 0x20) + data, expected.size()));
    QCOMPARE(client.take(), expected);
    const QList<sim::BlockRecord> records = device.receivedBlocks();
    QCOMPARE(records.size(), 2);
    QCOMPARE(records[0].index, 0);
    QCOMPARE(records[1].index, 2);
    QCOMPARE(device.memory(0x1000020, 0x20), data);
}

void TestSimulator::dropReplies()
{
    DeviceSimulator device;
    device.dropReplies(2);
    Client client;
    QVERIFY(startWithClient(device, client));

    // The unknown command has no reply to drop, so it doesn't count.
    QVERIFY(client.exchange("ReqVer\rHello\rSetMAC_ADR(112233445566)\rReqIP_ADR\rReqVer\r",
                            IpReply.size() + VersionReply.size()));
    QCOMPARE(client.take(), IpReply + VersionReply);
    QCOMPARE(device.counters().repliesDropped, 2);
    QCOMPARE(device.repliesToDrop(), 0);
    // A dropped reply doesn't undo the command.
    QCOMPARE(device.macAddress(), QByteArray("112233445566"));
}

void TestSimulator::droppedSizeReplyStillTakesBlock()
{
    DeviceSimulator device;
    device.dropReplies(1);
    Client client;
    QVERIFY(startWithClient(device, client));

    client.send(announce(0x1000000, 0x10));
    QVERIFY(QTest::qWaitFor([&] { return device.isReceivingBlock(); }, WaitMs));
    const QByteArray data = randomBytes(0x10, 60);
    QVERIFY(client.exchange(data, ResultOk.size()));
    QCOMPARE(client.take(), ResultOk);
    QCOMPARE(device.memory(0x1000000, 0x10), data);
}

void TestSimulator::closeAfterCommands_data()
{
    QTest::addColumn<DeviceSimulator::CloseMode>("mode");
    QTest::newRow("graceful") << DeviceSimulator::CloseMode::Graceful;
    QTest::newRow("reset") << DeviceSimulator::CloseMode::Reset;
}

void TestSimulator::closeAfterCommands()
{
#ifndef Q_OS_UNIX
    QSKIP("tells FIN from RST with a plain POSIX socket");
#else
    QFETCH(DeviceSimulator::CloseMode, mode);

    DeviceSimulator device;
    QSignalSpy disconnected(&device, &DeviceSimulator::clientDisconnected);
    device.closeAfterCommands(2, mode);
    QVERIFY(device.listen(QHostAddress::LocalHost));

    // A plain socket, because it tells a reset from an orderly close.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    const std::unique_ptr<int, void (*)(int *)> closer(new int(fd), [](int *p) {
        ::close(*p);
        delete p;
    });
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = qToBigEndian(device.serverPort());
    peer.sin_addr.s_addr = qToBigEndian(quint32(0x7F000001));
    QCOMPARE(::connect(fd, reinterpret_cast<const sockaddr *>(&peer), sizeof peer), 0);
    timeval timeout{};
    timeout.tv_sec = 3;
    QCOMPARE(::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout), 0);

    const QByteArray commands = QByteArrayLiteral("ReqVer\rReqMAC_ADR\rReqIP_ADR\r");
    const ssize_t sent = ::send(fd, commands.constData(), size_t(commands.size()), 0);
    QCOMPARE(sent, commands.size());
    QVERIFY(disconnected.wait(WaitMs));

    QByteArray received;
    char buffer[256];
    ssize_t n = 0;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        received.append(buffer, n);
    const int error = n < 0 ? errno : 0;

    QCOMPARE(received, VersionReply + MacReply);
    if (mode == DeviceSimulator::CloseMode::Graceful)
        QCOMPARE(n, ssize_t(0));
    else
        QCOMPARE(error, ECONNRESET);
    QCOMPARE(device.receivedCommands(), (QList<QByteArray>{ "ReqVer", "ReqMAC_ADR" }));

    // Once only: the next connection stays open past two commands.
    Client client;
    QVERIFY(client.connectTo(device));
    QVERIFY(client.exchange("ReqVer\rReqVer\rReqVer\r", 3 * VersionReply.size()));
    QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
#endif
}

void TestSimulator::garbagePrefix()
{
    DeviceSimulator device;
    const QByteArray garbage("\0\xFFjunk", 6);
    device.setReplyGarbage(garbage);
    Client client;
    QVERIFY(startWithClient(device, client));

    const QByteArray expected =
            garbage + VersionReply + garbage + sizeReply(4) + garbage + ResultOk;
    QVERIFY(client.exchange("ReqVer\r" + announce(0, 4) + "\r\n\r\n", expected.size()));
    QCOMPARE(client.take(), expected);
}

void TestSimulator::unsolicitedReply()
{
    DeviceSimulator device;
    QVERIFY(!device.sendUnsolicited("ACK_DOWNLOAD:Result:1"));
    Client client;
    QVERIFY(startWithClient(device, client));

    QVERIFY(device.sendUnsolicited("ACK_DOWNLOAD:Result:1"));
    QVERIFY(client.waitForBytes(ResultOk.size()));
    QCOMPARE(client.take(), ResultOk);
    QCOMPARE(device.counters().commands, 0);

    // It queues behind a reply still being delayed rather than cutting into it.
    device.setReplyDelay(100);
    device.setOneByteSegments(true, 1);
    client.send("ReqVer\r");
    QVERIFY(QTest::qWaitFor([&] { return device.counters().commands == 1; }, WaitMs));
    QVERIFY(device.sendUnsolicited("ACK_UPLOAD:x"));
    const QByteArray expected = VersionReply + QByteArrayLiteral("ACK_UPLOAD:x\r\n");
    QVERIFY(client.waitForBytes(expected.size()));
    QCOMPARE(client.take(), expected);
}

void TestSimulator::unsolicitedOnConnect()
{
    DeviceSimulator device;
    device.setUnsolicitedOnConnect("ACK_REQ_VER:9.99", 100);
    QVERIFY(device.listen(QHostAddress::LocalHost));
    Client client;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(client.connectTo(device));
    QVERIFY(client.waitForBytes(18));
    QVERIFY2(clock.elapsed() >= 80, QByteArray::number(clock.elapsed()).constData());
    QCOMPARE(client.take(), QByteArray("ACK_REQ_VER:9.99\r\n"));

    device.clearFaults();
    Client other;
    QVERIFY(other.connectTo(device));
    QVERIFY(other.exchange("ReqVer\r", VersionReply.size()));
    QCOMPARE(other.take(), VersionReply);
}

void TestSimulator::sendRawIsExact()
{
    DeviceSimulator device;
    device.setReplyGarbage("zz");
    Client client;
    QVERIFY(startWithClient(device, client));
    const QByteArray raw("ACK_SET_IP:1\nACK_REQ_VER:2\n\0", 28);
    QVERIFY(device.sendRaw(raw));
    QVERIFY(client.waitForBytes(raw.size()));
    QCOMPARE(client.take(), raw);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
