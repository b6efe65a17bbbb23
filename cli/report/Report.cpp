#include "report/Report.h"

#include "io/Output.h"
#include "report/Trace.h"
#include "run/DeviceJob.h"
#include "run/Fleet.h"

#include <QFile>
#include <QTime>

namespace cli {

namespace {

std::unique_ptr<ReportSink> MakeSink(Report::Mode mode, const RunFacts &run,
                                     const CommandReport &command, Output &output, bool trace)
{
    switch (mode) {
    case Report::Mode::Json:
        return MakeJsonReport(run, command, output);
    case Report::Mode::Csv:
        return MakeCsvReport(run, command, output);
    case Report::Mode::Events:
        return MakeEventsReport(run, command, output);
    case Report::Mode::Human:
        break;
    }
    return MakeHumanReport(run, command, output, trace);
}

} // namespace

Report::Report(const RunFacts &run, const CommandReport &command, Mode mode, bool trace,
               Output &output, QFile *log, QObject *parent)
    : QObject(parent), m_run(run), m_output(output), m_trace(trace), m_log(log)
{
    if (m_log)
        Log(QStringLiteral("%1 ql-t36-cli %2: %3, %4 device(s)\n")
                    .arg(TimeText(QDateTime::currentDateTimeUtc()), ToolVersion(), run.commandName)
                    .arg(run.targets.size()));
    m_sink = MakeSink(mode, m_run, command, output, trace);
}

Report::~Report() = default;

void Report::Log(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    // Written through: what the log holds is there even if the run ends on a signal.
    if (m_log->write(bytes) != bytes.size() || !m_log->flush())
        m_output.Failed(m_log->fileName() + QStringLiteral(": ") + m_log->errorString());
}

void Report::Note(const QString &text)
{
    if (!m_trace && !m_log)
        return;
    const QString line = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"))
            + QStringLiteral(" ql-t36-cli -- ") + text + QLatin1Char('\n');
    if (m_trace)
        m_output.Err(line);
    if (m_log)
        Log(line);
}

void Report::Watch(Fleet &fleet)
{
    connect(&fleet, &Fleet::jobStarting, this, &Report::OnJobStarting);
    connect(&fleet, &Fleet::deviceFinished, this,
            [this](const Outcome &outcome) { m_sink->DeviceFinished(outcome); });
}

void Report::OnJobStarting(DeviceJob *job)
{
    if (m_trace || m_log) {
        TraceJob(*job, [this](const QString &line) {
            if (m_trace)
                m_output.Err(line);
            if (m_log)
                Log(line);
        });
    }
    m_sink->JobStarting(*job);
}

void Report::Conclude(const QList<Outcome> &outcomes, int signalNumber)
{
    m_sink->Conclude(outcomes, signalNumber);
}

} // namespace cli
