#include "app/Help.h"

#include "app/GlobalOptions.h"
#include "commands/Commands.h"
#include "commands/Scan.h"
#include "report/Sinks.h"

#include "platform/FileLock.h"

#include <QDir>

namespace cli {

namespace {

// Where help texts start, and how wide the help runs.
constexpr qsizetype HelpColumn = 30;
constexpr qsizetype HelpWidth = 80;

// `left` in the first column, `help` wrapped in the second; a long `left` has a line of its own.
QString Entry(const QString &left, const QString &help)
{
    QStringList lines{ QString() };
    for (const QString &word : help.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        QString &line = lines.last();
        if (!line.isEmpty() && HelpColumn + line.size() + 1 + word.size() > HelpWidth)
            lines.append(word);
        else
            line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    const QString indent(HelpColumn, QLatin1Char(' '));
    const QString first = left.size() + 2 > HelpColumn ? left + QLatin1Char('\n') + indent
                                                       : left.leftJustified(HelpColumn);
    return first + lines.join(QLatin1Char('\n') + indent) + QLatin1Char('\n');
}

QString Wrapped(const QString &paragraph)
{
    QString text;
    QString line;
    for (const QString &word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > HelpWidth) {
            text += line + QLatin1Char('\n');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return text + line + QLatin1Char('\n');
}

QString OptionEntries(OptionDef::Group group)
{
    QString text;
    for (const OptionDef &option : GlobalOptions()) {
        if (option.group == group)
            text += Entry(QStringLiteral("  ") + option.Synopsis(), option.help);
    }
    return text;
}

QStringList Usage(const CommandDef &command)
{
    return QStringList{ command.name } + command.arguments;
}

QString CommandEntries(const std::vector<std::shared_ptr<Command>> &commands)
{
    QString text;
    for (const std::shared_ptr<Command> &each : commands) {
        const CommandDef &command = each->Definition();
        QStringList spelled = Usage(command);
        for (const OptionDef &option : command.options)
            spelled.append(QLatin1Char('[') + option.Synopsis() + QLatin1Char(']'));
        // Options that do not fit on the line are named below it only.
        const QString line = QStringLiteral("  ")
                + (OptionsOnCommandLine(command)
                           ? spelled.join(QLatin1Char(' '))
                           : Usage(command).join(QLatin1Char(' ')) + QStringLiteral(" [OPTIONS]"));
        text += Entry(line, command.help);
        for (const OptionDef &option : command.options)
            text += Entry(QStringLiteral("      ") + option.Synopsis(), option.help);
    }
    return text;
}

// The keys a device's JSON entry may have beyond the common ones, from every command's fields.
QString JsonFields(const std::vector<std::shared_ptr<Command>> &commands)
{
    QStringList fields;
    for (const std::shared_ptr<Command> &command : commands) {
        for (const ResultField *field : command->Definition().fields) {
            if (!fields.contains(field->jsonHelp))
                fields.append(field->jsonHelp);
        }
    }
    const QString last = fields.isEmpty() ? QString() : fields.takeLast();
    return fields.isEmpty() ? last
                            : fields.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

// " (1 s for scan)": the commands whose connection attempts are bound otherwise.
QString OtherConnectTimeouts(const std::vector<std::shared_ptr<Command>> &commands)
{
    QStringList others;
    for (const std::shared_ptr<Command> &command : commands) {
        const CommandDef &definition = command->Definition();
        if (definition.connectTimeoutMs != core::DeviceLink::DefaultConnectTimeoutMs)
            others.append(QStringLiteral("%1 s for %2")
                                  .arg(definition.connectTimeoutMs / 1000.0)
                                  .arg(definition.name));
    }
    return others.isEmpty()
            ? QString()
            : QStringLiteral(" (") + others.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QString ExampleLines()
{
    QString text;
    for (const QString &line : Examples())
        text += QStringLiteral("  ") + line + QLatin1Char('\n');
    return text;
}

} // namespace

bool OptionsOnCommandLine(const CommandDef &command)
{
    QStringList spelled = Usage(command);
    for (const OptionDef &option : command.options)
        spelled.append(QLatin1Char('[') + option.Synopsis() + QLatin1Char(']'));
    return 2 + spelled.join(QLatin1Char(' ')).size() <= HelpWidth;
}

const QStringList &Examples()
{
    static const QStringList examples{
        QStringLiteral("ql-t36-cli -d 10.0.0.7 version"),
        QStringLiteral("ql-t36-cli --devices plant.txt --json flash firmware.bin"),
        QStringLiteral("ql-t36-cli --max-failures 1 --devices plant.txt flash --canary 1 \\"),
        QStringLiteral("    --skip-version 2.10 --verify-version 2.10 firmware.bin"),
        QStringLiteral("ql-t36-cli --devices plant.txt --csv inventory > plant.csv"),
        QStringLiteral("ql-t36-cli apply --dry-run plant.csv"),
        QStringLiteral("ql-t36-cli scan 10.0.0.0/24"),
    };
    return examples;
}

QStringList HelpFormats()
{
    return { QStringLiteral("man"), QStringLiteral("markdown"), QStringLiteral("bash") };
}

QString HelpDocument(const QString &format)
{
    if (format == QLatin1String("man"))
        return ManualPage();
    if (format == QLatin1String("markdown"))
        return MarkdownList();
    return BashCompletion();
}

QString HelpText()
{
    const std::vector<std::shared_ptr<Command>> commands = MakeCommands();
    return QStringLiteral("Usage: ql-t36-cli [OPTIONS] COMMAND [ARGS]\n\n")
            + Wrapped(QStringLiteral(
                    "Reads, sets and updates QL-T36 devices from the command line: one device or "
                    "many at once, each over its own connection, with the same commands, checks "
                    "and download pacing as the windows."))
            + QLatin1Char('\n')
            + Wrapped(QStringLiteral("Devices (any number of each; with neither, the address and "
                                     "port of QL_T36.ini beside the executable, defaults "
                                     "%1 and %2):")
                              .arg(QLatin1String(core::DefaultAddress))
                              .arg(DefaultPort))
            + OptionEntries(OptionDef::Group::Devices)
            + Wrapped(QStringLiteral(
                    "A device given twice is refused: two sessions would interleave their "
                    "commands."))
            + QStringLiteral("\nCommands:\n") + CommandEntries(commands)
            + QStringLiteral("\nOptions:\n") + OptionEntries(OptionDef::Group::General)
            + QLatin1Char('\n')
            + Wrapped(QStringLiteral("A connection attempt is bound to %1 s%2, or to "
                                     "--connect-timeout. A flash waits %3 s for a block's size "
                                     "acknowledgement and %4 s for its result, as the update "
                                     "window does, or --size-timeout and --result-timeout.")
                              .arg(core::DeviceLink::DefaultConnectTimeoutMs / 1000)
                              .arg(OtherConnectTimeouts(commands))
                              .arg(download::DownloadSequence::SizeWaitTicks / 10)
                              .arg(download::DownloadSequence::ResultWaitTicks / 10))
            + QLatin1Char('\n')
            + Wrapped(QStringLiteral(
                    "Replies: a reply counts only as the answer to what was written before it was "
                    "read. What a device says before the first command (see --settle), a reply "
                    "of another kind, and a block's result that comes before the block's last "
                    "byte was written are ignored (shown by --trace). A line the device sends by "
                    "itself after the settle window cannot be told from an answer: the version "
                    "that decides --skip-version and --verify-version is therefore read twice, "
                    "and the two answers must agree."))
            + QLatin1Char('\n')
            + Wrapped(QStringLiteral(
                    "Values: a value that is empty once trimmed, holds a control character or is "
                    "longer than the window's field (15 characters for an address) is refused, "
                    "and so is an address that is not four decimal numbers 0-255 (999.1.1.1, "
                    "1.12234E+11) or a MAC that is not twelve hexadecimal digits (six pairs "
                    "joined by - or : are taken too). An address goes out in plain dotted "
                    "decimal (10.0.9.05 as 10.0.9.5), a MAC as twelve upper-case digits. IMAGE, "
                    "apply's FILE and --devices FILE may be a pipe or - for standard input, read "
                    "to its end; --log FILE may be a pipe, whose reader is waited for."))
            + QLatin1Char('\n')
            + Wrapped(QStringLiteral(
                    "Plans (apply FILE): CSV (RFC 4180) whose header names its columns: device "
                    "(HOST[:PORT]), ip, dp310, mask, gateway, multicast and, if wanted, mac; a "
                    "version column (as inventory writes it) is ignored, any other refused. Blanks "
                    "around a cell are dropped; lines starting with # (comments), lines of empty "
                    "cells and empty columns at the end are skipped; an empty cell leaves that "
                    "value as it is. Every row is checked before any device is contacted, with "
                    "the checks of set-addresses and set-mac; a device listed twice, one IP or "
                    "MAC planned for two devices (compared as sent), or an IP where another listed "
                    "device is now, is refused. The MAC is set first, then the five addresses in "
                    "one command, those not planned as the device reported them: a device that "
                    "did not report one the plan leaves empty fails before anything is set. Once "
                    "an IP set is acknowledged the device has moved: \"movedTo\" names its new "
                    "IP (same port), and the read-back goes there on a new connection if the one "
                    "open ends or gets no answer. A device that does not answer at its device "
                    "address is looked for at its planned ip, same port, and only read there: "
                    "\"unchanged\" (with \"movedTo\") if it holds the whole plan, otherwise it "
                    "fails and nothing is set."))
            + QLatin1Char('\n')
            + Wrapped(QStringLiteral(
                              "Locks: a device is driven by one run at a time, whoever started "
                              "it and from whatever environment. Each run holds a lock per "
                              "device while it drives it, a file named by address and port in "
                              "%1 (made, open to every user, when missing); a device another "
                              "run holds is \"busy\", and the message names that run and the "
                              "file. The system releases a lock however its run ends: a file "
                              "left behind is taken over (--trace says so).")
                              .arg(QDir::toNativeSeparators(
                                      platform::HostLockFolder(QStringLiteral("ql-t36")))))
            + QLatin1Char('\n')
            + Wrapped(QStringLiteral(
                    "Report: one line per device in the order given (failures on stderr, naming "
                    "the device and what happened, with the Winsock-numbered code and its cause "
                    "where there is one), then a summary; inventory prints a table. A device's "
                    "texts are shown with control characters escaped (\\x1b). A flash shows a "
                    "live progress line per device on a terminal, otherwise a line per block."))
            + QLatin1Char('\n')
            + Wrapped(QStringLiteral(
                              "JSON: {\"command\", \"toolVersion\", \"formatVersion\": %1, "
                              "\"startTime\", \"endTime\" (UTC), \"ok\": <count>, \"failed\": "
                              "<count>, \"devices\": [{\"device\": \"HOST:PORT\", \"ok\", "
                              "\"status\", \"error\": null or text, \"seconds\", and %2}]}. "
                              "\"status\" is ok, failed, skipped, not started, busy, interrupted; "
                              "for apply unchanged, changed or would change; for a dry run "
                              "planned. For flash, \"image\": {\"length\", \"notWritten\", "
                              "\"sha256\", \"blocks\": [{\"phase\", \"address\", \"offset\", "
                              "\"length\", \"crc32\"}]}; a dry run adds \"dryRun\": true. For "
                              "scan and inventory --scan, \"devices\" holds those that answered, "
                              "and \"ok\" and \"failed\" count them; \"scanned\" counts all "
                              "addresses tried.")
                              .arg(FormatVersion)
                              .arg(JsonFields(commands)))
            + QLatin1Char('\n')
            + Wrapped(QStringLiteral(
                    "Events: one JSON object a line, each with \"seq\" (from 1), \"time\" (UTC), "
                    "\"device\" (null for the run's own) and \"event\": run start, connect, "
                    "connect failed, command, reply (with \"ignored\"), block start, block end, "
                    "retry, outcome (the device's entry as in the JSON document), run end."))
            + QLatin1Char('\n')
            + Wrapped(QStringLiteral(
                    "Ctrl-C (SIGINT), SIGTERM or SIGHUP stops every device at once, also while "
                    "a pipe named on the command line is waited for: no further byte is sent, a "
                    "block under way has its connection reset and is named, and the report lists "
                    "each device's outcome so far, \"interrupted\" for those not done. A report "
                    "or log that cannot be written (a full disk, a closed pipe) ends the run "
                    "too."))
            + QLatin1Char('\n')
            + Wrapped(QStringLiteral(
                    "Sets (set-addresses, set-mac, apply): a set whose answer does not come (the "
                    "connection ends or the wait runs out) fails with \"set sent, not "
                    "acknowledged: its state is unknown\". An interrupt says in the error and in "
                    "\"left\" what it left each device as: untouched, set unacknowledged (sent, "
                    "no answer yet) or set not read back."))
            + QStringLiteral(
                    "\n"
                    "Exit status:\n"
                    "  0    every device succeeded or was skipped (scan: at least one device\n"
                    "       answered)\n"
                    "  1    a device failed: unreachable, refused, timed out, a set, a block or\n"
                    "       a version refused, busy or not started (scan: none answered); or\n"
                    "       the report could not be written\n"
                    "  2    usage or input error, found before any device is contacted\n"
                    "  129  interrupted by SIGHUP (the terminal closed)\n"
                    "  130  interrupted by SIGINT (Ctrl-C)\n"
                    "  143  interrupted by SIGTERM\n"
                    "\n"
                    "Examples:\n")
            + ExampleLines();
}

} // namespace cli
