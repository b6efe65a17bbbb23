// The command-line tool against simulators in this process, on loopback only. Its logic runs in
// this process through the library; what only a process shows (its exit status, its streams as
// a whole, a signal) runs the tool as a child. Every run names its devices, and both the test
// folder (the in-process runs' program folder) and the copy of the tool that runs there have a
// QL_T36.ini that points at loopback too.
#include "support/Images.h"

#include "Bytes.h"
#include "DeviceSimulator.h"
#include "app/Help.h"
#include "app/Tool.h"
#include "io/Console.h"
#include "io/Csv.h"
#include "io/Output.h"

#include "platform/FileLock.h"
#include "platform/Inet.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>
#include <vector>

#ifdef Q_OS_WIN
#  include <winsock2.h>
#  include <windows.h>
#endif

#ifdef Q_OS_UNIX
#  include <sys/resource.h>
#  include <sys/socket.h>
#  include <sys/stat.h>
#endif

namespace {

using namespace Qt::StringLiterals;

const QHostAddress Loopback(u"127.0.0.1"_s);

QStringList Args(std::initializer_list<QAnyStringView> items)
{
    QStringList list;
    for (const QAnyStringView item : items)
        list.append(item.toString());
    return list;
}

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject Json() const { return QJsonDocument::fromJson(out).object(); }
    QJsonObject Device(qsizetype i) const { return Json()[u"devices"][i].toObject(); }
};

struct Block
{
    quint32 address;
    qsizetype offset;
    qsizetype length;
};

QString At(const sim::DeviceSimulator &device)
{
    return device.serverAddress().toString() + u':' + QString::number(device.serverPort());
}

quint16 ClosedPort()
{
    sim::DeviceSimulator probe;
    return probe.listen(Loopback) ? probe.serverPort() : 9;
}

// What a run wrote, kept apart by stream.
class BufferOutput final : public cli::Output
{
public:
    void Out(const QString &text) override { out += text.toUtf8(); }
    void Err(const QString &text) override { err += text.toUtf8(); }
    bool OutIsTerminal() const override { return false; }

    QByteArray out;
    QByteArray err;
};

// What the first group of `pattern` captures anywhere in `text`, each once, sorted.
QStringList Captured(const QString &text, const QString &pattern)
{
    QStringList found;
    const QRegularExpression expression(pattern, QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch &match : expression.globalMatch(text))
        found.append(match.captured(1));
    found.removeDuplicates();
    found.sort();
    return found;
}

const QString LongOption = QStringLiteral("(?<![\\w-])(--[a-z][a-z-]*)");

#ifdef Q_OS_LINUX
// Whether the process `pid` sleeps in poll(): before its event loop runs, the tool polls only
// where it waits for a pipe.
bool SleepsInPoll(qint64 pid)
{
    QFile wchan(u"/proc/%1/wchan"_s.arg(pid));
    return wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("poll");
}
#endif

QStringList QuickSettle(const QStringList &arguments)
{
    if (arguments.contains(u"--settle"_s))
        return arguments;
    return QStringList{ u"--settle"_s, u"10"_s } + arguments;
}

#ifdef Q_OS_WIN
// Makes the console of `process` this process's console, as long as it is needed.
bool JoinConsoleOf(const QProcess &process)
{
    ::FreeConsole();
    return ::AttachConsole(static_cast<DWORD>(process.processId())) != 0;
}

// What the joined console holds, from its top to the cursor.
QString ConsoleScreen()
{
    const HANDLE screen =
            ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    ::GetConsoleScreenBufferInfo(screen, &info);
    std::wstring cells(static_cast<std::size_t>(info.dwSize.X * (info.dwCursorPosition.Y + 1)),
                       L' ');
    DWORD read = 0;
    ::ReadConsoleOutputCharacterW(screen, cells.data(), static_cast<DWORD>(cells.size()),
                                  COORD{ 0, 0 }, &read);
    ::CloseHandle(screen);
    return QString::fromWCharArray(cells.data(), read).simplified();
}

// A console of its own for the tool, as a command prompt gives it: Ctrl-C comes through it. The
// tool would inherit this process's ignoring of Ctrl-C (see PressCtrlC).
void OwnConsole(QProcess &process)
{
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        arguments->flags |= CREATE_NEW_CONSOLE;
    });
}

// Ctrl-C typed into the tool's console: this process joins it for the moment, letting the event
// pass itself.
bool PressCtrlC(const QProcess &process)
{
    if (!JoinConsoleOf(process))
        return false;
    ::SetConsoleCtrlHandler(nullptr, TRUE);
    const bool sent = ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
    ::FreeConsole();
    return sent;
}
#endif

} // namespace

Q_DECLARE_METATYPE(QList<Block>)

class TestCli final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void commands_data();
    void commands();
    void flash_data();
    void flash();
    void fleetFlash();
    void slowAndLostDevices();
    void repliesThatAnswerNothing_data();
    void repliesThatAnswerNothing();
    void humanReport();
    void usageErrors_data();
    void usageErrors();
    void settingsFile_data();
    void settingsFile();
    void scan_data();
    void scan();
    void openFileLimit_data();
    void openFileLimit();
    void fleetRunsInParallel();
    void inventoryThenApply_data();
    void inventoryThenApply();
    void applyOutcomes_data();
    void applyOutcomes();
    void rollOut_data();
    void rollOut();
    void deviceDrivenByOneRun_data();
    void deviceDrivenByOneRun();
    void eventsAndLog();
    void csvLine_data();
    void csvLine();
    void helpMatchesReadme();
    void process_data();
    void process();
    void liveLineOnAConsole();
    void interrupt();
    void interruptResetsAnOpenBlock();
    void signalWhileAPipeIsWaitedFor_data();
    void signalWhileAPipeIsWaitedFor();

private:
    // The tool in this process, as its program entry runs it; `running` sees it once started.
    // Both this and Start() let the connection settle 10 ms unless the arguments give --settle:
    // the settle window is what a few tests are about, and elsewhere the default's 100 ms would
    // only wait on the clock, on every connection.
    Run Exec(const QStringList &arguments, int timeoutMs = 20000,
             const std::function<void(cli::Tool &)> &running = {});
    void Start(QProcess &process, const QStringList &arguments);
    Run Finish(QProcess &process, int timeoutMs = 20000);
    QString File(const QString &name, const QByteArray &contents);

    // The program folder of the runs, in process and as a child, named as an engineer may name
    // it.
    QTemporaryDir m_dir{ QDir::tempPath() + QStringLiteral("/QL-T36 Prüfstand é-XXXXXX") };
    QString m_cli;
    quint16 m_closedPort = 0; // where QL_T36.ini points
    sim::DeviceSimulator m_witness; // must see no connection from a refused command line
};

void TestCli::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString built =
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(QLT36_CLI_PATH));
    m_cli = m_dir.filePath(QFileInfo(built).fileName());
    QVERIFY(QFile::copy(built, m_cli));
    m_closedPort = ClosedPort();
    File(QStringLiteral("QL_T36.ini"),
         "[LAN]\nADR=127.0.0.1\nPORT=" + QByteArray::number(m_closedPort));
    QVERIFY(m_witness.listen(Loopback));
    // Runs here, and the tool's copies it starts, lock apart from any real run on the host.
    qputenv("QLT36_LOCK_DIR", QFile::encodeName(m_dir.filePath(u"locks"_s)));
    platform::SetConnectGuard([](quint32 address) { return (address >> 24) == 127; });
}

Run TestCli::Exec(const QStringList &arguments, int timeoutMs,
                  const std::function<void(cli::Tool &)> &running)
{
    BufferOutput output;
    cli::Tool tool(output);
    if (tool.Prepare(QStringList{ QStringLiteral("ql-t36-cli") } + QuickSettle(arguments),
                     m_dir.path())) {
        QSignalSpy finished(&tool, &cli::Tool::finished);
        tool.Start();
        if (running)
            running(tool);
        if (finished.isEmpty() && !finished.wait(timeoutMs)) {
            qWarning("the run did not end within %d ms", timeoutMs);
            tool.Interrupt(SIGINT);
        }
    }
    return Run{ tool.ExitStatus(), output.out, output.err };
}

void TestCli::Start(QProcess &process, const QStringList &arguments)
{
    process.start(m_cli, QuickSettle(arguments));
    QVERIFY(process.waitForStarted(5000));
}

Run TestCli::Finish(QProcess &process, int timeoutMs)
{
    // The simulators live in this thread: the loop must run while the tool does.
    QSignalSpy finished(&process, &QProcess::finished);
    if (process.state() != QProcess::NotRunning && !finished.wait(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        qWarning("the tool did not end within %d ms", timeoutMs);
    }
    const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    Run run{ code, process.readAllStandardOutput(), process.readAllStandardError() };
#ifdef Q_OS_WIN
    // The streams are text there: every line ends in CR LF.
    run.out.replace("\r\n", "\n");
    run.err.replace("\r\n", "\n");
#endif
    return run;
}

QString TestCli::File(const QString &name, const QByteArray &contents)
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

void TestCli::commands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("wire"); // the one line the device saw
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("field"); // of the JSON device entry
    QTest::addColumn<QJsonValue>("value");

    QTest::newRow("version") << Args({ "version" }) << QByteArray("ReqVer") << 0 << u"version"_s
                             << QJsonValue(u"2.00"_s);
    QTest::newRow("addresses") << Args({ "addresses" }) << QByteArray("ReqIP_ADR") << 0
                               << u"addresses"_s
                               << QJsonValue(QJsonArray::fromStringList(
                                          Args({ "192.168.0.10", "192.168.0.20", "255.255.255.0",
                                                 "192.168.0.254", "239.0.0.1" })));
    QTest::newRow("mac") << Args({ "mac" }) << QByteArray("ReqMAC_ADR") << 0 << u"mac"_s
                         << QJsonValue(u"00A0B1C2D3E4"_s);
    QTest::newRow("set-mac, upper-cased, without its dashes")
            << Args({ "set-mac", "0a-0b-0c-0d-0e-0f" }) << QByteArray("SetMAC_ADR(0A0B0C0D0E0F)")
            << 0 << u"error"_s << QJsonValue(QJsonValue::Null);
    QTest::newRow("set-addresses, in plain dotted decimal")
            << Args({ "set-addresses", " 10.0.0.09", "10.0.0.2", "255.0.0.0", "10.0.0.254",
                      "239.1.1.001" })
            << QByteArray("SetIP_ADR(10.0.0.9,10.0.0.2,255.0.0.0,10.0.0.254,239.1.1.1)") << 0
            << u"error"_s << QJsonValue(QJsonValue::Null);
    QTest::newRow("set-addresses, refused")
            << Args({ "set-addresses", "10.0.0.3", "10.0.0.2", "255.0.0.0", "10.0.0.254",
                      "239.1.1.1" })
            << QByteArray("SetIP_ADR(10.0.0.3,10.0.0.2,255.0.0.0,10.0.0.254,239.1.1.1)") << 1
            << u"error"_s << QJsonValue(u"IP Address Set Failed"_s);
}

void TestCli::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, wire);
    QFETCH(int, exitCode);
    QFETCH(QString, field);
    QFETCH(QJsonValue, value);

    sim::DeviceSimulator device;
    QVERIFY(device.listen(Loopback));
    device.setRefuseSets(exitCode != 0);
    const Run run = Exec(Args({ "--json", "-d", At(device) }) + arguments);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(device.receivedCommands(), QList<QByteArray>{ wire });
    QCOMPARE(device.counters().bytesReceived, wire.size() + 1); // its CR, nothing more
    QCOMPARE(run.Json()[u"ok"].toInt(), exitCode == 0 ? 1 : 0);
    QCOMPARE(run.Device(0)[u"device"].toString(), At(device));
    QCOMPARE(run.Device(0)[field], value);
}

void TestCli::flash_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<QList<Block>>("blocks"); // in the order they go out

    QTest::newRow("both phases") << QStringList() << qsizetype(0x40010)
                                 << QList<Block>{ { 0x1000000, 0, 0x20000 },
                                                  { 0x1020000, 0x20000, 0x20000 },
                                                  { 0x1040000, 0x40000, 0x10 },
                                                  { 0, 0x40000, 0x10 } };
    QTest::newRow("backup area") << Args({ "--backup" }) << qsizetype(0x100)
                                 << QList<Block>{ { 0, 0, 0x100 } };
    // Each step as soon as the device answered: the same bytes in the same order.
    QTest::newRow("both phases, paced by replies")
            << Args({ "--pace", "replies" }) << qsizetype(0x40010)
            << QList<Block>{ { 0x1000000, 0, 0x20000 },
                             { 0x1020000, 0x20000, 0x20000 },
                             { 0x1040000, 0x40000, 0x10 },
                             { 0, 0x40000, 0x10 } };
}

void TestCli::flash()
{
    QFETCH(QStringList, options);
    QFETCH(qsizetype, length);
    QFETCH(QList<Block>, blocks);

    sim::DeviceSimulator device;
    QVERIFY(device.listen(Loopback));
    const QByteArray image = testsupport::PatternedImage(length, 0x5a);
    const Run run = Exec(Args({ "--json", "--trace", "-d", At(device), "flash",
                                File(QStringLiteral("image.bin"), image) })
                         + options);
    QCOMPARE(run.exitCode, 0);

    QList<QByteArray> announces;
    qint64 bytes = 0;
    for (const Block &block : blocks) {
        announces.append(testsupport::AnnounceLine(block.address, block.length));
        bytes += announces.last().size() + 1 + block.length;
    }
    QCOMPARE(device.receivedCommands(), announces);
    QCOMPARE(device.counters().bytesReceived, bytes);
    const QList<sim::BlockRecord> records = device.receivedBlocks();
    const QJsonArray reported = run.Device(0)[u"blocks"].toArray();
    QCOMPARE(records.size(), blocks.size());
    QCOMPARE(reported.size(), blocks.size());
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        const QByteArray expected = image.mid(blocks[i].offset, blocks[i].length);
        QCOMPARE(records[i].crc32, sim::crc32(expected));
        QVERIFY(records[i].written);
        QCOMPARE(device.memory(blocks[i].address, blocks[i].length), expected);
        // The trace's own CRC-32 of what went out.
        QVERIFY(run.err.contains(QString::asprintf("== block 0x%08x length 0x%x crc32 0x%08x",
                                                   blocks[i].address, unsigned(blocks[i].length),
                                                   records[i].crc32)
                                         .toLatin1()));
        QCOMPARE(reported[i][u"address"].toInteger(), blocks[i].address);
        QCOMPARE(reported[i][u"length"].toInteger(), blocks[i].length);
        QCOMPARE(reported[i][u"result"].toString(), QStringLiteral("Update Complete"));
    }
    QVERIFY(run.err.contains(QByteArray(">> " + announces.first() + "\\r\n")));
    QVERIFY(run.err.contains("<< ACK_DOWNLOAD:Result:1\\r\\n\n"));
}

void TestCli::fleetFlash()
{
    sim::DeviceSimulator first, refusing, last;
    for (sim::DeviceSimulator *device : { &first, &refusing, &last })
        QVERIFY(device->listen(Loopback));
    refusing.setBlockReply(0, "Error:Flash");
    const QString closed = QStringLiteral("127.0.0.1:%1").arg(ClosedPort());
    const QByteArray image = testsupport::PatternedImage(0x100, 0x33);

    const Run run = Exec(Args({ "--json", "-d", At(first), "-d", At(refusing), "-d", closed, "-d",
                                At(last), "flash", File(QStringLiteral("fleet.bin"), image) }));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.Json()[u"ok"].toInt(), 2);
    QCOMPARE(run.Json()[u"failed"].toInt(), 2);
    const QStringList expected{ At(first), At(refusing), closed, At(last) };
    for (qsizetype i = 0; i < expected.size(); ++i)
        QCOMPARE(run.Device(i)[u"device"].toString(), expected[i]);
    QCOMPARE(run.Device(0)[u"ok"].toBool(), true);
    QCOMPARE(run.Device(1)[u"error"].toString(), QStringLiteral("block 0x01000000: Error:Flash"));
    QCOMPARE(run.Device(1)[u"blocks"][0][u"result"].toString(), QStringLiteral("Error:Flash"));
    QCOMPARE(run.Device(2)[u"error"].toString(),
             QStringLiteral("Error:connect(), Code = 10061 (connection refused)"));
    QCOMPARE(run.Device(3)[u"ok"].toBool(), true);
    QCOMPARE(first.memory(0x1000000, image.size()), image);
    QCOMPARE(last.memory(0x1000000, image.size()), image);
    QVERIFY(!refusing.receivedBlocks().first().written);
}

void TestCli::slowAndLostDevices()
{
    sim::DeviceSimulator quick, slow, closing;
    for (sim::DeviceSimulator *device : { &quick, &slow, &closing })
        QVERIFY(device->listen(Loopback));
    slow.setReplyDelay(3000);
    closing.dropReplies(1);
    closing.closeAfterCommands(1);

    const Run run = Exec(Args({ "--json", "--timeout", "0.5", "-d", At(slow), "-d", At(closing),
                                "-d", At(quick), "version" }));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.Device(0)[u"error"].toString(),
             QStringLiteral("no ACK_REQ_VER: reply within 0.5 s"));
    QVERIFY(run.Device(0)[u"seconds"].toDouble() < 2.0); // not held up by the late reply
    QCOMPARE(run.Device(1)[u"error"].toString(), QStringLiteral("Disconnected"));
    QCOMPARE(run.Device(2)[u"version"].toString(), QStringLiteral("2.00"));
    QVERIFY(run.Device(2)[u"seconds"].toDouble() < 0.5);
}

void TestCli::repliesThatAnswerNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("greeting"); // as the connection opens
    QTest::addColumn<QByteArray>("extra"); // as the command arrives, before any answer
    QTest::addColumn<bool>("withheld"); // the device's own answer (a flash: the block's result)
    QTest::addColumn<bool>("early"); // a flash: "Result:1" right behind the size acknowledgement
    QTest::addColumn<QString>("error"); // empty: success

    // A greeting is caught by the settle window, at its default length.
    QTest::newRow("set: a stale success greets, the device refuses")
            << Args({ "--settle", "100", "set-addresses", "10.0.0.9", "10.0.0.2", "255.0.0.0",
                      "10.0.0.254", "239.1.1.1" })
            << QByteArray("ACK_SET_IP:1") << QByteArray("ACK_SET_IP:0") << true << false
            << u"IP Address Set Failed"_s;
    QTest::newRow("version: a version greets")
            << Args({ "--settle", "100", "version" }) << QByteArray("ACK_REQ_VER:boot")
            << QByteArray() << false << false << QString();
    QTest::newRow("mac: only a version reply comes")
            << Args({ "--timeout", "0.3", "mac" }) << QByteArray() << QByteArray("ACK_REQ_VER:2.00")
            << true << false
            << u"no ACK_REQ_MAC: reply within 0.3 s; 1 other line received, see --trace"_s;
    QTest::newRow("flash: acknowledgement and an early result in one segment")
            << Args({ "flash", "dir:early.bin" }) << QByteArray() << QByteArray() << false << true
            << QString();
    QTest::newRow("flash: the only result came early")
            << Args({ "flash", "--result-timeout", "0.3", "dir:early.bin" }) << QByteArray()
            << QByteArray() << true << true
            << u"block 0x01000000: no result within 0.3 s (1 download reply came too early and was "
               u"ignored, see --trace)"_s;
    QTest::newRow("flash paced by replies: the only result came early")
            << Args({ "flash", "--pace", "replies", "--result-timeout", "0.3", "dir:early.bin" })
            << QByteArray() << QByteArray() << true << true
            << u"block 0x01000000: no result within 0.3 s (1 download reply came too early and was "
               u"ignored, see --trace)"_s;
}

void TestCli::repliesThatAnswerNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, greeting);
    QFETCH(QByteArray, extra);
    QFETCH(bool, withheld);
    QFETCH(bool, early);
    QFETCH(QString, error);

    const QByteArray image = testsupport::PatternedImage(0x100, 0x2e);
    arguments.replaceInStrings(u"dir:early.bin"_s, File(u"early.bin"_s, image));
    const bool flash = arguments.contains(u"flash"_s);
    sim::DeviceSimulator device;
    QVERIFY(device.listen(Loopback));
    device.setUnsolicitedOnConnect(greeting);
    if (flash && withheld)
        device.setBlockReply(0, QByteArray());
    connect(&device, &sim::DeviceSimulator::commandReceived, this, [&] {
        if (withheld && !flash)
            device.dropReplies(1);
        if (!extra.isEmpty())
            device.sendRaw(extra + "\r\n");
    });
    connect(&device, &sim::DeviceSimulator::replySent, this, [&](const QByteArray &reply) {
        if (early && reply.contains("Size:"))
            device.sendRaw("ACK_DOWNLOAD:Result:1\r\n");
    });

    const Run run = Exec(Args({ "--json", "-d", At(device) }) + arguments);
    QCOMPARE(run.Device(0)[u"error"].toString(), error);
    QCOMPARE(run.exitCode, error.isEmpty() ? 0 : 1);
    if (!flash)
        return;
    // The early result overwrote nothing: the block went out whole.
    QCOMPARE(device.receivedBlocks().size(), 1);
    QCOMPARE(device.receivedBlocks().first().crc32, sim::crc32(image));
}

void TestCli::humanReport()
{
    // Listed in the order given, whatever order they finish in; a device's control characters
    // cannot reach the terminal.
    sim::DeviceSimulator slow, quick;
    QVERIFY(slow.listen(Loopback) && quick.listen(Loopback));
    slow.setReplyDelay(400);
    quick.setVersion("2.0\x1b[2J");
    Run run = Exec(Args({ "-d", At(slow), "-d", At(quick), "version" }));
    QStringList lines = QString::fromUtf8(run.out).split(u'\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].startsWith(At(slow) + u"  version 2.00  "_s));
    QVERIFY(lines[1].startsWith(At(quick) + u"  version 2.0\\x1b[2J  "_s));

    run = Exec(Args({ "-d", At(quick), "flash", File(u"one.bin"_s, QByteArray(0x100, 'x')) }));
    QVERIFY2(run.out.contains("Update Complete: 1 block, 256 bytes"), run.out.constData());
    // What an image cut to 2 MiB leaves out is said, even when no device took it.
    run = Exec(Args({ "-d", u"127.0.0.1:%1"_s.arg(m_closedPort), "flash", "--allow-truncation",
                      File(u"long.bin"_s, QByteArray(0x200001, 'x')) }));
    QVERIFY2(run.out.contains("The image is 2097153 bytes long; a flash writes its first 2097152, "
                              "so its last 1 byte is not written."),
             run.out.constData());
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>(
            "arguments"); // "@" is the witness, "dir:" a file in the test folder
    QTest::addColumn<QString>("message");

    File(QStringLiteral("big.bin"), QByteArray(0x200001, 'x'));
    File(QStringLiteral("empty.bin"), QByteArray());
    File(QStringLiteral("devices.txt"), "# plant\n\n127.0.0.1:2001\n127.0.0.1:99999\n");
    const auto row = [](const char *name, std::initializer_list<QAnyStringView> arguments,
                        const char *message) {
        QTest::newRow(name) << (Args({ "-d", "@" }) + Args(arguments))
                            << QString::fromLatin1(message);
    };
    row("unknown command", { "frobnicate" }, "unknown command \"frobnicate\"");
    row("no command", {}, "no command given");
    row("unknown option", { "--frob", "version" }, "Unknown option 'frob'");
    row("short address", { "-d", "127.1", "version" }, "\"127.1\" is not a dotted-decimal");
    row("port 0", { "-d", "127.0.0.2:0", "version" }, "\"0\" is not a port");
    row("port too big", { "-d", "127.0.0.2:65536", "version" }, "\"65536\" is not a port");
    row("device twice", { "-d", "@", "version" }, "is given twice");
    row("values missing", { "set-addresses", "10.0.0.1", "10.0.0.2", "255.0.0.0", "10.0.0.254" },
        "set-addresses takes 5 value(s), 4 given");
    row("blank value", { "set-addresses", "10.0.0.1", "10.0.0.2", "255.0.0.0", " \t", "239.0.0.1" },
        "GATEWAY is empty");
    row("blank MAC", { "set-mac", " " }, "HEX12 is empty");
    // A CR would end the command and start another on the wire.
    row("command inside a value",
        { "set-addresses", "x)\rSetMAC_ADR(DEADBEEF0001)\rSetIP_ADR(10.1.1.1", "10.0.0.2",
          "255.0.0.0", "10.0.0.254", "239.0.0.1" },
        "IP \"x)\\rSetMAC_ADR(DEADBEEF0001)\\rSetIP_ADR(10.1.1.1\" holds the control character "
        "\\x0d");
    row("CR left by a CRLF file",
        { "set-addresses", "10.0.0.1", "10.0.0.2", "255.0.0.0", "10.0.0.254", "239.0.0.1\r" },
        "MULTICAST \"239.0.0.1\\r\" holds the control character \\x0d");
    row("DEL in the MAC", { "set-mac", "0A0B0C0D0E\x7f" }, "holds the control character \\x7f");
    row("address longer than its field",
        { "set-addresses", "10.0.0.100.200.1", "10.0.0.2", "255.0.0.0", "10.0.0.254", "239.0.0.1" },
        "IP \"10.0.0.100.200.1\" is 16 characters long; the field takes 15");
    row("MAC of thirteen digits", { "set-mac", "0A0B0C0D0E0F1" },
        "HEX12 \"0A0B0C0D0E0F1\" is not a MAC address");
    row("address out of range",
        { "set-addresses", "10.0.0.300", "10.0.0.2", "255.0.0.0", "10.0.0.254", "239.0.0.1" },
        "IP \"10.0.0.300\" is not an IPv4 address");
    row("image a folder", { "flash", "dir:" }, "is not a regular file");
    row("set on two devices", { "-d", "127.0.0.2:2000", "set-mac", "0A0B0C0D0E0F" },
        "set-mac sets one device at a time, 2 given");
    row("image missing", { "flash", "dir:missing.bin" }, "cannot read the image");
    row("image too long", { "flash", "dir:big.bin" }, "2097153 bytes, but only its first 2097152");
    row("image empty", { "flash", "dir:empty.bin" }, "is empty");
    row("backup without flash", { "--backup", "version" }, "--backup goes with flash only");
    QTest::newRow("scan range too wide") // the witness is in it
            << Args({ "scan", "127.0.0.0/21", "--port", "@port" }) << u"is not a scan range"_s;
    row("scan with devices", { "scan", "127.0.0.0/30" }, "scan takes a range, not devices");
    row("jobs 0", { "-j", "0", "version" }, "--jobs wants a number from 1 to 1024");
    row("pace unknown", { "flash", "--pace", "fast", "dir:small.bin" },
        "--pace wants \"ticks\" or \"replies\", not \"fast\"");
    row("timeout not a number", { "--timeout", "soon", "version" }, "--timeout wants seconds");
    row("devices file missing", { "--devices", "dir:none.txt", "version" }, "cannot read");
    row("devices file, bad line", { "--devices", "dir:devices.txt", "version" },
        "devices.txt:4: \"99999\" is not a port");

    // Plans: every row is checked before any device is contacted.
    const QByteArray header = "device,ip,dp310,mask,gateway,multicast\n";
    const QByteArray witness = At(m_witness).toLatin1();
    File(u"small.bin"_s, "small");
    const auto plan = [&](const char *name, const QByteArray &contents, const char *message) {
        QTest::newRow(name) << Args(
                { "apply", File(u"plan.csv"_s.prepend(QLatin1String(name)), contents) })
                            << QString::fromLatin1(message);
    };
    plan("plan: a device twice", header + witness + ",,,,,\n# again\n" + witness + ",,,,,\n",
         "is listed twice");
    plan("plan: one IP for two devices, spelled apart",
         header + "127.0.0.2,127.0.0.5,,,,\n" + witness + ", 127.0.0.05 ,,,,\n",
         "ip 127.0.0.5 is planned for 127.0.0.2:2000 too");
    plan("plan: one MAC for two devices, spelled apart",
         "device,ip,dp310,mask,gateway,multicast,mac\n127.0.0.2,,,,,,00-a0-b1-c2-d3-e4\n" + witness
                 + ",,,,,,00A0B1C2D3E4\n",
         "mac 00A0B1C2D3E4 is planned for 127.0.0.2:2000 too");
    plan("plan: a number for an address", header + witness + ",1.12234E+11,,,,\n",
         "ip \"1.12234E+11\" is not an IPv4 address");
    plan("plan: an IP where another device is",
         header + "127.0.0.2,127.0.0.3,,,,\n127.0.0.3,,,,,\n",
         "ip 127.0.0.3 is planned for 127.0.0.2:2000, but 127.0.0.3:2000 is there now");
    plan("plan: a CR in a quoted cell", header + witness + ",\"10.0.0.5\r\",,,,\n",
         "ip \"10.0.0.5\\r\" holds the control character \\x0d");
    plan("plan: a column unknown", "device,ip,dp310,mask,gateway,multicast,gatway\n",
         "unknown column \"gatway\"");
    plan("plan: a column missing", "device,ip,dp310,mask,gateway\n" + witness + ",,,,\n",
         "the header has no \"multicast\" column");
    row("apply with devices", { "apply", "dir:small.bin" }, "apply takes its devices from FILE");
    row("csv with a set", { "--csv", "set-mac", "0A0B0C0D0E0F" }, "--csv goes with version,");
    row("json and events", { "--json", "--events", "version" }, "go one at a time");
    row("standard input twice", { "--devices", "-", "flash", "-" }, "standard input is read once");
    row("verify delay alone", { "flash", "--verify-delay", "1", "dir:small.bin" },
        "--verify-delay goes with --verify-version");
    row("inventory port without a scan", { "inventory", "--port", "2001" },
        "--port goes with --scan");
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    for (QString &argument : arguments) {
        if (argument == u"@")
            argument = At(m_witness);
        else if (argument == u"@port")
            argument = QString::number(m_witness.serverPort());
        else if (argument.startsWith(u"dir:"))
            argument = m_dir.filePath(argument.sliced(4));
    }
    m_witness.clearRecords();
    const Run run = Exec(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message.toUtf8()), run.err.constData());
    QCOMPARE(run.err.count('\n'), 2); // the error and where to find help
    QVERIFY(run.out.isEmpty());
    QCOMPARE(m_witness.counters().connections, 0);
}

void TestCli::settingsFile_data()
{
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("connections");

    QTest::newRow("the witness") << QByteArray() << 0 << 1;
    QTest::newRow("port not valid") << QByteArray("0") << 2 << 0;
}

void TestCli::settingsFile()
{
    QFETCH(QByteArray, port);
    QFETCH(int, exitCode);
    QFETCH(int, connections);

    // Read as the windows read it: CR LF, any case, blanks around the names.
    const QByteArray portText = port.isEmpty() ? QByteArray::number(m_witness.serverPort()) : port;
    File(QStringLiteral("QL_T36.ini"), "[lan]\r\n adr = 127.0.0.1\r\nPort=" + portText + "\r\n");
    m_witness.clearRecords();
    const Run run = Exec(Args({ "version" }));
    File(QStringLiteral("QL_T36.ini"),
         "[LAN]\nADR=127.0.0.1\nPORT=" + QByteArray::number(m_closedPort));
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(m_witness.counters().connections, connections);
    QCOMPARE(m_witness.receivedCommands().size(), connections);
}

void TestCli::scan_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<int>("scanned");
    QTest::addColumn<QStringList>("found"); // host and version
    QTest::addColumn<int>("exitCode");

    QTest::newRow("prefix") << "127.0.0.1/29" << 8
                            << Args({ "127.0.0.2", "2.00", "127.0.0.5", "2.05" }) << 0;
    QTest::newRow("last octets") << "127.0.0.3-5" << 3 << Args({ "127.0.0.5", "2.05" }) << 0;
    QTest::newRow("nobody there") << "127.0.0.6-7" << 2 << QStringList() << 1;
}

void TestCli::scan()
{
    QFETCH(QString, range);
    QFETCH(int, scanned);
    QFETCH(QStringList, found);
    QFETCH(int, exitCode);

    sim::DeviceSimulator second, fifth;
    QVERIFY(second.listen(QHostAddress(QStringLiteral("127.0.0.2"))));
    QVERIFY(fifth.listen(QHostAddress(QStringLiteral("127.0.0.5")), second.serverPort()));
    fifth.setVersion("2.05");
    const QString port = QString::number(second.serverPort());

    const Run run = Exec(Args({ "--json", "scan", range, "--port", port }));
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.Json()[u"scanned"].toInt(), scanned);
    QCOMPARE(run.Json()[u"ok"].toInt(), found.size() / 2);
    QCOMPARE(run.Json()[u"failed"].toInt(), 0); // an address without a device is scanned only
    const QJsonArray devices = run.Json()[u"devices"].toArray();
    QCOMPARE(devices.size(), found.size() / 2);
    for (qsizetype i = 0; i < devices.size(); ++i) {
        QCOMPARE(devices[i][u"device"].toString(), found[2 * i] + u':' + port);
        QCOMPARE(devices[i][u"version"].toString(), found[2 * i + 1]);
    }
}

void TestCli::openFileLimit_data()
{
    QTest::addColumn<bool>("hardToo"); // the hard limit as low as the soft one
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("said");

    QTest::newRow("raised") << false << 1
                            << QByteArray("ql-t36-cli -- open-file limit raised from 64 to 448 for "
                                          "128 devices at once\n");
    QTest::newRow("cannot be raised")
            << true << 2
            << QByteArray("ql-t36-cli: 128 devices at once need up to 448 open files, but this "
                          "process may open no more than 64 (its hard limit is 64): use a "
                          "smaller -j\n");
}

void TestCli::openFileLimit()
{
#ifdef Q_OS_WIN
    QSKIP("Windows sets no open-file limit on sockets and files");
#else
    QFETCH(bool, hardToo);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, said);

    QProcess process;
    process.setChildProcessModifier([hardToo] {
        rlimit files{};
        ::getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = 64;
        if (hardToo)
            files.rlim_max = 64;
        ::setrlimit(RLIMIT_NOFILE, &files);
    });
    // Nobody listens on these: each address is refused at once.
    Start(process,
          Args({ "--trace", "-j", "128", "scan", "127.0.99.0/25", "--port",
                 QString::number(m_witness.serverPort()) }));
    const Run run = Finish(process);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(said), run.err.constData());
#endif
}

void TestCli::fleetRunsInParallel()
{
    // Each device takes half a second to answer: one after another they would take N halves.
    constexpr int Devices = 8;
    constexpr int DelayMs = 500;
    std::vector<std::unique_ptr<sim::DeviceSimulator>> devices;
    QStringList arguments{ QStringLiteral("--json") };
    for (int i = 0; i < Devices; ++i) {
        devices.push_back(std::make_unique<sim::DeviceSimulator>());
        QVERIFY(devices.back()->listen(Loopback));
        devices.back()->setReplyDelay(DelayMs);
        arguments << QStringLiteral("-d") << At(*devices.back());
    }
    QElapsedTimer clock;
    clock.start();
    const Run run = Exec(arguments + Args({ "version" }));
    const double seconds = static_cast<double>(clock.elapsed()) / 1000;
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.Json()[u"ok"].toInt(), Devices);
    for (int i = 0; i < Devices; ++i)
        QVERIFY(run.Device(i)[u"seconds"].toDouble() >= DelayMs / 1000.0);
    QVERIFY2(seconds < Devices * DelayMs / 1000.0 / 2,
             qPrintable(QStringLiteral("%1 s").arg(seconds)));
}

void TestCli::inventoryThenApply_data()
{
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QList<QByteArray>>("wire"); // what the device to change saw

    const QList<QByteArray> reads{ "ReqIP_ADR", "ReqMAC_ADR" };
    // The MAC first: a new IP may end the connection.
    QTest::newRow("apply") << false << Args({ "changed", "unchanged", "failed", "unchanged" })
                           << (reads
                               + QList<QByteArray>{ "SetMAC_ADR(00A0B1C2D3E9)",
                                                    "SetIP_ADR(127.0.0.9,192.168.0.20,255.255.255."
                                                    "0,192.168.0.254,239.0.0.1)" }
                               + reads);
    QTest::newRow("dry run: only the reads")
            << true << Args({ "would change", "unchanged", "would change", "unchanged" }) << reads;
}

void TestCli::inventoryThenApply()
{
    QFETCH(bool, dryRun);
    QFETCH(QStringList, statuses);
    QFETCH(QList<QByteArray>, wire);

    sim::DeviceSimulator moved, same, refusing, quiet;
    QStringList rows{ u"device,version,ip,dp310,mask,gateway,multicast,mac"_s };
    char n = '0';
    for (sim::DeviceSimulator *device : { &moved, &same, &refusing, &quiet }) {
        QVERIFY(device->listen(Loopback));
        const QByteArray ip = "192.168.0.1" + QByteArray(1, n);
        device->setAddresses({ ip, "192.168.0.20", "255.255.255.0", "192.168.0.254", "239.0.0.1" });
        // Its MAC as a device may spell it: read back, it is the same.
        device->setMacAddress(device == &same ? QByteArray("00:a0:b1:c2:d3:e1")
                                              : "00A0B1C2D3E" + QByteArray(1, n));
        ++n;
        rows.append(At(*device) + u",2.00,"_s + QLatin1String(ip)
                    + u",192.168.0.20,255.255.255.0,192.168.0.254,239.0.0.1,"_s
                    + (device == &quiet ? QString() : QString::fromLatin1(device->macAddress())));
    }
    // One read unanswered: the others still report.
    connect(&quiet, &sim::DeviceSimulator::commandReceived, this, [&](const QByteArray &line) {
        if (line == "ReqMAC_ADR")
            quiet.dropReplies(1);
    });
    const Run inventory = Exec(Args({ "--csv", "--timeout", "0.3", "-d", At(moved), "-d", At(same),
                                      "-d", At(refusing), "-d", At(quiet), "inventory" }));
    QCOMPARE(inventory.exitCode, 1);
    QVERIFY2(inventory.err.contains("mac: no ACK_REQ_MAC: reply within 0.3 s"),
             inventory.err.constData());
    QStringList lines = QString::fromUtf8(inventory.out).split(u"\r\n"_s);
    QCOMPARE(lines, rows + QStringList{ QString() });

    // Edited: a new IP and MAC (the mask left as it is), an IP the device refuses, comments.
    lines[1].replace(u",192.168.0.10,192.168.0.20,255.255.255.0,"_s, u",127.0.0.9,192.168.0.20,,"_s)
            .replace(u"00A0B1C2D3E0"_s, u"00a0b1c2d3e9"_s);
    lines[3].replace(u",192.168.0.12,"_s, u",127.0.0.12,"_s);
    refusing.setRefuseSets(true);
    lines.insert(2, u"# unchanged below"_s);
    for (sim::DeviceSimulator *device : { &moved, &same, &refusing, &quiet })
        device->clearRecords();
    const Run run =
            Exec(Args({ "--json", "apply", File(u"plan.csv"_s, lines.join(u'\n').toUtf8()) })
                 + (dryRun ? Args({ "--dry-run" }) : QStringList()));
    QCOMPARE(run.exitCode, dryRun ? 0 : 1);
    for (qsizetype i = 0; i < statuses.size(); ++i)
        QCOMPARE(run.Device(i)[u"status"].toString(), statuses[i]);
    QCOMPARE(moved.receivedCommands(), wire);
    QCOMPARE(same.receivedCommands(), QList<QByteArray>({ "ReqIP_ADR", "ReqMAC_ADR" }));
    QCOMPARE(quiet.receivedCommands(), QList<QByteArray>{ "ReqIP_ADR" });
    QCOMPARE(run.Device(0)[u"changes"][0][u"planned"].toString(), u"127.0.0.9"_s);
    QCOMPARE(run.Device(0)[u"movedTo"],
             dryRun ? QJsonValue(QJsonValue::Null)
                    : QJsonValue(u"127.0.0.9:%1"_s.arg(moved.serverPort())));
    QCOMPARE(moved.addresses().first(), dryRun ? QByteArray("192.168.0.10") : "127.0.0.9");
    if (!dryRun)
        QCOMPARE(run.Device(2)[u"error"].toString(),
                 u"IP Address Set Failed (planned: ip 192.168.0.12 -> 127.0.0.12)"_s);
}

void TestCli::applyOutcomes_data()
{
    QTest::addColumn<QString>("cells"); // the plan's ip to multicast for the device
    QTest::addColumn<QString>("fault"); // of the device at its own address
    QTest::addColumn<int>("interruptAt"); // the Nth command the two addresses see; 0: none
    QTest::addColumn<QList<QByteArray>>("atOwn"); // what 127.0.0.1:P saw
    QTest::addColumn<int>("readsAtNew"); // ReqIP_ADR at 127.0.0.2:P
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("error"); // "@" is the port
    QTest::addColumn<bool>("moved"); // to 127.0.0.2:P
    QTest::addColumn<QString>("left");

    const QByteArray read = "ReqIP_ADR";
    const QByteArray move = "SetIP_ADR(127.0.0.2,10.0.5.20,255.255.255.0,10.0.5.254,239.0.5.1)";
    QTest::newRow("3 of 5 read: the gateway and multicast would be wiped")
            << u"  , 10.0.5.21, , , "_s << u"3 of 5"_s << 0 << QList<QByteArray>{ read } << 0
            << u"failed"_s
            << u"device reported 3 of 5 addresses; plan gateway and multicast to set it"_s << false
            << QString();
    QTest::newRow("moved, the connection ends: read back at the new address")
            << u"127.0.0.2,,,,"_s << u"closes after the set"_s << 0
            << QList<QByteArray>{ read, move } << 1 << u"changed"_s << QString() << true
            << QString();
    QTest::newRow("set sent, the connection ends unanswered")
            << u"127.0.0.2,,,,"_s << u"closes, the set unanswered"_s << 0
            << QList<QByteArray>{ read, move } << 0 << u"failed"_s
            << u"set sent, not acknowledged: its state is unknown (Disconnected)"_s << false
            << QString();
    QTest::newRow("interrupted: set, not read back")
            << u"127.0.0.2,,,,"_s << u"closes after the set"_s << 3
            << QList<QByteArray>{ read, move } << 1 << u"interrupted"_s
            << u"interrupted: set, not read back"_s << true << u"set not read back"_s;
    QTest::newRow("interrupted: the set unanswered")
            << u"127.0.0.2,,,,"_s << QString() << 2 << QList<QByteArray>{ read, move } << 0
            << u"interrupted"_s
            << u"interrupted: set sent, not acknowledged: its state is unknown"_s << false
            << u"set unacknowledged"_s;
    QTest::newRow("interrupted: untouched")
            << u"127.0.0.2,,,,"_s << QString() << 1 << QList<QByteArray>{ read } << 0
            << u"interrupted"_s << u"interrupted: untouched"_s << false << u"untouched"_s;
    QTest::newRow("the plan run again after the move: found at its new address")
            << u"127.0.0.2,,,,"_s << u"gone"_s << 0 << QList<QByteArray>() << 1 << u"unchanged"_s
            << QString() << true << QString();
    QTest::newRow("found there not as planned: nothing set")
            << u"127.0.0.2,10.0.5.99,,,"_s << u"gone"_s << 0 << QList<QByteArray>() << 1
            << u"failed"_s
            << u"Error:connect(), Code = 10061 (connection refused); the device at 127.0.0.2:@ "
               u"does not hold the plan (dp310 10.0.5.20 -> 10.0.5.99): nothing set there"_s
            << false << QString();
}

void TestCli::applyOutcomes()
{
    QFETCH(QString, cells);
    QFETCH(QString, fault);
    QFETCH(int, interruptAt);
    QFETCH(QList<QByteArray>, atOwn);
    QFETCH(int, readsAtNew);
    QFETCH(QString, status);
    QFETCH(QString, error);
    QFETCH(bool, moved);
    QFETCH(QString, left);

    // One device, at its own address and, once moved, at 127.0.0.2 on the same port.
    sim::DeviceSimulator own, next;
    QVERIFY(own.listen(Loopback));
    const QString port = QString::number(own.serverPort());
    QVERIFY(next.listen(QHostAddress(u"127.0.0.2"_s), own.serverPort()));
    own.setAddresses({ "127.0.0.1", "10.0.5.20", "255.255.255.0", "10.0.5.254", "239.0.5.1" });
    next.setAddresses({ "127.0.0.2", "10.0.5.20", "255.255.255.0", "10.0.5.254", "239.0.5.1" });
    if (fault == u"gone")
        own.close();
    if (fault.startsWith(u"closes"))
        own.closeAfterCommands(2);
    cli::Tool *running = nullptr;
    int seen = 0;
    for (sim::DeviceSimulator *device : { &own, &next }) {
        connect(device, &sim::DeviceSimulator::commandReceived, this, [&](const QByteArray &line) {
            if (fault == u"3 of 5" && seen == 0) {
                own.dropReplies(1);
                own.sendRaw("ACK_REC_IP:127.0.0.1,10.0.5.20,255.255.255.0\r\n");
            }
            if (fault == u"closes, the set unanswered" && line.startsWith("SetIP_ADR"))
                own.dropReplies(1);
            if (++seen == interruptAt && running) // before the device answers
                running->Interrupt(SIGINT);
        });
    }
    const QByteArray plan = "device, ip, dp310, mask, gateway, multicast,,\r\n127.0.0.1:"
            + port.toLatin1() + ", " + cells.toLatin1() + ",,\r\n,,,,,,,\r\n";
    const Run run = Exec(Args({ "--json", "apply", File(u"outcome.csv"_s, plan) }), 20000,
                         [&](cli::Tool &tool) { running = &tool; });
    running = nullptr;
    QCOMPARE(own.receivedCommands(), atOwn);
    QCOMPARE(next.receivedCommands(), QList<QByteArray>(readsAtNew, "ReqIP_ADR"));
    QCOMPARE(run.Device(0)[u"status"].toString(), status);
    QCOMPARE(run.Device(0)[u"error"].toString(), error.replace(u"@"_s, port));
    QCOMPARE(run.Device(0)[u"movedTo"].toString(), moved ? u"127.0.0.2:"_s + port : QString());
    QCOMPARE(run.Device(0)[u"left"].toString(), left);
    QCOMPARE(run.exitCode, interruptAt > 0 ? 130 : int(run.Device(0)[u"ok"] == false));
}

void TestCli::rollOut_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("fault"); // of the first device
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QString>("error"); // of the first device
    QTest::addColumn<int>("announces"); // the first device saw
    QTest::addColumn<QList<int>>("connections"); // each device saw

    QTest::newRow("skip: runs it already")
            << Args({ "--skip-version", "2.05" }) << u"runs 2.05"_s << Args({ "skipped", "ok" })
            << QString() << 0 << QList<int>{ 1, 1 };
    // After the settle window and before the answer: one read would take it.
    QTest::newRow("skip: a version line after the settle window, then the answer")
            << Args({ "--skip-version", "2.05" }) << u"strays 2.05"_s << Args({ "failed", "ok" })
            << u"the version was read twice and the answers differ: \"2.05\", then \"2.00\""_s << 0
            << QList<int>{ 1, 1 };
    QTest::newRow("verify: on a new connection, the second differs")
            << Args({ "--verify-version", "2.05", "--verify-delay", "0" }) << u"runs 2.05"_s
            << Args({ "ok", "failed" }) << QString() << 1 << QList<int>{ 2, 2 };
    QTest::newRow("max failures: the canary fails, nothing more starts")
            << Args({ "-j", "1", "--max-failures", "1" }) << u"refuses"_s
            << Args({ "failed", "not started" }) << u"block 0x01000000: Error:Flash"_s << 1
            << QList<int>{ 1, 0 };
    QTest::newRow("canary fails: the others are not started, whatever -j")
            << Args({ "--canary", "1" }) << u"refuses"_s << Args({ "failed", "not started" })
            << u"block 0x01000000: Error:Flash"_s << 1 << QList<int>{ 1, 0 };
    QTest::newRow("canary succeeds: done before the others start")
            << Args({ "--canary", "1" }) << QString() << Args({ "ok", "ok" }) << QString() << 1
            << QList<int>{ 1, 1 };
    QTest::newRow("retries: the first announce unanswered")
            << Args({ "--retries", "1", "--size-timeout", "0.3" }) << u"ignores"_s
            << Args({ "ok", "ok" }) << QString() << 2 << QList<int>{ 2, 1 };
    QTest::newRow("retries: accepted, then closed at once")
            << Args({ "--retries", "1" }) << u"hangs up"_s << Args({ "ok", "ok" }) << QString() << 1
            << QList<int>{ 2, 1 };
    QTest::newRow("retries: closed after the announce, unanswered")
            << Args({ "--retries", "1" }) << u"closes"_s << Args({ "ok", "ok" }) << QString() << 2
            << QList<int>{ 2, 1 };
    QTest::newRow("retries used up")
            << Args({ "--size-timeout", "0.3" }) << u"ignores"_s << Args({ "failed", "ok" })
            << u"block 0x01000000: no size acknowledgement within 0.3 s"_s << 1
            << QList<int>{ 1, 1 };
    QTest::newRow("no retry once a block byte was written")
            << Args({ "--retries", "2", "--result-timeout", "0.3" }) << u"withholds"_s
            << Args({ "failed", "ok" }) << u"block 0x01000000: no result within 0.3 s"_s << 1
            << QList<int>{ 1, 1 };
    QTest::newRow("dry run: nothing is sent")
            << Args({ "--dry-run" }) << QString() << Args({ "planned", "planned" }) << QString()
            << 0 << QList<int>{ 0, 0 };
    QTest::newRow("dry run with skip: the versions read, nothing else")
            << Args({ "--dry-run", "--skip-version", "2.05" }) << u"runs 2.05"_s
            << Args({ "skipped", "planned" }) << QString() << 0 << QList<int>{ 1, 1 };
}

void TestCli::rollOut()
{
    QFETCH(QStringList, options);
    QFETCH(QString, fault);
    QFETCH(QStringList, statuses);
    QFETCH(QString, error);
    QFETCH(int, announces);
    QFETCH(QList<int>, connections);

    sim::DeviceSimulator first, second;
    QVERIFY(first.listen(Loopback) && second.listen(Loopback));
    if (fault == u"runs 2.05") {
        first.setVersion("2.05");
    } else if (fault == u"refuses") {
        first.setBlockReply(0, "Error:Flash");
    } else if (fault == u"ignores") {
        first.setIgnoredAnnounce(0);
    } else if (fault == u"withholds") {
        first.setBlockReply(0, QByteArray());
    } else if (fault == u"closes") {
        first.dropReplies(1);
        first.closeAfterCommands(1);
    }
    connect(&first, &sim::DeviceSimulator::clientConnected, this, [&] {
        if (fault == u"hangs up" && first.counters().connections == 1)
            first.disconnectClient();
    });
    connect(&first, &sim::DeviceSimulator::commandReceived, this, [&] {
        // Sent by itself, once the settle window is over: it arrives before the answer.
        if (fault == u"strays 2.05" && first.receivedCommands().size() == 1)
            first.sendRaw("ACK_REQ_VER:2.05\r\n");
    });
    qsizetype firstAtSecond = -1; // what the first device had been sent when the second connected
    connect(&second, &sim::DeviceSimulator::clientConnected, this, [&] {
        if (firstAtSecond < 0)
            firstAtSecond = first.receivedCommands().size();
    });
    const QByteArray image = testsupport::PatternedImage(0x180, 0x3c);
    const Run run = Exec(Args({ "--json", "-d", At(first), "-d", At(second), "flash",
                                File(u"rollout.bin"_s, image) })
                         + options);
    QCOMPARE(run.exitCode,
             int(statuses.contains(u"failed"_s) || statuses.contains(u"not started"_s)));
    QCOMPARE(run.Device(0)[u"status"].toString(), statuses[0]);
    QCOMPARE(run.Device(1)[u"status"].toString(), statuses[1]);
    if (!error.isEmpty())
        QCOMPARE(run.Device(0)[u"error"].toString(), error);
    const auto downloads = [](const sim::DeviceSimulator &device) {
        const QList<QByteArray> commands = device.receivedCommands();
        return std::count_if(commands.begin(), commands.end(),
                             [](const QByteArray &c) { return c.startsWith("Download("); });
    };
    QCOMPARE(downloads(first), announces);
    QCOMPARE(first.counters().connections, connections[0]);
    QCOMPARE(second.counters().connections, connections[1]);
    if (statuses[1] == u"ok")
        QCOMPARE(second.memory(0x1000000, image.size()), image);
    if (statuses[1] == u"planned") // its version, if asked, and nothing else
        QCOMPARE(second.receivedCommands(),
                 QList<QByteArray>(connections[1] * 2, QByteArrayLiteral("ReqVer")));
    if (options.contains(u"--dry-run"_s))
        QCOMPARE(run.Device(1)[u"version"],
                 connections[1] ? QJsonValue(u"2.00"_s) : QJsonValue(QJsonValue::Null));
    if (options.contains(u"--canary"_s) && firstAtSecond >= 0) // the first was done by then
        QCOMPARE(firstAtSecond, first.receivedCommands().size());
    // What was sent, for a device's own record to be checked against.
    const QJsonObject sent = run.Json()[u"image"].toObject();
    QCOMPARE(sent[u"sha256"].toString(),
             QString::fromLatin1(
                     QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex()));
    QCOMPARE(sent[u"blocks"][0][u"crc32"].toInteger(), sim::crc32(image));
    QCOMPARE(run.Json()[u"formatVersion"].toInt(), 3);
}

void TestCli::deviceDrivenByOneRun_data()
{
    QTest::addColumn<QString>("holder"); // "run" a flash under way, "killed" one killed; or
    // "file:" or "nobody's:" and what a file left behind holds
    QTest::addColumn<QStringList>("environment"); // of the holding run: NAME=VALUE, or NAME gone
    QTest::addColumn<QString>("said"); // busy: the other run's error; else in its trace

    const QString busy = u"busy: another run is driving this device (PID %pid, ql-t36-cli, user "
                         u"%user; lock %lock)"_s;
    QTest::newRow("a run") << u"run"_s << QStringList() << busy;
    // The host's own folder, as without the tests' setting.
    QTest::newRow("a run with other runtime and temporary folders")
            << u"run"_s << Args({ "QLT36_LOCK_DIR", "XDG_RUNTIME_DIR=%dir", "TMPDIR=%dir/missing" })
            << busy;
    QTest::newRow("a run killed") << u"killed"_s << QStringList()
                                  << u"-- lock %lock taken over from PID %pid, ql-t36-cli, user "
                                     u"%user, which ended without releasing it"_s;
    QTest::newRow("an empty file") << u"file:"_s << QStringList() << QString();
    QTest::newRow("a file of garbage") << u"file:\x01\xff garbage"_s << QStringList()
                                       << u"-- lock %lock taken over: what it held names no run"_s;
    QTest::newRow("another user's file")
            << u"nobody's:pid 999999\nprogram ql-t36-cli\nuser nobody\n"_s << QStringList()
            << u"-- lock %lock taken over from PID 999999, ql-t36-cli, user nobody, which ended "
               u"without releasing it"_s;
}

void TestCli::deviceDrivenByOneRun()
{
    QFETCH(QString, holder);
    QFETCH(QStringList, environment);
    QFETCH(QString, said);

    // A folder of each case's own, made by the tool; or the host's, as with no setting.
    const QByteArray testFolder = qgetenv("QLT36_LOCK_DIR");
    const auto restore = qScopeGuard([&] { qputenv("QLT36_LOCK_DIR", testFolder); });
    QString folder = m_dir.filePath(u"locks "_s + QString::fromLatin1(QTest::currentDataTag()));
    if (environment.contains(u"QLT36_LOCK_DIR"_s)) {
        qunsetenv("QLT36_LOCK_DIR");
#ifdef Q_OS_WIN
        folder =
                QDir::fromNativeSeparators(qEnvironmentVariable("ProgramData")) + u"/ql-t36/lock"_s;
#else
        folder = u"/run/lock/ql-t36"_s;
#endif
    } else {
        qputenv("QLT36_LOCK_DIR", QFile::encodeName(folder));
    }
    sim::DeviceSimulator device, other;
    QVERIFY(device.listen(Loopback) && other.listen(Loopback));
    const QString lock = folder + u"/127.0.0.1-%1.lock"_s.arg(device.serverPort());
    QProcess flashing;
    qint64 pid = 0;
    if (holder.startsWith(u"file:"_s) || holder.startsWith(u"nobody's:"_s)) {
        QVERIFY(QDir().mkpath(folder));
        QFile file(lock);
        QVERIFY(file.open(QIODevice::WriteOnly)
                && file.write(holder.section(u':', 1).toLatin1()) >= 0);
        file.close();
#ifdef Q_OS_UNIX
        if (holder.startsWith(u"nobody's:"_s)
            && (::geteuid() != 0 || ::chown(QFile::encodeName(lock).constData(), 65534, 65534) != 0
                || ::chmod(QFile::encodeName(lock).constData(), 0644) != 0))
            QSKIP("a file of another user needs root to make");
#else
        if (holder.startsWith(u"nobody's:"_s))
            QSKIP("a file of another user needs POSIX owners");
#endif
    } else {
        QProcessEnvironment settings = QProcessEnvironment::systemEnvironment();
        for (const QString &setting : std::as_const(environment)) {
            const QString value = setting.section(u'=', 1).replace(u"%dir"_s, m_dir.path());
            setting.contains(u'=') ? settings.insert(setting.section(u'=', 0, 0), value)
                                   : settings.remove(setting);
        }
        flashing.setProcessEnvironment(settings);
        // Holds the lock until its flash is over, a second at least after the announce; the
        // other run looks at the lock as soon as the announce is seen. The delay is margin.
        device.setReplyDelay(300);
        QSignalSpy announced(&device, &sim::DeviceSimulator::commandReceived);
        Start(flashing, Args({ "-d", At(device), "flash", File(u"locked.bin"_s, "locked") }));
        QVERIFY(announced.wait(10000));
        pid = flashing.processId();
        if (holder == u"killed") {
            flashing.kill();
            QVERIFY(flashing.waitForFinished(5000));
        }
    }
    said.replace(u"%lock"_s, QDir::toNativeSeparators(lock))
            .replace(u"%pid"_s, QString::number(pid))
            .replace(u"%user"_s, platform::UserName());

    // The other run leaves a busy device alone and goes on with the rest.
    Run run = Exec(Args({ "--json", "--trace", "-d", At(device), "-d", At(other), "version" }));
    QCOMPARE(run.Device(1)[u"version"].toString(), u"2.00"_s);
    if (holder == u"run") {
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.Device(0)[u"status"].toString(), u"busy"_s);
        QCOMPARE(run.Device(0)[u"error"].toString(), said);
        QCOMPARE(Finish(flashing).exitCode, 0);
        QCOMPARE(device.counters().connections, 1);
        QCOMPARE(device.receivedCommands().size(), 1);
#ifdef Q_OS_UNIX
        // Made by the run, for every user: the folder as /tmp is, the file writable by all.
        struct stat made = {};
        QVERIFY(::stat(QFile::encodeName(lock).constData(), &made) == 0);
        QCOMPARE(made.st_mode & 07777, 0666u);
        QVERIFY(::stat(QFile::encodeName(folder).constData(), &made) == 0);
        QCOMPARE(made.st_mode & 07777, 01777u);
#endif
    } else {
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(said.isEmpty() ? !run.err.contains("taken over")
                                : run.err.contains(cli::EscapedText(said).toUtf8()),
                 run.err.constData());
    }
#ifdef Q_OS_UNIX
    // Used where it lies: a file of another user cannot be removed from a sticky folder.
    struct stat left = {};
    QVERIFY(::stat(QFile::encodeName(lock).constData(), &left) == 0);
    QCOMPARE(left.st_uid, holder.startsWith(u"nobody's:"_s) ? 65534u : ::geteuid());
#endif

    // Released with the run that held it, nothing left to take over.
    device.setReplyDelay(0);
    run = Exec(Args({ "--json", "--trace", "-d", At(device), "version" }));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(!run.err.contains("taken over"), run.err.constData());
}

void TestCli::eventsAndLog()
{
    sim::DeviceSimulator device;
    QVERIFY(device.listen(Loopback));
    const QString log = m_dir.filePath(u"run.log"_s);
    const Run run = Exec(Args({ "--events", "--log", log, "-d", At(device), "version" }));
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.err.isEmpty());
    QStringList events;
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QJsonObject event = QJsonDocument::fromJson(lines[i]).object();
        QCOMPARE(event[u"seq"].toInteger(), i + 1);
        QVERIFY(QDateTime::fromString(event[u"time"].toString(), Qt::ISODateWithMs).isValid());
        events.append(event[u"event"].toString() + u' ' + event[u"device"].toString()
                      + event[u"text"].toString() + event[u"status"].toString());
    }
    const QString at = At(device);
    QCOMPARE(events,
             QStringList({ u"run start "_s, u"connect "_s + at, u"command "_s + at + u"ReqVer"_s,
                           u"reply "_s + at + u"ACK_REQ_VER:2.00"_s, u"outcome "_s + at + u"ok"_s,
                           u"run end "_s }));
    QFile file(log); // a text file: its lines end as the system's do
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray logged = file.readAll();
    QVERIFY2(logged.contains(QByteArray(at.toLatin1() + " >> ReqVer\\r")), logged.constData());
    QVERIFY(logged.contains(QByteArray(at.toLatin1() + " << ACK_REQ_VER:2.00\\r\\n")));
}

void TestCli::csvLine_data()
{
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<QString>("line");

    QTest::newRow("plain") << Args({ "127.0.0.1:2000", "2.00", "" })
                           << u"127.0.0.1:2000,2.00,\r\n"_s;
    QTest::newRow("blanks kept as they are") << Args({ " a ", "b" }) << u" a ,b\r\n"_s;
    QTest::newRow("comma") << Args({ "a,b", "c" }) << u"\"a,b\",c\r\n"_s;
    QTest::newRow("quotes doubled") << Args({ "say \"hi\"" }) << u"\"say \"\"hi\"\"\"\r\n"_s;
    QTest::newRow("line breaks") << Args({ "Error:\r\nFlash", "x\ny" })
                                 << u"\"Error:\r\nFlash\",\"x\ny\"\r\n"_s;
}

void TestCli::csvLine()
{
    QFETCH(QStringList, cells);
    QFETCH(QString, line);
    QCOMPARE(cli::CsvLine(cells), line);
}

void TestCli::helpMatchesReadme()
{
    QFile file(QStringLiteral(QLT36_README_PATH));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString readme = QString::fromUtf8(file.readAll());
    QString section = readme.section(u"\n## Command line\n"_s, 1).section(u"\n## "_s, 0, 0);
    QVERIFY(!section.isEmpty());
    section.remove(QRegularExpression(u"```.*?```"_s,
                                      QRegularExpression::DotMatchesEverythingOption)); // examples
    const QString help = cli::HelpText();
    const QString commands = help.section(u"\nCommands:\n"_s, 1).section(u"\n\n"_s, 0, 0);

    // Options anywhere; commands where each list has them: "  name" in the help, "- `name" in
    // the README.
    const QStringList inHelp = Captured(help, LongOption) + Captured(commands, u"^  ([a-z-]+)"_s);
    const QStringList inReadme =
            Captured(section, LongOption) + Captured(section, u"^- `([a-z][a-z-]*)"_s);
    QVERIFY(inHelp.contains(u"set-addresses"_s));
    QVERIFY(inHelp.contains(u"--allow-truncation"_s));
    QCOMPARE(inReadme, inHelp);
}

void TestCli::process_data()
{
    QTest::addColumn<QStringList>("arguments"); // "@" is the witness, "closed" a closed port
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // the whole of each stream, as a pattern
    QTest::addColumn<QString>("err");

    const QString seconds = u"\\(\\d+\\.\\d s\\)"_s;
    QTest::newRow("usage error") << Args({ "frobnicate" }) << 2 << QString()
                                 << QRegularExpression::escape(
                                            u"ql-t36-cli: unknown command \"frobnicate\"\n"
                                            u"Try 'ql-t36-cli --help'.\n"_s);
    QTest::newRow("version") << Args({ "--version" }) << 0 << u"ql-t36-cli \\d+\\.\\d+\\.\\d+\n"_s
                             << QString();
    QTest::newRow("help") << Args({ "--help" }) << 0 << QRegularExpression::escape(cli::HelpText())
                          << QString();
    QTest::newRow("a device answers")
            << Args({ "-d", "@", "version" }) << 0
            << (u"@  version 2\\.00  "_s + seconds + u"\n1 ok, 0 failed\n"_s) << QString();
    // No device given: QL_T36.ini beside the executable names the closed port.
    QTest::newRow("settings beside the executable")
            << Args({ "version" }) << 1 << u"0 ok, 1 failed\n"_s
            << (u"closed  failed: Error:connect\\(\\), Code = 10061 \\(connection refused\\)  "_s
                + seconds + u"\n"_s);
#ifdef Q_OS_LINUX
    QTest::newRow("report that cannot be written")
            << Args({ ">full", "--json", "-d", "@", "version" }) << 1 << QString()
            << u"ql-t36-cli: cannot write to standard output: No space left on device\n"_s;
#endif
    QTest::newRow("devices from standard input")
            << Args({ "<@\n", "--devices", "-", "version" }) << 0
            << (u"@  version 2\\.00  "_s + seconds + u"\n1 ok, 0 failed\n"_s) << QString();
#ifdef Q_OS_UNIX
    QTest::newRow("devices from /dev/stdin")
            << Args({ "<# piped\n@\n", "--devices", "/dev/stdin", "version" }) << 0
            << (u"@  version 2\\.00  "_s + seconds + u"\n1 ok, 0 failed\n"_s) << QString();
    // No warning: a pipe is written where it stands.
    QTest::newRow("log to a pipe")
            << Args({ "--log", "/dev/stdout", "-d", "@", "version" }) << 0
            << (u"(.*\n)+@  version 2\\.00  "_s + seconds + u"\n1 ok, 0 failed\n"_s) << QString();
#endif
    QTest::newRow("json") << Args({ "--json", "-d", "@", "mac" }) << 0
                          << u"\\{\n(.*\n)* *\"mac\": \"00A0B1C2D3E4\",\n(.*\n)*\\}\n"_s
                          << QString();
}

void TestCli::process()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    const QString witness = At(m_witness);
    const QString closed = QStringLiteral("127.0.0.1:%1").arg(m_closedPort);
    arguments.replaceInStrings(QRegularExpression(u"^@$"_s), witness);
    out.replace(u"@"_s, QRegularExpression::escape(witness));
    err.replace(u"closed"_s, QRegularExpression::escape(closed));
    QProcess process;
    if (arguments.constFirst() == u">full")
        process.setStandardOutputFile(arguments.takeFirst().replace(u">"_s, u"/dev/"_s));
    // "<TEXT" first: TEXT on its standard input.
    const QString input = arguments.constFirst().startsWith(u'<')
            ? arguments.takeFirst().sliced(1).replace(u"@"_s, witness)
            : QString();
    Start(process, arguments);
    if (!input.isEmpty()) {
        process.write(input.toUtf8());
        process.closeWriteChannel();
    }
    const Run run = Finish(process);
    QCOMPARE(run.exitCode, exitCode);
    const auto whole = [](const QString &pattern) {
        return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
    };
    QVERIFY2(whole(out).match(QString::fromUtf8(run.out)).hasMatch(), run.out.constData());
    QVERIFY2(whole(err).match(QString::fromUtf8(run.err)).hasMatch(), run.err.constData());
}

void TestCli::interrupt()
{
    // Two at a time: the third device starts only once the quick one is done.
    sim::DeviceSimulator quick, slow, third;
    for (sim::DeviceSimulator *device : { &quick, &slow, &third })
        QVERIFY(device->listen(Loopback));
    slow.setReplyDelay(2800); // its size acknowledgement comes well after the interrupt
    third.setReplyDelay(2800);
    const QByteArray image = testsupport::PatternedImage(0x100, 0x77);
    QSignalSpy thirdAnnounce(&third, &sim::DeviceSimulator::commandReceived);

    QProcess process;
#ifdef Q_OS_WIN
    OwnConsole(process);
#endif
    Start(process,
          Args({ "--json", "-j", "2", "-d", At(quick), "-d", At(slow), "-d", At(third), "flash",
                 File(QStringLiteral("interrupt.bin"), image) }));
    QVERIFY(thirdAnnounce.wait(10000));
#ifdef Q_OS_WIN
    QVERIFY(PressCtrlC(process));
#else
    QCOMPARE(::kill(static_cast<pid_t>(process.processId()), SIGINT), 0);
#endif
    const Run run = Finish(process, 2000); // at once, not after the devices' replies
    QCOMPARE(run.exitCode, 130);

    QCOMPARE(run.Device(0)[u"ok"].toBool(), true);
    QCOMPARE(quick.memory(0x1000000, image.size()), image);
    const QByteArray announce = testsupport::AnnounceLine(0x1000000, image.size()) + '\r';
    for (const sim::DeviceSimulator *device : { &slow, &third }) {
        const QJsonObject outcome = run.Device(device == &slow ? 1 : 2);
        // Announced, not yet acknowledged: cut before a byte of it went out.
        QCOMPARE(outcome[u"error"].toString(),
                 QStringLiteral("interrupted: block 0x01000000 cut after 0 of 256 bytes sent"));
        QCOMPARE(outcome[u"cut"][u"sent"].toInteger(), 0);
        QCOMPARE(outcome[u"blocks"].toArray().size(), 0);
        // The block it announced never followed: not a byte beyond the announce.
        QTRY_VERIFY_WITH_TIMEOUT(!device->hasClient(), 10000); // Wine is slower to tell
        QCOMPARE(device->counters().bytesReceived, announce.size());
    }
}

void TestCli::interruptResetsAnOpenBlock()
{
    // A device that takes its block a little at a time: a plain close would leave the rest of
    // the block queued in the system, delivered after the tool is gone.
    QTcpServer server;
    QVERIFY(server.listen(Loopback));
    // Small from the handshake on, so that little can be in flight to it at any time.
    const int small = 4096;
#ifdef Q_OS_WIN
    QCOMPARE(::setsockopt(static_cast<SOCKET>(server.socketDescriptor()), SOL_SOCKET, SO_RCVBUF,
                          reinterpret_cast<const char *>(&small), sizeof small),
             0);
#else
    QCOMPARE(::setsockopt(static_cast<int>(server.socketDescriptor()), SOL_SOCKET, SO_RCVBUF,
                          &small, sizeof small),
             0);
#endif
    QTcpSocket *device = nullptr;
    qint64 taken = 0;
    QTimer reader;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        device = server.nextPendingConnection();
        device->setReadBufferSize(512);
        reader.start(20);
    });
    connect(&reader, &QTimer::timeout, this, [&] {
        if (!device || device->state() != QAbstractSocket::ConnectedState)
            return;
        const QByteArray piece = device->read(512);
        if (taken == 0 && piece.contains('\r')) // the announce
            device->write("ACK_DOWNLOAD:Size:0x20000\r\n");
        taken += piece.size();
    });
    QProcess process;
#ifdef Q_OS_WIN
    OwnConsole(process);
#endif
    Start(process,
          Args({ "--json", "--settle", "0", "-d", u"127.0.0.1:%1"_s.arg(server.serverPort()),
                 "flash", File(u"slow.bin"_s, QByteArray(0x20000, 'z')) }));
    QVERIFY(QTest::qWaitFor([&] { return taken > 8192; }, 10000));
#ifdef Q_OS_WIN
    // Ctrl-C there, which ends the tool as SIGINT does.
    QVERIFY(PressCtrlC(process));
    const int interrupted = 130;
#else
    QCOMPARE(::kill(static_cast<pid_t>(process.processId()), SIGTERM), 0);
    const int interrupted = 143;
#endif
    const Run run = Finish(process, 3000);
    QCOMPARE(run.exitCode, interrupted);
#ifdef Q_OS_WIN
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
        QVERIFY(run.Device(0)[u"error"].toString().startsWith(u"interrupted: block 0x01000000"_s));
        QSKIP("the device's side: Wine does not tell its socket, once the small buffer was full, "
              "of the reset");
    }
#endif
    // Reset: the device reads what its own small buffer already held, then the connection ends.
    // A plain close would have delivered the rest of the block after the tool was gone.
    const qint64 atExit = taken;
    const qint64 buffered =
            device->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toLongLong();
    QVERIFY(QTest::qWaitFor([&] { return device->state() != QAbstractSocket::ConnectedState; },
                            3000));
    QVERIFY2(taken - atExit <= buffered + 512,
             qPrintable(u"%1 bytes after the exit"_s.arg(taken - atExit)));
    QVERIFY(taken < 0x20000);
    const QJsonObject cut = run.Device(0)[u"cut"].toObject();
    QCOMPARE(cut[u"address"].toInteger(), 0x1000000);
    QCOMPARE(cut[u"length"].toInteger(), 0x20000);
    QVERIFY(cut[u"sent"].toInteger() >= taken - 30); // less the announce
    QVERIFY(run.Device(0)[u"error"].toString().startsWith(
            u"interrupted: block 0x01000000 cut after "_s));
}

void TestCli::signalWhileAPipeIsWaitedFor_data()
{
    QTest::addColumn<QStringList>("arguments"); // "fifo" the pipe, "@" the witness
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QByteArray>("piped"); // then written into it; empty: a log read from it

#ifdef Q_OS_UNIX
    QTest::newRow("image, SIGTERM") << Args({ "-d", "@", "flash", "fifo" }) << SIGTERM
                                    << testsupport::PatternedImage(0x300, 0x61);
    QTest::newRow("devices, SIGINT")
            << Args({ "--devices", "fifo", "version" }) << SIGINT << QByteArray("# piped\n@\n");
    QTest::newRow("plan, SIGHUP") << Args({ "apply", "fifo" }) << SIGHUP
                                  << QByteArray("device,ip,dp310,mask,gateway,multicast\n@,,,,,\n");
    QTest::newRow("log, SIGTERM") << Args({ "--log", "fifo", "-d", "@", "version" }) << SIGTERM
                                  << QByteArray();
#endif
}

void TestCli::signalWhileAPipeIsWaitedFor()
{
#ifdef Q_OS_UNIX
    QFETCH(QStringList, arguments);
    QFETCH(int, signalNumber);
    QFETCH(QByteArray, piped);

    // A pipe that nobody writes (or reads) yet: the tool waits for it, and a signal still ends
    // the run.
    const QString fifo = m_dir.filePath(u"waited.fifo"_s);
    QFile::remove(fifo);
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    arguments.replaceInStrings(QRegularExpression(u"^fifo$"_s), fifo);
    arguments.replaceInStrings(QRegularExpression(u"^@$"_s), At(m_witness));
    piped.replace("@", At(m_witness).toLatin1());
    m_witness.clearRecords();
    QProcess process;
    Start(process, arguments);
#  ifdef Q_OS_LINUX
    // Signalled once it waits for the pipe; where the kernel does not say what a process sleeps
    // in, the bound stands in for that.
    if (!QTest::qWaitFor([&] { return SleepsInPoll(process.processId()); }, 1000))
        qInfo("no sign of the wait for the pipe: signalled after the bound");
#  else
    QTest::qWait(300);
#  endif
    QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signalNumber), 0);
    const Run run = Finish(process, 3000);
    QCOMPARE(run.exitCode, 128 + signalNumber);
    QCOMPARE(m_witness.counters().connections, 0);

    // With its other end this time: read to its end, however it comes, or written.
    QProcess other;
    const QString log = m_dir.filePath(u"piped.log"_s);
    other.start(u"sh"_s,
                { u"-c"_s, u"cat \"$0\" > \"$1\""_s,
                  piped.isEmpty() ? fifo : File(u"piped.in"_s, piped),
                  piped.isEmpty() ? log : fifo });
    QTest::failOnWarning(QRegularExpression(u".*"_s)); // none, a seek on the pipe included
    const Run done = Exec(Args({ "--json" }) + arguments);
    QVERIFY(other.state() == QProcess::NotRunning || other.waitForFinished(5000));
    QCOMPARE(done.exitCode, 0);
    QCOMPARE(m_witness.counters().connections, 1);
    if (arguments.contains(u"flash"_s))
        QCOMPARE(m_witness.memory(0x1000000, piped.size()), piped);
    QFile logged(log);
    if (piped.isEmpty())
        QVERIFY(logged.open(QIODevice::ReadOnly) && logged.readAll().contains(">> ReqVer"));
#else
    QSKIP("POSIX signals and FIFOs");
#endif
}

void TestCli::liveLineOnAConsole()
{
#ifndef Q_OS_WIN
    QSKIP("reads what a Windows console shows; a terminal here would need a pseudo-terminal");
#else
    sim::DeviceSimulator device;
    QVERIFY(device.listen(Loopback));
    device.setReplyDelay(1500); // the live line stays up while the acknowledgement waits
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        // Standard output is the console itself, as in a command prompt.
        arguments->flags |= CREATE_NEW_CONSOLE;
        arguments->startupInfo->dwFlags &= ~static_cast<DWORD>(STARTF_USESTDHANDLES);
    });
    Start(process,
          Args({ "-d", At(device), "flash",
                 File(QStringLiteral("live.bin"), testsupport::PatternedImage(0x100, 1)) }));
    // Joined for the whole run, so the console outlives the tool and shows its last state.
    QTRY_VERIFY_WITH_TIMEOUT(JoinConsoleOf(process), 5000);
    const QString live = At(device) + u" block 1 of 1 0/256 bytes 0% "_s;
    QTRY_VERIFY_WITH_TIMEOUT(ConsoleScreen().contains(live), 5000);
    const Run run = Finish(process);
    const QString screen = ConsoleScreen();
    ::FreeConsole();
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(screen.endsWith(u" 1 ok, 0 failed"_s), qPrintable(screen));
    // The live line is gone, and no escape sequence was shown as text.
    QVERIFY2(!screen.contains(u"block 1 of 1"_s) && !screen.contains(u'['), qPrintable(screen));
#endif
}

QTEST_GUILESS_MAIN(TestCli)

#include "tst_cli.moc"
