#pragma once

#include "Request.h"

#include "core/DeviceSession.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace platform {
class FileLock;
}

namespace cli {

class DeviceJob;

// One exchange of a device's part of the run, on the job's connection.
struct Step
{
    enum class Wait {
        Reply, // bounded by the reply wait; a lost connection ends it
        Own, // bounded by the step's own waits (a connect's, a download's), which see a lost
        // connection too
    };
    Wait wait = Wait::Reply;
    // The reply prefix a Reply step waits for ("ACK_REC_IP:"), for its time-out's message.
    QString answer;
    // Sends the step's command and ends it with job.StepDone() or job.Fail(). Connections made
    // with `context` are cut when the step ends.
    std::function<void(DeviceJob &job, QObject *context)> start;
    // A read that may go unanswered: its time-out is noted under this name ("mac") and the job
    // goes on, so the other reads still report. Empty: a time-out ends the job.
    QString keepGoing;
    // A set: once its command is written the device may have taken it, so an answer that does
    // not come leaves the device's state unknown, and the failure (or an interrupt) says so.
    bool sets = false;
    // Runs instead of failing the job when the step's answer does not come: the connection ended
    // under it or the reply wait ran out. It ends the step itself.
    std::function<void(DeviceJob &job, const QString &why)> unanswered = nullptr;
};

// The link's text with the plain words for its Winsock code.
QString WithCause(const QString &text, int code);

// One device's part of the run on its own session, under the device's lock: connect (never the
// waiting form), let the connection settle, then the command's steps one after another on that
// connection, and close. Replies are strict: only a line that answers what was written counts.
// Everything it waits for is bounded: the connect by the link, a reply by the reply timer, a
// flash by the download's own waits.
class DeviceJob : public QObject
{
    Q_OBJECT

public:
    DeviceJob(const Target &target, const Request &request, QObject *parent = nullptr);
    ~DeviceJob() override;

    void Start();
    // Stops at once: no further byte to the device, a block under way has its connection reset,
    // never continued, and is named in the outcome. The outcome says "interrupted" unless the
    // job was done already.
    void Interrupt();
    // Ends a job that will not start, with `status` ("not started") and why (the status, if
    // nothing else is said).
    void Forgo(const QString &status, const QString &why = QString());

    bool IsDone() const { return m_done; }
    const Outcome &Result() const { return m_outcome; }
    const Request &Asked() const { return m_request; }
    core::DeviceSession &Session() { return m_session; }
    // Since Start(); 0 before it.
    double Seconds() const;

    // For the command's plan and its steps.
    void Then(Step step);
    Outcome &Values() { return m_outcome; }
    void StepDone();
    void Fail(const QString &error);
    // Ends the job now as a success that says `status` ("skipped", "unchanged"); the steps left
    // do not run.
    void Finish(const QString &status);
    // Starts the device's part over on a fresh connection after a short back-off, if attempts
    // are left and neither a block byte nor a set has been written; false otherwise (the caller
    // fails).
    bool Retry(const QString &why);
    // Puts `steps` in place of those left.
    void Instead(QList<Step> steps);
    // What to do, once, when the device cannot be reached (its connect failed and no retry is
    // left): `elsewhere` returns true when it took over. The first connection made disarms it.
    void WhenUnreachable(std::function<bool(DeviceJob &job, const QString &why)> elsewhere);
    // For the connect step: false when nothing took over, and the job is to fail with `why`.
    bool Unreachable(const QString &why);
    // A connection that ended or was reset: retried as Retry() does while the device has not
    // answered anything on it (a device that accepts and hangs up at once), failed otherwise.
    void ConnectionEnded(const QString &error);
    void AddBlock(const BlockResult &block);

Q_SIGNALS:
    void blockFinished(const cli::BlockResult &block);
    void retrying(const QString &why, int attempt);
    // Worth a line of the trace, beside the traffic: a stale lock taken over.
    void noted(const QString &text);
    void finished();

private:
    enum class Ending { Close, Abort };
    // How far the sets of the device's part have come.
    enum class SetState { None, Sent, Acknowledged };

    void Begin();
    void RunNext();
    void EndStep();
    void ReplyTimedOut();
    void Unanswered(const QString &why);
    void End(bool ok, const QString &error, Ending how = Ending::Close);

    Request m_request;
    core::DeviceSession m_session;
    std::unique_ptr<platform::FileLock> m_lock;
    QList<Step> m_steps; // still to run
    Step::Wait m_wait = Step::Wait::Own; // of the step under way
    QObject *m_stepContext = nullptr;
    QString m_answer; // of the step under way
    QString m_keepGoing; // of the step under way
    bool m_sets = false; // of the step under way
    std::function<void(DeviceJob &, const QString &)> m_unanswered; // of the step under way
    SetState m_setState = SetState::None;
    std::function<bool(DeviceJob &, const QString &)> m_unreachable;
    QStringList m_readErrors; // of reads that went on regardless
    int m_ignoredLines = 0; // since the step under way began
    bool m_wroteBlock = false;
    bool m_answered = false; // on this attempt's connection
    bool m_nextQueued = false; // a step ended, the next starts from the loop
    QString m_lostBetweenSteps; // how the connection ended meanwhile
    QTimer m_replyTimer;
    QTimer m_backOffTimer;
    QElapsedTimer m_clock;
    Outcome m_outcome;
    bool m_done = false;
};

} // namespace cli
