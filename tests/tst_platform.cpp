// The platform layer: upper-casing, address checks, socket error codes, paths, message boxes,
// the error box for escaping exceptions, the reply message and the typing limit.
#include "support/TestSupport.h"

#include "platform/AnsiUpper.h"
#include "gui/EditLimit.h"
#include "platform/Inet.h"
#include "platform/ProgramPath.h"
#include "platform/SocketErrors.h"
#include "platform/SocketReset.h"

#include <QClipboard>
#include <QDeadlineTimer>
#include <QDir>
#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <optional>
#include <stdexcept>

using testsupport::MessageBoxRecorder;

Q_DECLARE_METATYPE(platform::SocketPhase)

namespace {

// The bytes Windows-1252 upper-casing changes, and what each becomes, written out by hand.
const QByteArray LowerCase =
        QByteArrayLiteral("abcdefghijklmnopqrstuvwxyz"
                          "\x9A\x9C\x9E"
                          "\xE0\xE1\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9\xEA\xEB\xEC\xED\xEE\xEF"
                          "\xF0\xF1\xF2\xF3\xF4\xF5\xF6"
                          "\xF8\xF9\xFA\xFB\xFC\xFD\xFE"
                          "\xFF");
const QByteArray UpperCase =
        QByteArrayLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                          "\x8A\x8C\x8E"
                          "\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF"
                          "\xD0\xD1\xD2\xD3\xD4\xD5\xD6"
                          "\xD8\xD9\xDA\xDB\xDC\xDD\xDE"
                          "\x9F");

// How a test answers a real message box.
enum class BoxAction {
    Enter,
    Escape,
    Close, // the title-bar close button
    EscapeThenNo,
    CloseThenNo,
    EscapeThenEnter,
};

// What a real box looked like when the test found it.
struct SeenBox
{
    bool seen = false;
    QString title;
    QString text;
    Qt::TextFormat textFormat = Qt::AutoText;
    QString labelText;
    Qt::TextFormat labelFormat = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    bool closeButtonHint = false;
    bool stillOpenAfterFirstKey = false;
    bool leftOpen = false;
};

void pressKey(QMessageBox *box, Qt::Key key)
{
    // Keys go where the window's focus is (the default button), as they would from a keyboard.
    QWidget *target = box->focusWidget() ? box->focusWidget() : box;
    QTest::keyClick(target, key);
}

void closeLeftoverDialogs()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible())
            dialog->done(0);
    }
}

// Shows a real modal box (no handler set) and answers it with `action` from inside its event
// loop. Any box still open after 5 s is closed by force and reported in `seen.leftOpen`.
int showRealBox(unsigned style, const QString &text, const QString &caption, BoxAction action,
                SeenBox &seen)
{
    QTimer poll;
    poll.setInterval(10);
    const QDeadlineTimer deadline(5000);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (deadline.hasExpired()) {
            seen.leftOpen = true;
            closeLeftoverDialogs();
            return;
        }
        if (!box || seen.seen)
            return;
        seen.seen = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.textFormat = box->textFormat();
        if (const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
            seen.labelText = label->text();
            seen.labelFormat = label->textFormat();
        }
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.defaultButton = box->standardButton(box->defaultButton());
        seen.closeButtonHint = box->windowFlags().testFlag(Qt::WindowCloseButtonHint);

        switch (action) {
        case BoxAction::Enter:
            pressKey(box, Qt::Key_Return);
            break;
        case BoxAction::Escape:
            pressKey(box, Qt::Key_Escape);
            break;
        case BoxAction::Close:
            box->close();
            break;
        case BoxAction::EscapeThenNo:
        case BoxAction::EscapeThenEnter:
        case BoxAction::CloseThenNo:
            if (action == BoxAction::CloseThenNo)
                box->close();
            else
                pressKey(box, Qt::Key_Escape);
            QCoreApplication::processEvents();
            seen.stillOpenAfterFirstKey = box->isVisible();
            if (action == BoxAction::EscapeThenEnter)
                pressKey(box, Qt::Key_Return);
            else if (QAbstractButton *no = box->button(QMessageBox::No))
                no->click();
            break;
        }
    });
    poll.start();
    const int result = gui::ShowMessageBox(nullptr, text, caption, style);
    poll.stop();
    return result;
}

// Receives the reply message and remembers what it carried.
class ReplyReceiver final : public QWidget
{
public:
    int received = 0;
    int type = 0;
    quintptr wParam = 0;
    QByteArray text;
    bool throwOnReceive = false;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != gui::ReplyMessageEvent::eventType())
            return QWidget::event(event);
        const auto *reply = static_cast<const gui::ReplyMessageEvent *>(event);
        ++received;
        type = static_cast<int>(event->type());
        wParam = reply->wParam();
        text = reply->text();
        if (throwOnReceive)
            throw std::runtime_error("receiver failed");
        return true;
    }
};

QString repeated(const char *pattern, int times)
{
    QString out;
    for (int i = 0; i < times; ++i)
        out += QLatin1String(pattern);
    return out;
}

} // namespace

Q_DECLARE_METATYPE(BoxAction)

class TestPlatform final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void upperCaseEveryByte_data();
    void upperCaseEveryByte();
    void upperCaseWholeTable();
    void upperCaseBuffers_data();
    void upperCaseBuffers();

    void dottedDecimal_data();
    void dottedDecimal();
    void port_data();
    void port();
    void connectGuard();

    void wsaErrorCode_data();
    void wsaErrorCode();

    void extractFileDir_data();
    void extractFileDir();
    void extractFilePathAndName_data();
    void extractFilePathAndName();
    void joinPath();
    void moduleFileName();

    void messageBoxThroughSeam_data();
    void messageBoxThroughSeam();
    void realMessageBox_data();
    void realMessageBox();
    void fileDialogThroughSeam();

    void exceptionInSlotShowsErrorBox_data();
    void exceptionInSlotShowsErrorBox();

    void findTopLevelWindow_data();
    void findTopLevelWindow();
    void replyMessageNumberIsReserved();
    void sendReplyMessage_data();
    void sendReplyMessage();
    void receiverExceptionDoesNotEscape();

    void typingStopsAtLimit_data();
    void typingStopsAtLimit();
    void programTextKeepsItsLength();
    void pasteIsCutToFit_data();
    void pasteIsCutToFit();
};

void TestPlatform::cleanup()
{
    closeLeftoverDialogs();
    gui::SetMessageBoxHandler(nullptr);
    gui::SetFileDialogHandler(nullptr);
    platform::SetModuleFileNameForTesting(QString());
    testsupport::InstallLoopbackGuard();
}

// ---- Upper-casing --------------------------------------------------------------------------

void TestPlatform::upperCaseEveryByte_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("expected");
    for (int b = 0; b < 256; ++b) {
        const qsizetype at = LowerCase.indexOf(static_cast<char>(b));
        const int expected = at < 0 ? b : static_cast<uchar>(UpperCase.at(at));
        QTest::addRow("%02X", b) << b << expected;
    }
}

void TestPlatform::upperCaseEveryByte()
{
    QFETCH(int, byte);
    QFETCH(int, expected);
    QCOMPARE(static_cast<int>(static_cast<uchar>(platform::CharUpperAnsi(static_cast<char>(byte)))),
             expected);
    const QByteArray one(1, static_cast<char>(byte));
    QCOMPARE(platform::CharUpperBuffA(one), QByteArray(1, static_cast<char>(expected)));
}

void TestPlatform::upperCaseWholeTable()
{
    // The hand-written table itself: 60 bytes change, none twice.
    QCOMPARE(LowerCase.size(), 60);
    QCOMPARE(UpperCase.size(), 60);
    for (const char c : LowerCase)
        QCOMPARE(LowerCase.count(c), 1);

    QByteArray all;
    QByteArray expected;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
        const qsizetype at = LowerCase.indexOf(static_cast<char>(b));
        expected += at < 0 ? static_cast<char>(b) : UpperCase.at(at);
    }
    const QByteArray upper = platform::CharUpperBuffA(all);
    QCOMPARE(upper.size(), 256);
    QCOMPARE(upper, expected);
    int changed = 0;
    for (int b = 0; b < 256; ++b)
        changed += upper.at(b) != all.at(b) ? 1 : 0;
    QCOMPARE(changed, 60);
}

void TestPlatform::upperCaseBuffers_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("ASCII") << QByteArray("abcXYZ09") << QByteArray("ABCXYZ09");
    QTest::newRow("embedded NUL") << QByteArrayLiteral("a\0b") << QByteArrayLiteral("A\0B");
    QTest::newRow("s caron, oe, z caron, y diaeresis")
            << QByteArray("\x9A\x9C\x9E\xFF") << QByteArray("\x8A\x8C\x8E\x9F");
    QTest::newRow("accented, division sign kept")
            << QByteArray("\xE0\xE9\xF6\xF7\xF8\xFE") << QByteArray("\xC0\xC9\xD6\xF7\xD8\xDE");
    QTest::newRow("no upper case in the code page")
            << QByteArray("\xDF\xB5\x83\xAA\xBA\x81") << QByteArray("\xDF\xB5\x83\xAA\xBA\x81");
    QTest::newRow("sentence") << QByteArray("Zenith of API Sets")
                              << QByteArray("ZENITH OF API SETS");
    QTest::newRow("MAC address") << QByteArray("00a0b1c2d3e4") << QByteArray("00A0B1C2D3E4");
    QTest::newRow("blanks kept") << QByteArray(" 0a:bc ") << QByteArray(" 0A:BC ");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestPlatform::upperCaseBuffers()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(platform::CharUpperBuffA(input), expected);
}

// ---- Address and port ----------------------------------------------------------------------

void TestPlatform::dottedDecimal_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint32>("address");

    const auto ok = [](const char *name, const QString &text, quint32 address) {
        QTest::addRow("%s", name) << text << true << address;
    };
    const auto bad = [](const char *name, const QString &text) {
        QTest::addRow("%s", name) << text << false << quint32(0);
    };
    ok("device default", QStringLiteral("192.168.0.1"), 0xC0A80001u);
    ok("loopback", QStringLiteral("127.0.0.1"), 0x7F000001u);
    ok("zeros", QStringLiteral("0.0.0.0"), 0u);
    ok("all ones", QStringLiteral("255.255.255.255"), 0xFFFFFFFFu);
    ok("leading zeros are decimal", QStringLiteral("192.168.000.010"), 0xC0A8000Au);
    ok("leading zero in the first part", QStringLiteral("010.0.0.1"), 0x0A000001u);
    ok("leading zero in the last part", QStringLiteral("1.2.3.04"), 0x01020304u);
    ok("double zero", QStringLiteral("00.0.0.0"), 0u);
    ok("many leading zeros", QStringLiteral("0000255.0.0.1"), 0xFF000001u);
    ok("digits 8 and 9 after a zero", QStringLiteral("09.08.0.019"), 0x09080013u);
    ok("spaces around", QStringLiteral("  10.1.2.3  "), 0x0A010203u);
    ok("tabs and line ends around", QStringLiteral("\t10.1.2.3\r\n"), 0x0A010203u);
    ok("control characters around",
       QStringLiteral("\x01\x1F"
                      "10.1.2.3\x1F\x02"),
       0x0A010203u);
    ok("NUL after", QStringLiteral("10.1.2.3") + QChar(0), 0x0A010203u);

    bad("empty", QString());
    bad("blank", QStringLiteral("   "));
    bad("three parts", QStringLiteral("1.2.3"));
    bad("two parts", QStringLiteral("10.1"));
    bad("one part", QStringLiteral("1"));
    bad("one large number", QStringLiteral("203569230"));
    bad("five parts", QStringLiteral("1.2.3.4.5"));
    bad("trailing dot", QStringLiteral("1.2.3.4."));
    bad("empty part in the middle", QStringLiteral("1..2.3"));
    bad("empty first part", QStringLiteral(".1.2.3"));
    bad("empty last part", QStringLiteral("1.2.3."));
    bad("dots only", QStringLiteral("..."));
    bad("256", QStringLiteral("1.2.3.256"));
    bad("256 first", QStringLiteral("256.0.0.0"));
    bad("four digits", QStringLiteral("1.2.3.1000"));
    bad("huge part", QStringLiteral("1.2.3.99999999999"));
    bad("hex part", QStringLiteral("0x7f.0.0.1"));
    bad("hex last part", QStringLiteral("1.2.3.0xaA"));
    bad("hex number", QStringLiteral("0xC0A80001"));
    bad("letter", QStringLiteral("1.2.3.a"));
    bad("letters", QStringLiteral("a.b.c.d"));
    bad("plus sign", QStringLiteral("+1.2.3.4"));
    bad("plus sign inside", QStringLiteral("1.+2.3.4"));
    bad("minus sign", QStringLiteral("1.2.3.-4"));
    bad("space inside a part", QStringLiteral("192.168.0.1 0"));
    bad("space before a dot", QStringLiteral("1.2.3 .4"));
    bad("space after a dot", QStringLiteral("1. 2.3.4"));
    bad("tab inside", QStringLiteral("1.2\t.3.4"));
    bad("port attached", QStringLiteral("1.2.3.4:80"));
    bad("IPv6 loopback", QStringLiteral("::1"));
    bad("DEL after", QStringLiteral("1.2.3.4\x7F"));
    bad("no-break space before", QString(QChar(0xA0)) + QStringLiteral("1.2.3.4"));
    bad("full-width digit", QString(QChar(0xFF11)) + QStringLiteral(".2.3.4"));
    bad("Arabic-Indic digit", QString(QChar(0x0661)) + QStringLiteral(".2.3.4"));
    bad("comma", QStringLiteral("1,2,3,4"));
}

void TestPlatform::dottedDecimal()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(quint32, address);
    const std::optional<quint32> parsed = platform::ParseDottedDecimal(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, address);
}

void TestPlatform::port_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint16>("port");

    const auto ok = [](const char *name, const QString &text, quint16 port) {
        QTest::addRow("%s", name) << text << true << port;
    };
    const auto bad = [](const char *name, const QString &text) {
        QTest::addRow("%s", name) << text << false << quint16(0);
    };
    ok("default", QStringLiteral("2000"), 2000);
    ok("lowest", QStringLiteral("1"), 1);
    ok("highest", QStringLiteral("65535"), 65535);
    ok("trailing blank", QStringLiteral("2000 "), 2000);
    ok("leading blank", QStringLiteral(" 2000"), 2000);
    ok("tab and line end", QStringLiteral("\t2000\r\n"), 2000);
    ok("leading zeros", QStringLiteral("00080"), 80);

    bad("zero", QStringLiteral("0"));
    bad("zeros", QStringLiteral("000"));
    bad("65536", QStringLiteral("65536"));
    bad("70000", QStringLiteral("70000"));
    bad("huge", QStringLiteral("99999999999999999999"));
    bad("minus one", QStringLiteral("-1"));
    bad("plus one", QStringLiteral("+1"));
    bad("blank inside", QStringLiteral("20 00"));
    bad("letters", QStringLiteral("abc"));
    bad("digits then letters", QStringLiteral("2000a"));
    bad("hex", QStringLiteral("0x10"));
    bad("decimal point", QStringLiteral("2000.0"));
    bad("exponent", QStringLiteral("1e3"));
    bad("empty", QString());
    bad("blank", QStringLiteral("  "));
    bad("full-width digits", QString(2, QChar(0xFF11)));
}

void TestPlatform::port()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(quint16, port);
    const std::optional<quint16> parsed = platform::ParsePort(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, port);
}

void TestPlatform::connectGuard()
{
    // The test binary's own guard: loopback only.
    QVERIFY(platform::IsConnectAllowed(0x7F000001u));
    QVERIFY(platform::IsConnectAllowed(0x7F000002u));
    QTest::ignoreMessage(QtCriticalMsg,
                         "refused a connection to 192.168.0.1: tests talk to loopback only");
    QVERIFY(!platform::IsConnectAllowed(0xC0A80001u));

    platform::SetConnectGuard([](quint32 address) { return address == 0x7F000002u; });
    QVERIFY(!platform::IsConnectAllowed(0x7F000001u));
    QVERIFY(platform::IsConnectAllowed(0x7F000002u));

    // No connection is made here: without a guard every address passes.
    platform::SetConnectGuard(nullptr);
    QVERIFY(platform::IsConnectAllowed(0xC0A80001u));
    testsupport::InstallLoopbackGuard();
}

// ---- Socket error codes --------------------------------------------------------------------

namespace {

// Brings `socket` to fail as the system makes it fail, against `peer` listening on loopback.
struct Provocation
{
    void (*run)(QTcpServer &peer, QTcpSocket &socket) = nullptr;
};

} // namespace

Q_DECLARE_METATYPE(Provocation)

void TestPlatform::wsaErrorCode_data()
{
    QTest::addColumn<Provocation>("provocation");
    QTest::addColumn<platform::SocketPhase>("phase");
    QTest::addColumn<QAbstractSocket::SocketError>("error");
    QTest::addColumn<int>("expected");

    using S = QAbstractSocket;
    using P = platform::SocketPhase;
    QTest::newRow("refused") << Provocation{ [](QTcpServer &peer, QTcpSocket &socket) {
        const quint16 port = peer.serverPort();
        peer.close();
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(10000);
    } } << P::Connect << S::ConnectionRefusedError
                             << 10061;
    QTest::newRow("local address in use") << Provocation{ [](QTcpServer &peer, QTcpSocket &socket) {
        socket.bind(QHostAddress::LocalHost, peer.serverPort(), S::DontShareAddress);
    } } << P::Connect << S::AddressInUseError
                                          << 10048;
    QTest::newRow("reset by the peer") << Provocation{ [](QTcpServer &peer, QTcpSocket &socket) {
        socket.connectToHost(QHostAddress::LocalHost, peer.serverPort());
        if (socket.waitForConnected(10000) && peer.waitForNewConnection(10000)) {
            QTcpSocket *accepted = peer.nextPendingConnection();
            platform::SetResetOnClose(accepted->socketDescriptor());
            accepted->abort();
            socket.waitForReadyRead(10000);
        }
    } } << P::Established << S::RemoteHostClosedError
                                       << 10054;
}

void TestPlatform::wsaErrorCode()
{
    QFETCH(Provocation, provocation);
    QFETCH(platform::SocketPhase, phase);
    QFETCH(QAbstractSocket::SocketError, error);
    QFETCH(int, expected);

    QTcpServer peer;
    QVERIFY(peer.listen(QHostAddress::LocalHost, 0));
    QTcpSocket socket;
    provocation.run(peer, socket);
    QCOMPARE(socket.error(), error);
    QCOMPARE(platform::WsaErrorCode(socket.error(), socket.errorString(), phase), expected);
}

// ---- Paths ---------------------------------------------------------------------------------

void TestPlatform::extractFileDir_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
#ifdef Q_OS_WIN
    QTest::newRow("file in a folder")
            << QStringLiteral("C:\\a\\b\\c") << QStringLiteral("C:\\a\\b");
    QTest::newRow("file in the root") << QStringLiteral("C:\\c") << QStringLiteral("C:\\");
    QTest::newRow("drive only") << QStringLiteral("C:c") << QStringLiteral("C:");
    QTest::newRow("no folder") << QStringLiteral("c") << QString();
#else
    QTest::newRow("file in a folder") << QStringLiteral("/a/b/c") << QStringLiteral("/a/b");
    QTest::newRow("file in the root") << QStringLiteral("/c") << QStringLiteral("/");
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/");
    QTest::newRow("no folder") << QStringLiteral("c") << QString();
    QTest::newRow("relative") << QStringLiteral("a/b") << QStringLiteral("a");
    QTest::newRow("trailing separator") << QStringLiteral("/a/b/") << QStringLiteral("/a/b");
    QTest::newRow("backslash is a name character")
            << QStringLiteral("C:\\fw\\image.bin") << QString();
    QTest::newRow("blank in a folder name")
            << QStringLiteral("/opt/QL T36/ql-t36") << QStringLiteral("/opt/QL T36");
#endif
    QTest::newRow("empty") << QString() << QString();
}

void TestPlatform::extractFileDir()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QCOMPARE(platform::ExtractFileDir(path), folder);
}

void TestPlatform::extractFilePathAndName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    // Split only at this platform's own separators, after converting to native notation.
#ifdef Q_OS_WIN
    QTest::newRow("Windows path") << QStringLiteral("C:\\fw\\image.bin")
                                  << QStringLiteral("C:\\fw\\") << QStringLiteral("image.bin");
    QTest::newRow("forward slashes shown native")
            << QStringLiteral("C:/fw/sub/a.bin") << QStringLiteral("C:\\fw\\sub\\")
            << QStringLiteral("a.bin");
    QTest::newRow("drive separator")
            << QStringLiteral("a:b") << QStringLiteral("a:") << QStringLiteral("b");
    QTest::newRow("drive root") << QStringLiteral("C:\\a.bin") << QStringLiteral("C:\\")
                                << QStringLiteral("a.bin");
    QTest::newRow("trailing backslash")
            << QStringLiteral("C:\\fw\\") << QStringLiteral("C:\\fw\\") << QString();
#else
    QTest::newRow("POSIX path") << QStringLiteral("/tmp/x/a.bin") << QStringLiteral("/tmp/x/")
                                << QStringLiteral("a.bin");
    QTest::newRow("colon belongs to the name")
            << QStringLiteral("/tmp/a:b.bin") << QStringLiteral("/tmp/")
            << QStringLiteral("a:b.bin");
    QTest::newRow("backslash belongs to the name")
            << QStringLiteral("/tmp/fw\\v2.bin") << QStringLiteral("/tmp/")
            << QStringLiteral("fw\\v2.bin");
    QTest::newRow("root") << QStringLiteral("/a.bin") << QStringLiteral("/")
                          << QStringLiteral("a.bin");
    QTest::newRow("trailing slash")
            << QStringLiteral("/tmp/x/") << QStringLiteral("/tmp/x/") << QString();
#endif
    QTest::newRow("no separator") << QStringLiteral("noslash") << QString()
                                  << QStringLiteral("noslash");
    QTest::newRow("empty") << QString() << QString() << QString();
}

void TestPlatform::extractFilePathAndName()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QCOMPARE(platform::ExtractFilePath(path), folder);
    QCOMPARE(platform::ExtractFileName(path), name);
    QCOMPARE(platform::ExtractFilePath(path) + platform::ExtractFileName(path),
             QDir::toNativeSeparators(path));
}

void TestPlatform::joinPath()
{
    const QString sep = QDir::separator();
    QCOMPARE(platform::JoinPath(QStringLiteral("folder"), QStringLiteral("QL_T36.ini")),
             QStringLiteral("folder") + sep + QStringLiteral("QL_T36.ini"));
#ifndef Q_OS_WIN
    QCOMPARE(platform::JoinPath(QStringLiteral("/opt/tool"), QStringLiteral("QL_T36.ini")),
             QStringLiteral("/opt/tool/QL_T36.ini"));
#endif

    // The joined path names the file in the folder.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("QL_T36.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString joined =
            platform::JoinPath(QDir::toNativeSeparators(dir.path()), QStringLiteral("QL_T36.ini"));
    QVERIFY(QFileInfo(joined).isFile());
    QCOMPARE(QFileInfo(joined).canonicalFilePath(), QFileInfo(file).canonicalFilePath());
}

void TestPlatform::moduleFileName()
{
    // The real executable, links resolved.
    const QString real = platform::ModuleFileName();
    QVERIFY(!real.isEmpty());
    QVERIFY(QFileInfo(real).isFile());
    QCOMPARE(QDir::fromNativeSeparators(real), QFileInfo(real).canonicalFilePath());
    QCOMPARE(real, QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
    QCOMPARE(platform::ProgramFolder(), platform::ExtractFileDir(real));

#ifdef Q_OS_WIN
    const QString fake = QStringLiteral("D:\\tools\\QL-T36\\ql-t36.exe");
    const QString fakeFolder = QStringLiteral("D:\\tools\\QL-T36");
#else
    const QString fake = QStringLiteral("/opt/QL-T36/bin/ql-t36");
    const QString fakeFolder = QStringLiteral("/opt/QL-T36/bin");
#endif
    platform::SetModuleFileNameForTesting(fake);
    QCOMPARE(platform::ModuleFileName(), fake);
    QCOMPARE(platform::ProgramFolder(), fakeFolder);

    platform::SetModuleFileNameForTesting(QString());
    QCOMPARE(platform::ModuleFileName(), real);
}

// ---- Message boxes -------------------------------------------------------------------------

void TestPlatform::messageBoxThroughSeam_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<uint>("style");
    QTest::addColumn<int>("answer");
    QTest::newRow("warning") << QStringLiteral("Error: invalid IP address")
                             << QStringLiteral("Warning") << (gui::mb::Ok | gui::mb::IconWarning)
                             << gui::id::Ok;
    QTest::newRow("file error, cancelled")
            << QStringLiteral("Cannot open\r\nthe file") << QStringLiteral("File Error")
            << gui::mb::OkCancel << gui::id::Cancel;
    QTest::newRow("confirmation, no") << QStringLiteral("Start?") << QStringLiteral("Confirm")
                                      << (gui::mb::YesNo | gui::mb::IconQuestion) << gui::id::No;
    QTest::newRow("confirmation, yes") << QStringLiteral("<b>x</b>") << QString()
                                       << (gui::mb::YesNo | gui::mb::IconQuestion) << gui::id::Yes;
}

void TestPlatform::messageBoxThroughSeam()
{
    QFETCH(QString, text);
    QFETCH(QString, caption);
    QFETCH(uint, style);
    QFETCH(int, answer);

    MessageBoxRecorder boxes;
    boxes.answerNext(answer);
    QCOMPARE(gui::ShowMessageBox(nullptr, text, caption, style), answer);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.shown().at(0).text, text);
    QCOMPARE(boxes.shown().at(0).caption, caption);
    QCOMPARE(boxes.shown().at(0).style, style);
    // No real box was shown meanwhile.
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void TestPlatform::realMessageBox_data()
{
    QTest::addColumn<uint>("style");
    QTest::addColumn<BoxAction>("action");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("defaultButton");
    QTest::addColumn<bool>("closeButton");

    using M = QMessageBox;
    const int ok = M::Ok;
    const int okCancel = M::Ok | M::Cancel;
    const int yesNo = M::Yes | M::No;
    const uint warning = gui::mb::Ok | gui::mb::IconWarning;
    const uint fileError = gui::mb::OkCancel | gui::mb::IconError;
    const uint confirm = gui::mb::YesNo | gui::mb::IconQuestion;

    QTest::newRow("OK: Enter") << warning << BoxAction::Enter << 1 << int(M::Warning) << ok
                               << int(M::Ok) << true;
    QTest::newRow("OK: Esc") << warning << BoxAction::Escape << 1 << int(M::Warning) << ok
                             << int(M::Ok) << true;
    QTest::newRow("OK: close button")
            << warning << BoxAction::Close << 1 << int(M::Warning) << ok << int(M::Ok) << true;
    QTest::newRow("OK, no icon: Esc")
            << gui::mb::Ok << BoxAction::Escape << 1 << int(M::NoIcon) << ok << int(M::Ok) << true;
    QTest::newRow("OK, error icon: Enter") << (gui::mb::Ok | gui::mb::IconError) << BoxAction::Enter
                                           << 1 << int(M::Critical) << ok << int(M::Ok) << true;
    QTest::newRow("OK, information icon: Enter")
            << (gui::mb::Ok | gui::mb::IconInformation) << BoxAction::Enter << 1
            << int(M::Information) << ok << int(M::Ok) << true;
    QTest::newRow("OK/Cancel: Enter") << fileError << BoxAction::Enter << 1 << int(M::Critical)
                                      << okCancel << int(M::Ok) << true;
    QTest::newRow("OK/Cancel: Esc") << fileError << BoxAction::Escape << 2 << int(M::Critical)
                                    << okCancel << int(M::Ok) << true;
    QTest::newRow("OK/Cancel: close button") << fileError << BoxAction::Close << 2
                                             << int(M::Critical) << okCancel << int(M::Ok) << true;
    QTest::newRow("OK/Cancel, no icon: Enter") << gui::mb::OkCancel << BoxAction::Enter << 1
                                               << int(M::NoIcon) << okCancel << int(M::Ok) << true;
    QTest::newRow("Yes/No: Enter") << confirm << BoxAction::Enter << 6 << int(M::Question) << yesNo
                                   << int(M::Yes) << false;
    QTest::newRow("Yes/No: Esc does nothing, then No")
            << confirm << BoxAction::EscapeThenNo << 7 << int(M::Question) << yesNo << int(M::Yes)
            << false;
    QTest::newRow("Yes/No: Esc does nothing, then Enter")
            << confirm << BoxAction::EscapeThenEnter << 6 << int(M::Question) << yesNo
            << int(M::Yes) << false;
    QTest::newRow("Yes/No: close does nothing, then No")
            << confirm << BoxAction::CloseThenNo << 7 << int(M::Question) << yesNo << int(M::Yes)
            << false;
    // A risky question: Enter without looking must not go on.
    QTest::newRow("Yes/No, No the default: Enter")
            << (gui::mb::YesNo | gui::mb::IconWarning | gui::mb::DefButton2) << BoxAction::Enter
            << 7 << int(M::Warning) << yesNo << int(M::No) << false;
}

void TestPlatform::realMessageBox()
{
    QFETCH(uint, style);
    QFETCH(BoxAction, action);
    QFETCH(int, expected);
    QFETCH(int, icon);
    QFETCH(int, buttons);
    QFETCH(int, defaultButton);
    QFETCH(bool, closeButton);

    // Text that looks like markup must show as typed.
    const QString text = QStringLiteral("<b>x</b> & <i>y</i>\nsecond line");
    const QString caption = QStringLiteral("File Error");
    SeenBox seen;
    const int result = showRealBox(style, text, caption, action, seen);

    QVERIFY2(seen.seen, "no modal message box was shown");
    QVERIFY2(!seen.leftOpen, "the box was still open after 5 s and was closed by force");
    QCOMPARE(result, expected);
    QCOMPARE(seen.title, caption);
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.textFormat, Qt::PlainText);
    QCOMPARE(seen.labelText, text);
    QCOMPARE(seen.labelFormat, Qt::PlainText);
    QCOMPARE(int(seen.icon), icon);
    QCOMPARE(seen.buttons.toInt(), buttons);
    QCOMPARE(int(seen.defaultButton), defaultButton);
    QCOMPARE(seen.closeButtonHint, closeButton);
    if (action == BoxAction::EscapeThenNo || action == BoxAction::CloseThenNo
        || action == BoxAction::EscapeThenEnter) {
        QVERIFY2(seen.stillOpenAfterFirstKey, "the confirmation closed on Esc or its close button");
    }
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void TestPlatform::fileDialogThroughSeam()
{
    testsupport::FileDialogAnswerer dialogs;
    dialogs.answerNext(QStringLiteral("/tmp/fw/image.bin"));
    dialogs.answerNext(QString());
    QCOMPARE(gui::GetOpenFileName(nullptr, QStringLiteral("/tmp/fw")),
             QStringLiteral("/tmp/fw/image.bin"));
    QCOMPARE(gui::GetSaveFileName(nullptr, QStringLiteral("/tmp/logs")), QString());
    QCOMPARE(dialogs.requests().size(), 2);
    QCOMPARE(dialogs.requests().at(0).kind, gui::FileDialogRequest::Kind::Open);
    QCOMPARE(dialogs.requests().at(0).initialFolder, QStringLiteral("/tmp/fw"));
    QCOMPARE(dialogs.requests().at(1).kind, gui::FileDialogRequest::Kind::Save);
    QCOMPARE(dialogs.requests().at(1).initialFolder, QStringLiteral("/tmp/logs"));
}

// ---- Exceptions escaping a handler ---------------------------------------------------------

void TestPlatform::exceptionInSlotShowsErrorBox_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QString>("expectedText");
    QTest::newRow("std::runtime_error") << 0 << 0 << QStringLiteral("boom");
    QTest::newRow("std::runtime_error from a timer") << 0 << 5 << QStringLiteral("boom");
    QTest::newRow("std::logic_error") << 1 << 0 << QStringLiteral("bad state");
    QTest::newRow("not a std::exception") << 2 << 0 << QString();
}

void TestPlatform::exceptionInSlotShowsErrorBox()
{
    QFETCH(int, kind);
    QFETCH(int, delayMs);
    QFETCH(QString, expectedText);

    MessageBoxRecorder boxes;
    bool laterRan = false;
    QTimer::singleShot(delayMs, [kind] {
        if (kind == 0)
            throw std::runtime_error("boom");
        if (kind == 1)
            throw std::logic_error("bad state");
        throw 42;
    });
    QTimer::singleShot(delayMs + 20, [&laterRan] { laterRan = true; });
    QVERIFY2(testsupport::waitFor([&laterRan] { return laterRan; }, 5000),
             "the event loop stopped after the exception");
    QCOMPARE(boxes.count(), 1);
    const gui::MessageBoxRequest &box = boxes.shown().at(0);
    QCOMPARE(box.text, expectedText);
    QCOMPARE(box.caption, gui::ErrorBoxCaption());
    QCOMPARE(box.style, gui::mb::Ok | gui::mb::IconError);
}

// ---- Reply message -------------------------------------------------------------------------

void TestPlatform::findTopLevelWindow_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expected"); // objectName of the window found; empty: none

    QTest::newRow("hidden window by exact title")
            << QStringLiteral("[QL-T36] IP Address <Version 2.00>") << QStringLiteral("main");
    QTest::newRow("shown window") << QStringLiteral("Shown Window") << QStringLiteral("shown");
    QTest::newRow("owned dialog is a top-level window")
            << QStringLiteral("Owned Dialog") << QStringLiteral("owned");
    QTest::newRow("child widget's title is no window's")
            << QStringLiteral("Child Title") << QString();
    QTest::newRow("partial title") << QStringLiteral("[QL-T36] IP Address") << QString();
    QTest::newRow("longer title") << QStringLiteral("[QL-T36] IP Address <Version 2.00> ")
                                  << QString();
    QTest::newRow("title in another case")
            << QStringLiteral("[ql-t36] ip address <version 2.00>") << QString();
    QTest::newRow("no such window") << QStringLiteral("No Such Window") << QString();
}

void TestPlatform::findTopLevelWindow()
{
    QFETCH(QString, title);
    QFETCH(QString, expected);

    QWidget main;
    main.setObjectName(QStringLiteral("main"));
    main.setWindowTitle(QStringLiteral("[QL-T36] IP Address <Version 2.00>"));
    QWidget shown;
    shown.setObjectName(QStringLiteral("shown"));
    shown.setWindowTitle(QStringLiteral("Shown Window"));
    shown.show();
    QVERIFY(QTest::qWaitForWindowExposed(&shown));
    QWidget parent;
    parent.setWindowTitle(QStringLiteral("Parent Window"));
    auto *childWidget = new QWidget(&parent);
    childWidget->setObjectName(QStringLiteral("child"));
    childWidget->setWindowTitle(QStringLiteral("Child Title"));
    auto *owned = new QDialog(&parent);
    owned->setObjectName(QStringLiteral("owned"));
    owned->setWindowTitle(QStringLiteral("Owned Dialog"));
    QVERIFY(!main.isVisible());
    QVERIFY(!childWidget->isWindow());

    QWidget *found = gui::FindTopLevelWindow(title);
    if (expected.isEmpty()) {
        QCOMPARE(found, nullptr);
    } else {
        QVERIFY(found);
        QCOMPARE(found->objectName(), expected);
    }
}

void TestPlatform::replyMessageNumberIsReserved()
{
    QCOMPARE(static_cast<int>(gui::ReplyMessageEvent::eventType()), 1280);
    // Already taken by the program: Qt hands out another number to anyone else asking.
    QVERIFY(QEvent::registerEventType(gui::ReplyMessageNumber) != 1280);
}

void TestPlatform::sendReplyMessage_data()
{
    QTest::addColumn<quintptr>("wParam");
    QTest::addColumn<QByteArray>("text");

    QByteArray everyByte;
    for (int b = 1; b < 256; ++b)
        everyByte += static_cast<char>(b);
    QTest::newRow("device reply") << quintptr(0) << QByteArray("ACK_REC_IP:1,2,3\r\n");
    QTest::newRow("CR kept") << quintptr(1) << QByteArray("ACK_SET_IP:1\r");
    QTest::newRow("bytes 0x80-0xFF") << quintptr(7) << QByteArray("\x80\xE9\xFF\x9F\r\n");
    QTest::newRow("every byte but NUL") << quintptr(12345) << everyByte;
    QTest::newRow("empty text, largest wParam") << ~quintptr(0) << QByteArray();
}

void TestPlatform::sendReplyMessage()
{
    QFETCH(quintptr, wParam);
    QFETCH(QByteArray, text);

    ReplyReceiver receiver;
    gui::SendReplyMessage(&receiver, wParam, text);
    // Handled before the call returned: no event loop ran in between.
    QCOMPARE(receiver.received, 1);
    QCOMPARE(receiver.type, 1280);
    QCOMPARE(receiver.wParam, wParam);
    QCOMPARE(receiver.text, text);
    QCOMPARE(receiver.text.size(), text.size());

    // Nothing was queued for later either.
    QCoreApplication::processEvents();
    QCOMPARE(receiver.received, 1);
}

void TestPlatform::receiverExceptionDoesNotEscape()
{
    MessageBoxRecorder boxes;
    ReplyReceiver receiver;
    receiver.throwOnReceive = true;
    bool escaped = false;
    try {
        gui::SendReplyMessage(&receiver, 3, QByteArray("ACK_SET_MAC:1\n"));
    } catch (...) {
        escaped = true;
    }
    QVERIFY2(!escaped, "the receiver's exception escaped SendReplyMessage");
    QCOMPARE(receiver.received, 1);
    QCOMPARE(receiver.text, QByteArray("ACK_SET_MAC:1\n"));
    // The application reported it, once.
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.shown().at(0).text, QStringLiteral("receiver failed"));

    // The next message still arrives.
    receiver.throwOnReceive = false;
    gui::SendReplyMessage(&receiver, 4, QByteArray("ACK_REQ_MAC:0\n"));
    QCOMPARE(receiver.received, 2);
    QCOMPARE(receiver.wParam, quintptr(4));
}

// ---- Typing limit --------------------------------------------------------------------------

void TestPlatform::typingStopsAtLimit_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    const QString twenty = QStringLiteral("ABCDEFGHIJKLMNOPQRST");
    QTest::newRow("20 typed, limit 15") << 15 << twenty << twenty.first(15);
    QTest::newRow("20 typed, limit 12") << 12 << twenty << twenty.first(12);
    QTest::newRow("exactly the limit") << 15 << twenty.first(15) << twenty.first(15);
    QTest::newRow("below the limit")
            << 15 << QStringLiteral("192.168.0.1") << QStringLiteral("192.168.0.1");
}

void TestPlatform::typingStopsAtLimit()
{
    QFETCH(int, limit);
    QFETCH(QString, typed);
    QFETCH(QString, expected);

    QLineEdit edit;
    gui::LimitText(&edit, limit);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QTest::keyClicks(&edit, typed);
    QCOMPARE(edit.text(), expected);

    // Full: a character typed in the middle is refused as well.
    if (expected.size() == limit) {
        edit.setCursorPosition(3);
        QTest::keyClick(&edit, Qt::Key_Z);
        QCOMPARE(edit.text(), expected);
    }
}

void TestPlatform::programTextKeepsItsLength()
{
    QLineEdit edit;
    gui::LimitText(&edit, 15);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));

    const QString twenty = QStringLiteral("00:A0:B1:C2:D3:E4:F5");
    QCOMPARE(twenty.size(), 20);
    gui::SetEditText(&edit, twenty);
    QCOMPARE(edit.text(), twenty);

    // A longer text the program put in: typing cannot lengthen it...
    edit.end(false);
    QTest::keyClick(&edit, Qt::Key_X);
    QCOMPARE(edit.text(), twenty);
    edit.home(false);
    QTest::keyClick(&edit, Qt::Key_X);
    QCOMPARE(edit.text(), twenty);

    // ...but it can be edited: Backspace works, and typing over a selection replaces it.
    edit.end(false);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QCOMPARE(edit.text(), twenty.first(19));
    edit.setSelection(0, 3);
    QTest::keyClick(&edit, Qt::Key_Y);
    QCOMPARE(edit.text(), QStringLiteral("y") + twenty.sliced(3, 16));

    // A program text of any length goes in whole.
    const QString long100 = repeated("0123456789", 10);
    gui::SetEditText(&edit, long100);
    QCOMPARE(edit.text(), long100);

    // Once the text is short again, the limit of 15 holds for typing.
    gui::SetEditText(&edit, QString());
    QTest::keyClicks(&edit, twenty);
    QCOMPARE(edit.text(), twenty.first(15));
}

void TestPlatform::pasteIsCutToFit_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("expectedCursor");

    const QString ten = QStringLiteral("0123456789");
    const QString paste = QStringLiteral("ABCDEFGHIJ");
    QTest::newRow("in the middle") << ten << 4 << paste << QStringLiteral("0123ABCDE456789") << 9;
    QTest::newRow("at the end") << ten << 10 << paste << QStringLiteral("0123456789ABCDE") << 15;
    QTest::newRow("at the start") << ten << 0 << paste << QStringLiteral("ABCDE0123456789") << 5;
    QTest::newRow("fits whole") << ten << 10 << QStringLiteral("ABCDE")
                                << QStringLiteral("0123456789ABCDE") << 15;
    QTest::newRow("field full") << QStringLiteral("0123456789ABCDE") << 15 << paste
                                << QStringLiteral("0123456789ABCDE") << 15;
    QTest::newRow("empty field") << QString() << 0 << QStringLiteral("192.168.100.200:2000")
                                 << QStringLiteral("192.168.100.200") << 15;
}

void TestPlatform::pasteIsCutToFit()
{
    QFETCH(QString, before);
    QFETCH(int, cursor);
    QFETCH(QString, clipboard);
    QFETCH(QString, expected);
    QFETCH(int, expectedCursor);

    QClipboard *board = QGuiApplication::clipboard();
    board->setText(clipboard);
    if (board->text() != clipboard)
        QSKIP("this platform plug-in keeps no clipboard");

    QLineEdit edit;
    gui::LimitText(&edit, 15);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QTest::keyClicks(&edit, before);
    QCOMPARE(edit.text(), before);
    edit.setCursorPosition(cursor);
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit.text(), expected);
    QCOMPARE(edit.cursorPosition(), expectedCursor);
}

QLT36_TEST_MAIN(TestPlatform)
#include "tst_platform.moc"
