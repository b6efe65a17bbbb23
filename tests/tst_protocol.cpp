#include "protocol/Commands.h"
#include "protocol/Replies.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// The lines one chunk completes, copied while they are valid.
QList<QByteArray> feed(protocol::LineAssembler &assembler, QByteArrayView chunk)
{
    QList<QByteArrayView> views;
    assembler.Feed(chunk, views);
    QList<QByteArray> lines;
    for (const QByteArrayView view : std::as_const(views))
        lines.append(view.toByteArray());
    return lines;
}

} // namespace

using protocol::ReplyKind;

Q_DECLARE_METATYPE(QList<QByteArray>)

class TestProtocol final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void setIpCommand_data();
    void setIpCommand();
    void fixedCommands_data();
    void fixedCommands();
    void downloadCommand_data();
    void downloadCommand();
    void wireTextIsByteTransparent();
    void trim_data();
    void trim();
    void commaText_data();
    void commaText();
    void downloadTranslation_data();
    void downloadTranslation();
    void matchReply_data();
    void matchReply();
    void assemblerKeepsLinesWhateverTheCuts_data();
    void assemblerKeepsLinesWhateverTheCuts();
    void assemblerDropsOverlongLines();
};

void TestProtocol::setIpCommand_data()
{
    QTest::addColumn<QList<QByteArray>>("fields");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("example")
            << QList<QByteArray>{ "192.168.0.10", "192.168.0.20", "255.255.255.0", "192.168.0.254",
                                  "239.0.0.1" }
            << QByteArray("SetIP_ADR(192.168.0.10,192.168.0.20,255.255.255.0,192.168.0.254,"
                          "239.0.0.1)\r");
    // Only the emptiness check trims: blanks the engineer typed go out as typed.
    QTest::newRow("blanks kept") << QList<QByteArray>{ "192.168.0.10 ", " 1.2.3.4", "a", "b", "c" }
                                 << QByteArray("SetIP_ADR(192.168.0.10 , 1.2.3.4,a,b,c)\r");
    QTest::newRow("bytes above 0x7f unchanged")
            << QList<QByteArray>{ "\xE9", "\xFF", "\x80", "x", "y" }
            << QByteArray("SetIP_ADR(\xE9,\xFF,\x80,x,y)\r");
    QTest::newRow("commas inside a field are not escaped")
            << QList<QByteArray>{ "1,2", "3", "4", "5", "6" }
            << QByteArray("SetIP_ADR(1,2,3,4,5,6)\r");
}

void TestProtocol::setIpCommand()
{
    QFETCH(QList<QByteArray>, fields);
    QFETCH(QByteArray, expected);
    QCOMPARE(protocol::SetIpAddressCommand(fields[0], fields[1], fields[2], fields[3], fields[4]),
             expected);
}

void TestProtocol::fixedCommands_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("read addresses") << protocol::ReqIpAddressCommand() << QByteArray("ReqIP_ADR\r");
    QTest::newRow("read MAC") << protocol::ReqMacAddressCommand() << QByteArray("ReqMAC_ADR\r");
    QTest::newRow("read version") << protocol::ReqVersionCommand() << QByteArray("ReqVer\r");
    QTest::newRow("set MAC example") << protocol::SetMacAddressCommand("00A0B1C2D3E4")
                                     << QByteArray("SetMAC_ADR(00A0B1C2D3E4)\r");
    // Upper-casing is the window's business; the command carries what it is given.
    QTest::newRow("set MAC lower case passes through")
            << protocol::SetMacAddressCommand("00a0b1") << QByteArray("SetMAC_ADR(00a0b1)\r");
    QTest::newRow("set MAC blanks kept")
            << protocol::SetMacAddressCommand(" 00A0 ") << QByteArray("SetMAC_ADR( 00A0 )\r");
    QTest::newRow("set MAC empty")
            << protocol::SetMacAddressCommand("") << QByteArray("SetMAC_ADR()\r");
}

void TestProtocol::fixedCommands()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, expected);
    QCOMPARE(command, expected);
    // Exactly one CR, no LF, no NUL.
    QCOMPARE(command.count('\r'), 1);
    QVERIFY(!command.contains('\n'));
    QVERIFY(!command.contains('\0'));
}

void TestProtocol::downloadCommand_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("full block") << 0x1000000u << 0x20000u
                                << QByteArray("Download(0x01000000,0x20000)\r");
    QTest::newRow("last block, no padding, lower case")
            << 0x1000000u << 0x1a0u << QByteArray("Download(0x01000000,0x1a0)\r");
    QTest::newRow("address 0") << 0u << 0x20000u << QByteArray("Download(0x00000000,0x20000)\r");
    QTest::newRow("length 1") << 0x20000u << 1u << QByteArray("Download(0x00020000,0x1)\r");
    QTest::newRow("length 0") << 0u << 0u << QByteArray("Download(0x00000000,0x0)\r");
    QTest::newRow("hex letters lower case")
            << 0xABCDEF01u << 0xFFFFu << QByteArray("Download(0xabcdef01,0xffff)\r");
    QTest::newRow("largest values")
            << 0xFFFFFFFFu << 0xFFFFFFFFu << QByteArray("Download(0xffffffff,0xffffffff)\r");
}

void TestProtocol::downloadCommand()
{
    QFETCH(quint32, address);
    QFETCH(quint32, length);
    QFETCH(QByteArray, expected);
    QCOMPARE(protocol::DownloadCommand(address, length), expected);
}

void TestProtocol::wireTextIsByteTransparent()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    QCOMPARE(protocol::ToWire(protocol::FromWire(all)), all);
    QCOMPARE(protocol::FromWire("\xE9").front(), QChar(0xE9));
}

void TestProtocol::trim_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("nothing to trim") << QByteArray("2.00") << QByteArray("2.00");
    QTest::newRow("blanks and controls at both ends")
            << QByteArray(" \t\r\n\x01 2.00 \r\n\x1f ") << QByteArray("2.00");
    QTest::newRow("inside kept") << QByteArray(" a \t b ") << QByteArray("a \t b");
    QTest::newRow("NUL counts as blank") << QByteArray("\0x\0", 3) << QByteArray("x");
    QTest::newRow("code 33 stays") << QByteArray("!x!") << QByteArray("!x!");
    QTest::newRow("bytes above 0x7f stay") << QByteArray("\xA0x\xFF") << QByteArray("\xA0x\xFF");
    QTest::newRow("only blanks") << QByteArray(" \r\n") << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestProtocol::trim()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(protocol::Trim(input), expected);
    QCOMPARE(protocol::Trim(protocol::FromWire(input)), protocol::FromWire(expected));
}

void TestProtocol::commaText_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QList<QByteArray>>("items");

    using L = QList<QByteArray>;
    QTest::newRow("five items") << QByteArray("1.1.1.1,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5")
                                << L{ "1.1.1.1", "2.2.2.2", "3.3.3.3", "4.4.4.4", "5.5.5.5" };
    QTest::newRow("blank after comma makes no item")
            << QByteArray("192.168.0.10, 192.168.0.20,255.255.255.0")
            << L{ "192.168.0.10", "192.168.0.20", "255.255.255.0" };
    QTest::newRow("blanks as separators") << QByteArray("a b\tc") << L{ "a", "b", "c" };
    QTest::newRow("blanks and commas together") << QByteArray("a , b ,c") << L{ "a", "b", "c" };
    QTest::newRow("empty item between commas") << QByteArray("a,,c") << L{ "a", "", "c" };
    QTest::newRow("trailing comma adds one empty item") << QByteArray("a,b,") << L{ "a", "b", "" };
    QTest::newRow("trailing comma and blanks are trimmed first")
            << QByteArray("a,b, \r") << L{ "a", "b", "" };
    QTest::newRow("leading comma") << QByteArray(",a") << L{ "", "a" };
    QTest::newRow("lone comma") << QByteArray(",") << L{ "", "" };
    QTest::newRow("trailing CR trimmed") << QByteArray("a,b\r") << L{ "a", "b" };
    QTest::newRow("controls at both ends") << QByteArray("\r\n a,b \x01") << L{ "a", "b" };
    QTest::newRow("quoted item keeps separators") << QByteArray("\"a, b\",c") << L{ "a, b", "c" };
    QTest::newRow("doubled quote") << QByteArray("\"a\"\"b\",c") << L{ "a\"b", "c" };
    QTest::newRow("unterminated quote runs to the end") << QByteArray("\"abc") << L{ "abc" };
    QTest::newRow("text right after a quoted item") << QByteArray("\"a\"b") << L{ "a", "b" };
    QTest::newRow("empty quoted item") << QByteArray("\"\",x") << L{ "", "x" };
    QTest::newRow("six items") << QByteArray("1,2,3,4,5,6") << L{ "1", "2", "3", "4", "5", "6" };
    QTest::newRow("empty payload") << QByteArray() << L{};
    QTest::newRow("blank payload") << QByteArray(" \r") << L{};
    QTest::newRow("high bytes are item text") << QByteArray("\xE9\xA0,x") << L{ "\xE9\xA0", "x" };
}

void TestProtocol::commaText()
{
    QFETCH(QByteArray, payload);
    QFETCH(QList<QByteArray>, items);
    QCOMPARE(protocol::SplitCommaText(payload), items);
}

void TestProtocol::downloadTranslation_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("size") << QByteArray("Size:131072\r") << QByteArray() << QByteArray("SizeOK");
    QTest::newRow("size anywhere") << QByteArray("xxSize:") << QByteArray() << QByteArray("SizeOK");
    QTest::newRow("result 1") << QByteArray("Result:1\r") << QByteArray() << QByteArray("Complete");
    QTest::newRow("result 10") << QByteArray("Result:10") << QByteArray() << QByteArray("Complete");
    QTest::newRow("result 0 keeps the CR")
            << QByteArray("Result:0\r") << QByteArray() << QByteArray("Failed:0\r");
    QTest::newRow("result empty") << QByteArray("Result:") << QByteArray() << QByteArray("Failed:");
    QTest::newRow("first result counts")
            << QByteArray("Result:0 Result:1") << QByteArray() << QByteArray("Failed:0 Result:1");
    QTest::newRow("error") << QByteArray("Error:Flash\r") << QByteArray()
                           << QByteArray("Error:Flash\r");
    QTest::newRow("size then result: the later test wins")
            << QByteArray("Size:1 Result:1") << QByteArray() << QByteArray("Complete");
    QTest::newRow("result then error: error wins")
            << QByteArray("Result:1 Error:x") << QByteArray() << QByteArray("Error:x");
    QTest::newRow("error before result in the text still wins")
            << QByteArray("Error:x Result:1") << QByteArray() << QByteArray("Error:x Result:1");
    QTest::newRow("no key leaves it unchanged")
            << QByteArray("hello\r") << QByteArray("SizeOK") << QByteArray("SizeOK");
    QTest::newRow("empty payload leaves it unchanged")
            << QByteArray() << QByteArray("Complete") << QByteArray("Complete");
    QTest::newRow("keys are case-sensitive")
            << QByteArray("size:1 result:1 error:1") << QByteArray("x") << QByteArray("x");
}

void TestProtocol::downloadTranslation()
{
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, expected);
    QCOMPARE(protocol::TranslateDownloadReply(payload, before), expected);
}

void TestProtocol::matchReply_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("kind"); // -1: no handler
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("CR stays in the payload")
            << QByteArray("ACK_SET_IP:1\r\n") << 0 << QByteArray("1\r");
    QTest::newRow("no LF, no reply") << QByteArray("ACK_SET_IP:1") << -1 << QByteArray();
    QTest::newRow("LF first: empty line") << QByteArray("\nACK_SET_IP:1") << -1 << QByteArray();
    QTest::newRow("prefix alone") << QByteArray("ACK_REQ_VER:\n") << 4 << QByteArray();
    QTest::newRow("upload recognised")
            << QByteArray("ACK_UPLOAD:anything\n") << 5 << QByteArray("anything");
    QTest::newRow("text before the prefix ignored")
            << QByteArray("xyzACK_REQ_VER:1.05\n") << 4 << QByteArray("1.05");
    QTest::newRow("garbage before MAC")
            << QByteArray("\x01\xFF#ACK_REQ_MAC:00A0\r\n") << 3 << QByteArray("00A0\r");
    QTest::newRow("table order beats position")
            << QByteArray("ACK_REQ_VER:x ACK_SET_IP:1\n") << 0 << QByteArray("1");
    QTest::newRow("download line holding a set reply")
            << QByteArray("ACK_DOWNLOAD:Size:1 ACK_SET_IP:0 tail\n") << 0 << QByteArray("0 tail");
    QTest::newRow("second copy of the prefix stays in the payload")
            << QByteArray("ACK_REC_IP:a ACK_REC_IP:b\n") << 1 << QByteArray("a ACK_REC_IP:b");
    QTest::newRow("second line never seen")
            << QByteArray("ACK_SET_IP:1\nACK_REQ_VER:2.00\n") << 0 << QByteArray("1");
    QTest::newRow("unknown first line, known second line")
            << QByteArray("hello\nACK_SET_IP:1\n") << -1 << QByteArray();
    QTest::newRow("case-sensitive") << QByteArray("ack_set_ip:1\n") << -1 << QByteArray();
    QTest::newRow("text ends at NUL") << QByteArray("ACK_SET_IP:1\0\n", 14) << -1 << QByteArray();
    QTest::newRow("every kind: set MAC") << QByteArray("ACK_SET_MAC:0\n") << 2 << QByteArray("0");
    QTest::newRow("every kind: read addresses")
            << QByteArray("ACK_REC_IP:1,2\n") << 1 << QByteArray("1,2");
    QTest::newRow("every kind: download")
            << QByteArray("ACK_DOWNLOAD:Result:1\r\n") << 6 << QByteArray("Result:1\r");
    QTest::newRow("empty text") << QByteArray() << -1 << QByteArray();
}

void TestProtocol::matchReply()
{
    QFETCH(QByteArray, text);
    QFETCH(int, kind);
    QFETCH(QByteArray, payload);
    const std::optional<protocol::Reply> reply = protocol::MatchReply(text);
    if (kind < 0) {
        QVERIFY(!reply.has_value());
        return;
    }
    QVERIFY(reply.has_value());
    QCOMPARE(static_cast<int>(reply->kind), kind);
    QCOMPARE(reply->payload, payload);
}

void TestProtocol::assemblerKeepsLinesWhateverTheCuts_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("lines");

    QTest::newRow("two replies") << QByteArray("ACK_SET_IP:1\r\nACK_REQ_VER:2.00\r\n")
                                 << QList<QByteArray>{ "ACK_SET_IP:1\r\n", "ACK_REQ_VER:2.00\r\n" };
    QTest::newRow("unfinished tail held back")
            << QByteArray("ACK_SET_IP:1\r\nACK_REQ") << QList<QByteArray>{ "ACK_SET_IP:1\r\n" };
    QTest::newRow("empty lines are lines")
            << QByteArray("\n\nx\n") << QList<QByteArray>{ "\n", "\n", "x\n" };
    QTest::newRow("binary bytes") << QByteArray("\x00\xFF\r\n", 4)
                                  << QList<QByteArray>{ QByteArray("\x00\xFF\r\n", 4) };
}

void TestProtocol::assemblerKeepsLinesWhateverTheCuts()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<QByteArray>, lines);

    // Every single cut point, one byte at a time, and random cuts.
    QList<QList<qsizetype>> cuttings;
    for (qsizetype cut = 0; cut <= stream.size(); ++cut)
        cuttings.append(QList<qsizetype>{ cut });
    QList<qsizetype> everyByte;
    for (qsizetype i = 1; i < stream.size(); ++i)
        everyByte.append(i);
    cuttings.append(everyByte);
    QRandomGenerator random(1234);
    for (int round = 0; round < 50; ++round) {
        QList<qsizetype> cuts;
        for (qsizetype i = 1; i < stream.size(); ++i) {
            if (random.bounded(4) == 0)
                cuts.append(i);
        }
        cuttings.append(cuts);
    }

    for (const QList<qsizetype> &cuts : std::as_const(cuttings)) {
        protocol::LineAssembler assembler;
        QList<QByteArray> got;
        qsizetype from = 0;
        for (const qsizetype cut : cuts) {
            got += feed(assembler, QByteArrayView(stream).sliced(from, cut - from));
            from = cut;
        }
        got += feed(assembler, QByteArrayView(stream).sliced(from));
        QCOMPARE(got, lines);
        QCOMPARE(assembler.HasPendingLine(), !stream.endsWith('\n') && !stream.isEmpty());
    }
}

void TestProtocol::assemblerDropsOverlongLines()
{
    const qsizetype max = protocol::LineAssembler::MaxLineLength;
    const QByteArray longest(max, 'a');
    const QByteArray tooLong(max + 1, 'b');

    // The longest allowed line passes, in one piece or many.
    protocol::LineAssembler assembler;
    QCOMPARE(feed(assembler, QByteArray(longest + "\n")), QList<QByteArray>{ longest + "\n" });
    QList<QByteArray> got;
    for (qsizetype i = 0; i < longest.size(); i += 1000)
        got += feed(
                assembler,
                QByteArrayView(longest).sliced(i, std::min<qsizetype>(1000, longest.size() - i)));
    got += feed(assembler, "\n");
    QCOMPARE(got, QList<QByteArray>{ longest + "\n" });

    // One byte more: the whole line goes, however it arrives, and the next line is intact.
    QCOMPARE(feed(assembler, QByteArray(tooLong + "\nACK_SET_IP:1\n")),
             QList<QByteArray>{ "ACK_SET_IP:1\n" });
    got.clear();
    for (qsizetype i = 0; i < tooLong.size(); i += 4096) {
        got += feed(
                assembler,
                QByteArrayView(tooLong).sliced(i, std::min<qsizetype>(4096, tooLong.size() - i)));
        QVERIFY(assembler.PendingSize() <= max);
    }
    got += feed(assembler, "tail of the long line\nACK_SET_IP:1\n");
    QCOMPARE(got, QList<QByteArray>{ "ACK_SET_IP:1\n" });
    QVERIFY(!assembler.HasPendingLine());

    // A megabyte without LF never holds more than the limit.
    const QByteArray flood(4096, 'x');
    for (int i = 0; i < 256; ++i) {
        QVERIFY(feed(assembler, flood).isEmpty());
        QVERIFY(assembler.PendingSize() <= max);
    }
    QCOMPARE(feed(assembler, "\nACK_REQ_VER:1\n"), QList<QByteArray>{ "ACK_REQ_VER:1\n" });
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
