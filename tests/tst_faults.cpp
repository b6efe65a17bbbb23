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
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <memory>

using sim::DeviceSimulator;
using testsupport::FileDialogAnswerer;
using testsupport::MessageBoxRecorder;
using testsupport::TestForms;
using testsupport::waitFor;

using CloseMode = DeviceSimulator::CloseMode;

Q_DECLARE_METATYPE(DeviceSimulator::CloseMode)

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));
constexpr quint32 MainArea = 0x1000000;
constexpr qsizetype AssemblerLimit = 64 * 1024;

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

// Bytes that differ from block to block and from erased flash.
QByteArray imageBytes(qsizetype length, quint32 seed)
{
    QByteArray image(length, Qt::Uninitialized);
    quint32 x = seed | 1;
    for (qsizetype i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = static_cast<char>(x >> 24);
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

// Stepping the download by hand: its own timer stays off.
void stopDownloadTimer()
{
    testsupport::downloadTimer()->stop();
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
// (returning false) when an awaited reply does not come within 3 s.
bool tickWithReplies(int untilState = -1, int maxTicks = 400)
{
    for (int i = 0; i < maxTicks && downloadBusy() && downloadState() != untilState; ++i) {
        const int state = downloadState();
        bool arrived = true;
        if (state == 2 || state == 8)
            arrived = waitFor([] { return FormUpdate->ReplyText() == "SizeOK"; }, 3000);
        else if (state == 4 || state == 10)
            arrived = waitFor([] { return !FormUpdate->ReplyText().isEmpty(); }, 3000);
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

// The tool's windows with no usable settings file of their own and the program folder in a
// fresh temporary folder holding a folder named like the settings file.
class FormsWithUnreadableSettings
{
public:
    FormsWithUnreadableSettings()
    {
        if (!QDir(m_dir.path()).mkdir(QStringLiteral("QL_T36.ini")))
            qFatal("cannot make the folder");
        platform::SetModuleFileNameForTesting(
                QDir::toNativeSeparators(m_dir.filePath(QStringLiteral("ql-t36"))));
        CreateForms();
    }
    ~FormsWithUnreadableSettings()
    {
        DestroyForms();
        platform::SetModuleFileNameForTesting(QString());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    FormsWithUnreadableSettings(const FormsWithUnreadableSettings &) = delete;
    FormsWithUnreadableSettings &operator=(const FormsWithUnreadableSettings &) = delete;

private:
    QTemporaryDir m_dir;
};

} // namespace

class TestFaults final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void replyDelayAgainstTheDownloadWaits_data();
    void replyDelayAgainstTheDownloadWaits();
    void lateSizeAcknowledgementLeavesTheDeviceInsideTheBlock();
    void segmentedReplies_data();
    void segmentedReplies();
    void severalRepliesInOneSegment_data();
    void severalRepliesInOneSegment();
    void garbageBeforeEveryReply_data();
    void garbageBeforeEveryReply();
    void overlongLineIsDroppedWithBoundedMemory_data();
    void overlongLineIsDroppedWithBoundedMemory();
    void floodOfUnknownLines();
    void deviceEndsTheConnectionInAReply_data();
    void deviceEndsTheConnectionInAReply();
    void deviceEndsTheConnectionDuringADownload_data();
    void deviceEndsTheConnectionDuringADownload();
    void connectPressedDuringADownload_data();
    void connectPressedDuringADownload();
    void heldCommandAfterTheDeviceEndedTheBlock_data();
    void heldCommandAfterTheDeviceEndedTheBlock();
    void startAfterTheDeviceWentAway();
    void deviceThatNeverAnswers_data();
    void deviceThatNeverAnswers();
    void unusableSettingsFile_data();
    void unusableSettingsFile();

private:
    void startTool();
    void openUpdateWindow();
    bool loadImage(const QByteArray &image);
    bool readVersion(const QByteArray &expected = DeviceVersion);
    bool readAddresses();
    bool connectByVersionRead();
    bool startDownload();
    bool runDownload(int timeoutMs);
    void verifyAlive();

    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<FileDialogAnswerer> m_files;
    std::unique_ptr<DeviceSimulator> m_device;
    std::unique_ptr<TestForms> m_forms;
    std::unique_ptr<FormsWithUnreadableSettings> m_formsNoIni;
};

void TestFaults::init()
{
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_files = std::make_unique<FileDialogAnswerer>();
    m_device = std::make_unique<DeviceSimulator>();
    QVERIFY(m_device->listen(Loopback, 0));
    QVERIFY(m_device->setAddresses(DeviceAddresses));
    // The settings cases start the tool themselves, with their own settings file.
    if (QLatin1String(QTest::currentTestFunction()) != QLatin1String("unusableSettingsFile"))
        startTool();
}

void TestFaults::cleanup()
{
    m_forms.reset();
    m_formsNoIni.reset();
    m_device.reset();
    m_files.reset();
    m_boxes.reset();
}

void TestFaults::startTool()
{
    m_forms = std::make_unique<TestForms>(QStringLiteral("127.0.0.1"), m_device->serverPort());
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

bool TestFaults::readVersion(const QByteArray &expected)
{
    QTest::mouseClick(FormUpdate->ui()->BtnRead, Qt::LeftButton);
    return waitFor([] { return updateStatus() == QLatin1String("Version Received"); }, 5000)
            && versionText() == QString::fromLatin1(expected);
}

bool TestFaults::readAddresses()
{
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
    return waitFor([] { return mainStatus() == QLatin1String("IP Address Received"); }, 5000)
            && addressTexts() == expectedAddressTexts();
}

// A version read first, as an engineer would: the connection is open and the device is known to
// answer before anything else starts.
bool TestFaults::connectByVersionRead()
{
    if (!readVersion())
        return false;
    m_device->clearRecords();
    return link().IsConnected();
}

bool TestFaults::startDownload()
{
    const int boxesBefore = m_boxes->count();
    QTest::mouseClick(FormUpdate->ui()->BtnDownload, Qt::LeftButton);
    return m_boxes->count() == boxesBefore + 1
            && m_boxes->shown().last().text == QLatin1String("Firmwear Update Start OK ?")
            && downloadBusy();
}

bool TestFaults::runDownload(int timeoutMs)
{
    return startDownload() && waitFor([] { return !downloadBusy(); }, timeoutMs);
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

// --- Replies late against the download's waits ----------------------------------------------

void TestFaults::replyDelayAgainstTheDownloadWaits_data()
{
    QTest::addColumn<int>("sizeDelay");
    QTest::addColumn<int>("resultDelay");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("blockSent");
    QTest::addColumn<QByteArray>("lateReplyText");

    // The waits count 100 ms ticks: 30 for the size acknowledgement, 50 for the result.
    QTest::newRow("size acknowledgement 2.0 s, within 30 ticks")
            << 2000 << 0 << QStringLiteral("Update Complete") << true << QByteArray();
    QTest::newRow("size acknowledgement 3.6 s, past 30 ticks")
            << 3600 << 0 << QStringLiteral("Error!!(Timeout)") << false << QByteArray("SizeOK");
    QTest::newRow("result 4.0 s, within 50 ticks")
            << 0 << 4000 << QStringLiteral("Update Complete") << true << QByteArray();
    QTest::newRow("result 5.6 s, past 50 ticks")
            << 0 << 5600 << QStringLiteral("Error!!(Timeout)") << true << QByteArray("Complete");
}

void TestFaults::replyDelayAgainstTheDownloadWaits()
{
    QFETCH(int, sizeDelay);
    QFETCH(int, resultDelay);
    QFETCH(QString, status);
    QFETCH(bool, blockSent);
    QFETCH(QByteArray, lateReplyText);

    const QByteArray image = imageBytes(0x1234, 7);
    openUpdateWindow();
    QVERIFY(loadImage(image));
    QVERIFY(connectByVersionRead());

    // The size acknowledgement goes out with the first delay, the result with the second.
    m_device->setReplyDelay(sizeDelay);
    QObject::connect(m_device.get(), &DeviceSimulator::replySent, m_device.get(),
                     [this, resultDelay](const QByteArray &reply) {
                         if (reply.startsWith("ACK_DOWNLOAD:Size:"))
                             m_device->setReplyDelay(resultDelay);
                     });
    QList<QString> statuses;
    QObject scope; // ends the connection with this function
    QObject::connect(FormUpdate->ui()->SBar, &QStatusBar::messageChanged, &scope,
                     [&statuses](const QString &text) { statuses << text; });

    QVERIFY(runDownload(15000));
    QCOMPARE(updateStatus(), status);
    QVERIFY(!testsupport::downloadTimer()->isActive());
    QVERIFY(FormUpdate->ui()->PBar->isHidden());
    const QList<QString> sizeOnly = { QStringLiteral("Update Start"), status };
    const QList<QString> whole = { QStringLiteral("Update Start"), QStringLiteral("Data Send"),
                                   status };
    QCOMPARE(statuses, blockSent ? whole : sizeOnly);

    QCOMPARE(m_device->receivedCommands(),
             QList<QByteArray>{ testsupport::AnnounceLine(MainArea, image.size()) });
    const QList<sim::BlockRecord> blocks = m_device->receivedBlocks();
    QCOMPARE(blocks.size(), blockSent ? 1 : 0);
    // A late result still means the device wrote the block.
    QCOMPARE(m_device->memory(MainArea, image.size()),
             blockSent ? image : QByteArray(image.size(), '\xFF'));
    QCOMPARE(m_device->memory(MainArea + 0x1234, 16), QByteArray(16, '\xFF'));

    if (blockSent) {
        if (!lateReplyText.isEmpty()) {
            // The late result still arrives and is translated; it starts nothing.
            QVERIFY(waitFor([&] { return FormUpdate->ReplyText() == lateReplyText; }, 5000));
            QTest::qWait(300);
            QVERIFY(!downloadBusy());
            QCOMPARE(updateStatus(), status);
            QCOMPARE(m_device->receivedCommands().size(), 1);
            QCOMPARE(m_device->receivedBlocks().size(), blocks.size());
        }
        verifyAlive();
    } else {
        // Giving up on the size acknowledgement closes the connection: the device drops the
        // block it may have opened, and its late reply can no longer start anything.
        QVERIFY(!link().IsConnected());
        QCOMPARE(linkStatus(), QStringLiteral("Disconnect"));
        QVERIFY(waitFor([this] { return !m_device->isReceivingBlock(); }, 5000));
        QTest::qWait(300);
        QVERIFY(FormUpdate->ReplyText().isEmpty());
        verifyAlive();
        QCOMPARE(m_device->receivedBlocks().size(), 0);
    }
    QCOMPARE(m_boxes->count(), 1);
}

// A size acknowledgement that comes after the wait ran out: the device may have opened the block
// and would take the next bytes as image data. The tool closes the connection when it gives up,
// so the device drops the block and the next command goes out on a new connection.
void TestFaults::lateSizeAcknowledgementLeavesTheDeviceInsideTheBlock()
{
    const QByteArray image = imageBytes(0x40, 11);
    openUpdateWindow();
    QVERIFY(loadImage(image));
    QVERIFY(connectByVersionRead());
    m_device->setReplyDelay(3600);
    QVERIFY(startDownload());
    stopDownloadTimer();
    // Past the 30 ticks of the size wait without the acknowledgement.
    QCOMPARE(tickToIdle(40), 34);
    QCOMPARE(updateStatus(), QStringLiteral("Error!!(Timeout)"));
    QVERIFY(!link().IsConnected());
    QCOMPARE(FormComNet->StatusText(), QStringLiteral("Disconnect"));
    QVERIFY(waitFor([this] { return !m_device->isReceivingBlock(); }, 5000));

    m_device->setReplyDelay(0);
    QTest::mouseClick(FormUpdate->ui()->BtnRead, Qt::LeftButton);
    QVERIFY(waitFor([this] { return versionText() == QString::fromLatin1(DeviceVersion); }, 3000));
    QCOMPARE(m_device->receivedCommands(),
             (QList<QByteArray>{ testsupport::AnnounceLine(MainArea, image.size()), "ReqVer" }));
    QVERIFY(m_device->receivedBlocks().isEmpty());
    QCOMPARE(m_device->memory(MainArea, image.size()), QByteArray(image.size(), '\xFF'));
    QCOMPARE(versionText(), QString::fromLatin1(DeviceVersion));
}

// --- Replies cut into pieces --------------------------------------------------------------

void TestFaults::segmentedReplies_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("splitAt"); // 0: one byte per segment
    QTest::addColumn<int>("pauseMs");

    const QList<QString> operations = { QStringLiteral("addresses"), QStringLiteral("version"),
                                        QStringLiteral("download") };
    for (const QString &op : operations) {
        const QByteArray name = op.toLatin1();
        // Pauses long enough that the link sees every piece in a receive of its own.
        QTest::newRow(QByteArray(name + ", two pieces inside the prefix").constData())
                << op << 4 << 250;
        QTest::newRow(QByteArray(name + ", two pieces after the prefix").constData())
                << op << 15 << 250;
        QTest::newRow(QByteArray(name + ", two pieces, LF alone").constData()) << op << -1 << 250;
        QTest::newRow(QByteArray(name + ", two pieces, CR LF alone").constData())
                << op << -2 << 250;
        QTest::newRow(QByteArray(name + ", one byte per segment").constData()) << op << 0 << 20;
    }
}

void TestFaults::segmentedReplies()
{
    QFETCH(QString, operation);
    QFETCH(int, splitAt);
    QFETCH(int, pauseMs);

    // 768 bytes: the size acknowledgement is then as long as the result, so one split point
    // counted from the end cuts both at the same place.
    const QByteArray image = imageBytes(0x300, 3);
    openUpdateWindow();
    QVERIFY(loadImage(image));
    QVERIFY(connectByVersionRead());

    QList<QByteArray> replies;
    if (operation == QLatin1String("addresses"))
        replies = { "ACK_REC_IP:" + DeviceAddresses.join(',') };
    else if (operation == QLatin1String("version"))
        replies = { "ACK_REQ_VER:" + DeviceVersion };
    else
        replies = { "ACK_DOWNLOAD:Size:" + QByteArray::number(image.size()),
                    "ACK_DOWNLOAD:Result:1" };
    QCOMPARE(replies.last().size(), replies.first().size());

    if (splitAt == 0) {
        m_device->setOneByteSegments(true, pauseMs);
    } else if (splitAt < 0) {
        const qsizetype at = replies.first().size() + 2 + splitAt;
        m_device->setReplySplit(static_cast<int>(at), pauseMs);
    } else {
        m_device->setReplySplit(splitAt, pauseMs);
    }

    ReceiveLog log;
    if (operation == QLatin1String("addresses")) {
        QVERIFY(readAddresses());
        QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqIP_ADR" });
    } else if (operation == QLatin1String("version")) {
        QVERIFY(readVersion());
        QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqVer" });
    } else {
        QVERIFY(runDownload(20000));
        QCOMPARE(updateStatus(), QStringLiteral("Update Complete"));
        QCOMPARE(m_device->receivedCommands(),
                 QList<QByteArray>{ testsupport::AnnounceLine(MainArea, image.size()) });
        QCOMPARE(m_device->receivedBlocks().size(), 1);
        QCOMPARE(m_device->memory(MainArea, image.size()), image);
        QCOMPARE(m_device->memory(MainArea + 0x300, 16), QByteArray(16, '\xFF'));
    }

    // Every byte the device sent reached the link once, in order, and no reply came whole.
    QByteArray stream;
    for (const QByteArray &r : replies)
        stream += r + "\r\n";
    QVERIFY(waitFor([&] { return log.all() == stream; }, 2000));
    QVERIFY2(log.receives.size() >= 2 * replies.size(),
             qPrintable(QStringLiteral("%1 receives").arg(log.receives.size())));
    for (const QByteArray &reply : std::as_const(replies))
        QVERIFY(!log.receives.contains(reply + "\r\n"));
    QCOMPARE(link().PendingReplyBytes(), 0);
    QVERIFY(!link().IsPolling());
    verifyAlive();
    QCOMPARE(m_boxes->count(), operation == QLatin1String("download") ? 1 : 0);
}

void TestFaults::severalRepliesInOneSegment_data()
{
    QTest::addColumn<QString>("scene");
    QTest::newRow("version and addresses") << QStringLiteral("two");
    QTest::newRow("version, addresses and the start of a MAC reply") << QStringLiteral("partial");
    QTest::newRow("size acknowledgement and a version during a download")
            << QStringLiteral("download");
}

void TestFaults::severalRepliesInOneSegment()
{
    QFETCH(QString, scene);

    const QByteArray image = imageBytes(0x300, 5);
    openUpdateWindow();
    QVERIFY(loadImage(image));
    QVERIFY(connectByVersionRead());
    ReceiveLog log;
    const QByteArray version = "ACK_REQ_VER:3.10\r\n";
    const QByteArray addresses = "ACK_REC_IP:" + DeviceAddresses.join(',') + "\r\n";

    if (scene == QLatin1String("download")) {
        m_device->dropReplies(1);
        QVERIFY(startDownload());
        stopDownloadTimer();
        tick();
        tick();
        QVERIFY(waitFor([this] { return m_device->receivedCommands().size() == 1; }, 3000));
        const QByteArray segment =
                "ACK_DOWNLOAD:Size:" + QByteArray::number(image.size()) + "\r\n" + version;
        QVERIFY(m_device->sendRaw(segment));
        QVERIFY(waitFor([] { return updateStatus() == QLatin1String("Version Received"); }, 3000));
        QCOMPARE(FormUpdate->ReplyText(), QByteArray("SizeOK"));
        QCOMPARE(versionText(), QStringLiteral("3.10"));
        QVERIFY(log.receives.contains(segment));
        QVERIFY(tickWithReplies());
        QCOMPARE(updateStatus(), QStringLiteral("Update Complete"));
        QCOMPARE(m_device->receivedCommands(),
                 QList<QByteArray>{ testsupport::AnnounceLine(MainArea, image.size()) });
        QCOMPARE(m_device->memory(MainArea, image.size()), image);
    } else {
        m_device->dropReplies(2);
        QTest::mouseClick(FormUpdate->ui()->BtnRead, Qt::LeftButton);
        QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
        QVERIFY(waitFor([this] { return m_device->receivedCommands().size() == 2; }, 3000));
        QCOMPARE(m_device->receivedCommands(), (QList<QByteArray>{ "ReqVer", "ReqIP_ADR" }));
        QByteArray segment = version + addresses;
        if (scene == QLatin1String("partial"))
            segment += "xyACK_REQ_MAC:00A0";
        QVERIFY(m_device->sendRaw(segment));
        QVERIFY(waitFor([] { return mainStatus() == QLatin1String("IP Address Received"); }, 3000));
        QCOMPARE(updateStatus(), QStringLiteral("Version Received"));
        QCOMPARE(versionText(), QStringLiteral("3.10"));
        QCOMPARE(addressTexts(), expectedAddressTexts());
        QCOMPARE(log.receives, QList<QByteArray>{ segment });
        if (scene == QLatin1String("partial")) {
            // The unfinished line waits for its end and polling goes on meanwhile.
            QTest::qWait(300);
            QCOMPARE(link().PendingReplyBytes(), qsizetype(18));
            QVERIFY(link().IsPolling());
            QVERIFY(m_device->sendRaw("B1C2D3E4\r\n"));
            QVERIFY(waitFor([] { return link().PendingReplyBytes() == 0; }, 3000));
            QTRY_VERIFY_WITH_TIMEOUT(!link().IsPolling(), 1000);
        }
    }
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
    QVERIFY(runDownload(10000));
    QCOMPARE(updateStatus(), QStringLiteral("Update Complete"));
    QCOMPARE(m_device->receivedCommands(),
             (QList<QByteArray>{ "ReqIP_ADR", testsupport::AnnounceLine(MainArea, image.size()) }));
    QCOMPARE(m_device->memory(MainArea, image.size()), image);

    const QByteArray stream = garbage + "ACK_REQ_VER:" + DeviceVersion + "\r\n" + garbage
            + "ACK_REC_IP:" + DeviceAddresses.join(',') + "\r\n" + garbage + "ACK_DOWNLOAD:Size:"
            + QByteArray::number(image.size()) + "\r\n" + garbage + "ACK_DOWNLOAD:Result:1\r\n";
    QVERIFY(waitFor([&] { return log.all() == stream; }, 2000));
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
    QVERIFY(waitFor([this] { return m_device->receivedCommands().size() == 1; }, 3000));
    QVERIFY(m_device->sendRaw(line));
    QVERIFY(m_device->sendRaw(between + "ACK_REQ_VER:7.77\r\n"));

    // Receiving goes on through the whole line, dropped or not, to the reply behind it.
    const qint64 total = line.size() + between.size() + 18;
    QVERIFY2(waitFor([&] { return consumed >= total; }, 30000),
             qPrintable(QStringLiteral("%1 of %2 bytes received").arg(consumed).arg(total)));
    QCOMPARE(consumed, total);
    QTest::qWait(100);

    QVERIFY2(maxReceive <= 4096, qPrintable(QString::number(maxReceive)));
    QVERIFY2(maxPending <= AssemblerLimit, qPrintable(QString::number(maxPending)));
    QCOMPARE(link().PendingReplyBytes(), 0);
    if (replyHandled) {
        QCOMPARE(versionText(), QStringLiteral("7.77"));
        QCOMPARE(updateStatus(), QStringLiteral("Version Received"));
    } else {
        QCOMPARE(versionText(), QString());
        QCOMPARE(updateStatus(), QString());
    }
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
    QTRY_VERIFY_WITH_TIMEOUT(!link().IsPolling(), 1000);
    verifyAlive();
    QCOMPARE(m_boxes->count(), 0);
}

// --- The device goes away -------------------------------------------------------------------

void TestFaults::deviceEndsTheConnectionInAReply_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<CloseMode>("mode");
    QTest::newRow("version, closed") << QStringLiteral("version") << CloseMode::Graceful;
    QTest::newRow("version, reset") << QStringLiteral("version") << CloseMode::Reset;
    QTest::newRow("addresses, closed") << QStringLiteral("addresses") << CloseMode::Graceful;
    QTest::newRow("addresses, reset") << QStringLiteral("addresses") << CloseMode::Reset;
}

void TestFaults::deviceEndsTheConnectionInAReply()
{
    QFETCH(QString, operation);
    QFETCH(CloseMode, mode);

    QVERIFY(connectByVersionRead());
    QVERIFY(link().IsConnected());
    ReceiveLog log;
    // The first 15 bytes go out, then the device goes away before the rest.
    m_device->setReplySplit(15, 3000);
    goAwayAfterFirst(m_device.get(), &DeviceSimulator::dataSent, mode);

    const bool version = operation == QLatin1String("version");
    QTest::mouseClick(version ? FormUpdate->ui()->BtnRead : FormMain->ui()->BtnRead,
                      Qt::LeftButton);
    QVERIFY(waitFor([] { return linkStatus() == QLatin1String("Disconnected\n"); }, 5000));
    QVERIFY(!link().IsConnected());
    QVERIFY(!link().IsPolling());
    QCOMPARE(link().PendingReplyBytes(), 0);
    QCOMPARE(log.all(), version ? QByteArray("ACK_REQ_VER:2.0") : QByteArray("ACK_REC_IP:127."));
    // Half a reply is no reply.
    QTest::qWait(200);
    if (version) {
        QCOMPARE(versionText(), QString());
        QCOMPARE(updateStatus(), QString());
    } else {
        QCOMPARE(addressTexts(), QStringList(5, QString()));
        QCOMPARE(mainStatus(), QString());
    }
    QCOMPARE(m_device->receivedCommands(),
             QList<QByteArray>{ version ? QByteArray("ReqVer") : QByteArray("ReqIP_ADR") });

    // The next command opens a new connection; nothing of the old half line sticks to it.
    const int connections = m_device->counters().connections;
    verifyAlive();
    QCOMPARE(m_device->counters().connections, connections + 1);
    QVERIFY(readAddresses());
    QCOMPARE(m_boxes->count(), 0);
}

void TestFaults::deviceEndsTheConnectionDuringADownload_data()
{
    QTest::addColumn<QString>("moment");
    QTest::addColumn<CloseMode>("mode");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("written");

    for (const CloseMode mode : { CloseMode::Graceful, CloseMode::Reset }) {
        const QByteArray how = mode == CloseMode::Graceful ? "closed" : "reset";
        // The device answers the announce, then goes away before the block.
        QTest::newRow(QByteArray("block announced, " + how).constData())
                << QStringLiteral("announced") << mode << QStringLiteral("Error!!(Timeout)")
                << false;
        // The device writes the block and goes away before its result.
        QTest::newRow(QByteArray("block taken, " + how).constData())
                << QStringLiteral("taken") << mode << QStringLiteral("Error!!(Timeout)") << true;
        // The size acknowledgement is cut off in the middle.
        QTest::newRow(QByteArray("size acknowledgement cut, " + how).constData())
                << QStringLiteral("cut") << mode << QStringLiteral("Error!!(Timeout)") << false;
    }
}

void TestFaults::deviceEndsTheConnectionDuringADownload()
{
    QFETCH(QString, moment);
    QFETCH(CloseMode, mode);
    QFETCH(QString, status);
    QFETCH(bool, written);

    const QByteArray image = imageBytes(0x8000, 13);
    openUpdateWindow();
    QVERIFY(loadImage(image));
    QVERIFY(connectByVersionRead());

    if (moment == QLatin1String("announced")) {
        m_device->closeAfterCommands(1, mode);
    } else if (moment == QLatin1String("taken")) {
        m_device->setBlockReply(0, QByteArray());
        goAwayAfterFirst(m_device.get(), &DeviceSimulator::blockReceived, mode);
    } else {
        m_device->setReplySplit(10, 3000);
        goAwayAfterFirst(m_device.get(), &DeviceSimulator::dataSent, mode);
    }

    QVERIFY(startDownload());
    stopDownloadTimer();
    tick();
    tick(); // the announce
    QCOMPARE(downloadState(), 2);
    if (moment == QLatin1String("cut")) {
        QVERIFY(waitFor([] { return linkStatus() == QLatin1String("Disconnected\n"); }, 5000));
        QCOMPARE(FormUpdate->ReplyText(), QByteArray());
    } else {
        QVERIFY(tickWithReplies(4)); // the acknowledgement and the block
        QCOMPARE(downloadState(), 4);
        QCOMPARE(updateStatus(), QStringLiteral("Data Send"));
        QVERIFY(waitFor([] { return linkStatus() == QLatin1String("Disconnected\n"); }, 5000));
    }
    QVERIFY(!link().IsConnected());
    QVERIFY(waitFor([this] { return !m_device->hasClient(); }, 3000));
    // Nothing more can come: the waits run out.
    QVERIFY(tickToIdle(60) <= 53);
    QVERIFY(!downloadBusy());
    QCOMPARE(updateStatus(), status);
    QCOMPARE(linkStatus(), QStringLiteral("Disconnected\n"));
    QVERIFY(!link().CommandHold());

    QCOMPARE(m_device->receivedCommands(),
             QList<QByteArray>{ testsupport::AnnounceLine(MainArea, image.size()) });
    QCOMPARE(m_device->receivedBlocks().size(), written ? 1 : 0);
    QCOMPARE(m_device->memory(MainArea, image.size()),
             written ? image : QByteArray(image.size(), '\xFF'));
    // A block the device announced but never got goes with its connection.
    QCOMPARE(m_device->counters().blocksDiscarded, written ? 0 : 1);

    const int connections = m_device->counters().connections;
    verifyAlive();
    QCOMPARE(m_device->counters().connections, connections + 1);
    QCOMPARE(linkStatus(), QStringLiteral("Connect Complete"));
    QCOMPARE(m_boxes->count(), 1);
}

void TestFaults::heldCommandAfterTheDeviceEndedTheBlock_data()
{
    QTest::addColumn<bool>("reachable"); // whether the device takes a new connection

    QTest::newRow("fresh connection made") << true;
    QTest::newRow("fresh connection refused") << false;
}

void TestFaults::heldCommandAfterTheDeviceEndedTheBlock()
{
    QFETCH(bool, reachable);

    openUpdateWindow();
    QVERIFY(loadImage(imageBytes(0x100, 5)));
    QVERIFY(connectByVersionRead());
    const int connections = m_device->counters().connections;
    const quint16 port = m_device->serverPort();
    // The device acknowledges the announce, then ends the connection.
    m_device->setReplyDelay(300);
    m_device->closeAfterCommands(1);
    QVERIFY(startDownload());
    stopDownloadTimer();
    tick();
    tick(); // the announce
    QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton); // held behind the open block
    QVERIFY(link().CommandHold());
    // Noticed while nothing is being asked of the link.
    QVERIFY(waitFor([] { return !link().IsConnected(); }, 3000));
    QCOMPARE(linkStatus(), QStringLiteral("Disconnected\n"));
    QCOMPARE(FormUpdate->ReplyText(), QByteArray("SizeOK"));
    if (!reachable)
        m_device->close();

    tick(); // the acknowledgement
    const int boxes = m_boxes->count();
    testsupport::session().StepDownload(); // the block: nowhere to go
    QCOMPARE(m_boxes->count(), boxes); // nothing opens inside the step
    QVERIFY(!link().CommandHold());
    if (reachable) {
        QVERIFY(waitFor([] { return mainStatus() == QLatin1String("IP Address Received"); }, 3000));
        QCOMPARE(addressTexts(), expectedAddressTexts());
        QCOMPARE(m_device->counters().connections, connections + 1);
        QCOMPARE(m_boxes->count(), boxes);
    } else {
        QVERIFY(waitFor([&] { return m_boxes->count() == boxes + 1; }, 3000));
        QCOMPARE(m_boxes->shown().last().text, QStringLiteral("Error:connect(), Code = 10061\n\n"));
        QCOMPARE(linkStatus(),
                 QStringLiteral("1 held command not sent: Error:connect(), Code = 10061"));
        QCOMPARE(mainStatus(), QString());
        QCOMPARE(addressTexts(), QStringList(5, QString()));
    }
    QCOMPARE(m_device->receivedCommands(),
             (QList<QByteArray>{ testsupport::AnnounceLine(MainArea, 0x100) }
              + (reachable ? QList<QByteArray>{ "ReqIP_ADR" } : QList<QByteArray>{})));
    QVERIFY(m_device->receivedBlocks().isEmpty());
    QVERIFY(tickToIdle(60) <= 53);
    QCOMPARE(m_boxes->count(), boxes + (reachable ? 0 : 1));

    // The next command finds the device wherever it is again.
    if (!reachable)
        QVERIFY(m_device->listen(Loopback, port));
    QVERIFY(readAddresses());
}

void TestFaults::startAfterTheDeviceWentAway()
{
    const QByteArray image = imageBytes(0x300, 9);
    openUpdateWindow();
    QVERIFY(loadImage(image));
    QVERIFY(connectByVersionRead());
    m_device->disconnectClient(); // a restart, say
    QVERIFY(waitFor([] { return linkStatus() == QLatin1String("Disconnected\n"); }, 3000));
    QVERIFY(!link().IsConnected());
    // "Start" connects anew instead of writing into the ended connection.
    QVERIFY(runDownload(10000));
    QCOMPARE(updateStatus(), QStringLiteral("Update Complete"));
    QCOMPARE(m_device->memory(MainArea, image.size()), image);
}

void TestFaults::connectPressedDuringADownload_data()
{
    QTest::addColumn<QString>("moment");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("blocksWritten");

    QTest::newRow("awaiting the size acknowledgement")
            << QStringLiteral("size") << QStringLiteral("Error!!(Timeout)") << 0;
    QTest::newRow("acknowledged, block not yet sent")
            << QStringLiteral("acknowledged") << QStringLiteral("Error!!(Timeout)") << 0;
    QTest::newRow("awaiting the result")
            << QStringLiteral("result") << QStringLiteral("Error!!(Timeout)") << 1;
    QTest::newRow("between two blocks")
            << QStringLiteral("between") << QStringLiteral("Update Complete") << 2;
}

void TestFaults::connectPressedDuringADownload()
{
    QFETCH(QString, moment);
    QFETCH(QString, status);
    QFETCH(int, blocksWritten);

    // Two blocks of text that a device reading it as commands would obey.
    const QByteArray image = commandLikeImage(0x20100);
    openUpdateWindow();
    QVERIFY(loadImage(image));
    QVERIFY(connectByVersionRead());
    const int connections = m_device->counters().connections;
    const QByteArray first = testsupport::AnnounceLine(MainArea, 0x20000);
    const QByteArray second = testsupport::AnnounceLine(MainArea + 0x20000, 0x100);
    auto pressConnect = [] { FormComNet->ui()->SBtnLanConnect->click(); };

    // A reply the device makes late would come on the old connection, which is replaced first.
    if (moment == QLatin1String("size"))
        m_device->setReplyDelay(1000);
    QVERIFY(startDownload());
    stopDownloadTimer();
    tick();
    tick(); // the first announce
    if (moment == QLatin1String("size")) {
        QVERIFY(waitFor([this] { return m_device->receivedCommands().size() == 1; }, 3000));
        pressConnect();
        QVERIFY(tickToIdle(40) <= 33);
    } else if (moment == QLatin1String("acknowledged")) {
        QVERIFY(tickWithReplies(3));
        pressConnect();
        tick(); // the block
        QTest::qWait(300);
        QVERIFY(tickToIdle(60) <= 53);
    } else if (moment == QLatin1String("result")) {
        QVERIFY(tickWithReplies(3));
        m_device->setReplyDelay(1000);
        tick(); // the block
        QVERIFY(waitFor([this] { return m_device->receivedBlocks().size() == 1; }, 3000));
        pressConnect();
        QVERIFY(tickToIdle(60) <= 53);
    } else {
        QVERIFY(tickWithReplies(5));
        QCOMPARE(updateStatus(), QStringLiteral("Update Complete"));
        pressConnect();
        QVERIFY(tickWithReplies());
    }
    QCOMPARE(linkStatus(), QStringLiteral("Connect Complete"));
    QCOMPARE(m_device->counters().connections, connections + 1);
    QVERIFY(!downloadBusy());
    QCOMPARE(updateStatus(), status);
    QVERIFY(!link().CommandHold());

    // Whatever the moment, the device took no image byte for a command and no block that its
    // own session had not announced.
    QTest::qWait(200);
    QCOMPARE(m_device->macAddress(), DeviceMac);
    QList<QByteArray> commands = { first };
    if (moment == QLatin1String("between"))
        commands << second;
    QCOMPARE(m_device->receivedCommands(), commands);
    QCOMPARE(m_device->counters().unknownCommands, 0);
    QCOMPARE(m_device->receivedBlocks().size(), blocksWritten);
    const QByteArray expected = image.first(0x20000 * std::min(blocksWritten, 1))
            + (blocksWritten == 2 ? image.sliced(0x20000) : QByteArray());
    QCOMPARE(m_device->memory(MainArea, image.size()),
             expected + QByteArray(image.size() - expected.size(), '\xFF'));

    verifyAlive();
    QCOMPARE(m_device->counters().connections, connections + 1);
    QCOMPARE(m_boxes->count(), 1);
}

void TestFaults::deviceThatNeverAnswers_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("addresses") << QStringLiteral("addresses");
    QTest::newRow("version") << QStringLiteral("version");
    QTest::newRow("download") << QStringLiteral("download");
}

void TestFaults::deviceThatNeverAnswers()
{
    QFETCH(QString, operation);

    const QByteArray image = imageBytes(0x100, 17);
    openUpdateWindow();
    QVERIFY(loadImage(image));
    const bool download = operation == QLatin1String("download");

    if (operation == QLatin1String("addresses")) {
        m_device->dropReplies(1000);
        for (QLineEdit *field : { FormMain->ui()->EdtIP1, FormMain->ui()->EdtGate })
            field->setText(QStringLiteral("old"));
        QTest::mouseClick(FormMain->ui()->BtnRead, Qt::LeftButton);
        QTest::qWait(1500);
        QCOMPARE(addressTexts(), QStringList(5, QString()));
        QCOMPARE(mainStatus(), QString());
        QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqIP_ADR" });
        QCOMPARE(m_device->counters().repliesDropped, 1);
    } else if (operation == QLatin1String("version")) {
        m_device->dropReplies(1000);
        FormUpdate->ui()->STextVersion->setText(QStringLiteral("old"));
        QTest::mouseClick(FormUpdate->ui()->BtnRead, Qt::LeftButton);
        QTest::qWait(1500);
        QCOMPARE(versionText(), QString());
        QCOMPARE(updateStatus(), QString());
        QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqVer" });
        QCOMPARE(m_device->counters().repliesDropped, 1);
    } else {
        // A connection the device accepted, then silence: the announce is never answered.
        QVERIFY(connectByVersionRead());
        m_device->setIgnoredAnnounce(0);
        QVERIFY(startDownload());
        stopDownloadTimer();
        // Prepare, the announce, 30 waiting steps, then the stop two steps later.
        QCOMPARE(tickToIdle(40), 34);
        QCOMPARE(updateStatus(), QStringLiteral("Error!!(Timeout)"));
        QVERIFY(FormUpdate->ui()->PBar->isHidden());
        QCOMPARE(m_device->receivedCommands(),
                 QList<QByteArray>{ testsupport::AnnounceLine(MainArea, image.size()) });
        QCOMPARE(m_device->counters().announcesIgnored, 1);
        QCOMPARE(m_device->receivedBlocks().size(), 0);
        QCOMPARE(m_device->memory(MainArea, image.size()), QByteArray(image.size(), '\xFF'));
    }
    if (download) {
        // Giving up on an unacknowledged announce drops the connection the device may be
        // waiting on; the next command opens a new one.
        QVERIFY(!link().IsConnected());
        QCOMPARE(linkStatus(), QStringLiteral("Disconnect"));
    } else {
        // The link keeps polling without holding the window: the event loop ran all along.
        QVERIFY(link().IsConnected());
        QCOMPARE(linkStatus(), QStringLiteral("Connect Complete"));
        QVERIFY(link().IsPolling());
    }
    QCOMPARE(m_boxes->count(), download ? 1 : 0);
    verifyAlive();
}

// --- The settings file ----------------------------------------------------------------------

void TestFaults::unusableSettingsFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");

    const QString defaultAddress = QStringLiteral("192.168.0.1");
    const QString defaultPort = QStringLiteral("2000");
    QTest::newRow("binary garbage") << QStringLiteral("garbage") << defaultAddress << defaultPort;
    QTest::newRow("binary garbage, 20 MB")
            << QStringLiteral("huge garbage") << defaultAddress << defaultPort;
    QTest::newRow("one line of 20 MB")
            << QStringLiteral("huge line") << defaultAddress << defaultPort;
    // Size alone is no reason to give up on the file.
    QTest::newRow("20 MB of comments, then the section")
            << QStringLiteral("huge comments") << QStringLiteral("127.0.0.9")
            << QStringLiteral("2001");
    QTest::newRow("a 20 MB line, then the section")
            << QStringLiteral("huge line, section") << QStringLiteral("127.0.0.9") << defaultPort;
    QTest::newRow("a folder, not a file")
            << QStringLiteral("folder") << defaultAddress << defaultPort;
}

void TestFaults::unusableSettingsFile()
{
    QFETCH(QString, kind);
    QFETCH(QString, address);
    QFETCH(QString, port);

    constexpr qsizetype Huge = 20 * 1024 * 1024;
    if (kind == QLatin1String("folder")) {
        m_formsNoIni = std::make_unique<FormsWithUnreadableSettings>();
    } else {
        QByteArray contents;
        if (kind == QLatin1String("garbage")) {
            contents = imageBytes(256 * 1024, 21);
        } else if (kind == QLatin1String("huge garbage")) {
            contents = imageBytes(Huge, 23);
        } else if (kind == QLatin1String("huge line")) {
            contents = QByteArray(Huge, 'A');
        } else if (kind == QLatin1String("huge comments")) {
            for (int i = 0; contents.size() < Huge; ++i)
                contents += "; comment line " + QByteArray::number(i) + "\r\n";
            contents += "[LAN]\r\nADR=127.0.0.9\r\nPORT=2001\r\n";
        } else {
            contents = QByteArray(Huge, '[') + "\r\n[LAN]\r\nADR=127.0.0.9\r\n";
        }
        m_forms = std::make_unique<TestForms>(TestForms::withIni(&contents));
    }
    FormMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(FormMain));

    QCOMPARE(FormComNet->ui()->edtIPADR->text(), address);
    QCOMPARE(FormComNet->ui()->edtPORT->text(), port);
    // Nothing is connected at start, whatever the file held.
    QVERIFY(!link().IsConnected());
    QVERIFY(!link().IsPolling());
    QCOMPARE(m_boxes->count(), 0);
    QCOMPARE(m_device->counters().connections, 0);

    // The engineer aims the link at the device by hand (loopback here) and goes on.
    FormComNet->ui()->edtIPADR->setText(QStringLiteral("127.0.0.1"));
    FormComNet->ui()->edtPORT->setText(QString::number(m_device->serverPort()));
    QCOMPARE(FormComNet->ui()->edtIPADR->text(), QStringLiteral("127.0.0.1"));
    QVERIFY(readAddresses());
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqIP_ADR" });
    QCOMPARE(m_device->counters().connections, 1);
    QCOMPARE(m_boxes->count(), 0);
}

QLT36_TEST_MAIN(TestFaults)

#include "tst_faults.moc"
