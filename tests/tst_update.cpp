// The firmware update window end to end: image loading, the download sequence and the version
// read, through the real windows and the real link, against the device simulator on loopback.
// The sequence is stepped here one tick at a time (the link's own polling timer delivers the
// replies); the worked example runs on the window's real 100 ms timer.
#include "support/Images.h"
#include "support/TestSupport.h"

#include "Bytes.h"
#include "DeviceSimulator.h"
#include "UnitComNet.h"
#include "UnitMain.h"
#include "UnitUpdate.h"
#include "ui_UnitMain.h"
#include "ui_UnitUpdate.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

using download::DownloadSequence;
using testsupport::FileDialogAnswerer;
using testsupport::MessageBoxRecorder;
using testsupport::TestForms;
using testsupport::waitFor;

// One block as the device must see it: announced address and length, and the image offset its
// bytes come from.
struct Block
{
    quint32 address = 0;
    qsizetype offset = 0;
    qsizetype length = 0;
};

// Stops the test function when a helper it called has failed.
#define CHECKED(call)               \
  do {                              \
    call;                           \
    if (QTest::currentTestFailed()) \
      return;                       \
  } while (false)

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));

constexpr qsizetype FullBlock = 0x20000;
constexpr qsizetype HalfBlock = FullBlock / 2;
constexpr quint32 MainBase = 0x1000000;
constexpr qsizetype AreaSize = 0x200000;
// Bounds the wait for a reply on loopback: a maximum, never slept through, generous for Wine.
constexpr int ReplyWaitMs = 15000;

const QString FileErrorText = QStringLiteral(
        "Can't perform one of the following file operations: Open, Seek, Read, Close.");

// The blocks an undisturbed download of an image of `length` bytes sends: phase 1 from `base`
// in full blocks (at most 16, the last one short), then the image's bytes from 0x40000 (at most
// two blocks, never beyond the image) to device addresses 0 and 0x20000.
QList<Block> undisturbedPlan(qsizetype length, quint32 base)
{
    QList<Block> plan;
    for (int n = 0; n < 16; ++n) {
        const qsizetype offset = n * FullBlock;
        if (length - offset <= 0)
            break;
        plan.append({ base + static_cast<quint32>(offset), offset,
                      std::min(length - offset, FullBlock) });
    }
    for (int n = 2; n < 4; ++n) {
        const qsizetype offset = n * FullBlock;
        if (length - offset <= 0)
            break;
        plan.append({ static_cast<quint32>((n - 2) * FullBlock), offset,
                      std::min(length - offset, FullBlock) });
    }
    return plan;
}

// Both areas of the device (the backup area at 0, the main area at 0x1000000) as they must
// read once `written` took effect in order on erased memory.
struct Areas
{
    QByteArray backup = QByteArray(AreaSize, '\xFF');
    QByteArray main = QByteArray(AreaSize, '\xFF');
};

Areas expectedAreas(const QByteArray &image, const QList<Block> &written)
{
    Areas areas;
    for (const Block &block : written) {
        const bool inMain = block.address >= MainBase;
        QByteArray &area = inMain ? areas.main : areas.backup;
        const auto at = static_cast<qsizetype>(inMain ? block.address - MainBase : block.address);
        area.replace(at, block.length, image.mid(block.offset, block.length));
    }
    return areas;
}

QString printable(const QString &text)
{
    QString out = text;
    return out.replace(QLatin1Char('\r'), QStringLiteral("\\r"))
            .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

Ui::TFormUpdate *ui()
{
    return FormUpdate->ui();
}

const DownloadSequence &sequence()
{
    return testsupport::session().Download();
}

bool busy()
{
    return sequence().DownloadBusy() != 0;
}

} // namespace

class TestUpdate final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    // Image loading.
    void loadShowsFolderNameAndSize_data();
    void loadShowsFolderNameAndSize();
    void cancelledDialogChangesNothing();
    void failedLoadLeavesNoImage_data();
    void failedLoadLeavesNoImage();
    void backupPanelFollowsTheBaseAddress();

    // Starting.
    void startThatSendsNothing_data();
    void startThatSendsNothing();
    void secondStartWhileBusyIsIgnored();
    void emptyImageSendsNothing();

    // The sequence against the device.
    void workedExampleThroughTheRealTimers();
    void downloadsExactlyThePlannedBlocks_data();
    void downloadsExactlyThePlannedBlocks();
    void refusedBlock_data();
    void refusedBlock();
    void noSizeAcknowledgement_data();
    void noSizeAcknowledgement();
    void noResult_data();
    void noResult();
    void downloadGoesOnWhileTheWindowIsClosed();
    void runningDownloadKeepsItsImage_data();
    void runningDownloadKeepsItsImage();

    // The version read.
    void versionReadTrimsBothEnds_data();
    void versionReadTrimsBothEnds();
    void versionReadDuringADownloadWaitsForTheBlock();

private:
    QString writeImageFile(const QString &name, const QByteArray &bytes);
    void loadImage(const QByteArray &image, const QString &name = QStringLiteral("image.bin"));
    void openUpdateWindow(bool backupArea);
    void openConnection();
    void startDownload();
    void tick();
    bool driveUntil(const std::function<bool()> &done, int maxTicks = 2000);
    bool driveToEnd()
    {
        return driveUntil([] { return !busy(); });
    }
    void verifyDevice(const QByteArray &image, const QList<Block> &sent,
                      const QList<Block> &written, const QList<QByteArray> &commands);
    void verifyIdle();
    // A version read as a barrier: whatever the tool wrote before it has reached the device once
    // its answer is shown.
    void readVersion();
    // The device saw exactly the undisturbed download of `image` to `base`.
    void verifyUndisturbed(const QByteArray &image, quint32 base = MainBase);

    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<FileDialogAnswerer> m_dialogs;
    std::unique_ptr<sim::DeviceSimulator> m_device;
    std::unique_ptr<TestForms> m_forms;
    std::unique_ptr<QTemporaryDir> m_files;
    // Every text the update window's status bar showed, in order.
    QStringList m_statuses;
    // What the device saw, in order: "command:<line>" and "block:<address>".
    QStringList m_events;
    // After each tick this test ran: whether the download was still busy, and the status shown.
    QList<QPair<bool, QString>> m_trace;
    // Commands and blocks the session sent, and replies it routed, since the last "Start".
    int m_sent = 0;
    int m_answered = 0;
};

void TestUpdate::init()
{
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_dialogs = std::make_unique<FileDialogAnswerer>();
    m_device = std::make_unique<sim::DeviceSimulator>();
    QVERIFY(m_device->listen(Loopback, 0));
    m_forms = std::make_unique<TestForms>(QStringLiteral("127.0.0.1"), m_device->serverPort());
    m_files = std::make_unique<QTemporaryDir>();
    QVERIFY(m_files->isValid());
    m_statuses.clear();
    m_events.clear();
    m_trace.clear();

    connect(ui()->SBar, &QStatusBar::messageChanged, FormUpdate,
            [this](const QString &text) { m_statuses.append(text); });
    connect(m_device.get(), &sim::DeviceSimulator::commandReceived, this,
            [this](const QByteArray &line) {
                m_events.append(QStringLiteral("command:") + QString::fromLatin1(line));
            });
    connect(&testsupport::session(), &core::DeviceSession::commandSent, this, [this] { ++m_sent; });
    connect(&testsupport::session(), &core::DeviceSession::blockSent, this, [this] { ++m_sent; });
    connect(&testsupport::link(), &core::DeviceLink::lineReceived, this, [this] { ++m_answered; });
    connect(m_device.get(), &sim::DeviceSimulator::clientConnected, this,
            [this] { m_events.append(QStringLiteral("connect")); });
    connect(m_device.get(), &sim::DeviceSimulator::blockReceived, this,
            [this](const sim::BlockRecord &block) {
                m_events.append(QStringLiteral("block:%1").arg(block.address, 0, 16));
            });

    FormMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(FormMain));
    CHECKED(openUpdateWindow(false));
}

void TestUpdate::cleanup()
{
    m_forms.reset();
    m_device.reset();
    m_files.reset();
    m_dialogs.reset();
    m_boxes.reset();
}

QString TestUpdate::writeImageFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_files->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the test image");
    return QDir::toNativeSeparators(path);
}

// "Open", the dialog answered with a fresh file holding `image`.
void TestUpdate::loadImage(const QByteArray &image, const QString &name)
{
    const int boxes = m_boxes->count();
    m_dialogs->answerNext(writeImageFile(name, image));
    ui()->BtnOpen->click();
    QCOMPARE(m_boxes->count(), boxes);
    QCOMPARE(FormUpdate->ImageBuffer(), image);
    QCOMPARE(ui()->STextSize->text(), QString::number(image.size()));
}

// The main window's "Firmware Update" button, with or without Shift and Ctrl held.
void TestUpdate::openUpdateWindow(bool backupArea)
{
    if (backupArea)
        testsupport::holdShiftAndCtrl();
    FormMain->ui()->BtnUpdate->click();
    QVERIFY(QTest::qWaitForWindowExposed(FormUpdate));
    QCOMPARE(FormUpdate->DownloadBaseAddress(), backupArea ? 0u : MainBase);
}

// The download uses the connection an earlier command opened: a version read, as an engineer
// would do first. The records start afresh after it.
void TestUpdate::openConnection()
{
    CHECKED(readVersion());
    QVERIFY(testsupport::link().IsConnected());
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqVer" });
    m_device->clearRecords();
    m_events.clear();
    m_statuses.clear();
    m_trace.clear();
}

// "Start", the box answered Yes. The window's own timer is stopped at once: the test steps the
// sequence itself.
void TestUpdate::startDownload()
{
    const int boxes = m_boxes->count();
    const qsizetype cut = FormUpdate->ImageBuffer().size() - AreaSize;
    m_sent = m_answered = 0;
    ui()->PBar->setValue(17);
    ui()->BtnDownload->click();
    QCOMPARE(m_boxes->count(), boxes + (cut > 0 ? 2 : 1));
    if (cut > 0) { // the warning first, naming the length and what is not written, No default
        const gui::MessageBoxRequest warning = m_boxes->shown().at(boxes);
        QVERIFY(warning.text.startsWith(
                QStringLiteral("The image is %1 bytes").arg(cut + AreaSize)));
        QVERIFY(warning.text.contains(QStringLiteral(" %1 bytes will not").arg(cut)));
        QCOMPARE(warning.caption, QStringLiteral("Firmwear Update"));
        QCOMPARE(warning.style, gui::mb::YesNo | gui::mb::IconWarning | 0x100u);
    }
    const gui::MessageBoxRequest box = m_boxes->shown().last();
    QCOMPARE(box.text, QStringLiteral("Firmwear Update Start OK ?"));
    QCOMPARE(box.caption, QStringLiteral("Firmwear Update"));
    QCOMPARE(box.style, gui::mb::YesNo | gui::mb::IconQuestion);
    QCOMPARE(sequence().DownloadBusy(), 1);
    QVERIFY(testsupport::downloadTimer()->isActive());
    QCOMPARE(testsupport::downloadTimer()->interval(), 100);
    QVERIFY(ui()->PBar->isVisible());
    QCOMPARE(ui()->PBar->value(), 0);
    testsupport::downloadTimer()->stop();
}

void TestUpdate::tick()
{
    testsupport::session().StepDownload();
    m_trace.append({ busy(), FormUpdate->StatusText() });
}

// Ticks until `done`; while a command or block awaits its reply, the reply comes first. False
// when `done` never came, the sequence stopped first, or an awaited reply didn't come.
bool TestUpdate::driveUntil(const std::function<bool()> &done, int maxTicks)
{
    for (int i = 0; i < maxTicks; ++i) {
        if (!waitFor([&] { return done() || m_answered >= m_sent; }, ReplyWaitMs)) {
            qWarning("no reply after %d steps", i);
            return false;
        }
        if (done())
            return true;
        if (!busy())
            return false;
        tick();
    }
    return done();
}

// The device saw exactly these command lines, took exactly the `sent` blocks with the image's
// bytes, and its memory holds exactly the `written` ones; no other byte reached it.
void TestUpdate::verifyDevice(const QByteArray &image, const QList<Block> &sent,
                              const QList<Block> &written, const QList<QByteArray> &commands)
{
    QCOMPARE(m_device->receivedCommands(), commands);

    const QList<sim::BlockRecord> blocks = m_device->receivedBlocks();
    QCOMPARE(blocks.size(), sent.size());
    qint64 blockBytes = 0;
    for (qsizetype i = 0; i < sent.size(); ++i) {
        const QByteArray expected = image.mid(sent[i].offset, sent[i].length);
        QCOMPARE(expected.size(), sent[i].length); // the plan stays inside the image
        QCOMPARE(blocks[i].address, sent[i].address);
        QCOMPARE(qsizetype(blocks[i].length), sent[i].length);
        QCOMPARE(blocks[i].crc32, sim::crc32(expected));
        QVERIFY(blocks[i].exactAnnounce);
        blockBytes += sent[i].length;
    }

    qint64 commandBytes = 0;
    for (const QByteArray &line : commands)
        commandBytes += line.size() + 1; // and its CR
    QCOMPARE(m_device->counters().bytesReceived, commandBytes + blockBytes);

    const Areas areas = expectedAreas(image, written);
    QVERIFY2(m_device->memory(0, AreaSize) == areas.backup, "backup area differs");
    QVERIFY2(m_device->memory(MainBase, AreaSize) == areas.main, "main area differs");
}

void TestUpdate::verifyUndisturbed(const QByteArray &image, quint32 base)
{
    const QList<Block> plan = undisturbedPlan(image.size(), base);
    QList<QByteArray> announces;
    for (const Block &block : plan)
        announces << testsupport::AnnounceLine(block.address, block.length);
    verifyDevice(image, plan, plan, announces);
}

void TestUpdate::readVersion()
{
    ui()->BtnRead->click();
    QVERIFY2(waitFor([] { return FormUpdate->StatusText() == QStringLiteral("Version Received"); },
                     ReplyWaitMs),
             qPrintable(FormUpdate->StatusText()));
}

void TestUpdate::verifyIdle()
{
    QCOMPARE(sequence().DownloadBusy(), 0);
    QVERIFY(!testsupport::downloadTimer()->isActive());
    QVERIFY(!testsupport::child<QTimer>(FormUpdate, "TmrDownloadMnt")->isActive());
    QVERIFY(!ui()->PBar->isVisible());
    QVERIFY(!testsupport::link().CommandHold());
}

// --- Image loading ----------------------------------------------------------------------------

void TestUpdate::loadShowsFolderNameAndSize_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qsizetype>("length");

    QTest::newRow("image") << QStringLiteral("image.bin") << qsizetype(1000);
    QTest::newRow("empty file") << QStringLiteral("empty.bin") << qsizetype(0);
    QTest::newRow("one byte over a block") << QStringLiteral("firmware") << FullBlock + 1;
    QTest::newRow("blanks in the name") << QStringLiteral("new image v2.bin") << qsizetype(5);
}

void TestUpdate::loadShowsFolderNameAndSize()
{
    QFETCH(QString, name);
    QFETCH(qsizetype, length);

    // Something else loaded first: the new load replaces it completely.
    CHECKED(loadImage(testsupport::PatternedImage(3000, 0x77), QStringLiteral("previous.bin")));

    const QByteArray image = testsupport::PatternedImage(length, 0x11);
    const QString path = writeImageFile(name, image);
    m_dialogs->answerNext(path);
    ui()->BtnOpen->click();

    const gui::FileDialogRequest request = m_dialogs->requests().last();
    QCOMPARE(request.kind, gui::FileDialogRequest::Kind::Open);
    QCOMPARE(request.initialFolder, QDir::toNativeSeparators(m_forms->folder()));

    QCOMPARE(ui()->STextFilePath->text(),
             QDir::toNativeSeparators(m_files->path()) + QDir::separator());
    QCOMPARE(ui()->STextFileName->text(), name);
    QCOMPARE(ui()->STextSize->text(), QString::number(length));
    QCOMPARE(FormUpdate->ImageBuffer(), image);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(m_boxes->count(), 0);
}

void TestUpdate::cancelledDialogChangesNothing()
{
    const QByteArray image = testsupport::PatternedImage(4321, 0x22);
    CHECKED(loadImage(image));
    const QString folder = ui()->STextFilePath->text();

    m_dialogs->answerNext(QString());
    ui()->BtnOpen->click();

    QCOMPARE(m_dialogs->requests().size(), 2);
    QCOMPARE(ui()->STextFilePath->text(), folder);
    QCOMPARE(ui()->STextFileName->text(), QStringLiteral("image.bin"));
    QCOMPARE(ui()->STextSize->text(), QStringLiteral("4321"));
    QCOMPARE(FormUpdate->ImageBuffer(), image);
    QCOMPARE(m_boxes->count(), 0);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestUpdate::failedLoadLeavesNoImage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("directory");

    QTest::newRow("missing file") << QStringLiteral("missing.bin") << false;
    QTest::newRow("a folder") << QStringLiteral("folder.bin") << true;
}

void TestUpdate::failedLoadLeavesNoImage()
{
    QFETCH(QString, name);
    QFETCH(bool, directory);

    CHECKED(openConnection());
    CHECKED(loadImage(testsupport::PatternedImage(FullBlock + 5, 0x33)));
    const QString path = QDir::toNativeSeparators(m_files->filePath(name));
    if (directory)
        QVERIFY(QDir(m_files->path()).mkdir(name));

    m_dialogs->answerNext(path);
    m_boxes->answerNext(gui::id::Cancel); // the button makes no difference
    ui()->BtnOpen->click();

    QCOMPARE(m_boxes->count(), 1);
    const gui::MessageBoxRequest box = m_boxes->shown().first();
    QCOMPARE(box.text, FileErrorText);
    QCOMPARE(box.caption, QStringLiteral("File Error"));
    QCOMPARE(box.style, gui::mb::OkCancel);
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    // The failed file is named, and nothing of the previous image stays loaded.
    QCOMPARE(ui()->STextFilePath->text(),
             QDir::toNativeSeparators(m_files->path()) + QDir::separator());
    QCOMPARE(ui()->STextFileName->text(), name);
    QVERIFY(FormUpdate->ImageBuffer().isEmpty());
    QCOMPARE(ui()->STextSize->text(), QString());

    // So "Start" does nothing: no box, no sequence, nothing sent.
    ui()->BtnDownload->click();
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(sequence().DownloadBusy(), 0);
    QVERIFY(!testsupport::downloadTimer()->isActive());
    CHECKED(readVersion()); // "ReqVer" and its CR, nothing before them
    QCOMPARE(m_device->counters().bytesReceived, qint64(7));

    // The next good load works as before.
    CHECKED(loadImage(testsupport::PatternedImage(10, 0x34), QStringLiteral("good.bin")));
}

void TestUpdate::backupPanelFollowsTheBaseAddress()
{
    const QByteArray image = testsupport::PatternedImage(777, 0x44);
    CHECKED(loadImage(image));
    QVERIFY(!ui()->PnlBackup->isVisible());

    CHECKED(openUpdateWindow(true));
    QVERIFY(ui()->PnlBackup->isVisible());
    QCOMPARE(ui()->PnlBackup->text(), QStringLiteral("Backup Area!!"));

    CHECKED(openUpdateWindow(false));
    QVERIFY(!ui()->PnlBackup->isVisible());

    // Decided when the window is shown, not when the address changes.
    FormUpdate->SetDownloadBaseAddress(0);
    QVERIFY(!ui()->PnlBackup->isVisible());
    FormUpdate->hide();
    FormUpdate->show();
    QVERIFY(QTest::qWaitForWindowExposed(FormUpdate));
    QVERIFY(ui()->PnlBackup->isVisible());

    FormUpdate->SetDownloadBaseAddress(1);
    FormUpdate->hide();
    FormUpdate->show();
    QVERIFY(QTest::qWaitForWindowExposed(FormUpdate));
    QVERIFY(!ui()->PnlBackup->isVisible());

    // The image stays loaded throughout.
    QCOMPARE(FormUpdate->ImageBuffer(), image);
    QCOMPARE(ui()->STextSize->text(), QStringLiteral("777"));
}

// --- Starting -----------------------------------------------------------------------------------

void TestUpdate::startThatSendsNothing_data()
{
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<bool>("deviceAbsent");
    QTest::addColumn<QStringList>("boxes"); // each answered No, a warning with OK

    const QString confirm = QStringLiteral("Firmwear Update Start OK ?");
    QTest::newRow("confirmation answered No") << FullBlock << false << QStringList{ confirm };
    QTest::newRow("truncation warning answered No")
            << AreaSize + 1 << false << QStringList{ QStringLiteral("The image is 2097153") };
    QTest::newRow("device refuses the connection")
            << FullBlock << true
            << QStringList{ confirm, QStringLiteral("Error:connect(), Code = 10061\n\n") };
}

void TestUpdate::startThatSendsNothing()
{
    QFETCH(qsizetype, length);
    QFETCH(bool, deviceAbsent);
    QFETCH(QStringList, boxes);

    const QByteArray image = testsupport::PatternedImage(length, 0x55);
    CHECKED(loadImage(image));
    FormUpdate->SetStatusText(QStringLiteral("before"));
    const quint16 port = m_device->serverPort();
    if (deviceAbsent)
        m_device->close();
    else
        m_boxes->answerNext(gui::id::No);
    ui()->BtnDownload->click();

    QCOMPARE(m_boxes->count(), boxes.size());
    for (qsizetype i = 0; i < boxes.size(); ++i)
        QVERIFY(m_boxes->shown().at(i).text.startsWith(boxes[i]));
    QCOMPARE(sequence().DownloadBusy(), 0);
    QVERIFY(!testsupport::downloadTimer()->isActive());
    QVERIFY(!ui()->PBar->isVisible());
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("before"));

    // The next "Start", answered Yes and with the device there, makes the device's first
    // connection and sends it all.
    if (deviceAbsent)
        QVERIFY(m_device->listen(Loopback, port));
    CHECKED(startDownload());
    QVERIFY(driveToEnd());
    CHECKED(verifyUndisturbed(image));
    QCOMPARE(m_device->counters().connections, 1);
}

void TestUpdate::secondStartWhileBusyIsIgnored()
{
    const QByteArray image = testsupport::PatternedImage(FullBlock + HalfBlock, 0x66);
    CHECKED(loadImage(image));
    CHECKED(openConnection());
    CHECKED(startDownload());
    tick(); // the image's length taken
    tick(); // the first announce
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Update Start"));

    // Nothing is disabled while the sequence runs.
    QVERIFY(ui()->BtnOpen->isEnabled());
    QVERIFY(ui()->BtnRead->isEnabled());
    QVERIFY(ui()->BtnDownload->isEnabled());
    ui()->BtnDownload->click();
    QCOMPARE(m_boxes->count(), 1); // no second box
    QVERIFY(!testsupport::downloadTimer()->isActive()); // not started again

    QVERIFY(driveToEnd());
    const QList<Block> plan = undisturbedPlan(image.size(), MainBase);
    CHECKED(verifyDevice(image, plan, plan,
                         { testsupport::AnnounceLine(MainBase, FullBlock),
                           testsupport::AnnounceLine(MainBase + 0x20000, HalfBlock) }));
    CHECKED(verifyIdle());
}

void TestUpdate::emptyImageSendsNothing()
{
    CHECKED(openConnection());
    CHECKED(loadImage(QByteArray(), QStringLiteral("empty.bin")));
    QCOMPARE(ui()->STextSize->text(), QStringLiteral("0"));
    FormUpdate->SetStatusText(QStringLiteral("before"));

    CHECKED(startDownload()); // still asks
    tick();
    tick();
    QVERIFY(busy()); // it stops on the third step
    testsupport::child<QTimer>(FormUpdate, "TmrDownloadMnt")->start(); // the stop ends it too
    tick();
    CHECKED(verifyIdle());
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("before"));

    CHECKED(readVersion()); // "ReqVer" and its CR, nothing before them
    QCOMPARE(m_device->counters().bytesReceived, qint64(7));
}

// --- The sequence against the device ----------------------------------------------------------

void TestUpdate::workedExampleThroughTheRealTimers()
{
    // Four and a half blocks.
    const QByteArray image = testsupport::PatternedImage(4 * FullBlock + HalfBlock, 0x5A);
    CHECKED(loadImage(image));
    CHECKED(openConnection());
    QCOMPARE(FormUpdate->DownloadBaseAddress(), MainBase);

    const QList<Block> plan = {
        { 0x1000000, 0x00000, FullBlock }, { 0x1020000, 0x20000, FullBlock },
        { 0x1040000, 0x40000, FullBlock }, { 0x1060000, 0x60000, FullBlock },
        { 0x1080000, 0x80000, HalfBlock }, { 0x0000000, 0x40000, FullBlock },
        { 0x0020000, 0x60000, FullBlock },
    };
    const QList<QByteArray> announces = {
        "Download(0x01000000,0x20000)", "Download(0x01020000,0x20000)",
        "Download(0x01040000,0x20000)", "Download(0x01060000,0x20000)",
        "Download(0x01080000,0x10000)", "Download(0x00000000,0x20000)",
        "Download(0x00020000,0x20000)",
    };

    QSignalSpy ticks(testsupport::downloadTimer(), &QTimer::timeout);
    // Whether the bar showed at each status text the sequence put up.
    QList<bool> barShown;
    QObject probe;
    connect(ui()->SBar, &QStatusBar::messageChanged, &probe,
            [&barShown] { barShown.append(ui()->PBar->isVisible()); });

    ui()->PBar->setValue(40);
    QTest::mouseClick(ui()->BtnDownload, Qt::LeftButton);
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->shown().first().text, QStringLiteral("Firmwear Update Start OK ?"));
    QVERIFY(busy());
    QVERIFY(testsupport::downloadTimer()->isActive());
    QVERIFY(ui()->PBar->isVisible());
    QCOMPARE(ui()->PBar->value(), 0);
    QVERIFY(m_device->receivedCommands().isEmpty()); // the first step waits for the first tick

    QVERIFY2(waitFor([] { return !busy(); }, 30000), qPrintable(FormUpdate->StatusText()));
    CHECKED(verifyIdle());
    CHECKED(verifyDevice(image, plan, plan, announces));

    // Each announce went out on its own, its block right after it.
    QStringList events;
    for (qsizetype i = 0; i < plan.size(); ++i) {
        events << QStringLiteral("command:") + QString::fromLatin1(announces[i])
               << QStringLiteral("block:%1").arg(plan[i].address, 0, 16);
    }
    QCOMPARE(m_events, events);

    QStringList statuses;
    for (qsizetype i = 0; i < plan.size(); ++i) {
        statuses << QStringLiteral("Update Start") << QStringLiteral("Data Send")
                 << QStringLiteral("Update Complete");
    }
    QCOMPARE(m_statuses, statuses);
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Update Complete"));
    QCOMPARE(barShown, QList<bool>(statuses.size(), true));

    // One state per tick: state 0, five per block, the empty sixth block of phase 1, the start
    // of phase 2 and the stop.
    QVERIFY2(ticks.size() >= 1 + 5 * 5 + 1 + 1 + 5 * 2 + 1,
             qPrintable(QString::number(ticks.size())));
    // Over two periods of the 100 ms timer without a tick: it stopped.
    const qsizetype ticksAtStop = ticks.size();
    QTest::qWait(250);
    QCOMPARE(ticks.size(), ticksAtStop);
}

void TestUpdate::downloadsExactlyThePlannedBlocks_data()
{
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<bool>("backupArea");
    QTest::addColumn<QList<QByteArray>>("announces");

    // Exactly k blocks: phase 1 ends at the empty block k without announcing it.
    QTest::newRow("exactly 1 block")
            << FullBlock << false << QList<QByteArray>{ "Download(0x01000000,0x20000)" };
    QTest::newRow("exactly 3 blocks")
            << 3 * FullBlock << false
            << QList<QByteArray>{ "Download(0x01000000,0x20000)", "Download(0x01020000,0x20000)",
                                  "Download(0x01040000,0x20000)", "Download(0x00000000,0x20000)" };
    QTest::newRow("exactly 4 blocks")
            << 4 * FullBlock << false
            << QList<QByteArray>{ "Download(0x01000000,0x20000)", "Download(0x01020000,0x20000)",
                                  "Download(0x01040000,0x20000)", "Download(0x01060000,0x20000)",
                                  "Download(0x00000000,0x20000)", "Download(0x00020000,0x20000)" };
    // Phase 2 sends what the image has from 0x60000 and no more.
    QTest::newRow("3 blocks and 0x1a0 bytes")
            << 3 * FullBlock + 0x1a0 << false
            << QList<QByteArray>{ "Download(0x01000000,0x20000)", "Download(0x01020000,0x20000)",
                                  "Download(0x01040000,0x20000)", "Download(0x01060000,0x1a0)",
                                  "Download(0x00000000,0x20000)", "Download(0x00020000,0x1a0)" };
    // The backup area: phase 1 from 0, then phase 2 over the first 0x40000 bytes.
    QTest::newRow("4.5 blocks to the backup area")
            << 4 * FullBlock + HalfBlock << true
            << QList<QByteArray>{ "Download(0x00000000,0x20000)", "Download(0x00020000,0x20000)",
                                  "Download(0x00040000,0x20000)", "Download(0x00060000,0x20000)",
                                  "Download(0x00080000,0x10000)", "Download(0x00000000,0x20000)",
                                  "Download(0x00020000,0x20000)" };
    // Over 2 MiB: sixteen blocks, then phase 2; nothing from 0x200000 on.
    QList<QByteArray> big;
    for (int n = 0; n < 16; ++n)
        big << testsupport::AnnounceLine(MainBase + static_cast<quint32>(n) * 0x20000u, FullBlock);
    big << "Download(0x00000000,0x20000)"
        << "Download(0x00020000,0x20000)";
    QTest::newRow("exactly 2 MiB: no warning") << AreaSize << false << big;
    QTest::newRow("over 2 MiB, warning answered Yes") << AreaSize + 1 << false << big;
}

void TestUpdate::downloadsExactlyThePlannedBlocks()
{
    QFETCH(qsizetype, length);
    QFETCH(bool, backupArea);
    QFETCH(QList<QByteArray>, announces);

    const QByteArray image = testsupport::PatternedImage(length, 0x3C);
    CHECKED(openUpdateWindow(backupArea));
    CHECKED(loadImage(image));
    CHECKED(startDownload()); // on a fresh tool: "Start" connects first
    QVERIFY(driveToEnd());

    const QList<Block> plan = undisturbedPlan(length, backupArea ? 0u : MainBase);
    QCOMPARE(plan.size(), announces.size());
    CHECKED(verifyDevice(image, plan, plan, announces));
    CHECKED(verifyIdle());
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Update Complete"));
    if (length > AreaSize) {
        // Not one byte from beyond 2 MiB went anywhere.
        qsizetype sent = 0;
        for (const sim::BlockRecord &block : m_device->receivedBlocks())
            sent += block.length;
        QCOMPARE(sent, 18 * FullBlock);
    }
}

void TestUpdate::refusedBlock_data()
{
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<int>("refused"); // which block (in announce order) the device refuses
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QList<int>>("sent"); // indexes into the undisturbed plan
    QTest::addColumn<bool>("phase2Follows");

    // 4.5 blocks: plan 0-4 are phase 1, 5 and 6 phase 2.
    const qsizetype length = 4 * FullBlock + HalfBlock;
    QTest::newRow("Result:0 in phase 1: phase 2 follows")
            << length << 1 << QByteArray("Result:0") << QStringLiteral("Failed:0\r")
            << QList<int>{ 0, 1, 5, 6 } << true;
    QTest::newRow("Error: in phase 1: phase 2 follows")
            << length << 0 << QByteArray("Error:Flash") << QStringLiteral("Error:Flash\r")
            << QList<int>{ 0, 5, 6 } << true;
    QTest::newRow("Result:0 on the last phase 1 block")
            << length << 4 << QByteArray("Result:0") << QStringLiteral("Failed:0\r")
            << QList<int>{ 0, 1, 2, 3, 4, 5, 6 } << true;
    QTest::newRow("Result:0 in phase 2: stop")
            << length << 5 << QByteArray("Result:0") << QStringLiteral("Failed:0\r")
            << QList<int>{ 0, 1, 2, 3, 4, 5 } << false;
    QTest::newRow("Error: on the last phase 2 block")
            << length << 6 << QByteArray("Error:Verify") << QStringLiteral("Error:Verify\r")
            << QList<int>{ 0, 1, 2, 3, 4, 5, 6 } << false;
    QTest::newRow("Result: with nothing after it")
            << length << 2 << QByteArray("Result:") << QStringLiteral("Failed:\r")
            << QList<int>{ 0, 1, 2, 5, 6 } << true;
}

void TestUpdate::refusedBlock()
{
    QFETCH(qsizetype, length);
    QFETCH(int, refused);
    QFETCH(QByteArray, reply);
    QFETCH(QString, status);
    QFETCH(QList<int>, sent);
    QFETCH(bool, phase2Follows);

    const QByteArray image = testsupport::PatternedImage(length, 0x5F);
    CHECKED(loadImage(image));
    CHECKED(openConnection());
    m_device->setBlockReply(refused, reply);
    CHECKED(startDownload());
    QVERIFY(driveToEnd());
    CHECKED(verifyIdle());

    const QList<Block> plan = undisturbedPlan(length, MainBase);
    QList<Block> sentBlocks;
    QList<Block> written;
    QList<QByteArray> announces;
    for (qsizetype i = 0; i < sent.size(); ++i) {
        const Block &block = plan[sent[i]];
        sentBlocks << block;
        announces << testsupport::AnnounceLine(block.address, block.length);
        if (i != refused)
            written << block;
    }
    CHECKED(verifyDevice(image, sentBlocks, written, announces));

    // The refusal shows as the device put it; two ticks later phase 2 starts or all is over.
    qsizetype at = -1;
    for (qsizetype i = 0; i < m_trace.size(); ++i) {
        if (m_trace[i].second == status) {
            at = i;
            break;
        }
    }
    QVERIFY2(at >= 0, qPrintable(printable(m_statuses.join(QLatin1Char('|')))));
    QVERIFY(m_trace[at].first);
    QVERIFY(at + 2 < m_trace.size() || !phase2Follows);
    if (phase2Follows) {
        QCOMPARE(m_trace[at + 1].second, status);
        QCOMPARE(m_trace[at + 2].second, QStringLiteral("Update Start"));
        QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Update Complete"));
    } else {
        QCOMPARE(m_trace.size(), at + 3); // it stops two steps later
        QVERIFY(!m_trace.last().first && m_trace[at + 1].first);
        QCOMPARE(FormUpdate->StatusText(), status);
    }
}

void TestUpdate::noSizeAcknowledgement_data()
{
    QTest::addColumn<int>("ignored"); // which announce the device ignores
    QTest::addColumn<bool>("readDuringWait"); // the main window's "Read" pressed meanwhile

    // 2.5 blocks: announces 0-2 are phase 1, 3 is phase 2.
    QTest::newRow("first block") << 0 << false;
    QTest::newRow("third block, Read meanwhile") << 2 << true;
    QTest::newRow("phase 2") << 3 << false;
}

void TestUpdate::noSizeAcknowledgement()
{
    QFETCH(int, ignored);
    QFETCH(bool, readDuringWait);

    const qsizetype length = 2 * FullBlock + HalfBlock;
    const QByteArray image = testsupport::PatternedImage(length, 0x6E);
    CHECKED(loadImage(image));
    CHECKED(openConnection());
    m_device->setIgnoredAnnounce(ignored);
    CHECKED(startDownload());
    // The announce arrived and the device let it go unanswered.
    QVERIFY(driveUntil([this] { return m_device->counters().announcesIgnored == 1; }));
    QVERIFY(FormUpdate->ReplyText().isEmpty());
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Update Start"));
    if (readDuringWait)
        FormMain->ui()->BtnRead->click(); // held: the device may be inside the block

    for (int i = 1; i < 30; ++i) {
        tick();
        QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Update Start"));
    }
    tick(); // the thirtieth
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Error!!(Timeout)"));
    tick();
    QVERIFY(busy()); // it stops two steps later
    tick();
    CHECKED(verifyIdle());
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Error!!(Timeout)"));

    const QList<Block> plan = undisturbedPlan(length, MainBase);
    QList<QByteArray> announces;
    for (qsizetype i = 0; i <= ignored; ++i)
        announces << testsupport::AnnounceLine(plan[i].address, plan[i].length);
    const QList<Block> sent = plan.first(ignored);
    if (readDuringWait) {
        // Never on the abandoned connection: on a new one, answered there.
        QVERIFY(waitFor(
                [] { return FormMain->ui()->EdtIP1->text() == QStringLiteral("192.168.0.10"); }));
        QCOMPARE(m_events.sliced(m_events.size() - 3),
                 QStringList({ QStringLiteral("command:") + QString::fromLatin1(announces.last()),
                               QStringLiteral("connect"), QStringLiteral("command:ReqIP_ADR") }));
        announces << "ReqIP_ADR";
    }
    // The device saw the abandoned connection end, or a new one replace it.
    QVERIFY(waitFor([this] { return !m_device->hasClient() || m_device->counters().connections; },
                    ReplyWaitMs));
    CHECKED(verifyDevice(image, sent, sent, announces));

    // The next "Start" connects anew (unless the Read did) and announces again from the start.
    m_device->clearRecords();
    m_device->clearFaults();
    CHECKED(startDownload());
    QVERIFY(driveToEnd());
    QCOMPARE(m_device->counters().connections, readDuringWait ? 0 : 1);
    CHECKED(verifyUndisturbed(image));
}

void TestUpdate::noResult_data()
{
    QTest::addColumn<int>("withheld"); // which block's result the device withholds

    // 2.5 blocks: blocks 0-2 are phase 1, 3 is phase 2.
    QTest::newRow("first block") << 0;
    QTest::newRow("last phase 1 block") << 2;
    QTest::newRow("phase 2") << 3;
}

void TestUpdate::noResult()
{
    QFETCH(int, withheld);

    const qsizetype length = 2 * FullBlock + HalfBlock;
    const QByteArray image = testsupport::PatternedImage(length, 0x7D);
    CHECKED(loadImage(image));
    CHECKED(openConnection());
    m_device->setBlockReply(withheld, QByteArray());
    CHECKED(startDownload());
    // The block is in and the device has kept its result back.
    QVERIFY(driveUntil([&] { return m_device->receivedBlocks().size() == withheld + 1; }));
    QVERIFY(FormUpdate->ReplyText().isEmpty());
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Data Send"));

    // The bar moves one step per tick of the wait.
    const int barAtStart = ui()->PBar->value();
    for (int i = 1; i < 50; ++i) {
        tick();
        QCOMPARE(ui()->PBar->value(), std::min(barAtStart + i, 50));
        QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Data Send"));
    }
    tick(); // the fiftieth
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Error!!(Timeout)"));
    tick();
    QVERIFY(busy()); // it stops two steps later
    tick();
    CHECKED(verifyIdle());
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Error!!(Timeout)"));

    // The device wrote the block; only its answer got lost. Nothing followed it.
    const QList<Block> plan = undisturbedPlan(length, MainBase);
    const QList<Block> sent = plan.first(withheld + 1);
    QList<QByteArray> announces;
    for (const Block &block : sent)
        announces << testsupport::AnnounceLine(block.address, block.length);
    CHECKED(readVersion());
    CHECKED(verifyDevice(image, sent, sent, announces << "ReqVer"));
}

void TestUpdate::downloadGoesOnWhileTheWindowIsClosed()
{
    const QByteArray image = testsupport::PatternedImage(FullBlock + 0x1a0, 0x2D);
    CHECKED(loadImage(image));
    CHECKED(openConnection());
    CHECKED(startDownload());
    tick();
    tick(); // the first announce
    QVERIFY(FormUpdate->close());
    QVERIFY(!FormUpdate->isVisible());
    QVERIFY(busy());

    QVERIFY(driveToEnd());
    const QList<Block> plan = undisturbedPlan(image.size(), MainBase);
    CHECKED(verifyDevice(image, plan, plan,
                         { testsupport::AnnounceLine(MainBase, FullBlock),
                           testsupport::AnnounceLine(MainBase + 0x20000, 0x1a0) }));
    CHECKED(verifyIdle());
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Update Complete"));
}

void TestUpdate::runningDownloadKeepsItsImage_data()
{
    QTest::addColumn<bool>("failedLoad");

    QTest::newRow("another image") << false;
    QTest::newRow("a failed load") << true;
}

void TestUpdate::runningDownloadKeepsItsImage()
{
    QFETCH(bool, failedLoad);

    const QByteArray first = testsupport::PatternedImage(2 * FullBlock + HalfBlock, 0x01);
    // Longer, so a sequence that looked at it would send more blocks.
    const QByteArray second = testsupport::PatternedImage(5 * FullBlock, 0x02);
    CHECKED(loadImage(first, QStringLiteral("first.bin")));
    CHECKED(openConnection());
    CHECKED(startDownload());
    // The first block is out, its result awaited.
    QVERIFY(driveUntil([] { return FormUpdate->StatusText() == QStringLiteral("Data Send"); }));

    if (failedLoad) {
        m_dialogs->answerNext(QDir::toNativeSeparators(m_files->filePath(QStringLiteral("gone"))));
        ui()->BtnOpen->click();
        QCOMPARE(m_boxes->count(), 2);
        QCOMPARE(m_boxes->shown().last().text, FileErrorText);
        QVERIFY(FormUpdate->ImageBuffer().isEmpty());
    } else {
        CHECKED(loadImage(second, QStringLiteral("second.bin")));
    }
    QVERIFY(driveToEnd());

    CHECKED(verifyUndisturbed(first));
    CHECKED(verifyIdle());
    if (failedLoad) {
        QVERIFY(FormUpdate->ImageBuffer().isEmpty());
        QCOMPARE(ui()->STextSize->text(), QString());
    } else {
        QCOMPARE(FormUpdate->ImageBuffer(), second);
        QCOMPARE(ui()->STextSize->text(), QString::number(second.size()));
    }
}

// --- The version read ---------------------------------------------------------------------------

void TestUpdate::versionReadTrimsBothEnds_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("hidden");

    QTest::newRow("plain") << QByteArray("2.00") << QStringLiteral("2.00") << false;
    QTest::newRow("blanks at both ends")
            << QByteArray("   2.01  ") << QStringLiteral("2.01") << false;
    QTest::newRow("control characters at both ends, inside kept")
            << QByteArray("\x01\t 2.02 \x02 beta\x1f \x7f\x03 \x1f")
            << QString::fromLatin1("2.02 \x02 beta\x1f \x7f") << false;
    QTest::newRow("blanks only") << QByteArray(" \t ") << QString() << false;
    QTest::newRow("empty") << QByteArray() << QString() << false;
    QTest::newRow("window hidden")
            << QByteArray("\x05 3.10 rc\t") << QStringLiteral("3.10 rc") << true;
}

void TestUpdate::versionReadTrimsBothEnds()
{
    QFETCH(QByteArray, version);
    QFETCH(QString, shown);
    QFETCH(bool, hidden);

    m_device->setVersion(version);
    ui()->STextVersion->setText(QStringLiteral("old"));
    FormUpdate->SetStatusText(QStringLiteral("before"));

    ui()->BtnRead->click();
    // The field and the status are emptied at once; the first command opens the connection.
    QCOMPARE(ui()->STextVersion->text(), QString());
    QCOMPARE(FormUpdate->StatusText(), QString());
    QVERIFY(testsupport::link().IsConnected());
    if (hidden) {
        FormUpdate->hide();
        QVERIFY(!FormUpdate->isVisible());
    }

    QVERIFY2(waitFor([] { return FormUpdate->StatusText() == QStringLiteral("Version Received"); },
                     ReplyWaitMs),
             qPrintable(FormUpdate->StatusText()));
    QCOMPARE(ui()->STextVersion->text(), shown);
    QCOMPARE(m_device->receivedCommands(), QList<QByteArray>{ "ReqVer" });
    QCOMPARE(m_device->counters().bytesReceived, qint64(7)); // "ReqVer" and its CR
    QCOMPARE(m_device->counters().connections, 1);
    QCOMPARE(FormUpdate->isVisible(), !hidden);
    QCOMPARE(m_boxes->count(), 0);
}

void TestUpdate::versionReadDuringADownloadWaitsForTheBlock()
{
    // Phase 2's second block is short.
    const QByteArray image = testsupport::PatternedImage(3 * FullBlock + 100, 0x4B);
    CHECKED(loadImage(image));
    CHECKED(openConnection());
    m_device->setVersion(" 2.05\t");
    CHECKED(startDownload());
    // The second announce is out.
    QVERIFY(driveUntil([this] { return m_device->receivedCommands().size() == 2; }));

    // "Read" between the second announce and its block.
    ui()->BtnRead->click();
    QCOMPARE(ui()->STextVersion->text(), QString());
    QVERIFY(testsupport::link().CommandHold());
    // Had it gone out, the device would take it as the start of the block, checked below.
    QVERIFY(waitFor([] { return FormUpdate->ReplyText() == "SizeOK"; }, ReplyWaitMs));
    QVERIFY(!m_device->receivedCommands().contains("ReqVer"));
    QVERIFY(m_device->isReceivingBlock());

    tick(); // SizeOK seen
    tick(); // the block goes out, the held request right behind it
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Data Send"));
    QVERIFY(!testsupport::link().CommandHold());
    QVERIFY2(waitFor([] { return FormUpdate->StatusText() == QStringLiteral("Version Received"); },
                     ReplyWaitMs),
             qPrintable(FormUpdate->StatusText()));
    QCOMPARE(ui()->STextVersion->text(), QStringLiteral("2.05"));
    QVERIFY(waitFor([] { return !FormUpdate->ReplyText().isEmpty(); }, ReplyWaitMs));
    QCOMPARE(FormUpdate->ReplyText(), QByteArray("Complete"));
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Version Received"));

    QVERIFY(driveToEnd());
    CHECKED(verifyIdle());
    QCOMPARE(FormUpdate->StatusText(), QStringLiteral("Update Complete"));

    const QList<Block> plan = undisturbedPlan(image.size(), MainBase);
    QCOMPARE(plan.size(), 6);
    QList<QByteArray> commands;
    QStringList events;
    for (qsizetype i = 0; i < plan.size(); ++i) {
        commands << testsupport::AnnounceLine(plan[i].address, plan[i].length);
        events << QStringLiteral("command:") + QString::fromLatin1(commands.last())
               << QStringLiteral("block:%1").arg(plan[i].address, 0, 16);
        if (i == 1) {
            commands << "ReqVer";
            events << QStringLiteral("command:ReqVer");
        }
    }
    QCOMPARE(m_events, events);
    CHECKED(verifyDevice(image, plan, plan, commands));
}

QLT36_TEST_MAIN(TestUpdate)

#include "tst_update.moc"
