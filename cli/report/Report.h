#pragma once

#include "report/CommandReport.h"
#include "report/Sinks.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QFile;

namespace cli {

class DeviceJob;
class Fleet;
class Output;

// What the run says, through the sink its mode chooses: as it goes, one line per device
// (failures on the error output) in the order the devices were given, and a flash's progress,
// then a summary (or the command's table or plan); with --json one document at the end and
// nothing before it; with --csv one table at the end; with --events a line per event as it
// happens. Whatever the mode, --trace and --log write the traffic of every job on the error
// output and in the log. A device's texts are shown escaped, JSON aside.
class Report : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Human, Json, Csv, Events };

    // `command`, `output` and `log` (if any, open for appending) outlive the report.
    Report(const RunFacts &run, const CommandReport &command, Mode mode, bool trace, Output &output,
           QFile *log, QObject *parent = nullptr);
    ~Report() override;

    void Watch(Fleet &fleet);
    // After the run (whole, or interrupted by the signal `signalNumber`).
    void Conclude(const QList<Outcome> &outcomes, int signalNumber);
    // A line of the trace about the run as a whole.
    void Note(const QString &text);

private:
    void OnJobStarting(DeviceJob *job);
    void Log(const QString &line);

    const RunFacts m_run;
    Output &m_output;
    bool m_trace;
    QFile *m_log;
    std::unique_ptr<ReportSink> m_sink;
};

} // namespace cli
