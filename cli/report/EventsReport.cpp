#include "report/Sinks.h"

#include "io/Output.h"
#include "run/DeviceJob.h"

#include "protocol/Commands.h"

#include <QJsonDocument>
#include <QSet>

namespace cli {

namespace {

// A command or reply without its line end, which every one of them has.
QString Text(const QByteArray &bytes)
{
    QByteArray text = bytes;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    return protocol::FromWire(text);
}

// --events: the run as JSON Lines on standard output while it goes, for a dashboard or a
// window around the tool. Each line is one object with "seq" (from 1, across the whole run),
// "time" (UTC, to the millisecond), "device" (HOST:PORT, null for the run's own) and "event":
// "run start", "connect", "connect failed", "command", "reply", "block start", "block end",
// "retry", "outcome" (a device's entry as in the JSON document) and "run end".
class EventsReport final : public ReportSink
{
public:
    EventsReport(const RunFacts &run, const CommandReport &command, Output &output)
        : m_run(run), m_command(command), m_output(output)
    {
        Emit(QString(), QStringLiteral("run start"),
             { { QStringLiteral("command"), run.commandName },
               { QStringLiteral("devices"), run.targets.size() },
               { QStringLiteral("toolVersion"), ToolVersion() },
               { QStringLiteral("formatVersion"), FormatVersion },
               { QStringLiteral("dryRun"), command.DryRun() } });
    }

    void JobStarting(DeviceJob &job) override;

    void DeviceFinished(const Outcome &outcome) override
    {
        m_told.insert(outcome.target.Label());
        Emit(outcome.target.Label(), QStringLiteral("outcome"), DeviceEntry(m_command, outcome));
    }

    void Conclude(const QList<Outcome> &outcomes, int signalNumber) override
    {
        for (const Outcome &outcome : outcomes) {
            if (!m_told.contains(outcome.target.Label()))
                Emit(outcome.target.Label(), QStringLiteral("outcome"),
                     DeviceEntry(m_command, outcome));
        }
        Emit(QString(), QStringLiteral("run end"),
             { { QStringLiteral("ok"), CountOk(outcomes) },
               { QStringLiteral("failed"), CountFailed(m_run.search, outcomes) },
               { QStringLiteral("interrupted"), signalNumber != 0 },
               { QStringLiteral("exitStatus"),
                 ExitStatus(m_run.search, outcomes, signalNumber) } });
    }

private:
    void Emit(const QString &device, const QString &event, QJsonObject fields = {});

    const RunFacts &m_run;
    const CommandReport &m_command;
    Output &m_output;
    qint64 m_sequence = 0;
    QSet<QString> m_told; // whose outcome has been said
};

void EventsReport::Emit(const QString &device, const QString &event, QJsonObject fields)
{
    fields.insert(QStringLiteral("seq"), ++m_sequence);
    fields.insert(QStringLiteral("time"), TimeText(QDateTime::currentDateTimeUtc()));
    fields.insert(QStringLiteral("device"),
                  device.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(device));
    fields.insert(QStringLiteral("event"), event);
    m_output.Out(QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact))
                 + QLatin1Char('\n'));
}

void EventsReport::JobStarting(DeviceJob &job)
{
    const QString device = job.Result().target.Label();
    core::DeviceSession &session = job.Session();
    // Its own context: the job cuts its ties to the session when it ends, this does not.
    auto *context = new QObject(&job);
    QObject::connect(&session.Link(), &core::DeviceLink::connected, context,
                     [this, device] { Emit(device, QStringLiteral("connect")); });
    QObject::connect(&session.Link(), &core::DeviceLink::connectFailed, context,
                     [this, device](const QString &text, int code) {
                         Emit(device, QStringLiteral("connect failed"),
                              { { QStringLiteral("error"), WithCause(text, code) } });
                     });
    QObject::connect(&session, &core::DeviceSession::commandSent, context,
                     [this, device](const QByteArray &command) {
                         Emit(device, QStringLiteral("command"),
                              { { QStringLiteral("text"), Text(command) } });
                     });
    QObject::connect(&session, &core::DeviceSession::replyReceived, context,
                     [this, device](const QByteArray &line) {
                         Emit(device, QStringLiteral("reply"),
                              { { QStringLiteral("text"), Text(line) },
                                { QStringLiteral("ignored"), false } });
                     });
    QObject::connect(&session, &core::DeviceSession::replyIgnored, context,
                     [this, device](const QByteArray &line) {
                         Emit(device, QStringLiteral("reply"),
                              { { QStringLiteral("text"), Text(line) },
                                { QStringLiteral("ignored"), true } });
                     });
    QObject::connect(&session, &core::DeviceSession::blockAnnounced, context,
                     [this, device](quint32 address, qint32 length) {
                         Emit(device, QStringLiteral("block start"),
                              { { QStringLiteral("address"), qint64(address) },
                                { QStringLiteral("length"), length } });
                     });
    QObject::connect(&job, &DeviceJob::blockFinished, context,
                     [this, device](const BlockResult &block) {
                         Emit(device, QStringLiteral("block end"),
                              { { QStringLiteral("address"), qint64(block.address) },
                                { QStringLiteral("length"), block.length },
                                { QStringLiteral("result"), block.result } });
                     });
    QObject::connect(
            &job, &DeviceJob::retrying, context, [this, device](const QString &why, int attempt) {
                Emit(device, QStringLiteral("retry"),
                     { { QStringLiteral("why"), why }, { QStringLiteral("attempt"), attempt } });
            });
}

} // namespace

std::unique_ptr<ReportSink> MakeEventsReport(const RunFacts &run, const CommandReport &command,
                                             Output &output)
{
    return std::make_unique<EventsReport>(run, command, output);
}

} // namespace cli
