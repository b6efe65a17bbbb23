#include "app/Tool.h"

#include "app/Help.h"
#include "io/Output.h"
#include "report/Report.h"
#include "run/Fleet.h"

#include "platform/OpenFiles.h"
#include "platform/StreamRead.h"

#include <algorithm>

namespace cli {

Tool::Tool(Output &output, QObject *parent) : QObject(parent), m_output(output)
{
    // A report that cannot be written ends the run: nothing it does could be told.
    m_output.OnFailure([this] {
        if (m_fleet)
            m_fleet->Interrupt();
    });
}

Tool::~Tool() = default;

bool Tool::Prepare(const QStringList &arguments, const QString &programFolder)
{
    const ParsedArguments parsed = ParseArguments(arguments, programFolder);
    if (!parsed.error.isEmpty()) {
        m_output.Err(
                QStringLiteral("ql-t36-cli: %1\nTry 'ql-t36-cli --help'.\n").arg(parsed.error));
        m_exitStatus = ExitUsage;
        return false;
    }
    const Invocation &asked = parsed.invocation;
    if (asked.help || asked.version || !asked.helpFormat.isEmpty()) {
        m_output.Out(asked.help              ? HelpText()
                             : asked.version ? QStringLiteral("ql-t36-cli %1\n").arg(ToolVersion())
                                             : HelpDocument(asked.helpFormat));
        m_exitStatus = m_output.Failure().isEmpty() ? ExitOk : ExitFailed;
        return false;
    }
    m_invocation = parsed.invocation;
    m_signalNumber = m_invocation.signalNumber;
    if (!m_invocation.logPath.isEmpty() && m_signalNumber == 0) {
        // Appended to: the log of an earlier run is worth keeping.
        m_log = std::make_unique<QFile>(m_invocation.logPath);
        if (!platform::OpenForAppending(*m_log, &m_signalNumber)) {
            if (m_signalNumber != 0) {
                // Its reader never came: the run ends as interrupted, without a log.
                m_log.reset();
                return true;
            }
            m_output.Err(QStringLiteral("ql-t36-cli: cannot open the log %1: %2\n")
                                 .arg(m_invocation.logPath, m_log->errorString()));
            m_exitStatus = ExitUsage;
            return false;
        }
    }
    return CheckOpenFiles();
}

bool Tool::CheckOpenFiles()
{
    if (m_invocation.command->SendsNothing())
        return true;
    // Each device under way holds its socket and its lock file, and one that moved a second
    // socket for a moment; the rest is the program's own (its output, log, event loop).
    constexpr qint64 FilesPerDevice = 3;
    constexpr qint64 FilesBesides = 64;
    const qint64 devices = std::min<qint64>(m_invocation.fleet.jobs, m_invocation.targets.size());
    const qint64 needed = FilesPerDevice * devices + FilesBesides;
    const platform::OpenFileLimit limit = platform::EnsureOpenFiles(needed);
    if (!limit.enough) {
        m_output.Err(QStringLiteral("ql-t36-cli: %1 devices at once need up to %2 open files, but "
                                    "this process may open no more than %3 (its hard limit is "
                                    "%4): use a smaller -j\n")
                             .arg(devices)
                             .arg(needed)
                             .arg(limit.now)
                             .arg(limit.hard));
        m_exitStatus = ExitUsage;
        return false;
    }
    if (limit.now != limit.before)
        m_openFilesNote = QStringLiteral("open-file limit raised from %1 to %2 for %3 devices at "
                                         "once")
                                  .arg(limit.before)
                                  .arg(limit.now)
                                  .arg(devices);
    return true;
}

void Tool::Finish(const QList<Outcome> &outcomes)
{
    m_report->Conclude(outcomes, m_signalNumber);
    m_exitStatus = cli::ExitStatus(m_invocation.search, outcomes, m_signalNumber);
    if (!m_output.Failure().isEmpty()) {
        // Said where it may still be seen.
        m_output.Err(QStringLiteral("ql-t36-cli: cannot write to %1\n").arg(m_output.Failure()));
        m_exitStatus = ExitFailed;
    }
    Q_EMIT finished(m_exitStatus);
}

void Tool::Start()
{
    const Report::Mode mode = m_invocation.json ? Report::Mode::Json
            : m_invocation.csv                  ? Report::Mode::Csv
            : m_invocation.events               ? Report::Mode::Events
                                                : Report::Mode::Human;
    const RunFacts run{ m_invocation.commandName, m_invocation.targets, m_invocation.search,
                        m_invocation.job, m_invocation.fleet };
    const Command &command = *m_invocation.command;
    m_report =
            std::make_unique<Report>(run, command, mode, m_invocation.trace, m_output, m_log.get());
    if (!m_openFilesNote.isEmpty())
        m_report->Note(m_openFilesNote);
    if (command.SendsNothing() && m_signalNumber == 0) {
        // The plan, as every device would get it.
        QList<Outcome> planned;
        for (const Target &target : std::as_const(m_invocation.targets)) {
            Outcome outcome;
            outcome.target = target;
            outcome.ok = true;
            outcome.status = QStringLiteral("planned");
            planned.append(outcome);
        }
        Finish(planned);
        return;
    }
    // The jobs know no command: each is given the command's plan.
    const std::shared_ptr<const Command> planner = m_invocation.command;
    m_fleet = std::make_unique<Fleet>(
            m_invocation.targets, [planner](DeviceJob &job) { planner->Plan(job); },
            m_invocation.job, m_invocation.fleet);
    m_report->Watch(*m_fleet);
    connect(m_fleet.get(), &Fleet::finished, this, [this] { Finish(m_fleet->Outcomes()); });
    // A signal came while the command line was still being read: no device is contacted.
    if (m_signalNumber != 0)
        m_fleet->Interrupt();
    else
        m_fleet->Start();
}

void Tool::Interrupt(int signalNumber)
{
    if (m_signalNumber == 0)
        m_signalNumber = signalNumber;
    if (m_fleet)
        m_fleet->Interrupt();
}

} // namespace cli
