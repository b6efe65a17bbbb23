#include "report/DeviceLines.h"
#include "report/Progress.h"
#include "report/Sinks.h"

#include "io/Console.h"
#include "io/Output.h"
#include "run/DeviceJob.h"

#include <QHash>

#include <algorithm>

namespace cli {

namespace {

class HumanReport final : public ReportSink
{
public:
    HumanReport(const RunFacts &run, const CommandReport &command, Output &output, bool trace)
        : m_run(run),
          m_command(command),
          m_output(output),
          m_lines(run, command, output, !command.Table() && !command.PlanReport())
    {
        const std::optional<download::DownloadPlan> download = command.Download();
        if (download && !command.PlanReport()) {
            // Trace lines in between would break the live lines' redrawing.
            m_progress =
                    std::make_unique<Progress>(*download, output, output.OutIsTerminal() && !trace);
            m_lines.PrintAbove(m_progress.get());
        }
    }

    void JobStarting(DeviceJob &job) override
    {
        if (!m_progress)
            return;
        Progress *progress = m_progress.get();
        progress->Watch(&job);
        QObject::connect(&job, &DeviceJob::finished, progress,
                         [progress, watched = &job] { progress->Forget(watched); });
    }

    void DeviceFinished(const Outcome &outcome) override { m_lines.Finished(outcome); }

    void Conclude(const QList<Outcome> &outcomes, int signalNumber) override
    {
        if (m_command.PlanReport()) {
            m_output.Out(m_command.PlanText(outcomes, m_run, [this](const Outcome &outcome) {
                return DeviceResultText(m_command, outcome);
            }));
            if (!m_command.SendsNothing())
                m_output.Out(Summary(outcomes, signalNumber));
            return;
        }
        m_lines.Rest(outcomes);
        if (m_command.Table())
            m_output.Out(Table(outcomes));
        m_output.Out(m_command.Note());
        m_output.Out(Summary(outcomes, signalNumber));
    }

private:
    QString Table(const QList<Outcome> &outcomes) const
    {
        QList<QStringList> rows;
        QStringList header{ QStringLiteral("DEVICE") };
        for (const ResultField *field : m_command.Fields()) {
            for (const QString &column : field->csvColumns)
                header.append(column.toUpper());
        }
        rows.append(header);
        for (const Outcome &outcome : outcomes) {
            if (!IsListed(m_run.search, outcome))
                continue;
            QStringList row{ outcome.target.Label() };
            for (const ResultField *field : m_command.Fields()) {
                for (const QString &cell : field->csv(outcome))
                    row.append(cell.isEmpty() ? QStringLiteral("-") : EscapedText(cell));
            }
            rows.append(row);
        }
        QList<qsizetype> widths(header.size(), 0);
        for (const QStringList &row : std::as_const(rows)) {
            for (qsizetype i = 0; i < row.size(); ++i)
                widths[i] = std::max(widths[i], row[i].size());
        }
        QString table;
        for (const QStringList &row : std::as_const(rows)) {
            QString line;
            for (qsizetype i = 0; i < row.size(); ++i)
                line += row[i].leftJustified(widths[i] + 2);
            table += line.trimmed() + QLatin1Char('\n');
        }
        return table;
    }

    QString Summary(const QList<Outcome> &outcomes, int signalNumber) const
    {
        const QString ending = signalNumber != 0 ? QStringLiteral(" (interrupted)") : QString();
        if (m_run.search) {
            const auto answered =
                    std::count_if(outcomes.begin(), outcomes.end(),
                                  [this](const Outcome &o) { return IsListed(m_run.search, o); });
            return QStringLiteral("%1 addresses scanned, %2 answered%3\n")
                    .arg(outcomes.size())
                    .arg(answered)
                    .arg(ending);
        }
        // What else became of the devices, in the order first seen.
        QStringList statuses;
        QHash<QString, int> counts;
        for (const Outcome &outcome : outcomes) {
            if (outcome.status == QLatin1String("ok") || outcome.status == QLatin1String("failed"))
                continue;
            if (!counts.contains(outcome.status))
                statuses.append(outcome.status);
            ++counts[outcome.status];
        }
        QStringList tally;
        for (const QString &status : std::as_const(statuses))
            tally.append(QStringLiteral("%1 %2").arg(counts.value(status)).arg(status));
        const qsizetype ok = CountOk(outcomes);
        return QStringLiteral("%1 ok, %2 failed%3%4\n")
                .arg(ok)
                .arg(outcomes.size() - ok)
                .arg(tally.isEmpty() ? QString()
                                     : QStringLiteral(" (") + tally.join(QStringLiteral(", "))
                                     + QLatin1Char(')'))
                .arg(ending);
    }

    const RunFacts &m_run;
    const CommandReport &m_command;
    Output &m_output;
    DeviceLines m_lines;
    std::unique_ptr<Progress> m_progress;
};

} // namespace

std::unique_ptr<ReportSink> MakeHumanReport(const RunFacts &run, const CommandReport &command,
                                            Output &output, bool trace)
{
    return std::make_unique<HumanReport>(run, command, output, trace);
}

} // namespace cli
