// The command-line tool against simulators in this process, on loopback: a 2 MiB image flashed to
// one device, then to 32, 128 and 1,024 at once (one thread with that many sessions should take
// about as long as one), with the windows' pacing and with --pace replies; the two pacings against
// one device whose every reply comes 20 ms late, next to that device's own bound; a scan of a /24
// of loopback addresses with a few simulators in it, an inventory of 1,024 simulators, and an
// apply to 64 of which half need a change (and to one that does). Prints wall times, the ratios,
// and the tool's peak RSS and CPU time as the system accounted them. The tool starts with the
// open-file limit this process was given (it raises its own); the simulators need more. Exits
// non-zero only when a device does not hold what the tool must have written or a run did not
// report every device.
#include "support/Images.h"

#include "DeviceSimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// The open-file limit the tool is started with: the one this process was given.
rlimit g_toolFiles{};

constexpr qsizetype ImageLength = 0x200000;
constexpr quint32 MainBase = 0x1000000;
constexpr qsizetype Phase2Offset = 0x40000;
constexpr qsizetype Phase2Length = 0x40000;
constexpr int FleetSize = 32;
constexpr int LargeFleetSize = 128;
constexpr int HugeFleetSize = 1024;
constexpr int InventorySize = 1024;
constexpr int LateReplyMs = 20;
constexpr int BlocksOf2MiB = 18;
constexpr int ApplySize = 64;
constexpr double RatioTarget = 1.15;
constexpr int DeadlineMs = 180000;
const char *const ScanRange = "127.0.77.0/24";
const char *const ScanHosts[] = { "127.0.77.10", "127.0.77.20", "127.0.77.30" };

struct ToolRun
{
    bool ended = false;
    int status = -1;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakRssKiB = 0;
    QJsonObject json;
};

double Seconds(const timeval &time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// The peak resident size of a running process as the system keeps it; 0 where it cannot be read.
long HighWaterKiB(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

// Spawned by hand rather than through QProcess, so that wait4() can hand over the child's own
// resource use; the event loop runs meanwhile, since the simulators live in this thread.
ToolRun RunTool(const QStringList &arguments, const QString &outputPath)
{
    std::vector<QByteArray> texts{ QByteArrayLiteral(QLT36_CLI_PATH) };
    for (const QString &argument : arguments)
        texts.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    const QByteArray output = QFile::encodeName(outputPath);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ToolRun run;
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    rlimit ours{};
    ::getrlimit(RLIMIT_NOFILE, &ours);
    ::setrlimit(RLIMIT_NOFILE, &g_toolFiles); // inherited: the tool must raise its own
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::setrlimit(RLIMIT_NOFILE, &ours);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        return run;
    }

    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    long highWaterKiB = 0;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        highWaterKiB = std::max(highWaterKiB, HighWaterKiB(pid));
        rusage usage{};
        int status = 0;
        if (::wait4(pid, &status, WNOHANG, &usage) != pid)
            return;
        run.ended = true;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.wallSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
        // The spawned child counts the memory it shared with this process until its exec.
        run.peakRssKiB = highWaterKiB > 0 ? highWaterKiB : usage.ru_maxrss;
        loop.quit();
    });
    QTimer::singleShot(DeadlineMs, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    if (!run.ended) {
        std::fprintf(stderr, "the tool did not end within %d s: killed\n", DeadlineMs / 1000);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return run;
    }
    QFile file(outputPath);
    if (file.open(QIODevice::ReadOnly))
        run.json = QJsonDocument::fromJson(file.readAll()).object();
    return run;
}

QString Address(const sim::DeviceSimulator &device)
{
    return device.serverAddress().toString() + QLatin1Char(':')
            + QString::number(device.serverPort());
}

void Print(const char *what, const ToolRun &run)
{
    std::printf("%-32s %7.2f s wall, exit %d, %d ok, CPU %.2f s, peak RSS %.1f MiB\n", what,
                run.wallSeconds, run.status, run.json.value(QLatin1String("ok")).toInt(),
                run.cpuSeconds, static_cast<double>(run.peakRssKiB) / 1024.0);
    // Why devices failed, each reason once with its count.
    QMap<QString, int> errors;
    for (const QJsonValue device : run.json.value(QLatin1String("devices")).toArray()) {
        if (!device[QLatin1String("ok")].toBool())
            ++errors[device[QLatin1String("error")].toString()];
    }
    for (auto error = errors.cbegin(); error != errors.cend(); ++error)
        std::printf("    %d failed: %s\n", error.value(), qPrintable(error.key()));
}

// `count` fresh simulators on loopback, or none if one cannot listen.
std::vector<std::unique_ptr<sim::DeviceSimulator>> Simulators(int count, int replyDelayMs = 0)
{
    std::vector<std::unique_ptr<sim::DeviceSimulator>> devices;
    for (int i = 0; i < count; ++i) {
        auto device = std::make_unique<sim::DeviceSimulator>();
        device->setReplyDelay(replyDelayMs);
        if (!device->listen(QHostAddress(QStringLiteral("127.0.0.1")))) {
            std::fprintf(stderr, "simulator %d: %s\n", i, qPrintable(device->errorString()));
            return {};
        }
        devices.push_back(std::move(device));
    }
    return devices;
}

int Count(const ToolRun &run, const QString &status)
{
    const QJsonArray devices = run.json.value(QLatin1String("devices")).toArray();
    return static_cast<int>(std::count_if(devices.begin(), devices.end(), [&](const QJsonValue &d) {
        return d[QLatin1String("status")].toString() == status;
    }));
}

// --json, every device at once, and each of them by -d.
QStringList FleetArguments(const std::vector<std::unique_ptr<sim::DeviceSimulator>> &devices)
{
    QStringList arguments{ QStringLiteral("--json"), QStringLiteral("-j"),
                           QString::number(devices.size()) };
    for (const auto &device : devices)
        arguments << QStringLiteral("-d") << Address(*device);
    return arguments;
}

// Reads `count` simulators at once; false unless every one reported all it holds.
bool Inventory(int count, const QString &output, ToolRun *run)
{
    const auto devices = Simulators(count);
    if (devices.empty())
        return false;
    *run = RunTool(FleetArguments(devices) << QStringLiteral("inventory"), output);
    return run->status == 0 && Count(*run, QStringLiteral("ok")) == count;
}

// Applies a plan to `count` simulators of which the first `changing` get a new IP; false unless
// those hold it and the others were left alone.
bool Apply(int count, int changing, const QString &planPath, const QString &output, ToolRun *run)
{
    const auto devices = Simulators(count);
    if (devices.empty())
        return false;
    QByteArray plan = "device,ip,dp310,mask,gateway,multicast,mac\n";
    for (int i = 0; i < count; ++i) {
        // Loopback: a device that does not answer is looked for at its planned IP.
        const QByteArray now =
                "127.1." + QByteArray::number(i / 250) + '.' + QByteArray::number(i % 250 + 1);
        devices[std::size_t(i)]->setAddresses(
                { now, "10.1.255.1", "255.255.0.0", "10.1.255.254", "239.0.0.1" });
        const QByteArray planned = i < changing ? QByteArray(now).replace("127.1.", "127.2.") : now;
        plan += Address(*devices[std::size_t(i)]).toLatin1() + ',' + planned
                + ",10.1.255.1,255.255.0.0,10.1.255.254,239.0.0.1,\n";
    }
    QFile file(planPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(plan) != plan.size())
        return false;
    file.close();
    *run = RunTool({ QStringLiteral("--json"), QStringLiteral("-j"), QString::number(count),
                     QStringLiteral("apply"), planPath },
                   output);
    bool right = run->status == 0 && Count(*run, QStringLiteral("changed")) == changing
            && Count(*run, QStringLiteral("unchanged")) == count - changing;
    for (int i = 0; i < count; ++i)
        right = right
                && devices[std::size_t(i)]->addresses().first().startsWith(i < changing ? "127.2."
                                                                                        : "127.1.");
    return right;
}

// Flashes `count` fresh simulators at once; false if any memory is not exactly what was sent.
bool FlashFleet(int count, const QString &imagePath, const QByteArray &image, const QString &output,
                ToolRun *run, bool replies = false, int replyDelayMs = 0)
{
    const auto devices = Simulators(count, replyDelayMs);
    if (devices.empty())
        return false;
    QStringList arguments = FleetArguments(devices) << QStringLiteral("flash") << imagePath;
    if (replies)
        arguments << QStringLiteral("--pace") << QStringLiteral("replies");
    *run = RunTool(arguments, output);

    const QByteArray phase2 = image.mid(Phase2Offset, Phase2Length);
    const auto holdsImage = [&](const std::unique_ptr<sim::DeviceSimulator> &device) {
        return device->memory(MainBase, image.size()) == image
                && device->memory(0, phase2.size()) == phase2;
    };
    const auto wrong = std::count_if(devices.begin(), devices.end(),
                                     [&](const auto &device) { return !holdsImage(device); });
    if (wrong > 0)
        std::fprintf(stderr, "%d of %d devices do not hold the image\n", int(wrong), count);
    return wrong == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 2;
    const QByteArray image = testsupport::PatternedImage(ImageLength, 0xA5);
    const QString imagePath = dir.filePath(QStringLiteral("image.bin"));
    QFile imageFile(imagePath);
    if (!imageFile.open(QIODevice::WriteOnly) || imageFile.write(image) != image.size())
        return 2;
    imageFile.close();
    const QString output = dir.filePath(QStringLiteral("out.json"));

    // The 1,024-device runs hold 2,048 sockets here.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        g_toolFiles = files;
        if (files.rlim_cur < files.rlim_max) {
            files.rlim_cur = files.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &files);
        }
    }

    // One device whose every reply comes late: the pacing by ticks against the device's own
    // bound, two late replies a block plus what the bytes take without them (the pacing by
    // replies against a device that answers at once).
    ToolRun ticksLate;
    ToolRun repliesLate;
    ToolRun repliesPrompt;
    bool memoryRight = FlashFleet(1, imagePath, image, output, &ticksLate, false, LateReplyMs);
    Print("flash 2 MiB, replies 20 ms late", ticksLate);
    memoryRight =
            FlashFleet(1, imagePath, image, output, &repliesLate, true, LateReplyMs) && memoryRight;
    Print("  the same, --pace replies", repliesLate);
    memoryRight = FlashFleet(1, imagePath, image, output, &repliesPrompt, true) && memoryRight;
    Print("  --pace replies, no delay", repliesPrompt);
    const double bound = BlocksOf2MiB * 2 * LateReplyMs / 1000.0 + repliesPrompt.wallSeconds;
    std::printf("the device's bound: %d blocks x 2 x %d ms + %.2f s = %.2f s; ticks %.2fx, "
                "replies %.2fx (goal within 1.20x)\n",
                BlocksOf2MiB, LateReplyMs, repliesPrompt.wallSeconds, bound,
                ticksLate.wallSeconds / bound, repliesLate.wallSeconds / bound);

    ToolRun one;
    ToolRun fleet;
    ToolRun large;
    memoryRight = FlashFleet(1, imagePath, image, output, &one) && memoryRight;
    Print("flash 2 MiB to 1 device", one);
    memoryRight = FlashFleet(FleetSize, imagePath, image, output, &fleet) && memoryRight;
    Print("flash 2 MiB to 32 devices", fleet);
    memoryRight = FlashFleet(LargeFleetSize, imagePath, image, output, &large) && memoryRight;
    Print("flash 2 MiB to 128 devices, -j 128", large);
    if (one.wallSeconds > 0) {
        std::printf("32 devices / 1 device wall time: %.3fx (target within %.2fx)\n",
                    fleet.wallSeconds / one.wallSeconds, RatioTarget);
        std::printf("128 devices / 1 device wall time: %.3fx (target within %.2fx)\n",
                    large.wallSeconds / one.wallSeconds, RatioTarget);
    }

    ToolRun huge;
    ToolRun hugeReplies;
    memoryRight = FlashFleet(HugeFleetSize, imagePath, image, output, &huge) && memoryRight;
    Print("flash 2 MiB to 1024 devices", huge);
    memoryRight =
            FlashFleet(HugeFleetSize, imagePath, image, output, &hugeReplies, true) && memoryRight;
    Print("  the same, --pace replies", hugeReplies);
    if (one.wallSeconds > 0 && repliesPrompt.wallSeconds > 0) {
        std::printf("1024 devices / 1 device wall time: ticks %.3fx, replies %.3fx (goal within "
                    "1.20x)\n",
                    huge.wallSeconds / one.wallSeconds,
                    hugeReplies.wallSeconds / repliesPrompt.wallSeconds);
        // The image is one buffer for all; what grows is each session's own.
        std::printf("memory per device beyond the first: ticks %.1f KiB, replies %.1f KiB\n",
                    static_cast<double>(huge.peakRssKiB - one.peakRssKiB) / (HugeFleetSize - 1),
                    static_cast<double>(hugeReplies.peakRssKiB - repliesPrompt.peakRssKiB)
                            / (HugeFleetSize - 1));
    }

    std::vector<std::unique_ptr<sim::DeviceSimulator>> found;
    quint16 port = 0;
    for (const char *host : ScanHosts) {
        auto device = std::make_unique<sim::DeviceSimulator>();
        if (!device->listen(QHostAddress(QLatin1String(host)), port))
            std::fprintf(stderr, "no simulator on %s: %s\n", host,
                         qPrintable(device->errorString()));
        port = device->serverPort();
        found.push_back(std::move(device));
    }
    const ToolRun scan =
            RunTool({ QStringLiteral("--json"), QStringLiteral("scan"), QLatin1String(ScanRange),
                      QStringLiteral("--port"), QString::number(port) },
                    output);
    std::printf("scan %s (%d simulators): %.2f s wall, exit %d, %d of %d addresses answered, "
                "CPU %.2f s\n",
                ScanRange, int(found.size()), scan.wallSeconds, scan.status,
                scan.json.value(QLatin1String("ok")).toInt(),
                scan.json.value(QLatin1String("scanned")).toInt(), scan.cpuSeconds);

    ToolRun inventory;
    const bool inventoryRight = Inventory(InventorySize, output, &inventory);
    Print("inventory of 1024 devices, -j 1024", inventory);
    std::printf("inventory of 1024 devices: %.2f s (goal under 2 s)\n", inventory.wallSeconds);

    const QString planPath = dir.filePath(QStringLiteral("plan.csv"));
    ToolRun applyOne;
    ToolRun applyMany;
    bool applyRight = Apply(1, 1, planPath, output, &applyOne);
    Print("apply to 1 device, changed", applyOne);
    applyRight = Apply(ApplySize, ApplySize / 2, planPath, output, &applyMany) && applyRight;
    Print("apply to 64 devices, 32 changed, -j 64", applyMany);
    if (applyOne.wallSeconds > 0)
        std::printf("apply 64 devices / 1 device wall time: %.3fx\n",
                    applyMany.wallSeconds / applyOne.wallSeconds);

    if (!memoryRight)
        std::printf("FAILED: device memory does not hold the image\n");
    if (!inventoryRight)
        std::printf("FAILED: the inventory did not report every device\n");
    if (!applyRight)
        std::printf("FAILED: the apply did not bring every device to the plan\n");
    return memoryRight && inventoryRight && applyRight ? 0 : 1;
}
