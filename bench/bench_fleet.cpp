// The command-line tool against simulators in this process, on loopback: a 2 MiB image flashed to
// one device, then to 32 at once (one thread with 32 sessions should take about as long as one),
// and a scan of a /24 of loopback addresses with a few simulators in it. Prints wall times, the
// 32-to-1 ratio, and the tool's peak RSS and CPU time as the system accounted them. Exits non-zero
// only when a device's memory does not hold what the download must write.
#include "support/Images.h"

#include "DeviceSimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
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

constexpr qsizetype ImageLength = 0x200000;
constexpr quint32 MainBase = 0x1000000;
constexpr qsizetype Phase2Offset = 0x40000;
constexpr qsizetype Phase2Length = 0x40000;
constexpr int FleetSize = 32;
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
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        return run;
    }

    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        rusage usage{};
        int status = 0;
        if (::wait4(pid, &status, WNOHANG, &usage) != pid)
            return;
        run.ended = true;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.wallSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
        run.peakRssKiB = usage.ru_maxrss;
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
}

// Flashes `count` fresh simulators at once; false if any memory is not exactly what was sent.
bool FlashFleet(int count, const QString &imagePath, const QByteArray &image, const QString &output,
                ToolRun *run)
{
    std::vector<std::unique_ptr<sim::DeviceSimulator>> devices;
    QStringList arguments{ QStringLiteral("--json"), QStringLiteral("-j"), QString::number(count) };
    for (int i = 0; i < count; ++i) {
        auto device = std::make_unique<sim::DeviceSimulator>();
        if (!device->listen(QHostAddress(QStringLiteral("127.0.0.1")))) {
            std::fprintf(stderr, "simulator %d: %s\n", i, qPrintable(device->errorString()));
            return false;
        }
        arguments << QStringLiteral("-d") << Address(*device);
        devices.push_back(std::move(device));
    }
    arguments << QStringLiteral("flash") << imagePath;
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

    ToolRun one;
    ToolRun fleet;
    bool memoryRight = FlashFleet(1, imagePath, image, output, &one);
    Print("flash 2 MiB to 1 device", one);
    memoryRight = FlashFleet(FleetSize, imagePath, image, output, &fleet) && memoryRight;
    Print("flash 2 MiB to 32 devices", fleet);
    if (one.wallSeconds > 0)
        std::printf("32 devices / 1 device wall time: %.3fx (target within %.2fx)\n",
                    fleet.wallSeconds / one.wallSeconds, RatioTarget);

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

    if (!memoryRight) {
        std::printf("FAILED: device memory does not hold the image\n");
        return 1;
    }
    return 0;
}
