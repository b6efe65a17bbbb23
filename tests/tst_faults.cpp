// Faults a field device, a hostile peer or a broken settings file can bring: through the real
// windows, the real link and its timers, with the simulator on loopback misbehaving on request.
// Every case checks that the tool lives on, shows the texts it should, put exactly the right
// bytes on the wire, and that the next command works.
#include "support/Images.h"
#include "support/TestSupport.h"

#include "DeviceSimulator.h"
#include "UnitComNet.h"
#include "UnitMacAdr.h"
#include "UnitMain.h"
#include "UnitUpdate.h"
#include "platform/ProgramPath.h"
#include "ui_UnitComNet.h"
#include "ui_UnitMain.h"
#include "ui_UnitUpdate.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <memory>
#include <tuple>

using sim::DeviceSimulator;
using testsupport::FileDialogAnswerer;
using testsupport::MessageBoxRecorder;
using testsupport::TestForms;
using testsupport::waitFor;

using CloseMode = DeviceSimulator::CloseMode;

// A read from one of the windows: its button, its command, the device's reply (without CR LF),
// and what the window shows (its fields, then its status text), once answered.
struct Read
{
    QPushButton *(*button)() = nullptr;
    QByteArray command;
    QByteArray reply;
    QStringList (*shown)() = nullptr;
    QStringList answered;
};

Q_DECLARE_METATYPE(DeviceSimulator::CloseMode)
Q_DECLARE_METATYPE(Read)

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));
constexpr quint32 MainArea = 0x1000000;
constexpr qsizetype AssemblerLimit = 64 * 1024;
// Bounds on waits for what the device or the link does next: maxima, never slept through, and
// generous for slow hosts (Wine).
constexpr int WaitMs = 15000;

// The simulator's answers to the three commands these cases use most.
const QByteArray DeviceVersion = "2.00";
const QList<QByteArray> DeviceAddresses = { "127.0.0.1", "10.0.0.2", "255.0.0.0", "10.0.0.1",
                                            "239.1.2.3" };
const QByteArray DeviceMac = "00A0B1C2D3E4";

QString mainStatus()
{
    return FormMain->ui()->SBar->currentMessage();
}

QString updateStatus()
{
    return FormUpdate->StatusText();
}

QString linkStatus()
{
    return FormComNet->StatusText();
}

// The device ended the connection. Windows reports a reset that a write meets as an error of its
// own; met by a read it is an end, as everywhere.
bool endedByTheDevice()
{
    const QString status = linkStatus();
#ifdef Q_OS_WIN
    if (status == QLatin1String("recv() failed: error 10053\n")
        || status == QLatin1String("recv() failed: error 10054\n")) {
        return true;
    }
#endif
    return status == QLatin1String("Disconnected\n");
}

QString versionText()
{
    return FormUpdate->ui()->STextVersion->text();
}

QStringList addressTexts()
{
    const auto *ui = FormMain->ui();
    return { ui->EdtIP1->text(), ui->EdtIP2->text(), ui->EdtMask->text(), ui->EdtGate->text(),
             ui->EdtMCast->text() };
}

QStringList expectedAddressTexts()
{
    QStringList texts;
    for (const QByteArray &a : DeviceAddresses)
        texts << QString::fromLatin1(a);
    return texts;
}

const Read VersionRead = { [] { return FormUpdate->ui()->BtnRead; },
                           "ReqVer",
                           "ACK_REQ_VER:" + DeviceVersion,
                           [] {
                               return QStringList{ versionText(), updateStatus() };
                           },
                           { QString::fromLatin1(DeviceVersion),
                             QStringLiteral("Version Received") } };
const Read AddressesRead = { [] { return FormMain->ui()->BtnRead; }, "ReqIP_ADR",
                             "ACK_REC_IP:" + DeviceAddresses.join(','),
                             [] { return addressTexts() << mainStatus(); },
                             expectedAddressTexts() << QStringLiteral("IP Address Received") };

// One row per read, named after it.
void addReadRows()
{
    QTest::addColumn<Read>("read");
    QTest::newRow("version") << VersionRead;
    QTest::newRow("addresses") << AddressesRead;
}

// The two ways a device ends a connection.
void addCloseModeRows()
{
    QTest::addColumn<CloseMode>("mode");
    QTest::newRow("closed") << CloseMode::Graceful;
    QTest::newRow("reset") << CloseMode::Reset;
}

// Bytes that differ from block to block and from erased flash.
QByteArray imageBytes(qsizetype length, quint32 seed)
{
    QByteArray image(length, Qt::Uninitialized);
    char *bytes = image.data();
    quint32 x = seed | 1;
    for (qsizetype i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return image;
}

// An image that a device reading it as commands would act on: it would take a new MAC address.
QByteArray commandLikeImage(qsizetype length)
{
    const QByteArray line = "SetMAC_ADR(0BADC0DE0BAD)\r";
    QByteArray image;
    while (image.size() < length)
        image += line;
    image.truncate(length);
    return image;
}

core::DeviceLink &link()
{
    return testsupport::link();
}

int downloadState()
{
    return int(testsupport::session().Download().DownloadState());
}

bool downloadBusy()
{
    return testsupport::session().Download().DownloadBusy() != 0;
}

// One step of the sequence by hand, then whatever the step caused on the event loop.
void tick()
{
    testsupport::session().StepDownload();
    QCoreApplication::processEvents();
}

// Steps the sequence by hand until it stops, without waiting for the device: for runs in which
// no reply can come any more. Returns the number of steps.
int tickToIdle(int maxTicks)
{
    int ticks = 0;
    while (downloadBusy() && ticks < maxTicks) {
        tick();
        ++ticks;
    }
    return ticks;
}

// Steps the sequence by hand while the device answers: in a waiting state it first gives the
// link time to hand the awaited reply over. Stops at `untilState`, when the sequence is idle, or
// (returning false) when an awaited reply does not come.
bool tickWithReplies(int untilState = -1, int maxTicks = 400)
{
    for (int i = 0; i < maxTicks && downloadBusy() && downloadState() != untilState; ++i) {
        const int state = downloadState();
        bool arrived = true;
        if (state == 2 || state == 8)
            arrived = waitFor([] { return FormUpdate->ReplyText() == "SizeOK"; }, WaitMs);
        else if (state == 4 || state == 10)
            arrived = waitFor([] { return !FormUpdate->ReplyText().isEmpty(); }, WaitMs);
        if (!arrived)
            return false;
        tick();
    }
    return !downloadBusy() || downloadState() == untilState;
}

// The device ends the connection right after the first emission of `signal` (once the
// simulator has finished what it was doing).
template <typename Signal>
void goAwayAfterFirst(DeviceSimulator *device, Signal signal, CloseMode mode)
{
    auto armed = std::make_shared<bool>(true);
    QObject::connect(
            device, signal, device,
            [device, mode, armed] {
                if (!*armed)
                    return;
                *armed = false;
                device->disconnectClient(mode);
            },
            Qt::QueuedConnection);
}

// Every text the link received, one entry per receive.
class ReceiveLog
{
public:
    ReceiveLog()
    {
        QObject::connect(&link(), &core::DeviceLink::received, &m_scope,
                         [this](const QByteArray &text) { receives.append(text); });
    }
    ReceiveLog(const ReceiveLog &) = delete;
    ReceiveLog &operator=(const ReceiveLog &) = delete;

    QList<QByteArray> receives;
    QByteArray all() const { return receives.join(); }

private:
    QObject m_scope; // ends the connection with the log
};

} // namespace

class TestFaults final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void replyAgainstItsWait_data();
    void replyAgainstItsWait();
    void lateSizeAcknowledgementLeavesTheDeviceInsideTheBlock();
    void readReplyInPieces_data();
    void readReplyInPieces();
    void downloadRepliesInPieces_data();
    void downloadRepliesInPieces();
    void severalRepliesInOneSegment();
    void sizeAcknowledgementAndVersionInOneSegment();
    void garbageBeforeEveryReply_data();
    void garbageBeforeEveryReply();
    void overlongLineIsDroppedWithBoundedMemory_data();
    void overlongLineIsDroppedWithBoundedMemory();
    void floodOfUnknownLines();
    void deviceEndsTheConnectionInAReply_data();
    void deviceEndsTheConnectionInAReply();
    void deviceGoesAwayBeforeTheBlock_data() { addCloseModeRows(); }
    void deviceGoesAwayBeforeTheBlock();
    void deviceGoesAwayBeforeTheResult_data() { addCloseModeRows(); }
    void deviceGoesAwayBeforeTheResult();
    void deviceGoesAwayInTheSizeAcknowledgement_data() { addCloseModeRows(); }
    void deviceGoesAwayInTheSizeAcknowledgement();
    void connectPressedWhileTheSizeIsAwaited();
    void connectPressedBeforeTheBlock();
    void connectPressedWhileTheResultIsAwaited();
    void connectPressedBetweenTwoBlocks();
    void heldCommandGoesOutOnAFreshConnection();
    void heldCommandNotSentWhileTheDeviceIsGone();
    void startAfterTheDeviceWentAway();
    void readNeverAnswered_data() { addReadRows(); }
    void readNeverAnswered();
    void announceNeverAnswered();
    void unusableSettingsFile_data();
    void unusableSettingsFile();
    void settingsFileIsAFolder();

private:
    void startTool();
    void openUpdateWindow();
    bool loadImage(const QByteArray &image);
    bool read(const Read &read);
    bool readVersion() { return read(VersionRead); }
    bool readAddresses() { return read(AddressesRead); }
    bool connectByVersionRead();
    void prepareDownload(const QByteArray &image);
    bool startDownload();
    bool announce();
    bool runDownload();
    void downloadAnsweredByHand(int sizeSteps, int resultSteps,
                                const std::function<bool(const QByteArray &)> &send);
    bool answerTwoReadsWith(const QByteArray &segment);
    void holdAReadBehindABlockTheDeviceEnded();
    void startCommandLikeDownload(int unanswered = 0);
    void sendTheBlockWhileTheDeviceGoesAway(bool written);
    void verifyAfterTheDeviceWentAway(bool written);
    void verifyAfterConnectPressed(const QString &status, int blocksWritten);
    void verifyLinkStartsUnconnected(const QString &address, const QString &port);
    void verifyAlive();

    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<FileDialogAnswerer> m_files;
    std::unique_ptr<DeviceSimulator> m_device;
    std::unique_ptr<TestForms> m_forms;
    QByteArray m_image; // the image of the download under way
    int m_connections = 0; // the device's connections before a fault
    QStringList m_updateStatuses; // the update window's texts since the version read
};

void TestFaults::init()
{
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_files = std::make_unique<FileDialogAnswerer>();
    m_device = std::make_unique<DeviceSimulator>();
    QVERIFY(m_device->listen(Loopback, 0));
    QVERIFY(m_device->setAddresses(DeviceAddresses));
    // The settings cases start the tool themselves, with their own settings file.
    if (!QByteArray(QTest::currentTestFunction()).contains("ettingsFile"))
        startTool();
}

void TestFaults::cleanup()
{
    m_forms.reset();
    m_device.reset();
    m_files.reset();
    m_boxes.reset();
}

void TestFaults::startTool()
{
    m_forms = std::make_unique<TestForms>(QStringLiteral("127.0.0.1"), m_device->serverPort());
    QObject::connect(FormUpdate->ui()->SBar, &QStatusBar::messageChanged, FormUpdate,
                     [this](const QString &text) { m_updateStatuses << text; });
    FormMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(FormMain));
}

void TestFaults::openUpdateWindow()
{
    QTest::mouseClick(FormMain->ui()->BtnUpdate, Qt::LeftButton);
    QCOMPARE(FormUpdate->DownloadBaseAddress(), MainArea);
}

bool TestFaults::loadImage(const QByteArray &image)
{
    const QString path = QDir(m_forms->folder()).filePath(QStringLiteral("image.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(image) != image.size())
        return false;
    file.close();
    m_files->answerNext(path);
    QTest::mouseClick(FormUpdate->ui()->BtnOpen, Qt::LeftButton);
    return FormUpdate->ui()->STextSize->text() == QString::number(image.size());
}

// The read's button, then its answer shown.
bool TestFaults::read(const Read &read)
{
    QTest::mouseClick(read.button(), Qt::LeftButton);
    return waitFor([&read] { return read.shown() == read.answered; }, WaitMs);
}

// A version read first, as an engineer would: the connection is open and the device is known to
// answer before anything else starts.
bool TestFaults::connectByVersionRead()
{
    if (!readVersion())
        return false;
    m_device->clearRecords();
    m_updateStatuses.clear();
    return link().IsConnected();
}

void TestFaults::prepareDownload(const QByteArray &image)
{
    openUpdateWindow();
    QVERIFY(loadImage(image));
    QVERIFY(connectByVersionRead());
}

// "Start", answered Yes; the test steps the sequence itself, its timer stays off.
bool TestFaults::startDownload()
{
    const int boxesBefore = m_boxes->count();
    QTest::mouseClick(FormUpdate->ui()->BtnDownload, Qt::LeftButton);
    testsupport::downloadTimer()->stop();
    return m_boxes->count() == boxesBefore + 1
            && m_boxes->shown().last().text == QLatin1String("Firmwear Update Start OK ?")
            && downloadBusy();
}

// "Start", then the steps up to the first announce.
bool TestFaults::announce()
{
    if (!startDownload())
        return false;
    tick();
    tick();
    return downloadState() == 2;
}

// "Start", then the sequence stepped as fast as the device answers.
bool TestFaults::runDownload()
{
    return startDownload() && tickWithReplies();
}

// A download of one block whose two replies the device holds back: `send` sends each once
// `sizeSteps` steps of the size wait, or `resultSteps` of the result wait, have passed. The
// sequence then runs to its stop.
void TestFaults::downloadAnsweredByHand(int sizeSteps, int resultSteps,
                                        const std::function<bool(const QByteArray &)> &send)
{
    m_device->dropReplies(1);
    m_device->setBlockReply(0, QByteArray());
    QVERIFY(announce());
    QVERIFY(waitFor([this] { return m_device->counters().repliesDropped == 1; }, WaitMs));
    for (int i = 0; i < sizeSteps; ++i)
        tick();
    QVERIFY(send("ACK_DOWNLOAD:Size:" + QByteArray::number(FormUpdate->ImageBuffer().size())));
    QVERIFY(waitFor([] { return FormUpdate->ReplyText() == "SizeOK"; }, WaitMs));
    tick();
    tick(); // the block
    QVERIFY(waitFor([this] { return m_device->receivedBlocks().size() == 1; }, WaitMs));
    for (int i = 0; i < resultSteps; ++i)
        tick();
    QVERIFY(send("ACK_DOWNLOAD:Result:1"));
    QVERIFY(waitFor([] { return FormUpdate->ReplyText() == "Complete"; }, WaitMs));
    QVERIFY(tickToIdle(10) <= 6);
}

// The tool answers a plain command on a device that behaves again.
void TestFaults::verifyAlive()
{
    m_device->clearFaults();
    const QList<QByteArray> before = m_device->receivedCommands();
    QVERIFY2(readVersion(),
             qPrintable(QStringLiteral("version \"%1\", status \"%2\", link \"%3\"")
                                .arg(versionText(), updateStatus(), linkStatus())));
    QCOMPARE(m_device->receivedCommands(), before + QList<QByteArray>{ "ReqVer" });
    QVERIFY(link().IsConnected());
    QVERIFY(!link().CommandHold());
}

// --- Replies against the download's waits ---------------------------------------------------

void TestFaults::replyAgainstItsWait_data()
{
    QTest::addColumn<int>("sizeSteps"); // steps of the size wait that pass before its reply
    QTest::addColumn<int>("resultSteps"); // steps of the result wait that pass before its reply
    QTest::addColumn<QString>("status");

    // The waits count steps of 100 ms, not time: 30 for the size acknowledgement, 50 for the
    // result. The stop follows two steps after a wait ran out.
    QTest::newRow("size acknowledgement in time for the 30th step")
            << 29 << 0 << QStringLiteral("Update Complete");
    QTest::newRow("result in time for the 50th step")
            << 0 << 49 << QStringLiteral("Update Complete");
    QTest::newRow("result after the 50th step") << 0 << 50 << QStringLiteral("Error!!(Timeout)");
    QTest::newRow("result after the stop") << 0 << 52 << QStringLiteral("Error!!(Timeout)");
}

void TestFaults::replyAgainstItsWait()
{
    QFETCH(int, sizeSteps);
    QFETCH(int, resultSteps);
    QFETCH(QString, status);

    const QByteArray image = imageBytes(0x1234, 7);
    prepareDownload(image);
    // A late result still arrives and is translated; it starts nothing.
    downloadAnsweredByHand(sizeSteps, resultSteps, [this](const QByteArray &reply) {
        return m_device->sendRaw(reply + "\r\n");
    });

    QCOMPARE(updateStatus(), status);
    QVERIFY(!testsupport::downloadTimer()->isActive());
    QVERIFY(FormUpdate->ui()->PBar->isHidden());
    QCOMPARE(m_updateStatuses,
             (QStringList{ QStringLiteral("Update Start"), QStringLiteral("Data Send"), status }));
    QCOMPARE(m_device->receivedCommands(),
             QList<QByteArray>{ testsupport::AnnounceLine(MainArea, image.size()) });
    QCOMPARE(m_device->receivedBlocks().size(), 1);
    // A late result still means the device wrote the block.
    QCOMPARE(m_device->memory(MainArea, image.size() + 16), image + QByteArray(16, '\xFF'));
    verifyAlive();
    QCOMPARE(m_boxes->count(), 1);
}

// A size acknowledgement that comes after the wait ran out: the device may have opened the block
// and would take the next bytes as image data. The tool closes the connection when it gives up,
// so the device drops the block, its late reply can start nothing, and the next command goes out
// on a new connection.
void TestFaults::lateSizeAcknowledgementLeavesTheDeviceInsideTheBlock()
{
    const QByteArray image = imageBytes(0x40, 11);
    prepareDownload(image);
    m_device->setReplyDelay(3600);
    QVERIFY(startDownload());
    // Past the 30 steps of the size wait without the acknowledgement.
    QCOMPARE(tickToIdle(40), 34);
    QCOMPARE(m_updateStatuses,
             (QStringList{ QStringLiteral("Update Start"), QStringLiteral("Error!!(Timeout)") }));
    QVERIFY(!link().IsConnected());
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("Disconnect"));
    QVERIFY(waitFor([this] { return !m_device->hasClient(); }, WaitMs));
    QVERIFY(!m_device->isReceivingBlock());

    m_device->setReplyDelay(0);
    QVERIFY(readVersion());
    QCOMPARE(m_device->receivedCommands(),
             (QList<QByteArray>{ testsupport::AnnounceLine(MainArea, image.size()), "ReqVer" }));
    QVERIFY(m_device->receivedBlocks().isEmpty());
    QCOMPARE(m_device->memory(MainArea, image.size()), QByteArray(image.size(), '\xFF'));
    QVERIFY(FormUpdate->ReplyText().isEmpty());
    QCOMPARE(m_boxes->count(), 1);
}

// --- Replies cut into pieces --------------------------------------------------------------

namespace {

// Where a reply line (CR LF included) is cut: bytes from its start, or (negative) back from its
// end, or 0 for one byte per piece.
const QList<std::pair<const char *, int>> Cuts = {
    { "two pieces inside the prefix", 4 }, { "two pieces after the prefix", 15 },
    { "two pieces, LF alone", -1 },        { "two pieces, CR LF alone", -2 },
    { "one byte per piece", 0 },
};

// The device sends `reply` and its CR LF cut as `cutAt` says, each piece once the link has taken
// the one before it, so that every piece comes in a receive of its own.
bool sendInPieces(DeviceSimulator &device, const ReceiveLog &log, const QByteArray &reply,
                  int cutAt)
{
    const QByteArray line = reply + "\r\n";
    qsizetype to = cutAt == 0 ? 1 : (cutAt > 0 ? cutAt : line.size() + cutAt);
    for (qsizetype from = 0; from < line.size();
         from = to, to = cutAt == 0 ? to + 1 : line.size()) {
        const qsizetype receives = log.receives.size();
        if (!device.sendRaw(line.sliced(from, to - from))
            || !waitFor([&] { return log.receives.size() > receives; }, WaitMs)) {
            return false;
        }
    }
    return true;
}

// Every byte the device sent reached the link once, in order, and no reply came whole.
void verifyReceivedInPieces(const ReceiveLog &log, const QList<QByteArray> &replies)
{
    QByteArray stream;
    for (const QByteArray &r : replies)
        stream += r + "\r\n";
    QCOMPARE(log.all(), stream);
    QVERIFY2(log.receives.size() >= 2 * replies.size(),
             qPrintable(QStringLiteral("%1 receives").arg(log.receives.size())));
    for (const QByteArray &reply : replies)
        QVERIFY(!log.receives.contains(reply + "\r\n"));
    QCOMPARE(link().PendingReplyBytes(), 0);
    QVERIFY(!link().IsPolling());
}

} // namespace

void TestFaults::readReplyInPieces_data()
{
    QTest::addColumn<Read>("read");
    QTest::addColumn<int>("cutAt");
    for (const auto &[name, cutAt] : Cuts) {
        QTest::addRow("version, %s", name) << VersionRead << cutAt;
        QTest::addRow("addresses, %s", name) << AddressesRead << cutAt;
    }
}

void TestFaults::readReplyInPieces()
{
    QFETCH(Read, read);
    QFETCH(int, cutAt);

    QVERIFY(connectByVersionRead());
    m_device->dropReplies(1);
    ReceiveLog log;
    QTest::mouseClick(read.button(), Qt::LeftButton);
    QVERIFY(waitFor([this] { return m_device->counters().repliesDropped == 1; }, WaitMs));
    QVERIFY(sendInPieces(*m_device, log, read.reply, cutAt));
    QCOMPARE(read.shown(), read.answered);
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ read.command });
    verifyReceivedInPieces(log, { read.reply });
    verifyAlive();
    QCOMPARE(m_boxes->count(), 0);
}

void TestFaults::downloadRepliesInPieces_data()
{
    QTest::addColumn<int>("cutAt");
    for (const auto &[name, cutAt] : Cuts)
        QTest::newRow(name) << cutAt;
}

void TestFaults::downloadRepliesInPieces()
{
    QFETCH(int, cutAt);

    // 768 bytes: the size acknowledgement is then as long as the result, so one cut counted from
    // the end cuts both at the same place.
    const QByteArray image = imageBytes(0x300, 3);
    prepareDownload(image);
    ReceiveLog log;
    downloadAnsweredByHand(0, 0, [&](const QByteArray &reply) {
        return sendInPieces(*m_device, log, reply, cutAt);
    });
    QCOMPARE(updateStatus(), QStringLiteral("Update Complete"));
    QCOMPARE(m_device->receivedCommands(),
             QList<QByteArray>{ testsupport::AnnounceLine(MainArea, image.size()) });
    QCOMPARE(m_device->receivedBlocks().size(), 1);
    QCOMPARE(m_device->memory(MainArea, image.size() + 16), image + QByteArray(16, '\xFF'));
    verifyReceivedInPieces(log, { "ACK_DOWNLOAD:Size:768", "ACK_DOWNLOAD:Result:1" });
    verifyAlive();
    QCOMPARE(m_boxes->count(), 1);
}

// Both reads asked, their replies held back and then sent as `segment`, which answers both.
bool TestFaults::answerTwoReadsWith(const QByteArray &segment)
{
    m_device->dropReplies(2);
    QTest::mouseClick(FormUpdate->ui()->BtnRead, Qt::LeftButton);
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    return waitFor([this] { return m_device->receivedCommands().size() == 2; }, WaitMs)
            && m_device->receivedCommands() == QList<QByteArray>{ "ReqVer", "ReqIP_ADR" }
    && m_device->sendRaw(segment)
            && waitFor([] { return mainStatus() == QLatin1String("IP Address Received"); }, WaitMs)
            && addressTexts() == expectedAddressTexts()
            && updateStatus() == QLatin1String("Version Received")
            && versionText() == QLatin1String("3.10");
}

// Two whole replies and the start of a third in one segment: both are handled, the unfinished
// line waits for its end, and receiving goes on until it is whole.
void TestFaults::severalRepliesInOneSegment()
{
    QVERIFY(connectByVersionRead());
    ReceiveLog log;
    const QByteArray segment = "ACK_REQ_VER:3.10\r\nACK_REC_IP:" + DeviceAddresses.join(',')
            + "\r\nxyACK_REQ_MAC:00A0";
    QVERIFY(answerTwoReadsWith(segment));
    QCOMPARE(log.receives, QList<QByteArray>{ segment });
    QSignalSpy ticks(testsupport::pollTimer(), &QTimer::timeout);
    QVERIFY(waitFor([&ticks] { return ticks.size() >= 2; }, WaitMs));
    QCOMPARE(link().PendingReplyBytes(), qsizetype(18));
    QVERIFY(link().IsPolling());

    QVERIFY(m_device->sendRaw("B1C2D3E4\r\n"));
    QVERIFY(waitFor([] { return link().PendingReplyBytes() == 0; }, WaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(!link().IsPolling(), WaitMs);
    verifyAlive();
}

void TestFaults::sizeAcknowledgementAndVersionInOneSegment()
{
    const QByteArray image = imageBytes(0x300, 5);
    prepareDownload(image);
    ReceiveLog log;
    m_device->dropReplies(1);
    QVERIFY(announce());
    QVERIFY(waitFor([this] { return m_device->receivedCommands().size() == 1; }, WaitMs));
    const QByteArray segment = "ACK_DOWNLOAD:Size:768\r\nACK_REQ_VER:3.10\r\n";
    QVERIFY(m_device->sendRaw(segment));
    QVERIFY(waitFor([] { return updateStatus() == QLatin1String("Version Received"); }, WaitMs));
    QCOMPARE(FormUpdate->ReplyText(), QByteArray("SizeOK"));
    QCOMPARE(versionText(), QStringLiteral("3.10"));
    QVERIFY(log.receives.contains(segment));
    QVERIFY(tickWithReplies());
    QCOMPARE(updateStatus(), QStringLiteral("Update Complete"));
    QCOMPARE(m_device->receivedCommands(),
             QList<QByteArray>{ testsupport::AnnounceLine(MainArea, image.size()) });
    QCOMPARE(m_device->memory(MainArea, image.size()), image);
    verifyAlive();
}

void TestFaults::garbageBeforeEveryReply_data()
{
    QTest::addColumn<QByteArray>("garbage");
    QTest::newRow("text") << QByteArray("xyz ");
    QTest::newRow("control characters") << QByteArray("\x01\x02\t\x1b[0m");
    QTest::newRow("bytes above 0x7f") << QByteArray("\xff\xfe\x80\xa0");
    QTest::newRow("a lone CR") << QByteArray("\r");
    QTest::newRow("the start of a prefix") << QByteArray("ACK_REQ");
    QTest::newRow("a line of its own") << QByteArray("noise from the device\r\n");
}

void TestFaults::garbageBeforeEveryReply()
{
    QFETCH(QByteArray, garbage);

    const QByteArray image = imageBytes(0x800, 9);
    openUpdateWindow();
    QVERIFY(loadImage(image));
    m_device->setReplyGarbage(garbage);
    ReceiveLog log;

    QVERIFY(readVersion());
    m_device->clearRecords();
    QVERIFY(readAddresses());
    QVERIFY(runDownload());
    QCOMPARE(updateStatus(), QStringLiteral("Update Complete"));
    QCOMPARE(m_device->receivedCommands(),
             (QList<QByteArray>{ "ReqIP_ADR", testsupport::AnnounceLine(MainArea, image.size()) }));
    QCOMPARE(m_device->memory(MainArea, image.size()), image);

    const QByteArray stream = garbage + "ACK_REQ_VER:" + DeviceVersion + "\r\n" + garbage
            + "ACK_REC_IP:" + DeviceAddresses.join(',') + "\r\n" + garbage + "ACK_DOWNLOAD:Size:"
            + QByteArray::number(image.size()) + "\r\n" + garbage + "ACK_DOWNLOAD:Result:1\r\n";
    QVERIFY(waitFor([&] { return log.all() == stream; }, WaitMs));
    QCOMPARE(FormComNet->ui()->edtIPADR->text(), QStringLiteral("127.0.0.1"));
    verifyAlive();
    QCOMPARE(m_boxes->count(), 1);
}

// --- A hostile peer -------------------------------------------------------------------------

void TestFaults::overlongLineIsDroppedWithBoundedMemory_data()
{
    QTest::addColumn<QByteArray>("between");
    QTest::addColumn<bool>("replyHandled");
    QTest::newRow("a line end, then the reply") << QByteArray("\r\n") << true;
    // Without a line end the reply is the tail of the over-long line and goes with it.
    QTest::newRow("the reply right after it") << QByteArray() << false;
}

void TestFaults::overlongLineIsDroppedWithBoundedMemory()
{
    QFETCH(QByteArray, between);
    QFETCH(bool, replyHandled);

    QVERIFY(connectByVersionRead());
    // A line that would pass for a version reply if any of it were handed on.
    QByteArray line = "ACK_REQ_VER:BAD";
    line += QByteArray(1024 * 1024 - line.size(), 'x');
    QVERIFY(!line.contains('\n'));

    // Each receive is at most 4096 bytes; what the earlier ones left held is sampled before it
    // is fed, and the last one leaves nothing.
    qsizetype maxPending = 0;
    qsizetype maxReceive = 0;
    qint64 consumed = 0;
    QObject scope; // ends the connection with this function
    QObject::connect(&link(), &core::DeviceLink::received, &scope, [&](const QByteArray &text) {
        maxPending = std::max(maxPending, link().PendingReplyBytes());
        maxReceive = std::max(maxReceive, text.size());
        consumed += text.size();
    });

    m_device->dropReplies(1);
    QTest::mouseClick(FormUpdate->ui()->BtnRead, Qt::LeftButton);
    QVERIFY(waitFor([this] { return m_device->receivedCommands().size() == 1; }, WaitMs));
    QVERIFY(m_device->sendRaw(line));
    QVERIFY(m_device->sendRaw(between + "ACK_REQ_VER:7.77\r\n"));

    // Receiving goes on through the whole line, dropped or not, to the reply behind it.
    const qint64 total = line.size() + between.size() + 18;
    QVERIFY2(waitFor([&] { return consumed >= total; }, 30000),
             qPrintable(QStringLiteral("%1 of %2 bytes received").arg(consumed).arg(total)));
    QCOMPARE(consumed, total);

    QVERIFY2(maxReceive <= 4096, qPrintable(QString::number(maxReceive)));
    QVERIFY2(maxPending <= AssemblerLimit, qPrintable(QString::number(maxPending)));
    QCOMPARE(link().PendingReplyBytes(), 0);
    const QStringList shown = { replyHandled ? QStringLiteral("7.77") : QString(),
                                replyHandled ? QStringLiteral("Version Received") : QString() };
    QCOMPARE(VersionRead.shown(), shown);
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqVer" });
    verifyAlive();
    QCOMPARE(m_boxes->count(), 0);
}

void TestFaults::floodOfUnknownLines()
{
    QVERIFY(connectByVersionRead());
    // Near misses of real replies among them: wrong case, no colon, other separators.
    const QList<QByteArray> kinds = { "ack_set_ip:1", "ACK_SET_IP 1", "ACK-REQ-VER:9.99",
                                      "Ack_Rec_Ip:1.2.3.4", "NOISE" };
    QByteArray flood;
    for (int i = 0; i < 10000; ++i)
        flood += kinds[i % kinds.size()] + ' ' + QByteArray::number(i) + "\r\n";
    QVERIFY(flood.size() > 150000);

    QList<QString> mainTexts;
    QObject scope; // ends the connections with this function
    QObject::connect(FormMain->ui()->SBar, &QStatusBar::messageChanged, &scope,
                     [&mainTexts](const QString &text) { mainTexts << text; });
    qsizetype maxPending = 0;
    QObject::connect(&link(), &core::DeviceLink::received, &scope, [&maxPending] {
        maxPending = std::max(maxPending, link().PendingReplyBytes());
    });
    ReceiveLog log;

    // What of the flood comes before the command waits in the socket until the command enables
    // receiving; all of it is taken, ahead of the reply.
    QVERIFY(m_device->sendRaw(flood));
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    QVERIFY2(waitFor([] { return mainStatus() == QLatin1String("IP Address Received"); }, 20000),
             qPrintable(QStringLiteral("%1 bytes received").arg(log.all().size())));
    QCOMPARE(addressTexts(), expectedAddressTexts());
    mainTexts.removeAll(QString());
    QCOMPARE(mainTexts, QList<QString>{ QStringLiteral("IP Address Received") });
    QCOMPARE(log.all(), flood + "ACK_REC_IP:" + DeviceAddresses.join(',') + "\r\n");
    for (const QByteArray &receive : std::as_const(log.receives))
        QVERIFY(receive.size() <= 4096);
    QVERIFY(maxPending < 64);
    QCOMPARE(versionText(), QString::fromLatin1(DeviceVersion));
    QCOMPARE(FormComNet->ui()->edtIPADR->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqIP_ADR" });
    QTRY_VERIFY_WITH_TIMEOUT(!link().IsPolling(), WaitMs);
    verifyAlive();
    QCOMPARE(m_boxes->count(), 0);
}

// --- The device goes away -------------------------------------------------------------------

void TestFaults::deviceEndsTheConnectionInAReply_data()
{
    QTest::addColumn<Read>("read");
    QTest::addColumn<CloseMode>("mode");
    QTest::newRow("version, closed") << VersionRead << CloseMode::Graceful;
    QTest::newRow("version, reset") << VersionRead << CloseMode::Reset;
    QTest::newRow("addresses, closed") << AddressesRead << CloseMode::Graceful;
    QTest::newRow("addresses, reset") << AddressesRead << CloseMode::Reset;
}

void TestFaults::deviceEndsTheConnectionInAReply()
{
    QFETCH(Read, read);
    QFETCH(CloseMode, mode);

    QVERIFY(connectByVersionRead());
    ReceiveLog log;
    // The first 15 bytes go out, then the device goes away before the rest.
    m_device->setReplySplit(15, 3000);
    goAwayAfterFirst(m_device.get(), &DeviceSimulator::dataSent, mode);

    QTest::mouseClick(read.button(), Qt::LeftButton);
    QVERIFY(waitFor([] { return linkStatus() == QLatin1String("Disconnected\n"); }, WaitMs));
    QVERIFY(!link().IsConnected());
    QVERIFY(!link().IsPolling());
    QCOMPARE(link().PendingReplyBytes(), 0);
    QCOMPARE(log.all(), read.reply.first(15));
    // Half a reply is no reply, and with its connection gone nothing more can come.
    QCOMPARE(read.shown(), QStringList(read.answered.size(), QString()));
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ read.command });

    // The next command opens a new connection; nothing of the old half line sticks to it.
    const int connections = m_device->counters().connections;
    verifyAlive();
    QCOMPARE(m_device->counters().connections, connections + 1);
    QVERIFY(readAddresses());
    QCOMPARE(m_boxes->count(), 0);
}

// Once the device went away during a block, nothing more can come: the download's waits run out,
// the device kept only a block it took whole, and the next command connects anew.
void TestFaults::verifyAfterTheDeviceWentAway(bool written)
{
    QVERIFY(!link().IsConnected());
    QVERIFY(waitFor([this] { return !m_device->hasClient(); }, WaitMs));
    QVERIFY(tickToIdle(60) <= 53);
    QVERIFY(!downloadBusy());
    QCOMPARE(updateStatus(), QStringLiteral("Error!!(Timeout)"));
    QVERIFY2(endedByTheDevice(), qPrintable(linkStatus()));
    QVERIFY(!link().CommandHold());

    QCOMPARE(m_device->receivedCommands(),
             QList<QByteArray>{ testsupport::AnnounceLine(MainArea, m_image.size()) });
    QCOMPARE(m_device->receivedBlocks().size(), written ? 1 : 0);
    QCOMPARE(m_device->memory(MainArea, m_image.size()),
             written ? m_image : QByteArray(m_image.size(), '\xFF'));
    // A block the device announced but never got goes with its connection.
    QCOMPARE(m_device->counters().blocksDiscarded, written ? 0 : 1);

    const int connections = m_device->counters().connections;
    verifyAlive();
    QCOMPARE(m_device->counters().connections, connections + 1);
    QCOMPARE(linkStatus(), QStringLiteral("Connect Complete"));
    QCOMPARE(m_boxes->count(), 1);
}

// The device answers the announce, then goes away before the block.
void TestFaults::deviceGoesAwayBeforeTheBlock()
{
    QFETCH(CloseMode, mode);
    prepareDownload(m_image = imageBytes(0x8000, 13));
    m_device->closeAfterCommands(1, mode);
    sendTheBlockWhileTheDeviceGoesAway(false);
}

// The device writes the block and goes away before its result.
void TestFaults::deviceGoesAwayBeforeTheResult()
{
    QFETCH(CloseMode, mode);
    prepareDownload(m_image = imageBytes(0x8000, 13));
    m_device->setBlockReply(0, QByteArray());
    goAwayAfterFirst(m_device.get(), &DeviceSimulator::blockReceived, mode);
    sendTheBlockWhileTheDeviceGoesAway(true);
}

void TestFaults::sendTheBlockWhileTheDeviceGoesAway(bool written)
{
    QVERIFY(startDownload());
    QVERIFY(tickWithReplies(4)); // the acknowledgement and the block
    QCOMPARE(updateStatus(), QStringLiteral("Data Send"));
    QVERIFY(waitFor(endedByTheDevice, WaitMs));
    verifyAfterTheDeviceWentAway(written);
}

// The size acknowledgement is cut off in the middle.
void TestFaults::deviceGoesAwayInTheSizeAcknowledgement()
{
    QFETCH(CloseMode, mode);
    prepareDownload(m_image = imageBytes(0x8000, 13));
    m_device->setReplySplit(10, 3000);
    goAwayAfterFirst(m_device.get(), &DeviceSimulator::dataSent, mode);
    QVERIFY(announce());
    QVERIFY(waitFor([] { return linkStatus() == QLatin1String("Disconnected\n"); }, WaitMs));
    QCOMPARE(FormUpdate->ReplyText(), QByteArray());
    verifyAfterTheDeviceWentAway(false);
}

// "Connect" in the communication window during a download of two blocks of text that a device
// reading them as commands would obey; the device leaves the first `unanswered` replies out.
void TestFaults::startCommandLikeDownload(int unanswered)
{
    m_image = commandLikeImage(0x20100);
    prepareDownload(m_image);
    m_connections = m_device->counters().connections;
    m_device->dropReplies(unanswered);
    QVERIFY(announce());
}

// Whatever the moment, the device took no image byte for a command and no block that its own
// session had not announced.
void TestFaults::verifyAfterConnectPressed(const QString &status, int blocksWritten)
{
    QCOMPARE(linkStatus(), QStringLiteral("Connect Complete"));
    QVERIFY(!downloadBusy());
    QCOMPARE(updateStatus(), status);
    QVERIFY(!link().CommandHold());

    // A round trip on the new connection: whatever the tool wrote there is at the device by then.
    verifyAlive();
    QCOMPARE(m_device->counters().connections, m_connections + 1);
    QCOMPARE(m_device->macAddress(), DeviceMac);
    QList<QByteArray> commands = { testsupport::AnnounceLine(MainArea, 0x20000) };
    if (blocksWritten == 2)
        commands << testsupport::AnnounceLine(MainArea + 0x20000, 0x100);
    QCOMPARE(m_device->receivedCommands(), commands << "ReqVer");
    QCOMPARE(m_device->counters().unknownCommands, 0);
    QCOMPARE(m_device->receivedBlocks().size(), blocksWritten);
    const QByteArray expected = m_image.first(0x20000 * std::min(blocksWritten, 1))
            + (blocksWritten == 2 ? m_image.sliced(0x20000) : QByteArray());
    QCOMPARE(m_device->memory(MainArea, m_image.size()),
             expected + QByteArray(m_image.size() - expected.size(), '\xFF'));
    QCOMPARE(m_boxes->count(), 1);
}

void TestFaults::connectPressedWhileTheSizeIsAwaited()
{
    startCommandLikeDownload(1);
    QVERIFY(waitFor([this] { return m_device->counters().repliesDropped == 1; }, WaitMs));
    FormComNet->ui()->SBtnLanConnect->click();
    QVERIFY(tickToIdle(40) <= 33);
    verifyAfterConnectPressed(QStringLiteral("Error!!(Timeout)"), 0);
}

void TestFaults::connectPressedBeforeTheBlock()
{
    startCommandLikeDownload();
    QVERIFY(tickWithReplies(3));
    FormComNet->ui()->SBtnLanConnect->click();
    tick(); // the block
    QVERIFY(tickToIdle(60) <= 53);
    verifyAfterConnectPressed(QStringLiteral("Error!!(Timeout)"), 0);
}

void TestFaults::connectPressedWhileTheResultIsAwaited()
{
    startCommandLikeDownload();
    QVERIFY(tickWithReplies(3));
    m_device->setBlockReply(0, QByteArray());
    tick(); // the block
    QVERIFY(waitFor([this] { return m_device->receivedBlocks().size() == 1; }, WaitMs));
    FormComNet->ui()->SBtnLanConnect->click();
    QVERIFY(tickToIdle(60) <= 53);
    verifyAfterConnectPressed(QStringLiteral("Error!!(Timeout)"), 1);
}

void TestFaults::connectPressedBetweenTwoBlocks()
{
    startCommandLikeDownload();
    QVERIFY(tickWithReplies(5));
    QCOMPARE(updateStatus(), QStringLiteral("Update Complete"));
    FormComNet->ui()->SBtnLanConnect->click();
    QVERIFY(tickWithReplies());
    verifyAfterConnectPressed(QStringLiteral("Update Complete"), 2);
}

// The device acknowledges a block's announce and then ends the connection, while the main
// window's "Read" waits behind the open block.
void TestFaults::holdAReadBehindABlockTheDeviceEnded()
{
    prepareDownload(imageBytes(0x100, 5));
    m_device->dropReplies(1);
    QVERIFY(announce());
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton); // held behind the open block
    QVERIFY(link().CommandHold());
    QVERIFY(waitFor([this] { return m_device->counters().repliesDropped == 1; }, WaitMs));
    goAwayAfterFirst(m_device.get(), &DeviceSimulator::replySent, CloseMode::Graceful);
    QVERIFY(m_device->sendRaw("ACK_DOWNLOAD:Size:256\r\n"));
    // Noticed while nothing is being asked of the link.
    QVERIFY(waitFor([] { return !link().IsConnected(); }, WaitMs));
    QCOMPARE(linkStatus(), QStringLiteral("Disconnected\n"));
    QCOMPARE(FormUpdate->ReplyText(), QByteArray("SizeOK"));
    tick(); // the acknowledgement
    m_connections = m_device->counters().connections;
}

void TestFaults::heldCommandGoesOutOnAFreshConnection()
{
    holdAReadBehindABlockTheDeviceEnded();
    testsupport::session().StepDownload(); // the block: nowhere to go
    QCOMPARE(m_boxes->count(), 1); // nothing opens inside the step
    QVERIFY(!link().CommandHold());
    QVERIFY(waitFor([] { return mainStatus() == QLatin1String("IP Address Received"); }, WaitMs));
    QCOMPARE(addressTexts(), expectedAddressTexts());
    QCOMPARE(m_device->counters().connections, m_connections + 1);
    QCOMPARE(m_device->receivedCommands(),
             (QList<QByteArray>{ testsupport::AnnounceLine(MainArea, 0x100), "ReqIP_ADR" }));
    QVERIFY(m_device->receivedBlocks().isEmpty());
    QVERIFY(tickToIdle(60) <= 53);
    QCOMPARE(m_boxes->count(), 1);
    QVERIFY(readAddresses());
}

// The fresh connection for the held command is refused, and the engineer leaves the failure box
// open while the download's wait runs out and it stops: one box for the one failed connection.
void TestFaults::heldCommandNotSentWhileTheDeviceIsGone()
{
    holdAReadBehindABlockTheDeviceEnded();
    const quint16 port = m_device->serverPort();
    m_device->close();
    bool stoppedWhileOpen = false;
    m_boxes->setWhileOpen([&stoppedWhileOpen] {
        tickToIdle(60);
        stoppedWhileOpen = !downloadBusy();
    });
    testsupport::session().StepDownload(); // the block: nowhere to go
    QCOMPARE(m_boxes->count(), 1); // nothing opens inside the step
    QVERIFY(waitFor([this] { return m_boxes->count() > 1; }, WaitMs));
    QCoreApplication::processEvents(); // a second attempt would be under way by now
    m_boxes->setWhileOpen(nullptr);
    QVERIFY(stoppedWhileOpen);
    QCOMPARE(m_boxes->count(), 2);
    QCOMPARE(m_boxes->shown().last().text, QStringLiteral("Error:connect(), Code = 10061\n\n"));
    QCOMPARE(linkStatus(),
             QStringLiteral("1 held command not sent: Error:connect(), Code = 10061"));
    QCOMPARE(updateStatus(), QStringLiteral("Error!!(Timeout)"));
    QCOMPARE(AddressesRead.shown(), QStringList(6, QString()));
    QCOMPARE(m_device->receivedCommands(),
             QList<QByteArray>{ testsupport::AnnounceLine(MainArea, 0x100) });
    QVERIFY(m_device->receivedBlocks().isEmpty());

    // The next "Read" finds the device back, on a new connection.
    QVERIFY(m_device->listen(Loopback, port));
    QVERIFY(readAddresses());
    QCOMPARE(linkStatus(), QStringLiteral("Connect Complete"));
    QCOMPARE(m_device->receivedCommands(),
             (QList<QByteArray>{ testsupport::AnnounceLine(MainArea, 0x100), "ReqIP_ADR" }));
    QCOMPARE(m_boxes->count(), 2);
}

void TestFaults::startAfterTheDeviceWentAway()
{
    const QByteArray image = imageBytes(0x300, 9);
    prepareDownload(image);
    m_device->disconnectClient(); // a restart, say
    QVERIFY(waitFor([] { return linkStatus() == QLatin1String("Disconnected\n"); }, WaitMs));
    QVERIFY(!link().IsConnected());
    // "Start" connects anew instead of writing into the ended connection.
    QVERIFY(runDownload());
    QCOMPARE(updateStatus(), QStringLiteral("Update Complete"));
    QCOMPARE(m_device->memory(MainArea, image.size()), image);
}

// A read the device never answers: what the window showed is emptied, and the link keeps polling
// without holding the window (the event loop runs all along).
void TestFaults::readNeverAnswered()
{
    QFETCH(Read, read);

    QVERIFY(this->read(read));
    m_device->clearRecords();
    m_device->dropReplies(1000);
    QTest::mouseClick(read.button(), Qt::LeftButton);
    QVERIFY(waitFor([this] { return m_device->counters().repliesDropped == 1; }, WaitMs));
    QSignalSpy ticks(testsupport::pollTimer(), &QTimer::timeout);
    QVERIFY(waitFor([&ticks] { return ticks.size() >= 2; }, WaitMs));
    QCOMPARE(read.shown(), QStringList(read.answered.size(), QString()));
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ read.command });
    QVERIFY(link().IsConnected());
    QCOMPARE(linkStatus(), QStringLiteral("Connect Complete"));
    QVERIFY(link().IsPolling());
    QCOMPARE(m_boxes->count(), 0);
    verifyAlive();
}

// A connection the device accepted, then silence: the announce is never answered.
void TestFaults::announceNeverAnswered()
{
    const QByteArray image = imageBytes(0x100, 17);
    prepareDownload(image);
    m_device->setIgnoredAnnounce(0);
    QVERIFY(startDownload());
    // Prepare, the announce, 30 waiting steps, then the stop two steps later.
    QCOMPARE(tickToIdle(40), 34);
    QCOMPARE(updateStatus(), QStringLiteral("Error!!(Timeout)"));
    QVERIFY(FormUpdate->ui()->PBar->isHidden());
    QCOMPARE(m_device->receivedCommands(),
             QList<QByteArray>{ testsupport::AnnounceLine(MainArea, image.size()) });
    QCOMPARE(m_device->counters().announcesIgnored, 1);
    QCOMPARE(m_device->receivedBlocks().size(), 0);
    QCOMPARE(m_device->memory(MainArea, image.size()), QByteArray(image.size(), '\xFF'));
    // Giving up on an unacknowledged announce drops the connection the device may be waiting
    // on; the next command opens a new one.
    QVERIFY(!link().IsConnected());
    QCOMPARE(linkStatus(), QStringLiteral("Disconnect"));
    QCOMPARE(m_boxes->count(), 1);
    verifyAlive();
}

// --- The settings file ----------------------------------------------------------------------

namespace {

constexpr qsizetype Huge = 20 * 1024 * 1024;

// A settings file's contents, made when the row runs.
struct Contents
{
    QByteArray (*make)() = nullptr;
};

} // namespace

Q_DECLARE_METATYPE(Contents)

void TestFaults::unusableSettingsFile_data()
{
    QTest::addColumn<Contents>("contents");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");

    const QString defaultAddress = QStringLiteral("192.168.0.1");
    const QString defaultPort = QStringLiteral("2000");
    QTest::newRow("binary garbage")
            << Contents{ []() -> QByteArray { return imageBytes(256 * 1024, 21); } }
            << defaultAddress << defaultPort;
    QTest::newRow("binary garbage, 20 MB")
            << Contents{ []() -> QByteArray { return imageBytes(Huge, 23); } } << defaultAddress
            << defaultPort;
    QTest::newRow("one line of 20 MB")
            << Contents{ []() -> QByteArray { return QByteArray(Huge, 'A'); } } << defaultAddress
            << defaultPort;
    // Size alone is no reason to give up on the file.
    QTest::newRow("20 MB of comments, then the section") << Contents{ []() -> QByteArray {
        QByteArray contents;
        for (int i = 0; contents.size() < Huge; ++i)
            contents += "; comment line " + QByteArray::number(i) + "\r\n";
        return contents + "[LAN]\r\nADR=127.0.0.9\r\nPORT=2001\r\n";
    } } << QStringLiteral("127.0.0.9") << QStringLiteral("2001");
    QTest::newRow("a 20 MB line, then the section") << Contents{ []() -> QByteArray {
        return QByteArray(Huge, '[') + "\r\n[LAN]\r\nADR=127.0.0.9\r\n";
    } } << QStringLiteral("127.0.0.9") << defaultPort;
}

void TestFaults::unusableSettingsFile()
{
    QFETCH(Contents, contents);
    QFETCH(QString, address);
    QFETCH(QString, port);

    const QByteArray bytes = contents.make();
    m_forms = std::make_unique<TestForms>(TestForms::withIni(&bytes));
    verifyLinkStartsUnconnected(address, port);
}

void TestFaults::settingsFileIsAFolder()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("QL_T36.ini")));
    platform::SetModuleFileNameForTesting(
            QDir::toNativeSeparators(dir.filePath(QStringLiteral("ql-t36"))));
    CreateForms();
    const auto destroy = qScopeGuard([] {
        DestroyForms();
        platform::SetModuleFileNameForTesting(QString());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    });
    verifyLinkStartsUnconnected(QStringLiteral("192.168.0.1"), QStringLiteral("2000"));
}

// Nothing is connected at start, whatever the file held; the engineer aims the link at the
// device by hand (loopback here) and goes on.
void TestFaults::verifyLinkStartsUnconnected(const QString &address, const QString &port)
{
    FormMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(FormMain));
    QCOMPARE(FormComNet->ui()->edtIPADR->text(), address);
    QCOMPARE(FormComNet->ui()->edtPORT->text(), port);
    QVERIFY(!link().IsConnected());
    QVERIFY(!link().IsPolling());
    QCOMPARE(m_boxes->count(), 0);
    QCOMPARE(m_device->counters().connections, 0);

    FormComNet->ui()->edtIPADR->setText(QStringLiteral("127.0.0.1"));
    FormComNet->ui()->edtPORT->setText(QString::number(m_device->serverPort()));
    QVERIFY(readAddresses());
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqIP_ADR" });
    QCOMPARE(m_device->counters().connections, 1);
    QCOMPARE(m_boxes->count(), 0);
}

QLT36_TEST_MAIN(TestFaults)

#include "tst_faults.moc"
