#include "report/DeviceLines.h"

#include "io/Output.h"
#include "report/Progress.h"
#include "report/Sinks.h"

namespace cli {

DeviceLines::DeviceLines(const RunFacts &run, const CommandReport &command, Output &output,
                         bool successes)
    : m_run(run), m_command(command), m_output(output), m_successes(successes)
{
    for (const Target &target : run.targets)
        m_order.append(target.Label());
}

void DeviceLines::Finished(const Outcome &outcome)
{
    m_finished.insert(outcome.target.Label(), outcome);
    // Copied, not taken: GCC 12 at -O3 (the Windows build) takes the optional members of a
    // moved-out outcome for uninitialised.
    for (auto next = m_finished.constFind(m_order.value(m_printed)); next != m_finished.cend();
         next = m_finished.constFind(m_order.value(m_printed))) {
        const Outcome ready = next.value();
        m_finished.erase(next);
        ++m_printed;
        Print(ready);
    }
}

void DeviceLines::Rest(const QList<Outcome> &outcomes)
{
    for (const Outcome &outcome : outcomes) {
        if (m_printed < m_order.size() && outcome.target.Label() == m_order[m_printed]) {
            ++m_printed;
            Print(outcome);
        }
    }
}

void DeviceLines::Print(const Outcome &outcome)
{
    if (!IsListed(m_run.search, outcome) || (outcome.ok && !m_successes))
        return;
    // One arg() call: a device's text may hold "%1" itself.
    const QString line = QStringLiteral("%1  %2  (%3 s)\n")
                                 .arg(outcome.target.Label(), DeviceResultText(m_command, outcome),
                                      QString::number(outcome.seconds, 'f', 1));
    if (m_progress)
        outcome.ok ? m_progress->PrintOut(line) : m_progress->PrintErr(line);
    else
        outcome.ok ? m_output.Out(line) : m_output.Err(line);
}

} // namespace cli
