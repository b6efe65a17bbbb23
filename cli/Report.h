#pragma once

#include "Options.h"
#include "Request.h"

#include <QList>
#include <QObject>
#include <QSet>
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
inline constexpr int ExitInterrupted = 130;

// What the run says: as it goes, one line per device (failures on the error output) and a
// flash's progress, then a summary; or, with --json, one document at the end and nothing
// before it. With --trace, the traffic of every job on the error output.
class Report : public QObject
{
    Q_OBJECT

public:
    Report(const Invocation &invocation, Output &output, QObject *parent = nullptr);

    void Watch(Fleet &fleet);
    // The summary or the JSON document, after the run (whole or interrupted).
    void Conclude(const QList<Outcome> &outcomes, bool interrupted);
    static int ExitStatus(const CommandDef &command, const QList<Outcome> &outcomes,
                          bool interrupted);

private:
    void OnJobStarting(DeviceJob *job);
    void OnDeviceFinished(const Outcome &outcome);
    QString ResultText(const Outcome &outcome) const;
    QString Json(const QList<Outcome> &outcomes) const;

    QString m_commandName;
    const CommandDef &m_command;
    Output &m_output;
    bool m_json;
    bool m_trace;
    Progress *m_progress = nullptr;
    QSet<QString> m_reported;
};

} // namespace cli
