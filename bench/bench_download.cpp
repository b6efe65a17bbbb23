// Through the real windows, the real link and its timers, against the device simulator on
// loopback, as an engineer would: "Read" then "Send" in the main window (the round trip to each
// result text), then a 2 MiB download ("Open", "Start", "Yes"). Prints the round trip, with how
// much of it the window's repainting took, and how long the download took against the bound the
// tick pacing sets, next to the figures from before replies were taken as they arrive, and how
// long the event loop was ever kept from running.
// Exits non-zero when the device's memory does not hold exactly what the download must write.
#include "support/TestSupport.h"

#include "DeviceSimulator.h"
#include "UnitComNet.h"
#include "UnitMain.h"
#include "UnitUpdate.h"
#include "download/DownloadSequence.h"
#include "ui_UnitMain.h"
#include "ui_UnitUpdate.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr qsizetype BlockLength = 0x20000;
constexpr qsizetype ImageLength = 0x200000; // 16 blocks of phase 1
constexpr int Phase1Blocks = 16;
constexpr int Phase2Blocks = 2;
constexpr int Blocks = Phase1Blocks + Phase2Blocks;
constexpr int TickMs = 100;
constexpr int MinTicksPerBlock = 5; // announce, size acknowledgement, bytes, result, next block
// Beyond the blocks: state 0, the start of phase 2 and the stop.
constexpr int ExtraTicks = 3;
constexpr quint32 MainBase = 0x1000000;
constexpr int DeadlineMs = 120000;

QByteArray patternedImage(qsizetype length)
{
    QByteArray image(length, Qt::Uninitialized);
    char *bytes = image.data();
    for (qsizetype i = 0; i < length; ++i) {
        const auto word = static_cast<quint32>(i / 4);
        const auto shift = static_cast<unsigned>(8 * (i % 4));
        bytes[i] = static_cast<char>(((word >> shift) & 0xFFu) ^ 0xA5u);
    }
    return image;
}

// Runs the event loop (without sleeping in it, so the probe sees real gaps) until `done`.
bool runUntil(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start();
    deadline.start(timeoutMs);
    if (!done())
        loop.exec();
    return done();
}

using State = download::DownloadSequence::State;

bool isWaitState(State state)
{
    return state == State::WaitSize1 || state == State::WaitSize2 || state == State::WaitResult1
            || state == State::WaitResult2;
}

bool isSizeWait(State state)
{
    return state == State::WaitSize1 || state == State::WaitSize2;
}

const download::DownloadSequence &sequence()
{
    return testsupport::session().Download();
}

// Figures of the tool before replies were taken as they arrive (one receive per 100 ms poll).
constexpr double EarlierDownloadSeconds = 12.90;
constexpr double EarlierRoundTripMs = 205.0;
constexpr int RoundTrips = 20;

// Time the main window spends repainting itself (its queued repaints and the immediate ones, such
// as the status bar's), told apart from the rest of a round trip: under Wine the window system's
// drawing of the themed fields outweighs everything else.
class RepaintClock : public QObject
{
public:
    explicit RepaintClock(QWidget *window) : m_window(window) { window->installEventFilter(this); }
    double ms() const { return static_cast<double>(m_nsecs) / 1e6; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window || event->type() != QEvent::UpdateRequest || m_inside)
            return false;
        m_inside = true;
        QElapsedTimer clock;
        clock.start();
        QCoreApplication::sendEvent(m_window, event);
        m_nsecs += clock.nsecsElapsed();
        m_inside = false;
        return true;
    }

private:
    QWidget *m_window;
    qint64 m_nsecs = 0;
    bool m_inside = false;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int fail(const char *what)
{
    std::fprintf(stderr, "bench_download: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    gui::Application app(argc, argv);
    gui::RegisterReplyMessage();
    testsupport::InstallLoopbackGuard();

    testsupport::MessageBoxRecorder boxes; // "Firmwear Update Start OK ?" is answered Yes
    testsupport::FileDialogAnswerer dialogs;
    sim::DeviceSimulator device;
    if (!device.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0))
        return fail("the simulator cannot listen on 127.0.0.1");
    testsupport::TestForms forms(QStringLiteral("127.0.0.1"), device.serverPort());

    FormMain->show();
    FormMain->ui()->BtnUpdate->click();
    if (FormUpdate->DownloadBaseAddress() != MainBase)
        return fail("the update window is not aimed at the main area");

    const QByteArray image = patternedImage(ImageLength);
    const QString path = QDir(forms.folder()).filePath(QStringLiteral("image.bin"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
            return fail("cannot write the image file");
    }
    dialogs.answerNext(QDir::toNativeSeparators(path));
    FormUpdate->ui()->BtnOpen->click();
    if (FormUpdate->ImageBuffer() != image)
        return fail("the image did not load");

    // The download uses the connection a version read opened.
    FormUpdate->ui()->BtnRead->click();
    if (!runUntil([] { return FormUpdate->StatusText() == QStringLiteral("Version Received"); },
                  5000)) {
        return fail("no version reply from the simulator");
    }
    // "Read" then "Send" in the main window, each to its result text: the engineer's round trip.
    // The device answers with its own loopback address, so a set leaves the link aimed there.
    device.setAddresses({ "127.0.0.1", "127.0.0.2", "255.0.0.0", "127.0.0.254", "239.0.0.1" });
    QList<double> roundTrips;
    QList<double> repaints;
    QList<double> rests;
    const RepaintClock repaintClock(FormMain);
    for (int i = 0; i < RoundTrips; ++i) {
        const double repaintedBefore = repaintClock.ms();
        QElapsedTimer trip;
        trip.start();
        FormMain->ui()->BtnRead->click();
        if (!runUntil(
                    [] {
                        return testsupport::child<QStatusBar>(FormMain, "SBar")->currentMessage()
                                == QStringLiteral("IP Address Received");
                    },
                    5000)) {
            return fail("no address reply from the simulator");
        }
        FormMain->ui()->BtnSet->click();
        if (!runUntil(
                    [] {
                        return testsupport::child<QStatusBar>(FormMain, "SBar")->currentMessage()
                                == QStringLiteral("IP Address Set Complete");
                    },
                    5000)) {
            return fail("no set reply from the simulator");
        }
        roundTrips.append(static_cast<double>(trip.nsecsElapsed()) / 1e6);
        repaints.append(repaintClock.ms() - repaintedBefore);
        rests.append(roundTrips.last() - repaints.last());
    }
    std::sort(roundTrips.begin(), roundTrips.end());
    device.clearRecords();

    // What the sequence did on each tick of its timer (this slot runs after the session's own).
    int ticks = 0;
    int idleSizeTicks = 0;
    int idleResultTicks = 0;
    State stateBefore = State::Prepare;
    QObject::connect(testsupport::downloadTimer(), &QTimer::timeout, &app, [&] {
        ++ticks;
        // A wait state that stays after its tick found no reply yet.
        const State state = sequence().DownloadState();
        if (isWaitState(stateBefore) && state == stateBefore)
            (isSizeWait(state) ? idleSizeTicks : idleResultTicks) += 1;
        stateBefore = state;
    });
    // The tick count at each announce the device received.
    QList<int> ticksAtAnnounce;
    QObject::connect(&device, &sim::DeviceSimulator::commandReceived, &app,
                     [&](const QByteArray &line) {
                         if (line.startsWith("Download("))
                             ticksAtAnnounce.append(ticks);
                     });

    // A 1 ms probe: the longest gap between its ticks is the longest the loop was kept busy.
    QElapsedTimer clock;
    qint64 lastProbe = -1;
    qint64 longestGap = 0;
    int stateAtLongestGap = -1;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, &app, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastProbe >= 0 && now - lastProbe > longestGap) {
            longestGap = now - lastProbe;
            stateAtLongestGap = static_cast<int>(sequence().DownloadState());
        }
        lastProbe = now;
    });

    clock.start();
    probe.start();
    FormUpdate->ui()->BtnDownload->click();
    if (boxes.count() != 1 || sequence().DownloadBusy() != 1)
        return fail("the download did not start");
    const bool finished = runUntil([] { return sequence().DownloadBusy() == 0; }, DeadlineMs);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    probe.stop();
    if (!finished)
        return fail("the download did not finish within two minutes");

    // Check the device's memory: phase 1 wrote the whole image from 0x1000000, phase 2 the
    // image's bytes from 0x40000 to 0x80000 at 0.
    const QList<sim::BlockRecord> blocks = device.receivedBlocks();
    qint64 blockBytes = 0;
    for (const sim::BlockRecord &block : blocks)
        blockBytes += block.length;
    bool good = true;
    if (blocks.size() != Blocks) {
        std::fprintf(stderr, "expected %d blocks, the device took %d\n", Blocks,
                     static_cast<int>(blocks.size()));
        good = false;
    }
    if (device.memory(MainBase, ImageLength) != image) {
        std::fprintf(stderr, "the main area does not hold the image\n");
        good = false;
    }
    if (device.memory(0, 2 * BlockLength) != image.mid(2 * BlockLength, 2 * BlockLength)) {
        std::fprintf(stderr, "the backup area does not hold the image's bytes from 0x40000\n");
        good = false;
    }
    if (device.memory(2 * BlockLength, 1) != QByteArray(1, '\xFF')) {
        std::fprintf(stderr, "the backup area holds bytes beyond phase 2\n");
        good = false;
    }
    const QString status = FormUpdate->StatusText();
    if (status != QStringLiteral("Update Complete")) {
        std::fprintf(stderr, "final status \"%s\"\n", qPrintable(status));
        good = false;
    }

    // Ticks from each announce to the next one (the last block: to the stop).
    QList<int> perBlock;
    for (qsizetype i = 0; i < ticksAtAnnounce.size(); ++i) {
        const int next = i + 1 < ticksAtAnnounce.size() ? ticksAtAnnounce[i + 1] : ticks;
        perBlock.append(next - ticksAtAnnounce[i]);
    }
    const int fewest =
            perBlock.isEmpty() ? 0 : *std::min_element(perBlock.cbegin(), perBlock.cend());
    const int most = perBlock.isEmpty() ? 0 : *std::max_element(perBlock.cbegin(), perBlock.cend());

    const double bound = Blocks * MinTicksPerBlock * TickMs / 1000.0;
    const int minTicks = Blocks * MinTicksPerBlock + ExtraTicks;
    const double imageMiB = static_cast<double>(ImageLength) / (1024.0 * 1024.0);

    std::printf("2 MiB download through the update window (real 100 ms timers, simulator on "
                "loopback, platform %s)\n",
                qPrintable(QGuiApplication::platformName()));
    std::printf("  total                      %.2f s\n", seconds);
    std::printf("  blocks                     %d (%d in phase 1, %d in phase 2), %lld bytes\n",
                static_cast<int>(blocks.size()), Phase1Blocks, Phase2Blocks, blockBytes);
    std::printf("  ticks of TmrDownload       %d (at least %d: %d per block, plus state 0, the "
                "start of phase 2 and the stop)\n",
                ticks, minTicks, MinTicksPerBlock);
    std::printf("  ticks per block            %.2f on average, %d to %d (at least %d)\n",
                static_cast<double>(ticks) / Blocks, fewest, most, MinTicksPerBlock);
    std::printf("  ticks that found no reply  %d waiting for the size, %d waiting for the result\n",
                idleSizeTicks, idleResultTicks);
    std::printf("  bytes per second           %.0f image bytes/s (%.1f KiB/s), %.0f bytes/s on "
                "the wire\n",
                static_cast<double>(ImageLength) / seconds,
                static_cast<double>(ImageLength) / seconds / 1024.0,
                static_cast<double>(blockBytes) / seconds);
    std::printf("  bound                      %.1f s (%d blocks x %d ticks x %d ms); %.2f MiB/s\n",
                bound, Blocks, MinTicksPerBlock, TickMs, imageMiB / bound);
    std::printf("  run against the bound      %.2f x (%.2f s over it; target 1.05 x)\n",
                seconds / bound, seconds - bound);
    std::printf("  before replies came on arrival  %.2f s, %.2f x the bound\n",
                EarlierDownloadSeconds, EarlierDownloadSeconds / bound);
    std::printf("  longest event-loop block   %.1f ms (largest gap between 1 ms probe ticks; "
                "sequence state %d then; the simulator runs in the same loop)\n",
                static_cast<double>(longestGap) / 1e6, stateAtLongestGap);
    std::printf("  device memory              %s\n", good ? "matches the image" : "MISMATCH");

    std::printf("\n\"Read\" then \"Send\" in the main window, each to its result text (%d round "
                "trips on loopback)\n",
                RoundTrips);
    std::printf("  median                     %.1f ms (target under 20 ms)\n",
                roundTrips[roundTrips.size() / 2]);
    std::printf("  fastest, slowest           %.1f ms, %.1f ms\n", roundTrips.first(),
                roundTrips.last());
    std::printf("  repainting the window      %.1f ms (median per round trip; the window system's "
                "drawing)\n",
                median(repaints));
    std::printf("  all else                   %.1f ms (median per round trip: the clicks, the "
                "simulator, the link, the reply message)\n",
                median(rests));
    std::printf("  before replies came on arrival  about %.0f ms\n", EarlierRoundTripMs);
    return good ? 0 : 1;
}
