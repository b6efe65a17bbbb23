#pragma once

#include "Options.h"
#include "Request.h"

#include <QList>
#include <QObject>
#include <QHash>
#include <QStringList>
#include <QString>

namespace cli {

struct CommandDef;
class DeviceJob;
class Fleet;
class Output;
class Progress;

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
// An interrupted run ends with 128 plus the signal's number: 130 for SIGINT, 143 for SIGTERM.
inline constexpr int ExitSignalBase = 128;

// What the run says: as it goes, one line per device (failures on the error output) in the
// order the devices were given, and a flash's progress, then a summary; or, with --json, one
// document at the end and nothing before it. With --trace, the traffic of every job on the
// error output. A device's texts are shown escaped, JSON aside.
class Report : public QObject
{
    Q_OBJECT

public:
    Report(const Invocation &invocation, Output &output, QObject *parent = nullptr);

    void Watch(Fleet &fleet);
    // The summary or the JSON document, after the run (whole, or interrupted by the signal
    // `signalNumber`).
    void Conclude(const QList<Outcome> &outcomes, int signalNumber);
    static int ExitStatus(const CommandDef &command, const QList<Outcome> &outcomes,
                          int signalNumber);

private:
    void OnJobStarting(DeviceJob *job);
    void OnDeviceFinished(const Outcome &outcome);
    void Print(const Outcome &outcome);
    QString ResultText(const Outcome &outcome) const;
    QString ImageText() const;
    QString Json(const QList<Outcome> &outcomes) const;

    QString m_commandName;
    const CommandDef &m_command;
    Output &m_output;
    bool m_json;
    bool m_trace;
    Progress *m_progress = nullptr;
    // Devices in the order given; those finished wait for the ones before them.
    QStringList m_order;
    qsizetype m_printed = 0;
    QHash<QString, Outcome> m_finished;
    // flash: the image's length and how much of it is written.
    qint64 m_imageLength = 0;
    qint64 m_imageWritten = 0;
};

} // namespace cli
