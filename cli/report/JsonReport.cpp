#include "report/Sinks.h"

#include "io/Output.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace cli {

namespace {

class JsonReport final : public ReportSink
{
public:
    JsonReport(const RunFacts &run, const CommandReport &command, Output &output)
        : m_run(run), m_command(command), m_output(output), m_start(QDateTime::currentDateTimeUtc())
    {
    }

    void DeviceFinished(const Outcome &outcome) override { Q_UNUSED(outcome); }

    void Conclude(const QList<Outcome> &outcomes, int signalNumber) override
    {
        Q_UNUSED(signalNumber);
        QJsonArray devices;
        for (const Outcome &outcome : outcomes) {
            if (IsListed(m_run.search, outcome))
                devices.append(DeviceEntry(m_command, outcome));
        }
        QJsonObject document{
            { QStringLiteral("command"), m_run.commandName },
            { QStringLiteral("toolVersion"), ToolVersion() },
            { QStringLiteral("formatVersion"), FormatVersion },
            { QStringLiteral("startTime"), TimeText(m_start) },
            { QStringLiteral("endTime"), TimeText(QDateTime::currentDateTimeUtc()) },
            { QStringLiteral("ok"), CountOk(outcomes) },
            { QStringLiteral("failed"), CountFailed(m_run.search, outcomes) },
            { QStringLiteral("devices"), devices },
        };
        if (m_run.search)
            document.insert(QStringLiteral("scanned"), outcomes.size());
        m_command.AddToDocument(document);
        if (m_command.DryRun())
            document.insert(QStringLiteral("dryRun"), true);
        m_output.Out(QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented)));
    }

private:
    const RunFacts &m_run;
    const CommandReport &m_command;
    Output &m_output;
    QDateTime m_start;
};

} // namespace

std::unique_ptr<ReportSink> MakeJsonReport(const RunFacts &run, const CommandReport &command,
                                           Output &output)
{
    return std::make_unique<JsonReport>(run, command, output);
}

} // namespace cli
