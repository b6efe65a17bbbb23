#pragma once

#include "report/CommandReport.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace cli {

class Output;
class Progress;

// The human report's line per device, in the order the devices were given: a device that
// finishes waits for those before it. Failures go to the error output; successes only when
// `successes` (a table, a CSV or a plan says their values at the end).
class DeviceLines
{
public:
    DeviceLines(const RunFacts &run, const CommandReport &command, Output &output, bool successes);

    // Lines go above its live lines from here on.
    void PrintAbove(Progress *progress) { m_progress = progress; }
    void Finished(const Outcome &outcome);
    // Those the run did not get to, in order.
    void Rest(const QList<Outcome> &outcomes);

private:
    void Print(const Outcome &outcome);

    const RunFacts &m_run;
    const CommandReport &m_command;
    Output &m_output;
    bool m_successes;
    Progress *m_progress = nullptr;
    QStringList m_order;
    qsizetype m_printed = 0;
    QHash<QString, Outcome> m_finished;
};

} // namespace cli
