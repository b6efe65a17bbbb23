#include "Tool.h"

#include "Fleet.h"
#include "Output.h"
#include "Report.h"

namespace cli {

namespace {

const QString ToolVersion = QStringLiteral(QLT36_VERSION);

} // namespace

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
    if (parsed.invocation.help || parsed.invocation.version) {
        m_output.Out(parsed.invocation.help ? HelpText()
                                            : QStringLiteral("ql-t36-cli %1\n").arg(ToolVersion));
        m_exitStatus = m_output.Failure().isEmpty() ? ExitOk : ExitFailed;
        return false;
    }
    m_invocation = parsed.invocation;
    m_signalNumber = m_invocation.signalNumber;
    return true;
}

void Tool::Start()
{
    m_fleet =
            std::make_unique<Fleet>(m_invocation.targets, m_invocation.request, m_invocation.jobs);
    m_report = std::make_unique<Report>(m_invocation, m_output);
    m_report->Watch(*m_fleet);
    connect(m_fleet.get(), &Fleet::finished, this, [this] {
        const QList<Outcome> outcomes = m_fleet->Outcomes();
        m_report->Conclude(outcomes, m_signalNumber);
        m_exitStatus = Report::ExitStatus(*m_invocation.request.command, outcomes, m_signalNumber);
        if (!m_output.Failure().isEmpty()) {
            // Said where it may still be seen.
            m_output.Err(
                    QStringLiteral("ql-t36-cli: cannot write to %1\n").arg(m_output.Failure()));
            m_exitStatus = ExitFailed;
        }
        Q_EMIT finished(m_exitStatus);
    });
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
