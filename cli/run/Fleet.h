#pragma once

#include "run/DeviceJob.h"
#include "run/Outcome.h"

#include <QList>
#include <QObject>

namespace cli {

// Every device of the run, each on its own job, up to `jobs` of them at once in this one thread.
// A job that ends makes room for the next, so a slow or dead device holds up no other. Once the
// request's most failures have been reached, no further job starts: those left are "not
// started". The request's canaries, the first devices, are all done before any other starts,
// and the others start only if every canary succeeded.
class Fleet : public QObject
{
    Q_OBJECT

public:
    Fleet(const QList<Target> &targets, const Request &request, int jobs,
          QObject *parent = nullptr);

    void Start();
    // Ends the run at once: every job stops, those not started yet never do.
    void Interrupt();
    bool Interrupted() const { return m_interrupted; }
    // In the order the devices were given.
    QList<Outcome> Outcomes() const;

Q_SIGNALS:
    // Before the job's first step, so that its first command can be watched.
    void jobStarting(cli::DeviceJob *job);
    void deviceFinished(const cli::Outcome &outcome);
    void finished();

private:
    void StartMore();
    void OnJobFinished(const DeviceJob *job);
    // Those not started yet never will be, for `why`.
    void ForgoRest(const QString &why);

    QList<DeviceJob *> m_jobs;
    int m_limit;
    int m_maxFailures;
    int m_failures = 0;
    qsizetype m_canaries;
    qsizetype m_canariesDone = 0;
    bool m_canaryFailed = false;
    qsizetype m_next = 0;
    int m_running = 0;
    bool m_interrupted = false;
    bool m_over = false;
};

} // namespace cli
