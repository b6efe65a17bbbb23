#include "Tool.h"

#include "Fleet.h"
#include "Output.h"
#include "Report.h"

namespace cli {

Tool::Tool(Output &output, QObject *parent) : QObject(parent), m_output(output) { }

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
    if (parsed.invocation.help) {
        m_output.Out(HelpText());
        m_exitStatus = ExitOk;
        return false;
    }
    m_invocation = parsed.invocation;
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
        m_report->Conclude(outcomes, m_fleet->Interrupted());
        m_exitStatus =
                Report::ExitStatus(*m_invocation.request.command, outcomes, m_fleet->Interrupted());
        Q_EMIT finished(m_exitStatus);
    });
    m_fleet->Start();
}

void Tool::Interrupt()
{
    if (m_fleet)
        m_fleet->Interrupt();
}

} // namespace cli
