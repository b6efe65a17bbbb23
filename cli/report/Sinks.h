#pragma once

#include "report/CommandReport.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <memory>

namespace cli {

class DeviceJob;
class Output;

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
// An interrupted run ends with 128 plus the signal's number: 130 for SIGINT, 143 for SIGTERM.
inline constexpr int ExitSignalBase = 128;
// Of the JSON document and the events; a change that could break a reader raises it.
inline constexpr int FormatVersion = 3;

// What --version, the JSON document, the events and the log name.
QString ToolVersion();

// One way of telling a run, chosen once for it: told of each job as it starts and of each
// device as it finishes, then of the run's end. `run`, `command` and `output` outlive it.
class ReportSink
{
public:
    virtual ~ReportSink() = default;

    // Before the job's first step, so that its first command can be watched.
    virtual void JobStarting(DeviceJob &job) { Q_UNUSED(job); }
    virtual void DeviceFinished(const Outcome &outcome) = 0;
    // The run is over, whole or interrupted by the signal `signalNumber`.
    virtual void Conclude(const QList<Outcome> &outcomes, int signalNumber) = 0;
};

// A line per device in the order given (failures on the error output) and a flash's progress,
// live on a terminal unless `trace` writes there too; then the command's table or plan, and a
// summary.
std::unique_ptr<ReportSink> MakeHumanReport(const RunFacts &run, const CommandReport &command,
                                            Output &output, bool trace);
// One document at the end, nothing before it.
std::unique_ptr<ReportSink> MakeJsonReport(const RunFacts &run, const CommandReport &command,
                                           Output &output);
// Failures as they come, on the error output; one table at the end.
std::unique_ptr<ReportSink> MakeCsvReport(const RunFacts &run, const CommandReport &command,
                                          Output &output);
// A line per event as it happens.
std::unique_ptr<ReportSink> MakeEventsReport(const RunFacts &run, const CommandReport &command,
                                             Output &output);

// What the sinks share.

// A search lists the devices that answered, and an address without a device is no failure.
bool IsListed(bool search, const Outcome &outcome);
qsizetype CountOk(const QList<Outcome> &outcomes);
// Devices that failed; for a search, of those that answered (the others count as scanned only).
qsizetype CountFailed(bool search, const QList<Outcome> &outcomes);
int ExitStatus(bool search, const QList<Outcome> &outcomes, int signalNumber);
// A device's entry in the JSON document and its "outcome" event.
QJsonObject DeviceEntry(const CommandReport &command, const Outcome &outcome);
// The human report's text for a device, escaped: a device's own text could drive the terminal.
QString DeviceResultText(const CommandReport &command, const Outcome &outcome);
QString TimeText(const QDateTime &time);

} // namespace cli
