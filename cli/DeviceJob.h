#pragma once

#include "Request.h"

#include "core/DeviceSession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace cli {

// One device's part of the run on its own session: connect (never the waiting form), then one
// read, one set or one flash, and close. Everything it waits for is bounded: the connect by the
// link, a reply by the reply timer, a flash by the download's own waits.
class DeviceJob : public QObject
{
    Q_OBJECT

public:
    DeviceJob(const Target &target, const Request &request, QObject *parent = nullptr);

    void Start();
    // Stops at once: no further byte to the device, a block under way has its connection
    // closed, never continued. The outcome says "interrupted" unless the job was done already.
    void Interrupt();

    bool IsDone() const { return m_done; }
    const Outcome &Result() const { return m_outcome; }
    const Request &Asked() const { return m_request; }
    core::DeviceSession &Session() { return m_session; }
    // Since Start(); 0 before it.
    double Seconds() const;

Q_SIGNALS:
    void blockFinished(const cli::BlockResult &block);
    void finished();

private:
    enum class Ending { Close, Abort };

    void OnConnected();
    void Ask();
    void OnDownloadStopped(bool succeeded);
    void End(bool ok, const QString &error, Ending how = Ending::Close);

    Request m_request;
    core::DeviceSession m_session;
    QTimer m_replyTimer;
    QElapsedTimer m_clock;
    Outcome m_outcome;
    bool m_done = false;
};

} // namespace cli
