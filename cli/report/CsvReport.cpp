#include "report/DeviceLines.h"
#include "report/Sinks.h"

#include "io/Csv.h"
#include "io/Output.h"

#include <algorithm>
#include <iterator>

namespace cli {

namespace {

class CsvReport final : public ReportSink
{
public:
    CsvReport(const RunFacts &run, const CommandReport &command, Output &output)
        : m_run(run), m_command(command), m_output(output), m_lines(run, command, output, false)
    {
    }

    void DeviceFinished(const Outcome &outcome) override { m_lines.Finished(outcome); }

    void Conclude(const QList<Outcome> &outcomes, int signalNumber) override
    {
        Q_UNUSED(signalNumber);
        m_lines.Rest(outcomes);
        QList<Outcome> listed;
        std::copy_if(outcomes.begin(), outcomes.end(), std::back_inserter(listed),
                     [this](const Outcome &o) { return IsListed(m_run.search, o); });
        m_output.Out(Table(listed));
    }

private:
    // A header line ("device" and each field's columns), then one line per outcome, in order.
    QString Table(const QList<Outcome> &outcomes) const
    {
        QStringList header{ QStringLiteral("device") };
        for (const ResultField *field : m_command.Fields())
            header += field->csvColumns;
        QString table = CsvLine(header);
        for (const Outcome &outcome : outcomes) {
            QStringList row{ outcome.target.Label() };
            for (const ResultField *field : m_command.Fields())
                row += field->csv(outcome);
            table += CsvLine(row);
        }
        return table;
    }

    const RunFacts &m_run;
    const CommandReport &m_command;
    Output &m_output;
    DeviceLines m_lines;
};

} // namespace

std::unique_ptr<ReportSink> MakeCsvReport(const RunFacts &run, const CommandReport &command,
                                          Output &output)
{
    return std::make_unique<CsvReport>(run, command, output);
}

} // namespace cli
