#pragma once

#include "app/Arguments.h"
#include "run/Outcome.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QFile;

namespace cli {

struct CommandDef;
class DeviceJob;
class Events;
class Fleet;
class Output;
class Progress;

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
// An interrupted run ends with 128 plus the signal's number: 130 for SIGINT, 143 for SIGTERM.
inline constexpr int ExitSignalBase = 128;
// Of the JSON document and the events; a change that could break a reader raises it.
inline constexpr int FormatVersion = 3;

// What the run says: as it goes, one line per device (failures on the error output) in the
// order the devices were given, and a flash's progress, then a summary (or inventory's table);
// with --json one document at the end and nothing before it; with --csv one table at the end;
// with --events a line per event as it happens. With --trace and --log, the traffic of every
// job on the error output and in the log. A device's texts are shown escaped, JSON aside.
class Report : public QObject
{
    Q_OBJECT

public:
    // `invocation` and `log` (if any, open for appending) outlive the report.
    Report(const Invocation &invocation, Output &output, QFile *log, QObject *parent = nullptr);
    ~Report() override;

    void Watch(Fleet &fleet);
    // The summary, table or document, after the run (whole, or interrupted by the signal
    // `signalNumber`).
    void Conclude(const QList<Outcome> &outcomes, int signalNumber);
    static int ExitStatus(const Invocation &invocation, const QList<Outcome> &outcomes,
                          int signalNumber);

private:
    enum class Mode { Human, Json, Csv, Events };

    void OnJobStarting(DeviceJob *job);
    void OnDeviceFinished(const Outcome &outcome);
    void Print(const Outcome &outcome);
    bool Listed(const Outcome &outcome) const;
    QString ResultText(const Outcome &outcome) const;
    QString ImageText() const;
    QString PlanText(const QList<Outcome> &outcomes) const;
    QString Table(const QList<Outcome> &outcomes) const;
    QString Summary(const QList<Outcome> &outcomes, int signalNumber) const;
    QJsonObject DeviceEntry(const Outcome &outcome) const;
    QJsonObject ImageEntry() const;
    QString Json(const QList<Outcome> &outcomes) const;
    void Log(const QString &line);

    const Invocation &m_invocation; // outlives the report
    const CommandDef &m_command;
    Output &m_output;
    Mode m_mode;
    bool m_search;
    bool m_plan; // a dry run that sends nothing
    bool m_trace;
    QFile *m_log;
    std::unique_ptr<Events> m_events;
    Progress *m_progress = nullptr;
    QDateTime m_start;
    // Devices in the order given; those finished wait for the ones before them.
    QStringList m_order;
    qsizetype m_printed = 0;
    QHash<QString, Outcome> m_finished;
    QSet<QString> m_told; // --events: whose outcome has been said
};

} // namespace cli
