#include "Options.h"

#include "download/DownloadSequence.h"
#include "protocol/Commands.h"
#include "platform/Inet.h"

#include <QCommandLineParser>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <optional>

namespace cli {

namespace {

constexpr quint32 MainBaseAddress = 0x1000000;
constexpr quint32 BackupBaseAddress = 0;
constexpr int ScanConnectTimeoutMs = 1000;
constexpr double MaxTimeoutSeconds = 3600;

struct CommandInfo
{
    const char *name;
    Command command;
    int values; // how many values follow the command
};

constexpr CommandInfo Commands[] = {
    { "version", Command::Version, 0 },
    { "addresses", Command::Addresses, 0 },
    { "set-addresses", Command::SetAddresses, 5 },
    { "mac", Command::Mac, 0 },
    { "set-mac", Command::SetMac, 1 },
    { "flash", Command::Flash, 1 },
    { "scan", Command::Scan, 1 },
};

constexpr const char *AddressNames[] = { "IP", "DP310", "MASK", "GATEWAY", "MULTICAST" };

// Thrown inside the parser only; ParseArguments turns it into ParsedArguments::error.
struct UsageError
{
    QString text;
};

[[noreturn]] void Fail(const QString &text)
{
    throw UsageError{ text };
}

int ParseJobs(const QString &text)
{
    bool ok = false;
    const int jobs = text.toInt(&ok);
    if (!ok || jobs < 1 || jobs > MaxJobs)
        Fail(QStringLiteral("--jobs wants a number from 1 to %1, not \"%2\"")
                     .arg(MaxJobs)
                     .arg(text));
    return jobs;
}

int ParseTimeoutMs(const QString &text)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > MaxTimeoutSeconds)
        Fail(QStringLiteral("--timeout wants seconds above 0 and up to %1, not \"%2\"")
                     .arg(MaxTimeoutSeconds)
                     .arg(text));
    return static_cast<int>(std::ceil(seconds * 1000));
}

// A value the window would not send: empty once trimmed is refused here rather than skipped.
QByteArray RequiredValue(const QString &value, const QString &name)
{
    if (protocol::Trim(value).isEmpty())
        Fail(QStringLiteral("%1 is empty").arg(name));
    return protocol::ToWire(value); // as typed, blanks included
}

// The image as the update window loads it, cut to what the download can write: the bytes past
// 2 MiB never go out, so they are not read either.
QByteArray ReadImage(const QString &path, bool allowTruncation)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("cannot read the image %1: %2").arg(path, file.errorString()));
    const qint64 size = file.size();
    constexpr qint64 limit = download::DownloadSequence::Phase1Length;
    if (size <= 0)
        Fail(QStringLiteral("the image %1 is empty").arg(path));
    if (size > limit && !allowTruncation)
        Fail(QStringLiteral("the image %1 is %2 bytes, but only its first %3 can be written "
                            "(--allow-truncation writes them anyway)")
                     .arg(path)
                     .arg(size)
                     .arg(limit));
    const qint64 wanted = std::min(size, limit);
    QByteArray image = file.read(wanted);
    if (image.size() != wanted)
        Fail(QStringLiteral("cannot read the image %1: %2").arg(path, file.errorString()));
    return image;
}

const CommandInfo &FindCommand(const QString &name)
{
    for (const CommandInfo &info : Commands) {
        if (name == QLatin1String(info.name))
            return info;
    }
    Fail(QStringLiteral("unknown command \"%1\"").arg(name));
}

Target Checked(const std::optional<Target> &target, const QString &error)
{
    if (!target)
        Fail(error);
    return *target;
}

Invocation Parse(const QStringList &arguments, const QString &programFolder)
{
    QCommandLineParser parser;
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") }, QString());
    const QCommandLineOption device({ QStringLiteral("d"), QStringLiteral("device") }, QString(),
                                    QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption devices(QStringLiteral("devices"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption json(QStringLiteral("json"), QString());
    const QCommandLineOption trace(QStringLiteral("trace"), QString());
    const QCommandLineOption jobs({ QStringLiteral("j"), QStringLiteral("jobs") }, QString(),
                                  QStringLiteral("N"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QString(),
                                     QStringLiteral("SECONDS"));
    const QCommandLineOption allowTruncation(QStringLiteral("allow-truncation"), QString());
    const QCommandLineOption backup(QStringLiteral("backup"), QString());
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("PORT"));
    parser.addOptions(
            { help, device, devices, json, trace, jobs, timeout, allowTruncation, backup, port });
    if (!parser.parse(arguments))
        Fail(parser.errorText());

    Invocation invocation;
    if (parser.isSet(help)) {
        invocation.help = true;
        return invocation;
    }
    invocation.json = parser.isSet(json);
    invocation.trace = parser.isSet(trace);
    if (parser.isSet(jobs))
        invocation.jobs = ParseJobs(parser.value(jobs));
    Request &request = invocation.request;
    if (parser.isSet(timeout))
        request.replyTimeoutMs = ParseTimeoutMs(parser.value(timeout));

    QStringList values = parser.positionalArguments();
    if (values.isEmpty())
        Fail(QStringLiteral("no command given"));
    invocation.commandName = values.takeFirst();
    const CommandInfo &info = FindCommand(invocation.commandName);
    request.command = info.command;
    if (values.size() != info.values)
        Fail(QStringLiteral("%1 takes %2 value(s), %3 given")
                     .arg(invocation.commandName)
                     .arg(info.values)
                     .arg(values.size()));
    const auto onlyWith = [&](const QCommandLineOption &option, Command command) {
        if (parser.isSet(option) && request.command != command)
            Fail(QStringLiteral("--%1 goes with %2 only")
                         .arg(option.names().constLast(),
                              QLatin1String(Commands[int(command)].name)));
    };
    onlyWith(backup, Command::Flash);
    onlyWith(allowTruncation, Command::Flash);
    onlyWith(port, Command::Scan);

    QString error;
    switch (request.command) {
    case Command::SetAddresses:
        for (std::size_t i = 0; i < request.addresses.size(); ++i)
            request.addresses[i] =
                    RequiredValue(values[qsizetype(i)], QLatin1String(AddressNames[i]));
        break;
    case Command::SetMac:
        request.mac = RequiredValue(values[0], QStringLiteral("HEX12"));
        break;
    case Command::Flash:
        request.image = ReadImage(values[0], parser.isSet(allowTruncation));
        request.baseAddress = parser.isSet(backup) ? BackupBaseAddress : MainBaseAddress;
        break;
    case Command::Scan: {
        if (parser.isSet(device) || parser.isSet(devices))
            Fail(QStringLiteral("scan takes a range, not devices"));
        quint16 scanPort = DefaultPort;
        if (parser.isSet(port)) {
            const std::optional<quint16> number = platform::ParsePort(parser.value(port));
            if (!number)
                Fail(QStringLiteral("--port wants a port from 1 to 65535, not \"%1\"")
                             .arg(parser.value(port)));
            scanPort = *number;
        }
        const auto range = ScanRange(values[0], scanPort, &error);
        if (!range)
            Fail(error);
        invocation.targets = *range;
        request.connectTimeoutMs = ScanConnectTimeoutMs;
        return invocation;
    }
    default:
        break;
    }

    for (const QString &text : parser.values(device)) {
        const std::optional<Target> target = ParseTarget(text, &error);
        invocation.targets.append(Checked(target, QStringLiteral("-d: ") + error));
    }
    if (parser.isSet(devices)) {
        const auto listed = ReadTargetsFile(parser.value(devices), &error);
        if (!listed)
            Fail(error);
        invocation.targets += *listed;
    }
    if (invocation.targets.isEmpty())
        invocation.targets.append(Checked(SettingsTarget(programFolder, &error), error));
    for (qsizetype i = 0; i < invocation.targets.size(); ++i) {
        // Two sessions on one device would interleave their commands.
        if (invocation.targets.indexOf(invocation.targets[i]) != i)
            Fail(QStringLiteral("%1 is given twice").arg(invocation.targets[i].Label()));
    }
    if ((request.command == Command::SetAddresses || request.command == Command::SetMac)
        && invocation.targets.size() != 1)
        Fail(QStringLiteral("%1 sets one device at a time, %2 given")
                     .arg(invocation.commandName)
                     .arg(invocation.targets.size()));
    return invocation;
}

} // namespace

ParsedArguments ParseArguments(const QStringList &arguments, const QString &programFolder)
{
    try {
        return ParsedArguments{ Parse(arguments, programFolder), QString() };
    } catch (const UsageError &error) {
        return ParsedArguments{ Invocation(), error.text };
    }
}

QString HelpText()
{
    return QStringLiteral(
            "Usage: ql-t36-cli [OPTIONS] COMMAND [ARGS]\n"
            "\n"
            "Reads, sets and updates QL-T36 devices from the command line: one device or many at\n"
            "once, each over its own connection, with the same commands, checks and download\n"
            "pacing as the windows.\n"
            "\n"
            "Devices (any number of each; with neither, the address and port of QL_T36.ini beside\n"
            "the executable, defaults 192.168.0.1 and 2000):\n"
            "  -d, --device HOST[:PORT]    one device: HOST a dotted-decimal IPv4 address, PORT\n"
            "                              1-65535, default 2000\n"
            "  --devices FILE              one HOST[:PORT] a line; blank lines and lines starting\n"
            "                              with # are skipped\n"
            "A device given twice is refused: two sessions would interleave their commands.\n"
            "\n"
            "Commands:\n"
            "  version                     read the firmware version\n"
            "  addresses                   read the five network addresses\n"
            "  set-addresses IP DP310 MASK GATEWAY MULTICAST\n"
            "                              set them, sent as typed (exactly one device; a\n"
            "                              value that is empty once trimmed is refused)\n"
            "  mac                         read the MAC address\n"
            "  set-mac HEX12               set it, sent in upper case (exactly one device)\n"
            "  flash IMAGE [--backup]      download a firmware image: up to 16 blocks of 128 KiB\n"
            "                              from 0x1000000 (--backup: from 0), then the image's\n"
            "                              bytes from 0x40000 to addresses 0 and 0x20000\n"
            "  scan RANGE [--port PORT]    find devices in A.B.C.D/N (N >= 22) or A.B.C.D-E: "
            "every\n"
            "                              address is tried (connect bound 1 s, then a version\n"
            "                              read) on PORT (default 2000); those that answer are\n"
            "                              listed\n"
            "\n"
            "Options:\n"
            "  --json                      one JSON document on stdout instead of the report\n"
            "  --trace                     every command, reply line and block (address, length,\n"
            "                              CRC-32) on stderr, timestamped\n"
            "  -j, --jobs N                devices handled at once, 1-256 (default 32)\n"
            "  --timeout SECONDS           reply wait for reads and sets (default 5)\n"
            "  --allow-truncation          flash an image longer than 2 MiB anyway (only its "
            "first\n"
            "                              2 MiB are written)\n"
            "  -h, --help                  this text\n"
            "\n"
            "A connection attempt is bound to 3 s (1 s for scan). A flash waits 3 s for a block's\n"
            "size acknowledgement and 5 s for its result, as the update window does.\n"
            "\n"
            "Report: one line per device (failures on stderr, naming the device and what\n"
            "happened, with the Winsock-numbered code where there is one), then a summary. A "
            "flash\n"
            "shows a live progress line per device on a terminal, otherwise a line per block.\n"
            "\n"
            "JSON: {\"command\", \"ok\": <count>, \"failed\": <count>, \"devices\": [{\"device\":\n"
            "\"HOST:PORT\", \"ok\", \"error\": null or text, \"seconds\", and \"version\",\n"
            "\"addresses\" (five texts), \"mac\" or \"blocks\" ([{\"address\", \"length\",\n"
            "\"result\"}])}]}. For scan, \"devices\" holds those that answered, with \"version\";\n"
            "\"ok\" counts them, \"failed\" the addresses that did not answer, and \"scanned\" "
            "all\n"
            "addresses tried.\n"
            "\n"
            "Ctrl-C (SIGINT) or SIGTERM stops every device at once: no further byte is sent, a\n"
            "block under way has its connection closed, and the report lists each device's\n"
            "outcome so far, \"interrupted\" for those not done.\n"
            "\n"
            "Exit status:\n"
            "  0    every device succeeded (scan: at least one device answered)\n"
            "  1    a device failed: unreachable, refused, timed out, a set or a block refused\n"
            "       (scan: none answered)\n"
            "  2    usage or input error, found before any device is contacted\n"
            "  130  interrupted\n"
            "\n"
            "Examples:\n"
            "  ql-t36-cli -d 10.0.0.7 version\n"
            "  ql-t36-cli --devices plant.txt --json flash firmware.bin\n"
            "  ql-t36-cli scan 10.0.0.0/24\n");
}

} // namespace cli
