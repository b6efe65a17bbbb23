#include "app/GlobalOptions.h"

#include "commands/Command.h"
#include "commands/Scan.h"

namespace cli {

namespace {

constexpr int MaxSettleMs = 10000;

QList<OptionDef> MakeGlobalOptions()
{
    OptionDef device{
        { QStringLiteral("d"), QStringLiteral("device") },
        QStringLiteral("HOST[:PORT]"),
        QStringLiteral("one device: HOST a dotted-decimal IPv4 address, PORT 1-65535, default %1")
                .arg(DefaultPort),
        [](Invocation &invocation, const QStringList &values) { invocation.deviceTexts += values; },
        OptionDef::Group::Devices,
        QStringLiteral("One device:\n"
                       ".I HOST\n"
                       "a dotted\\-decimal IPv4 address,\n"
                       ".I PORT\n"
                       "1 to 65535, default %1.")
                .arg(DefaultPort),
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
        QStringLiteral("Devices from\n"
                       ".IR FILE ,\n"
                       "one\n"
                       ".IR HOST [: PORT ]\n"
                       "a line; blank lines and lines starting with # are skipped.\n"
                       ".I FILE\n"
                       "may be a pipe, or \\- for standard input: it is read to its end."),
    };
    return {
        device,
        devices,
        Documented(Flag({ QStringLiteral("json") },
                        QStringLiteral("one JSON document on stdout instead of the report"),
                        [](Invocation &invocation) { invocation.json = true; }),
                   QStringLiteral("Print one JSON document on standard output instead of the "
                                  "report.")),
        Documented(Flag({ QStringLiteral("csv") },
                        QStringLiteral("one CSV table on stdout instead of the report (commands "
                                       "that read; failures still on stderr)"),
                        [](Invocation &invocation) { invocation.csv = true; }),
                   QStringLiteral("Print one CSV table (RFC 4180: a header line, CR LF line "
                                  "ends, quoted cells\n"
                                  "where needed) on standard output instead of the report, for "
                                  "the commands that\n"
                                  "read; failures are still reported on standard error.")),
        Documented(Flag({ QStringLiteral("events") },
                        QStringLiteral("JSON Lines on stdout as the run goes, instead of the "
                                       "report: connect, command, reply, block start and end, "
                                       "retry, each device's outcome"),
                        [](Invocation &invocation) { invocation.events = true; }),
                   QStringLiteral("Print JSON Lines on standard output as the run goes instead "
                                  "of the report (see\n"
                                  "EVENTS).")),
        Documented(Flag({ QStringLiteral("trace") },
                        QStringLiteral("every command, reply line and block (address, length, "
                                       "CRC-32) on stderr, timestamped"),
                        [](Invocation &invocation) { invocation.trace = true; }),
                   QStringLiteral("Log every command, reply line and block (address, length, "
                                  "CRC\\-32) on standard\n"
                                  "error, with time stamps.")),
        Documented(OptionDef{ { QStringLiteral("log") },
                              QStringLiteral("FILE"),
                              QStringLiteral("the trace of --trace appended to FILE, the report "
                                             "still on the terminal"),
                              [](Invocation &invocation, const QStringList &values) {
                                  invocation.logPath = values.constLast();
                              } },
                   QStringLiteral("Append the trace of\n"
                                  ".B \\-\\-trace\n"
                                  "to\n"
                                  ".IR FILE ,\n"
                                  "written through, while the report goes to the terminal.\n"
                                  "A pipe is written as it stands; its reader is waited for.")),
        Documented(Integer({ QStringLiteral("j"), QStringLiteral("jobs") }, QStringLiteral("N"),
                           QStringLiteral("devices handled at once"), 1, MaxJobs, DefaultJobs,
                           [](Invocation &invocation) -> int & { return invocation.fleet.jobs; }),
                   QStringLiteral("Devices handled at once, 1 to %1 (default %2).\n"
                                  "Each device under way holds a socket and its lock file: where "
                                  "the open\\-file limit\n"
                                  "is lower than the run needs, its soft limit is raised as far as "
                                  "the hard limit\n"
                                  "allows\n"
                                  ".RB ( \\-\\-trace\n"
                                  "says so), and a run that would still not fit is refused with "
                                  "the figures.\n"
                                  "A firmware image is held once for all devices.")
                           .arg(MaxJobs)
                           .arg(DefaultJobs)),
        Documented(Seconds({ QStringLiteral("connect-timeout") },
                           QStringLiteral("the bound on each connection attempt (%1 s for a "
                                          "search)")
                                   .arg(ScanConnectTimeoutMs / 1000),
                           MaxTimeoutSeconds, core::DeviceLink::DefaultConnectTimeoutMs,
                           [](Invocation &invocation) -> int & {
                               return invocation.connectTimeoutMs;
                           }),
                   QStringLiteral("The bound on each connection attempt, above 0 and up to %1 "
                                  "(default %2;\n"
                                  "%3 for a search).")
                           .arg(MaxTimeoutSeconds)
                           .arg(core::DeviceLink::DefaultConnectTimeoutMs / 1000)
                           .arg(ScanConnectTimeoutMs / 1000)),
        Documented(Seconds({ QStringLiteral("timeout") },
                           QStringLiteral("reply wait for reads and sets"), MaxTimeoutSeconds,
                           DefaultReplyTimeoutMs,
                           [](Invocation &invocation) -> int & {
                               return invocation.job.replyTimeoutMs;
                           }),
                   QStringLiteral("The reply wait of reads and sets, above 0 and up to %1 "
                                  "(default %2).")
                           .arg(MaxTimeoutSeconds)
                           .arg(DefaultReplyTimeoutMs / 1000)),
        Documented(Integer({ QStringLiteral("settle") }, QStringLiteral("MS"),
                           QStringLiteral("after connecting, wait this many milliseconds before "
                                          "the first command and ignore what the device says "
                                          "meanwhile (0: do not wait)"),
                           0, MaxSettleMs, DefaultSettleMs,
                           [](Invocation &invocation) -> int & { return invocation.job.settleMs; }),
                   QStringLiteral("After connecting, wait\n"
                                  ".I MS\n"
                                  "milliseconds (0 to %1, default %2; 0 does not wait) before the "
                                  "first\n"
                                  "command, and ignore what the device says meanwhile: a greeting "
                                  "or a stale\n"
                                  "reply that arrives within it is never taken for an answer.\n"
                                  "What the device sends by itself after it, once a command was "
                                  "written, cannot\n"
                                  "be told from the answer to that command (see REPLIES).")
                           .arg(MaxSettleMs)
                           .arg(DefaultSettleMs)),
        // The parser reads these two itself: they end the run before anything else is read.
        OptionDef{ { QStringLiteral("version") },
                   QString(),
                   QStringLiteral("the tool's version"),
                   nullptr,
                   OptionDef::Group::General,
                   QStringLiteral("Print the tool's version, and exit.") },
        OptionDef{ { QStringLiteral("h"), QStringLiteral("help") },
                   QString(),
                   QStringLiteral("this text"),
                   nullptr,
                   OptionDef::Group::General,
                   QStringLiteral("Print the commands and options, and exit.") },
    };
}

} // namespace

const QList<OptionDef> &GlobalOptions()
{
    static const QList<OptionDef> options = MakeGlobalOptions();
    return options;
}

} // namespace cli
