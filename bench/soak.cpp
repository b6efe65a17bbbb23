// Soak run: 200 address round trips (Read, then Send) through the main window and 20 downloads of
// a 2 MiB image through the update window, against the simulator in this process on loopback.
// Every download is checked byte for byte in the simulator's memory. Resident memory and open
// descriptors are sampled at the start, after a warm-up cycle and at the end; the run fails on a
// data mismatch or when either grows after the warm-up beyond the tolerance printed.
//
//   soak                 download steps driven back to back (the link's receives too)
//   soak --real-timers   downloads paced by the window's own 100 ms timers (about 4 minutes)
#include "support/TestSupport.h"

#include "DeviceSimulator.h"
#include "UnitComNet.h"
#include "UnitMain.h"
#include "UnitUpdate.h"
#include "ui_UnitMain.h"
#include "ui_UnitUpdate.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

using testsupport::waitFor;

namespace {

constexpr int Cycles = 20;
constexpr int RoundTripsPerCycle = 10; // 200 in all
constexpr qsizetype ImageLength = 0x200000;
constexpr quint32 MainArea = 0x1000000;
constexpr int BlocksPerDownload = 18; // 16 in phase 1, 2 in phase 2

// Two cycles warm up: until the second download starts, the sequence still holds the first image
// while the second is loaded, so the peak of two images is reached only then.
constexpr int WarmUpCycles = 2;
// Growth allowed between the warm-up sample and the end: a leak of one 128 KiB block per download
// would be 2.3 MiB, of one 2 MiB image 36 MiB; the allocator's own drift stays well below.
constexpr qint64 RssToleranceKiB = 1024;
constexpr int FdTolerance = 0;

struct Sample
{
    qint64 rssKiB = 0;
    int fds = 0;
};

Sample sample()
{
    Sample s;
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (statm.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> fields = statm.readAll().simplified().split(' ');
        if (fields.size() > 1)
            s.rssKiB = fields[1].toLongLong() * sysconf(_SC_PAGESIZE) / 1024;
    }
    // The listing itself holds one descriptor open: the same one each time.
    s.fds = static_cast<int>(
            QDir(QStringLiteral("/proc/self/fd"))
                    .entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files | QDir::Dirs)
                    .size());
    return s;
}

// Lets deleteLater and pending socket work finish so a sample sees a settled process.
void settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

QByteArray imageBytes(quint32 seed)
{
    QByteArray image(ImageLength, Qt::Uninitialized);
    quint32 x = seed * 2654435761u | 1;
    for (qsizetype i = 0; i < image.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = static_cast<char>(x >> 24);
    }
    return image;
}

QString mainStatus()
{
    return FormMain->ui()->SBar->currentMessage();
}

class Soak
{
public:
    explicit Soak(bool realTimers) : m_realTimers(realTimers) { }

    int run();

private:
    bool roundTrip(int n);
    bool download(int n);
    bool driveDownload();
    bool fail(const QString &what)
    {
        std::fprintf(stderr, "soak: %s\n", qPrintable(what));
        return false;
    }

    bool m_realTimers = false;
    sim::DeviceSimulator m_device;
    testsupport::MessageBoxRecorder m_boxes;
    testsupport::FileDialogAnswerer m_files;
    std::unique_ptr<testsupport::TestForms> m_forms;
    qint64 m_roundTripMs = 0;
    qint64 m_downloadMs = 0;
    qint64 m_longestDownloadMs = 0;
};

bool Soak::roundTrip(int n)
{
    QElapsedTimer clock;
    clock.start();
    auto *ui = FormMain->ui();

    QTest::mouseClick(ui->BtnRead, Qt::LeftButton);
    if (!waitFor([] { return mainStatus() == QLatin1String("IP Address Received"); }, 5000))
        return fail(QStringLiteral("round trip %1: no addresses (status \"%2\")")
                            .arg(n)
                            .arg(mainStatus()));
    const QList<QByteArray> stored = m_device.addresses();
    const QList<QLineEdit *> fields = { ui->EdtIP1, ui->EdtIP2, ui->EdtMask, ui->EdtGate,
                                        ui->EdtMCast };
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (fields[i]->text() != QString::fromLatin1(stored[i]))
            return fail(QStringLiteral("round trip %1: field %2 reads \"%3\", device has \"%4\"")
                                .arg(n)
                                .arg(i)
                                .arg(fields[i]->text(), QString::fromLatin1(stored[i])));
    }

    // The first field stays loopback: the tool's next connection goes where it says.
    const int a = n % 250 + 1;
    const int b = n / 250 + 1;
    const QStringList typed = { QStringLiteral("127.0.0.1"),
                                QStringLiteral("10.%1.%2.2").arg(a).arg(b),
                                QStringLiteral("255.255.%1.0").arg(n % 2 == 0 ? 255 : 0),
                                QStringLiteral("10.%1.%2.1").arg(a).arg(b),
                                QStringLiteral("239.1.%1.%2").arg(b).arg(a) };
    for (qsizetype i = 0; i < fields.size(); ++i)
        fields[i]->setText(typed[i]);
    QTest::mouseClick(ui->BtnSet, Qt::LeftButton);
    if (!waitFor([] { return mainStatus() == QLatin1String("IP Address Set Complete"); }, 5000))
        return fail(QStringLiteral("round trip %1: set not confirmed (status \"%2\")")
                            .arg(n)
                            .arg(mainStatus()));
    QList<QByteArray> expected;
    for (const QString &text : typed)
        expected << text.toLatin1();
    if (m_device.addresses() != expected)
        return fail(QStringLiteral("round trip %1: the device holds other addresses").arg(n));
    m_roundTripMs += clock.elapsed();
    return true;
}

// Steps the sequence back to back: each step as soon as the replies to what was sent are in, so
// a wait never runs out while the device works.
bool Soak::driveDownload()
{
    core::DeviceSession &session = testsupport::session();
    testsupport::downloadTimer()->stop();
    int sent = 0;
    int answered = 0;
    QObject scope;
    QObject::connect(&session, &core::DeviceSession::commandSent, &scope, [&sent] { ++sent; });
    QObject::connect(&session, &core::DeviceSession::blockSent, &scope, [&sent] { ++sent; });
    QObject::connect(&session.Link(), &core::DeviceLink::lineReceived, &scope,
                     [&answered] { ++answered; });
    QElapsedTimer guard;
    guard.start();
    while (session.Download().DownloadBusy() != 0) {
        if (!waitFor([&] { return answered >= sent; }, 5000))
            return fail(QStringLiteral("no reply after %1 sends").arg(sent));
        session.StepDownload();
        if (guard.elapsed() > 120000)
            return fail(QStringLiteral("download still running after 120 s"));
    }
    return true;
}

bool Soak::download(int n)
{
    const QByteArray image = imageBytes(static_cast<quint32>(n + 1));
    const QString path = QDir(m_forms->folder()).filePath(QStringLiteral("image.bin"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(image) != image.size()) {
            return fail(QStringLiteral("cannot write %1").arg(path));
        }
    }
    m_files.answerNext(path);
    QTest::mouseClick(FormUpdate->ui()->BtnOpen, Qt::LeftButton);
    if (FormUpdate->ui()->STextSize->text() != QString::number(ImageLength))
        return fail(QStringLiteral("download %1: image not loaded").arg(n));

    m_device.clearRecords();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(FormUpdate->ui()->BtnDownload, Qt::LeftButton);
    if (testsupport::session().Download().DownloadBusy() == 0)
        return fail(QStringLiteral("download %1 did not start").arg(n));
    if (m_realTimers) {
        if (!waitFor([] { return testsupport::session().Download().DownloadBusy() == 0; }, 60000))
            return fail(QStringLiteral("download %1 still running after 60 s").arg(n));
    } else if (!driveDownload()) {
        return fail(QStringLiteral("download %1 failed").arg(n));
    }
    const qint64 ms = clock.elapsed();
    m_downloadMs += ms;
    m_longestDownloadMs = std::max(m_longestDownloadMs, ms);

    if (FormUpdate->StatusText() != QLatin1String("Update Complete"))
        return fail(QStringLiteral("download %1 ended with \"%2\"")
                            .arg(n)
                            .arg(FormUpdate->StatusText()));
    // Exactly the announces of the two phases, nothing else on the wire.
    QList<QByteArray> announces;
    for (quint32 b = 0; b < 16; ++b)
        announces << "Download(0x"
                        + QByteArray::number(MainArea + b * 0x20000, 16).rightJustified(8, '0')
                        + ",0x20000)";
    announces << "Download(0x00000000,0x20000)"
              << "Download(0x00020000,0x20000)";
    if (m_device.receivedCommands() != announces)
        return fail(QStringLiteral("download %1: other commands than the 18 announces").arg(n));
    const QList<sim::BlockRecord> blocks = m_device.receivedBlocks();
    if (blocks.size() != BlocksPerDownload)
        return fail(QStringLiteral("download %1: %2 blocks").arg(n).arg(blocks.size()));
    for (const sim::BlockRecord &block : blocks) {
        if (!block.exactAnnounce || !block.written || block.length != 0x20000)
            return fail(QStringLiteral("download %1: block #%2 at 0x%3 not as expected")
                                .arg(n)
                                .arg(block.index)
                                .arg(block.address, 0, 16));
    }
    if (m_device.memory(MainArea, ImageLength) != image)
        return fail(QStringLiteral("download %1: device memory at 0x1000000 differs").arg(n));
    if (m_device.memory(0, 0x40000) != image.sliced(0x40000, 0x40000))
        return fail(QStringLiteral("download %1: device memory at 0 differs").arg(n));
    return true;
}

int Soak::run()
{
    if (!m_device.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0)) {
        fail(m_device.errorString());
        return 2;
    }
    m_forms = std::make_unique<testsupport::TestForms>(QStringLiteral("127.0.0.1"),
                                                       m_device.serverPort());
    FormMain->show();
    QTest::mouseClick(FormMain->ui()->BtnUpdate, Qt::LeftButton);
    settle();
    const Sample start = sample();

    std::printf("soak: %d address round trips, %d downloads of %lld bytes (%s)\n",
                Cycles * RoundTripsPerCycle, Cycles, static_cast<long long>(ImageLength),
                m_realTimers ? "the window's 100 ms timers"
                             : "download steps and receives driven back to back");
    std::printf("%-26s %10s %6s\n", "", "RSS KiB", "fds");
    std::printf("%-26s %10lld %6d\n", "start", start.rssKiB, start.fds);

    Sample warm;
    QList<Sample> cycles;
    bool ok = true;
    for (int cycle = 0; cycle < Cycles && ok; ++cycle) {
        for (int i = 0; i < RoundTripsPerCycle && ok; ++i)
            ok = roundTrip(cycle * RoundTripsPerCycle + i);
        ok = ok && download(cycle);
        settle();
        const Sample now = sample();
        cycles << now;
        if (cycle == WarmUpCycles - 1)
            warm = now;
        std::printf("%-26s %10lld %6d\n",
                    qPrintable(cycle == WarmUpCycles - 1
                                       ? QStringLiteral("after warm-up (cycle %1)").arg(cycle + 1)
                                       : QStringLiteral("after cycle %1").arg(cycle + 1)),
                    now.rssKiB, now.fds);
        std::fflush(stdout);
    }
    if (!ok) {
        std::printf("result: FAIL (data)\n");
        return 1;
    }
    const Sample end = cycles.last();
    const qint64 rssGrowth = end.rssKiB - warm.rssKiB;
    const int fdGrowth = end.fds - warm.fds;
    const int roundTrips = Cycles * RoundTripsPerCycle;
    std::printf("round trips: %d in %.1f s, %.1f ms each (Read and Send)\n", roundTrips,
                double(m_roundTripMs) / 1000.0, double(m_roundTripMs) / roundTrips);
    std::printf(
            "downloads: %d in %.1f s, %.2f s each, longest %.2f s; each verified: %d announces and "
            "blocks, 2 MiB at 0x1000000, 256 KiB at 0\n",
            Cycles, double(m_downloadMs) / 1000.0, double(m_downloadMs) / Cycles / 1000.0,
            double(m_longestDownloadMs) / 1000.0, BlocksPerDownload);
    std::printf("growth after warm-up: RSS %+lld KiB (tolerance %lld KiB), fds %+d (tolerance "
                "%d); since start: RSS %+lld KiB, fds %+d\n",
                rssGrowth, RssToleranceKiB, fdGrowth, FdTolerance, end.rssKiB - start.rssKiB,
                end.fds - start.fds);
    std::printf("message boxes: %d (one confirmation per download)\n", m_boxes.count());
    const bool grew = rssGrowth > RssToleranceKiB || fdGrowth > FdTolerance;
    const bool boxes = m_boxes.count() != Cycles;
    std::printf("result: %s\n", grew ? "FAIL (growth)" : boxes ? "FAIL (boxes)" : "PASS");
    return grew || boxes ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    gui::Application app(argc, argv);
    gui::RegisterReplyMessage();
    testsupport::InstallLoopbackGuard();
    const bool realTimers = QCoreApplication::arguments().contains(QStringLiteral("--real-timers"));
    int result = 0;
    {
        Soak soak(realTimers);
        result = soak.run();
    }
    return result;
}
