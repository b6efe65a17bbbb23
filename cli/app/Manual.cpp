// The manual page ql-t36-cli(1): the commands and options from their definitions, the sections
// around them as roff here.

#include "app/GlobalOptions.h"
#include "app/Help.h"
#include "commands/Commands.h"
#include "commands/Scan.h"
#include "report/Sinks.h"

namespace cli {

namespace {

// Changed with the page's content.
const QString PageDate = QStringLiteral("2026\\-12\\-09");

// Text as roff prints it: a backslash is the escape character, and a hyphen that is not \- may
// be printed as a hyphen rather than the minus sign a command line needs.
QString Roff(const QString &text)
{
    QString escaped;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\e");
        else if (c == QLatin1Char('-'))
            escaped += QStringLiteral("\\-");
        else
            escaped += c;
    }
    return escaped;
}

// A value's name in italics, the brackets and colons around its parts not: HOST[:PORT].
QString RoffValue(const QString &name)
{
    QString text;
    bool italic = false;
    for (const QChar c : name) {
        const bool part = c.isUpper() || c.isDigit() || c == QLatin1Char('_');
        if (part != italic) {
            text += part ? QStringLiteral("\\fI") : QStringLiteral("\\fR");
            italic = part;
        }
        text += Roff(QString(c));
    }
    return italic ? text + QStringLiteral("\\fR") : text;
}

QString OptionTag(const OptionDef &option)
{
    QStringList names;
    for (const QString &name : option.names)
        names.append(QStringLiteral("\\fB")
                     + Roff((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name)
                     + QStringLiteral("\\fR"));
    QString tag = names.join(QStringLiteral(", "));
    if (!option.valueName.isEmpty())
        tag += QLatin1Char(' ') + RoffValue(option.valueName);
    return tag;
}

QString CommandTag(const CommandDef &command)
{
    QString tag = QStringLiteral("\\fB") + Roff(command.name) + QStringLiteral("\\fR");
    for (const QString &argument : command.arguments)
        tag += QLatin1Char(' ') + RoffValue(argument);
    if (command.options.isEmpty())
        return tag;
    if (!OptionsOnCommandLine(command))
        return tag + QStringLiteral(" [\\fIOPTIONS\\fR]");
    for (const OptionDef &option : command.options)
        tag += QStringLiteral(" [") + OptionTag(option) + QLatin1Char(']');
    return tag;
}

QString Entries(const QList<OptionDef> &options)
{
    QString text;
    for (const OptionDef &option : options)
        text += QStringLiteral(".TP\n") + OptionTag(option) + QLatin1Char('\n') + option.manual
                + QLatin1Char('\n');
    return text;
}

QString ExampleLines()
{
    QString text;
    for (const QString &line : Examples()) {
        // A line that starts with blanks keeps them only in quotes.
        const QString quote = line.startsWith(QLatin1Char(' ')) ? QStringLiteral("\"") : QString();
        text += QStringLiteral(".B ") + quote + Roff(line) + quote + QLatin1Char('\n');
    }
    return text;
}

} // namespace

QString ManualPage()
{
    const std::vector<std::shared_ptr<Command>> commands = MakeCommands();
    QString page =
            QStringLiteral(".\\\" Made from the command definitions by scripts/make-docs.sh "
                           "(ql-t36-cli --help-format=man):\n"
                           ".\\\" change those in cli/, not this file.\n"
                           ".TH QL\\-T36\\-CLI 1 %1 ql\\-t36 \"User Commands\"\n"
                           ".nh\n"
                           ".SH NAME\n"
                           "ql\\-t36\\-cli \\- read, set and update QL\\-T36 network devices from "
                           "the command line\n"
                           ".SH SYNOPSIS\n"
                           ".B ql\\-t36\\-cli\n"
                           ".RI [ OPTIONS ]\n"
                           ".I COMMAND\n"
                           ".RI [ ARGS ]\n"
                           ".SH DESCRIPTION\n"
                           ".B ql\\-t36\\-cli\n"
                           "does what the windows of\n"
                           ".BR ql\\-t36 (1)\n"
                           "do, for one device or many at once: it reads the firmware version, "
                           "reads and\n"
                           "sets the five network addresses and the MAC address, downloads a "
                           "firmware image\n"
                           "and finds devices in an address range; for a site, it takes an "
                           "inventory,\n"
                           "brings every device to a planned configuration and rolls an image out "
                           "in stages.\n"
                           "It sends the same command texts with the same checks, and a download "
                           "goes out\n"
                           "with the same bytes, order and 100\\ ms pacing as from the update "
                           "window.\n"
                           ".PP\n"
                           "Each device has its own connection; up to\n"
                           ".I N\n"
                           "of them\n"
                           ".RB ( \\-\\-jobs )\n"
                           "are handled at once in one thread, so a slow or dead device holds up "
                           "no other.\n"
                           "The whole command line is checked before any device is contacted.\n"
                           ".SH DEVICES\n"
                           "Devices come from any number of\n"
                           ".B \\-\\-device\n"
                           "and\n"
                           ".B \\-\\-devices\n"
                           "options.\n"
                           "With neither, the address and port of\n"
                           ".I QL_T36.ini\n"
                           "beside the executable are used (defaults %2 and %3), as the windows\n"
                           "read it.\n"
                           "A device given twice is refused: two sessions would interleave their "
                           "commands.\n"
                           ".SH COMMANDS\n")
                    .arg(PageDate, QLatin1String(core::DefaultAddress))
                    .arg(DefaultPort);
    for (const std::shared_ptr<Command> &command : commands) {
        const CommandDef &definition = command->Definition();
        page += QStringLiteral(".TP\n") + CommandTag(definition) + QLatin1Char('\n')
                + definition.manual + QLatin1Char('\n');
    }
    page += QStringLiteral(".SH OPTIONS\n") + Entries(GlobalOptions());
    for (const std::shared_ptr<Command> &command : commands) {
        const CommandDef &definition = command->Definition();
        if (!definition.options.isEmpty())
            page += QStringLiteral(".SH ") + Roff(definition.name.toUpper())
                    + QStringLiteral(" OPTIONS\n") + Entries(definition.options);
    }
    page += QStringLiteral(
                    ".SH TIME\\-OUTS\n"
                    "A connection attempt is bound to %1\\ s (%2\\ s for\n"
                    ".BR scan ),\n"
                    "or to\n"
                    ".BR \\-\\-connect\\-timeout .\n"
                    "A flash waits %3\\ s for a block's size acknowledgement and %4\\ s for its "
                    "result,\n"
                    "as the update window does, or\n"
                    ".B \\-\\-size\\-timeout\n"
                    "and\n"
                    ".BR \\-\\-result\\-timeout .\n")
                    .arg(core::DeviceLink::DefaultConnectTimeoutMs / 1000)
                    .arg(ScanConnectTimeoutMs / 1000)
                    .arg(download::DownloadSequence::SizeWaitTicks / 10)
                    .arg(download::DownloadSequence::ResultWaitTicks / 10);
    page += QStringLiteral(
            ".SH PLANS\n"
            "The plan of\n"
            ".B apply\n"
            "is CSV (RFC 4180) with a header line that names its columns:\n"
            ".B device\n"
            ".RI ( HOST [: PORT ]),\n"
            ".BR ip ,\n"
            ".BR dp310 ,\n"
            ".BR mask ,\n"
            ".BR gateway ,\n"
            ".B multicast\n"
            "and, if wanted,\n"
            ".BR mac .\n"
            "A\n"
            ".B version\n"
            "column, as\n"
            ".B inventory\n"
            "writes it, is ignored; any other column is refused.\n"
            "Blanks around a cell are dropped; lines starting with # (comments), lines of\n"
            "empty cells and empty columns at the end, as spreadsheets add them, are\n"
            "skipped; an empty cell leaves that value as it is.\n"
            "Every row is checked before any device is contacted, with the checks of\n"
            ".B set\\-addresses\n"
            "and\n"
            ".BR set\\-mac ;\n"
            "a device listed twice, one IP or MAC address planned for two devices (compared\n"
            "as they are sent: 10.0.9.5 and 10.0.9.05 are one), or an IP address where\n"
            "another listed device is now, is refused.\n"
            "Values compare with what a device reports in the same way, so the CSV of\n"
            ".B inventory\n"
            "applied unchanged changes nothing, however the device spells its MAC address.\n"
            ".PP\n"
            "The addresses are set in one command that carries all five: those not planned\n"
            "as the device reported them.\n"
            "A device that did not report one that the plan leaves empty fails before\n"
            "anything is set (\"device reported 3 of 5 addresses; plan gateway and multicast\n"
            "to set it\"): the set would wipe it.\n"
            ".PP\n"
            "Once an IP set is acknowledged the device has moved:\n"
            ".B movedTo\n"
            "names its new IP address on the same port, whatever follows.\n"
            "The read\\-back happens on the connection still open or, when that ends or gets\n"
            "no answer, on a new connection to the new address (bound like any connection).\n"
            ".PP\n"
            "A plan run again after the move finds the device without an edit: a device\n"
            "that does not answer at its\n"
            ".B device\n"
            "address is looked for at its planned\n"
            ".B ip\n"
            "on the same port (no other listed device can be there: such a plan is\n"
            "refused), and only read there.\n"
            "It is \"unchanged\", with\n"
            ".BR movedTo ,\n"
            "if it holds the whole plan; otherwise it fails and nothing is set there, since\n"
            "nothing tells that it is the device meant.\n"
            ".SH LOCKS\n"
            "A device is driven by one run at a time, whoever starts the runs and from\n"
            "whatever environment: each run holds a lock per device in one folder for the\n"
            "whole host,\n"
            ".I /run/lock/ql\\-t36\n"
            "(made with mode 1777 when missing; on Windows\n"
            ".IR %ProgramData%\\eql\\-t36\\elock ),\n"
            "a file named by the device's address and port into which the run writes its\n"
            "PID, program and user.\n"
            "A device that another run holds is reported \"busy\", naming that run and the\n"
            "file.\n"
            "The lock is an advisory lock held on the open file\n"
            ".RB ( flock (2)),\n"
            "which the system releases however the run ends, even killed: a file left\n"
            "behind, by any user, is taken over, and\n"
            ".B \\-\\-trace\n"
            "says so.\n"
            ".SH REPLIES\n"
            "A reply counts only as the answer to what was written before it was read: a\n"
            "read or a set is answered by the first reply of its own kind that arrives after\n"
            "its command was written, a block's size acknowledgement only after its announce,\n"
            "and its result only after the block's last byte.\n"
            "Anything else is ignored and shown by\n"
            ".BR \\-\\-trace .\n"
            ".PP\n"
            "The settle window\n"
            ".RB ( \\-\\-settle )\n"
            "catches what a device says as the connection opens, before the first command:\n"
            "a greeting, a stale reply.\n"
            "It cannot catch a line the device sends by itself later: once a command was\n"
            "written, such a line reads as its answer, and no order of lines tells the two\n"
            "apart.\n"
            "The version that decides\n"
            ".B \\-\\-skip\\-version\n"
            "and\n"
            ".B \\-\\-verify\\-version\n"
            "is therefore read twice, each answer after its own command, and the two must\n"
            "agree.\n");
    page += QStringLiteral(
                    ".SH OUTPUT\n"
                    "The report has one line per device, in the order the devices were given\n"
                    "(failures on standard error, naming the device and what happened, with the\n"
                    "Winsock\\-numbered code and its cause where there is one), then a summary.\n"
                    "Control characters in a device's texts are shown escaped\n"
                    ".RB ( \\ex1b ).\n"
                    "A flash shows a live progress line per device on a terminal, otherwise a "
                    "line\n"
                    "per block.\n"
                    ".PP\n"
                    "With\n"
                    ".BR \\-\\-json ,\n"
                    "the document holds\n"
                    ".BR command ,\n"
                    ".B ok\n"
                    "and\n"
                    ".B failed\n"
                    "(counts) and\n"
                    ".BR devices ,\n"
                    "one object per device with\n"
                    ".B device\n"
                    ".RI ( HOST : PORT ),\n"
                    ".BR ok ,\n"
                    ".B error\n"
                    "(null or a text),\n"
                    ".B seconds\n"
                    "and, by command,\n"
                    ".BR version ,\n"
                    ".B addresses\n"
                    "(five texts),\n"
                    ".BR mac ,\n"
                    ".B changes\n"
                    "(each with\n"
                    ".BR field ,\n"
                    ".B was\n"
                    "and\n"
                    ".BR planned ),\n"
                    ".B movedTo\n"
                    "or\n"
                    ".B blocks\n"
                    "(each with\n"
                    ".BR address ,\n"
                    ".B length\n"
                    "and\n"
                    ".BR result ),\n"
                    ".BR cut\n"
                    "(null, or the block an interrupt cut, with\n"
                    ".BR address ,\n"
                    ".B length\n"
                    "and\n"
                    ".BR sent ,\n"
                    "the bytes of it handed to the system, not all of which need have reached "
                    "the\n"
                    "device),\n"
                    ".B left\n"
                    "(see SETS),\n"
                    ".B versionAfter\n"
                    "and\n"
                    ".BR attempts .\n"
                    "Each device also has a\n"
                    ".BR status :\n"
                    "ok, failed, skipped, not started, busy or interrupted; for\n"
                    ".B apply\n"
                    "unchanged, changed or would change; for a dry run planned (with\n"
                    ".BR \"flash \\-\\-dry\\-run \\-\\-skip\\-version\" ,\n"
                    "each device's\n"
                    ".B version\n"
                    "as read).\n"
                    "The document names\n"
                    ".B toolVersion\n"
                    "and\n"
                    ".B formatVersion\n"
                    "(%1), and the run's\n"
                    ".B startTime\n"
                    "and\n"
                    ".B endTime\n"
                    "(UTC).\n"
                    "A flash adds\n"
                    ".B image\n"
                    "with its\n"
                    ".BR length ,\n"
                    "how many bytes are\n"
                    ".BR notWritten ,\n"
                    "its\n"
                    ".B sha256\n"
                    "and its\n"
                    ".B blocks\n"
                    "(each with\n"
                    ".BR phase ,\n"
                    ".BR address ,\n"
                    ".BR offset ,\n"
                    ".B length\n"
                    "and\n"
                    ".BR crc32 );\n"
                    "a dry run adds\n"
                    ".BR dryRun .\n"
                    "For\n"
                    ".B scan\n"
                    "and\n"
                    ".BR \"inventory \\-\\-scan\" ,\n"
                    ".B devices\n"
                    "holds those that answered and\n"
                    ".B ok\n"
                    "and\n"
                    ".B failed\n"
                    "count them;\n"
                    ".B scanned\n"
                    "counts all addresses tried.\n")
                    .arg(FormatVersion);
    page += QStringLiteral(
            ".SH EVENTS\n"
            "With\n"
            ".BR \\-\\-events ,\n"
            "each line is one JSON object with\n"
            ".B seq\n"
            "(from 1),\n"
            ".B time\n"
            "(UTC),\n"
            ".B device\n"
            "(null for the run's own) and\n"
            ".BR event :\n"
            "run start, connect, connect failed, command, reply (with\n"
            ".BR ignored ),\n"
            "block start, block end, retry, outcome (the device's entry as in the JSON\n"
            "document) and run end.\n"
            ".SH SETS\n"
            "A set of\n"
            ".BR set\\-addresses ,\n"
            ".B set\\-mac\n"
            "or\n"
            ".B apply\n"
            "whose answer does not come (the connection ends or the wait runs out after the\n"
            "command was written) fails with \"set sent, not acknowledged: its state is\n"
            "unknown\".\n"
            "An interrupt says in the error and in\n"
            ".B left\n"
            "what it left each such device as: \"untouched\" (nothing that sets was sent),\n"
            "\"set unacknowledged\" (a set was sent, its answer had not come: its state is\n"
            "unknown) or \"set not read back\" (a set was acknowledged, the read\\-back had not\n"
            "come).\n"
            ".SH SIGNALS\n"
            "SIGINT (Ctrl\\-C), SIGTERM or SIGHUP stops every device at once, also while a\n"
            "pipe named on the command line (an image, a plan, a devices file, a log) is\n"
            "waited for: no further byte is sent, a block under way has its connection\n"
            "reset and is named, and the report lists each device's outcome so far,\n"
            "\"interrupted\" for those not done.\n"
            ".SH EXIT STATUS\n"
            ".TP\n"
            ".B 0\n"
            "Every device succeeded or was skipped\n"
            ".RB ( scan :\n"
            "at least one device answered).\n"
            ".TP\n"
            ".B 1\n"
            "A device failed: unreachable, refused, timed out, a set, a block or a\n"
            "version refused, busy or not started\n"
            ".RB ( scan :\n"
            "none answered); or the report or the log could not be written.\n"
            ".TP\n"
            ".B 2\n"
            "Usage or input error, found before any device is contacted.\n"
            ".TP\n"
            ".B 129\n"
            "Interrupted by SIGHUP.\n"
            ".TP\n"
            ".B 130\n"
            "Interrupted by SIGINT.\n"
            ".TP\n"
            ".B 143\n"
            "Interrupted by SIGTERM.\n"
            ".SH ENVIRONMENT\n"
            ".TP\n"
            ".B QLT36_LOCK_DIR\n"
            "The folder of the locks instead of the host's own: for tests only, which must\n"
            "never meet a real run on the host.\n"
            ".SH FILES\n"
            ".TP\n"
            ".I /run/lock/ql\\-t36\n"
            "The locks, one file per device address and port.\n"
            ".TP\n"
            ".I /etc/ql\\-t36/QL_T36.ini\n"
            "The device used when no device is given: section [LAN], keys ADR and PORT.\n"
            "The tool reads it as\n"
            ".IR /usr/lib/ql\\-t36/QL_T36.ini ,\n"
            "beside its executable.\n"
            ".SH EXAMPLES\n"
            ".nf\n");
    page += ExampleLines();
    page += QStringLiteral(".fi\n"
                           ".SH SEE ALSO\n"
                           ".BR ql\\-t36 (1),\n"
                           ".BR ql\\-t36\\-sim (1)\n");
    return page;
}

} // namespace cli
