#include "commands/Command.h"

#include "commands/Apply.h"
#include "io/Console.h"
#include "run/DeviceJob.h"
#include "app/Arguments.h"
#include "run/Steps.h"

#include "download/FirmwareImage.h"
#include "platform/Inet.h"
#include "platform/StreamRead.h"
#include "protocol/Commands.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <optional>

namespace cli {

void Fail(const QString &text)
{
    throw UsageError{ text };
}

QString OptionDef::Synopsis() const
{
    QStringList spelled;
    for (const QString &name : names)
        spelled.append((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    QString synopsis = spelled.join(QStringLiteral(", "));
    if (!valueName.isEmpty())
        synopsis += QLatin1Char(' ') + valueName;
    return synopsis;
}

namespace {

constexpr int ScanConnectTimeoutMs = 1000;
constexpr double MaxTimeoutSeconds = 3600;
constexpr int MaxSettleMs = 10000;
constexpr int MaxRetries = 10;
constexpr int MaxFailuresLimit = 100000;

const QStringList AddressNames{ QStringLiteral("IP"), QStringLiteral("DP310"),
                                QStringLiteral("MASK"), QStringLiteral("GATEWAY"),
                                QStringLiteral("MULTICAST") };

// --- Options ---

OptionDef Flag(const QStringList &names, const QString &help, std::function<void(Invocation &)> set)
{
    return OptionDef{ names, QString(), help,
                      [set](Invocation &invocation, const QStringList &) { set(invocation); } };
}

// A whole number from `min` to `max`; the help gives the range and the default.
OptionDef Integer(const QStringList &names, const QString &valueName, const QString &help, int min,
                  int max, int fallback, std::function<int &(Invocation &)> field)
{
    const QString name = names.constLast();
    return OptionDef{
        names, valueName,
        QStringLiteral("%1, %2-%3 (default %4)").arg(help).arg(min).arg(max).arg(fallback),
        [=](Invocation &invocation, const QStringList &values) {
            bool ok = false;
            const int number = values.constLast().toInt(&ok);
            if (!ok || number < min || number > max)
                Fail(QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"")
                             .arg(name)
                             .arg(min)
                             .arg(max)
                             .arg(values.constLast()));
            field(invocation) = number;
        }
    };
}

// Seconds above 0 (or from 0, `fromZero`) and up to `max`, kept in milliseconds (rounded up).
OptionDef Seconds(const QStringList &names, const QString &help, double max, int fallbackMs,
                  std::function<int &(Invocation &)> fieldMs, bool fromZero = false)
{
    const QString name = names.constLast();
    const QString range = fromZero ? QStringLiteral("from 0") : QStringLiteral("above 0");
    return OptionDef{ names, QStringLiteral("SECONDS"),
                      QStringLiteral("%1, %2 and up to %3 (default %4)")
                              .arg(help, range)
                              .arg(max)
                              .arg(fallbackMs / 1000.0),
                      [=](Invocation &invocation, const QStringList &values) {
                          bool ok = false;
                          const double seconds = values.constLast().toDouble(&ok);
                          if (!ok || !(seconds > 0 || (fromZero && seconds == 0)) || seconds > max)
                              Fail(QStringLiteral("--%1 wants seconds %2 and up to %3, not \"%4\"")
                                           .arg(name, range)
                                           .arg(max)
                                           .arg(values.constLast()));
                          fieldMs(invocation) = static_cast<int>(std::ceil(seconds * 1000));
                      } };
}

// A version text to compare with what a device reports, blanks at both ends aside.
OptionDef VersionText(const QString &name, const QString &help,
                      std::function<std::optional<QString> &(Invocation &)> field)
{
    return OptionDef{ { name },
                      QStringLiteral("TEXT"),
                      help,
                      [=](Invocation &invocation, const QStringList &values) {
                          const QString text = values.constLast();
                          RequiredValue(text, QStringLiteral("--") + name, text.size());
                          field(invocation) = protocol::Trim(text);
                      } };
}

} // namespace

QByteArray RequiredValue(const QString &value, const QString &name, qsizetype maxLength)
{
    if (protocol::Trim(value).isEmpty())
        Fail(QStringLiteral("%1 is empty").arg(name));
    for (const QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            Fail(QStringLiteral("%1 \"%2\" holds the control character \\x%3")
                         .arg(name, EscapedText(value))
                         .arg(c.unicode(), 2, 16, QLatin1Char('0')));
    }
    if (value.size() > maxLength)
        Fail(QStringLiteral("%1 \"%2\" is %3 characters long; the field takes %4")
                     .arg(name, value)
                     .arg(value.size())
                     .arg(maxLength));
    return protocol::ToWire(value); // as typed, blanks included
}

std::optional<QString> NormalAddress(const QString &text)
{
    const std::optional<quint32> address = platform::ParseDottedDecimal(text);
    if (!address)
        return std::nullopt;
    return QHostAddress(*address).toString();
}

std::optional<QString> NormalMac(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(
            "^(?:[0-9A-Fa-f]{12}|[0-9A-Fa-f]{2}([-:])[0-9A-Fa-f]{2}(?:\\1[0-9A-Fa-f]{2}){4})$"));
    const QString mac = protocol::Trim(text);
    if (!form.match(mac).hasMatch())
        return std::nullopt;
    return QString(mac).remove(QLatin1Char('-')).remove(QLatin1Char(':')).toUpper();
}

QByteArray AddressValue(const QString &value, const QString &name)
{
    RequiredValue(value, name, AddressFieldLength);
    const std::optional<QString> address = NormalAddress(value);
    if (!address)
        Fail(QStringLiteral("%1 \"%2\" is not an IPv4 address (four decimal numbers 0-255)")
                     .arg(name, value));
    return protocol::ToWire(*address);
}

QByteArray MacValue(const QString &value, const QString &name)
{
    RequiredValue(value, name, value.size());
    const std::optional<QString> mac = NormalMac(value);
    if (!mac)
        Fail(QStringLiteral("%1 \"%2\" is not a MAC address (twelve hexadecimal digits, or six "
                            "pairs of them joined by - or :)")
                     .arg(name, value));
    return protocol::ToWire(*mac);
}

namespace {

// --- Values of the commands ---

// The image as the update window loads it, cut to what the download can write: the bytes past
// it never go out, so they are not kept. A stream (a pipe, "-" for standard input) is read to
// its end, for its length.
void ReadImage(Invocation &invocation, const QString &path)
{
    const QFileInfo info(path);
    QByteArray bytes;
    qint64 length = 0;
    if (path == QLatin1String("-") || (info.exists() && !info.isFile() && !info.isDir())) {
        const platform::StreamContents stream =
                platform::ReadStream(path, download::MaxImageLength);
        if (stream.signalNumber != 0) {
            invocation.signalNumber = stream.signalNumber; // the run ends as interrupted
            return;
        }
        if (!stream.error.isEmpty())
            Fail(QStringLiteral("cannot read the image %1: %2").arg(path, stream.error));
        bytes = stream.bytes;
        length = stream.total;
    } else {
        if (info.isDir())
            Fail(QStringLiteral("the image %1 is not a regular file").arg(path));
        const download::ImageFile file = download::ReadImageFile(path, download::MaxImageLength);
        if (!file.ok)
            Fail(QStringLiteral("cannot read the image %1: %2").arg(path, file.error));
        if (file.bytes.size() != std::min(file.fileLength, download::MaxImageLength))
            Fail(QStringLiteral("cannot read the image %1: %2 of its %3 bytes read")
                         .arg(path)
                         .arg(file.bytes.size())
                         .arg(file.fileLength));
        bytes = file.bytes;
        length = file.fileLength;
    }
    if (length <= 0)
        Fail(QStringLiteral("the image %1 is empty").arg(path));
    if (download::BytesNotWritten(length) > 0 && !invocation.allowTruncation)
        Fail(QStringLiteral("the image %1 is %2 bytes, but only its first %3 can be written "
                            "(--allow-truncation writes them anyway)")
                     .arg(path)
                     .arg(length)
                     .arg(download::MaxImageLength));
    invocation.request.image = bytes;
    invocation.imageLength = length;
}

// --- Result fields ---

QJsonValue TextOrNull(const std::optional<QString> &text)
{
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

const ResultField VersionField{ QStringLiteral("version"),
                                QStringLiteral("\"version\""),
                                [](const Outcome &outcome) { return TextOrNull(outcome.version); },
                                { QStringLiteral("version") },
                                [](const Outcome &outcome) {
                                    return QStringList{ outcome.version.value_or(QString()) };
                                } };

const ResultField AddressesField{
    QStringLiteral("addresses"),
    QStringLiteral("\"addresses\" (five texts)"),
    [](const Outcome &outcome) {
        return outcome.addresses ? QJsonValue(QJsonArray::fromStringList(*outcome.addresses))
                                 : QJsonValue(QJsonValue::Null);
    },
    // The columns a planned configuration names them by.
    { QStringLiteral("ip"), QStringLiteral("dp310"), QStringLiteral("mask"),
      QStringLiteral("gateway"), QStringLiteral("multicast") },
    [](const Outcome &outcome) {
        QStringList cells = outcome.addresses.value_or(QStringList());
        cells.resize(AddressNames.size());
        return cells;
    }
};

const ResultField MacField{ QStringLiteral("mac"),
                            QStringLiteral("\"mac\""),
                            [](const Outcome &outcome) { return TextOrNull(outcome.mac); },
                            { QStringLiteral("mac") },
                            [](const Outcome &outcome) {
                                return QStringList{ outcome.mac.value_or(QString()) };
                            } };

const ResultField CutField{
    QStringLiteral("cut"),
    QStringLiteral("\"cut\" (null, or the block an interrupt cut: {\"address\", \"length\", "
                   "\"sent\" (bytes handed to the system, not all of which need have reached the "
                   "device)})"),
    [](const Outcome &outcome) {
        if (!outcome.cut)
            return QJsonValue(QJsonValue::Null);
        return QJsonValue(QJsonObject{ { QStringLiteral("address"), qint64(outcome.cut->address) },
                                       { QStringLiteral("length"), outcome.cut->length },
                                       { QStringLiteral("sent"), outcome.cut->sent } });
    },
    {},
    [](const Outcome &) { return QStringList(); }
};

const ResultField BlocksField{
    QStringLiteral("blocks"),
    QStringLiteral("\"blocks\" ([{\"address\", \"length\", \"result\"}])"),
    [](const Outcome &outcome) {
        QJsonArray blocks;
        for (const BlockResult &block : outcome.blocks)
            blocks.append(QJsonObject{ { QStringLiteral("address"), qint64(block.address) },
                                       { QStringLiteral("length"), block.length },
                                       { QStringLiteral("result"), block.result } });
        return QJsonValue(blocks);
    },
    {},
    [](const Outcome &) { return QStringList(); }
};

const ResultField VersionAfterField{
    QStringLiteral("versionAfter"),
    QStringLiteral("\"versionAfter\" (flash: read on a new connection, or null)"),
    [](const Outcome &outcome) { return TextOrNull(outcome.versionAfter); },
    {},
    [](const Outcome &) { return QStringList(); }
};

const ResultField LeftField{
    QStringLiteral("left"),
    QStringLiteral("\"left\" (null, or for a device a set command was interrupted at: untouched, "
                   "set unacknowledged or set not read back)"),
    [](const Outcome &outcome) { return TextOrNull(outcome.left); },
    {},
    [](const Outcome &) { return QStringList(); }
};

const ResultField AttemptsField{ QStringLiteral("attempts"),
                                 QStringLiteral("\"attempts\""),
                                 [](const Outcome &outcome) {
                                     return QJsonValue(outcome.attempts);
                                 },
                                 {},
                                 [](const Outcome &) { return QStringList(); } };

// scan's --port, which inventory takes with its --scan; declared alike by both.
OptionDef PortOption()
{
    return OptionDef{ { QStringLiteral("port") },
                      QStringLiteral("PORT"),
                      QStringLiteral("the port tried, 1-65535 (default %1)").arg(DefaultPort),
                      [](Invocation &invocation, const QStringList &values) {
                          const std::optional<quint16> number =
                                  platform::ParsePort(values.constLast());
                          if (!number)
                              Fail(QStringLiteral("--port wants a port from 1 to 65535, not "
                                                  "\"%1\"")
                                           .arg(values.constLast()));
                          invocation.scanPort = *number;
                          invocation.scanPortGiven = true;
                      } };
}

OptionDef DryRunOption(const QString &help)
{
    return Flag({ QStringLiteral("dry-run") }, help,
                [](Invocation &invocation) { invocation.request.dryRun = true; });
}

void Search(Invocation &invocation, const QString &range)
{
    QString error;
    const auto targets = ScanRange(range, invocation.scanPort, &error);
    if (!targets)
        Fail(error);
    invocation.targets = *targets;
    invocation.search = true;
    invocation.request.connectTimeoutMs = ScanConnectTimeoutMs;
}

void SkipIfRunning(DeviceJob &job)
{
    if (job.Values().version == job.Asked().skipVersion)
        job.Finish(QStringLiteral("skipped"));
    else
        job.StepDone();
}

void VerifyVersion(DeviceJob &job)
{
    const QString after = job.Values().versionAfter.value_or(QString());
    if (after == job.Asked().verifyVersion)
        job.StepDone();
    else
        job.Fail(QStringLiteral("the version after the flash is \"%1\", not \"%2\"")
                         .arg(after, *job.Asked().verifyVersion));
}

// A read of inventory: unanswered, it is noted and the others still run.
Step Optional(Step step, const QString &name)
{
    step.keepGoing = name;
    return step;
}

// --- The tables ---

QList<OptionDef> MakeGlobalOptions()
{
    OptionDef device{
        { QStringLiteral("d"), QStringLiteral("device") },
        QStringLiteral("HOST[:PORT]"),
        QStringLiteral("one device: HOST a dotted-decimal IPv4 address, PORT 1-65535, default %1")
                .arg(DefaultPort),
        [](Invocation &invocation, const QStringList &values) { invocation.deviceTexts += values; },
        OptionDef::Group::Devices,
    };
    OptionDef devices{
        { QStringLiteral("devices") },
        QStringLiteral("FILE"),
        QStringLiteral("one HOST[:PORT] a line; blank lines and lines starting with # are "
                       "skipped"),
        [](Invocation &invocation, const QStringList &values) {
            invocation.devicesFile = values.constLast();
        },
        OptionDef::Group::Devices,
    };
    return {
        device,
        devices,
        Flag({ QStringLiteral("json") },
             QStringLiteral("one JSON document on stdout instead of the report"),
             [](Invocation &invocation) { invocation.json = true; }),
        Flag({ QStringLiteral("csv") },
             QStringLiteral("one CSV table on stdout instead of the report (commands that read; "
                            "failures still on stderr)"),
             [](Invocation &invocation) { invocation.csv = true; }),
        Flag({ QStringLiteral("events") },
             QStringLiteral("JSON Lines on stdout as the run goes, instead of the report: "
                            "connect, command, reply, block start and end, retry, each "
                            "device's outcome"),
             [](Invocation &invocation) { invocation.events = true; }),
        Flag({ QStringLiteral("trace") },
             QStringLiteral("every command, reply line and block (address, length, CRC-32) on "
                            "stderr, timestamped"),
             [](Invocation &invocation) { invocation.trace = true; }),
        OptionDef{ { QStringLiteral("log") },
                   QStringLiteral("FILE"),
                   QStringLiteral("the trace of --trace appended to FILE, the report still on "
                                  "the terminal"),
                   [](Invocation &invocation, const QStringList &values) {
                       invocation.logPath = values.constLast();
                   } },
        Integer({ QStringLiteral("j"), QStringLiteral("jobs") }, QStringLiteral("N"),
                QStringLiteral("devices handled at once"), 1, MaxJobs, DefaultJobs,
                [](Invocation &invocation) -> int & { return invocation.jobs; }),
        Seconds({ QStringLiteral("connect-timeout") },
                QStringLiteral("the bound on each connection attempt (%1 s for a search)")
                        .arg(ScanConnectTimeoutMs / 1000),
                MaxTimeoutSeconds, DefaultConnectTimeoutMs,
                [](Invocation &invocation) -> int & { return invocation.connectTimeoutMs; }),
        Seconds({ QStringLiteral("timeout") }, QStringLiteral("reply wait for reads and sets"),
                MaxTimeoutSeconds, DefaultReplyTimeoutMs,
                [](Invocation &invocation) -> int & { return invocation.request.replyTimeoutMs; }),
        Integer({ QStringLiteral("settle") }, QStringLiteral("MS"),
                QStringLiteral("after connecting, wait this many milliseconds before the first "
                               "command and ignore what the device says meanwhile (0: do not "
                               "wait)"),
                0, MaxSettleMs, DefaultSettleMs,
                [](Invocation &invocation) -> int & { return invocation.request.settleMs; }),
        Flag({ QStringLiteral("version") }, QStringLiteral("the tool's version"),
             [](Invocation &invocation) { invocation.version = true; }),
        Flag({ QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("this text"),
             [](Invocation &invocation) { invocation.help = true; }),
    };
}

QList<CommandDef> MakeCommands()
{
    using Devices = CommandDef::Devices;
    const auto read = [](Step (*step)()) { return [step](DeviceJob &job) { job.Then(step()); }; };
    const qint64 blockKiB = download::DownloadSequence::BlockLength / 1024;

    CommandDef version;
    version.name = QStringLiteral("version");
    version.help = QStringLiteral("read the firmware version");
    version.plan = read(steps::ReadVersion);
    version.fields = { &VersionField };
    version.csv = true;
    version.reportText = [](const Outcome &outcome) -> QString {
        return QStringLiteral("version ") + outcome.version.value_or(QString());
    };

    CommandDef addresses;
    addresses.name = QStringLiteral("addresses");
    addresses.help = QStringLiteral("read the five network addresses");
    addresses.plan = read(steps::ReadAddresses);
    addresses.fields = { &AddressesField };
    addresses.csv = true;
    addresses.reportText = [](const Outcome &outcome) -> QString {
        return QStringLiteral("addresses ")
                + outcome.addresses.value_or(QStringList()).join(QLatin1Char(' '));
    };

    CommandDef setAddresses;
    setAddresses.name = QStringLiteral("set-addresses");
    setAddresses.arguments = AddressNames;
    setAddresses.help = QStringLiteral("set them, sent in plain dotted decimal (exactly one "
                                       "device; see Values)");
    setAddresses.devices = Devices::One;
    setAddresses.sets = true;
    setAddresses.prepare = [](Invocation &invocation, const QStringList &values) {
        for (std::size_t i = 0; i < invocation.request.addresses.size(); ++i) {
            const auto at = static_cast<qsizetype>(i);
            invocation.request.addresses[i] = AddressValue(values[at], AddressNames[at]);
        }
    };
    setAddresses.plan = [](DeviceJob &job) {
        job.Then(steps::SetAddresses(job.Asked().addresses));
    };
    setAddresses.fields = { &LeftField };
    setAddresses.reportText = [](const Outcome &) -> QString {
        return QStringLiteral("IP Address Set Complete");
    };

    CommandDef mac;
    mac.name = QStringLiteral("mac");
    mac.help = QStringLiteral("read the MAC address");
    mac.plan = read(steps::ReadMac);
    mac.fields = { &MacField };
    mac.csv = true;
    mac.reportText = [](const Outcome &outcome) -> QString {
        return QStringLiteral("mac ") + outcome.mac.value_or(QString());
    };

    CommandDef setMac;
    setMac.name = QStringLiteral("set-mac");
    setMac.arguments = { QStringLiteral("HEX12") };
    setMac.help = QStringLiteral("set it, sent as twelve upper-case digits (exactly one device; "
                                 "see Values)");
    setMac.devices = Devices::One;
    setMac.sets = true;
    setMac.prepare = [](Invocation &invocation, const QStringList &values) {
        invocation.request.mac = MacValue(values[0], QStringLiteral("HEX12"));
    };
    setMac.plan = [](DeviceJob &job) { job.Then(steps::SetMac(job.Asked().mac)); };
    setMac.fields = { &LeftField };
    setMac.reportText = [](const Outcome &) -> QString {
        return QStringLiteral("MAC Address Set Complete");
    };

    CommandDef flash;
    flash.name = QStringLiteral("flash");
    flash.arguments = { QStringLiteral("IMAGE") };
    flash.options = {
        Flag({ QStringLiteral("backup") },
             QStringLiteral("phase 1 from %1, the backup area").arg(download::BackupBaseAddress),
             [](Invocation &invocation) {
                 invocation.request.baseAddress = download::BackupBaseAddress;
             }),
        Flag({ QStringLiteral("allow-truncation") },
             QStringLiteral("flash an image longer than %1 MiB anyway (only its first %1 MiB are "
                            "written)")
                     .arg(download::MaxImageLength / (1024 * 1024)),
             [](Invocation &invocation) { invocation.allowTruncation = true; }),
        DryRunOption(QStringLiteral("print the plan (devices, blocks with address, length and "
                                    "CRC-32, bytes not written) and send nothing; with "
                                    "--skip-version, read each device's version and say which "
                                    "would be flashed (\"planned\") and which \"skipped\"")),
        VersionText(QStringLiteral("skip-version"),
                    QStringLiteral("read the version first, twice on the connection (the answers "
                                   "must agree, or the device fails); a device that runs TEXT "
                                   "already is \"skipped\" (a success)"),
                    [](Invocation &invocation) -> std::optional<QString> & {
                        return invocation.request.skipVersion;
                    }),
        VersionText(QStringLiteral("verify-version"),
                    QStringLiteral("after the flash, read the version twice on a new "
                                   "connection; a device whose answers differ or are not TEXT "
                                   "fails"),
                    [](Invocation &invocation) -> std::optional<QString> & {
                        return invocation.request.verifyVersion;
                    }),
        Seconds(
                { QStringLiteral("verify-delay") },
                QStringLiteral("with --verify-version, the wait before the new connection"),
                MaxTimeoutSeconds, DefaultVerifyDelayMs,
                [](Invocation &invocation) -> int & {
                    invocation.verifyDelayGiven = true;
                    return invocation.request.verifyDelayMs;
                },
                true),
        Integer({ QStringLiteral("max-failures") }, QStringLiteral("N"),
                QStringLiteral("once N devices have failed, start no further one (they are "
                               "\"not started\"; up to -j devices are under way when a failure "
                               "becomes known, so up to N+j-1 may fail: see --canary); 0 for no "
                               "limit"),
                0, MaxFailuresLimit, 0,
                [](Invocation &invocation) -> int & { return invocation.request.maxFailures; }),
        Integer({ QStringLiteral("canary") }, QStringLiteral("K"),
                QStringLiteral("the first K devices (in the order given, up to -j at once) are "
                               "done before any other starts; the others start only if all K "
                               "succeeded, else they are \"not started\"; 0 for none"),
                0, MaxFailuresLimit, 0,
                [](Invocation &invocation) -> int & { return invocation.request.canary; }),
        Integer({ QStringLiteral("retries") }, QStringLiteral("N"),
                QStringLiteral("try a device again, after a short back-off, whose connection "
                               "failed, or ended before the device answered anything, or whose "
                               "first announce got no size acknowledgement; never once a block "
                               "byte was written"),
                0, MaxRetries, 0,
                [](Invocation &invocation) -> int & { return invocation.request.retries; }),
        Seconds({ QStringLiteral("size-timeout") },
                QStringLiteral("the wait for a block's size acknowledgement, in steps of 0.1 s"),
                MaxTimeoutSeconds, DefaultSizeWaitMs,
                [](Invocation &invocation) -> int & { return invocation.request.sizeWaitMs; }),
        Seconds({ QStringLiteral("result-timeout") },
                QStringLiteral("the wait for a block's result, in steps of 0.1 s"),
                MaxTimeoutSeconds, DefaultResultWaitMs,
                [](Invocation &invocation) -> int & { return invocation.request.resultWaitMs; }),
    };
    flash.help = QStringLiteral("download a firmware image: up to %1 blocks of %2 KiB from 0x%3, "
                                "then the image's bytes from 0x%4 to addresses 0 and 0x%5")
                         .arg(download::DownloadSequence::Phase1Blocks)
                         .arg(blockKiB)
                         .arg(download::MainBaseAddress, 0, 16)
                         .arg(download::DownloadSequence::Phase2FirstBlock
                                      * download::DownloadSequence::BlockLength,
                              0, 16)
                         .arg(download::DownloadSequence::BlockLength, 0, 16);
    flash.prepare = [](Invocation &invocation, const QStringList &values) {
        ReadImage(invocation, values[0]);
        if (invocation.verifyDelayGiven && !invocation.request.verifyVersion)
            Fail(QStringLiteral("--verify-delay goes with --verify-version"));
        // With --skip-version a dry run reads each device's version, to say which it would flash.
        invocation.planReport = invocation.request.dryRun;
        invocation.sendNothing = invocation.request.dryRun && !invocation.request.skipVersion;
    };
    flash.plan = [](DeviceJob &job) {
        const Request &asked = job.Asked();
        if (asked.skipVersion) {
            job.Then(steps::ReadVersion());
            job.Then(steps::ConfirmVersion(&Outcome::version));
            job.Then(steps::Check(SkipIfRunning));
        }
        if (asked.dryRun) {
            job.Then(steps::Check(
                    [](DeviceJob &planned) { planned.Finish(QStringLiteral("planned")); }));
            return;
        }
        job.Then(steps::Download(asked.image, asked.baseAddress));
        if (asked.verifyVersion) {
            // The device may restart into the new firmware: a connection of its own, later.
            job.Then(steps::Disconnect(asked.verifyDelayMs));
            job.Then(steps::Connect());
            job.Then(steps::ReadVersionAfter());
            job.Then(steps::ConfirmVersion(&Outcome::versionAfter));
            job.Then(steps::Check(VerifyVersion));
        }
    };
    flash.fields = { &BlocksField, &CutField, &VersionField, &VersionAfterField, &AttemptsField };
    flash.reportText = [](const Outcome &outcome) -> QString {
        if (outcome.status == QLatin1String("skipped"))
            return QStringLiteral("skipped: runs ") + outcome.version.value_or(QString());
        if (outcome.status == QLatin1String("planned"))
            return outcome.version ? QStringLiteral("planned: runs ") + *outcome.version
                                   : QStringLiteral("planned");
        qint64 bytes = 0;
        for (const BlockResult &block : outcome.blocks)
            bytes += block.length;
        QString text = QStringLiteral("Update Complete: %1 %2, %3 bytes")
                               .arg(outcome.blocks.size())
                               .arg(outcome.blocks.size() == 1 ? QStringLiteral("block")
                                                               : QStringLiteral("blocks"))
                               .arg(bytes);
        if (outcome.versionAfter)
            text += QStringLiteral("; runs ") + *outcome.versionAfter;
        if (outcome.attempts > 1)
            text += QStringLiteral("; %1 attempts").arg(outcome.attempts);
        return text;
    };

    CommandDef inventory;
    inventory.name = QStringLiteral("inventory");
    inventory.options = {
        OptionDef{ { QStringLiteral("scan") },
                   QStringLiteral("RANGE"),
                   QStringLiteral("the devices that answer in RANGE (as scan finds them), "
                                  "instead of the devices given"),
                   [](Invocation &invocation, const QStringList &values) {
                       invocation.scanRange = values.constLast();
                   } },
        PortOption(),
    };
    inventory.help = QStringLiteral("version, addresses and MAC of each device, one connection "
                                    "each; a read that fails leaves the others standing. Its CSV "
                                    "is a plan for apply");
    inventory.csv = true;
    inventory.table = true;
    inventory.prepare = [](Invocation &invocation, const QStringList &) {
        if (invocation.scanRange.isEmpty()) {
            if (invocation.scanPortGiven)
                Fail(QStringLiteral("--port goes with --scan"));
            return;
        }
        if (!invocation.deviceTexts.isEmpty() || !invocation.devicesFile.isNull())
            Fail(QStringLiteral("--scan takes the place of -d and --devices"));
        Search(invocation, invocation.scanRange);
    };
    inventory.plan = [](DeviceJob &job) {
        job.Then(Optional(steps::ReadVersion(), VersionField.name));
        job.Then(Optional(steps::ReadAddresses(), AddressesField.name));
        job.Then(Optional(steps::ReadMac(), MacField.name));
    };
    inventory.fields = { &VersionField, &AddressesField, &MacField };
    inventory.reportText = [](const Outcome &) -> QString { return QString(); };

    CommandDef apply;
    apply.name = QStringLiteral("apply");
    apply.arguments = { QStringLiteral("FILE") };
    apply.options = { DryRunOption(
            QStringLiteral("say per device what differs, sending only the reads")) };
    apply.help = QStringLiteral("bring each device of the CSV plan FILE (device,%1[,mac]; see "
                                "Plans) to it: read, "
                                "set what differs, read back; \"unchanged\", \"changed\" or failed "
                                "with what differs")
                         .arg(PlanColumns.join(QLatin1Char(',')));
    apply.devices = Devices::File;
    apply.sets = true;
    apply.prepare = [](Invocation &invocation, const QStringList &values) {
        ReadPlanFile(invocation, values[0]);
    };
    apply.plan = PlanApply;
    apply.fields = { &AddressesField, &MacField, &ChangesField, &MovedToField, &LeftField };
    apply.reportText = ApplyReportText;

    CommandDef scan;
    scan.name = QStringLiteral("scan");
    scan.arguments = { QStringLiteral("RANGE") };
    scan.options = { PortOption() };
    scan.help = QStringLiteral("find devices in A.B.C.D/N (N >= %1) or A.B.C.D-E: every address "
                               "is tried (connect bound %2 s, then a version read); those that "
                               "answer are listed")
                        .arg(MinScanPrefix)
                        .arg(ScanConnectTimeoutMs / 1000);
    scan.devices = Devices::Range;
    scan.connectTimeoutMs = ScanConnectTimeoutMs;
    scan.search = true;
    scan.csv = true;
    scan.prepare = [](Invocation &invocation, const QStringList &values) {
        Search(invocation, values[0]);
    };
    scan.plan = read(steps::ReadVersion);
    scan.fields = { &VersionField };
    scan.reportText = version.reportText;

    return { version, addresses, setAddresses, mac, setMac, flash, inventory, apply, scan };
}

} // namespace

const QList<OptionDef> &GlobalOptions()
{
    static const QList<OptionDef> options = MakeGlobalOptions();
    return options;
}

const QList<CommandDef> &Commands()
{
    static const QList<CommandDef> commands = MakeCommands();
    return commands;
}

const CommandDef *FindCommand(const QString &name)
{
    const QList<CommandDef> &commands = Commands();
    const auto found =
            std::find_if(commands.begin(), commands.end(),
                         [&](const CommandDef &command) { return command.name == name; });
    return found == commands.end() ? nullptr : &*found;
}

} // namespace cli
