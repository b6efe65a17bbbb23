#pragma once

#include <QJsonObject>
#include <QString>

namespace cli {

class DeviceJob;
class Output;

// --events: the run as JSON Lines on standard output while it goes, for a dashboard or a
// window around the tool. Each line is one object with "seq" (from 1, across the whole run),
// "time" (UTC, to the millisecond), "device" (HOST:PORT, null for the run's own) and "event":
// "run start", "connect", "connect failed", "command", "reply", "block start", "block end",
// "retry", "outcome" (a device's entry as in the JSON document) and "run end".
class Events
{
public:
    explicit Events(Output &output) : m_output(output) { }

    void Emit(const QString &device, const QString &event, QJsonObject fields = {});
    void WatchJob(DeviceJob &job);

private:
    Output &m_output;
    qint64 m_sequence = 0;
};

} // namespace cli
