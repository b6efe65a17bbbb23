#pragma once

#include "run/DeviceJob.h"
#include "run/Outcome.h"

#include <QList>
#include <QObject>

namespace cli {

inline constexpr int DefaultJobs = 32;
// Each running device holds a socket and a lock file: the open-file limit is raised to match.
inline constexpr int MaxJobs = 1024;

// How the devices of a run take turns.
struct FleetSettings
{
    int jobs = DefaultJobs;
    // Once this many devices have failed no further one is started; 0: no limit.
    int maxFailures = 0;
    // The first this many devices are done before any other starts; the others only if all of
    // them succeeded.
    int canary = 0;
};

// Every device of the run, each on its own job with the same plan, up to `jobs` of them at once
// in this one thread. A job that ends makes room for the next, so a slow or dead device holds up
// no other. Once the most failures have been reached, no further job starts: those left are "not
// started". The canaries, the first devices, are all done before any other starts, and the
// others start only if every canary succeeded.
class Fleet : public QObject
{
    Q_OBJECT

public:
    Fleet(const QList<Target> &targets, const Plan &plan, const JobSettings &settings,
          const FleetSettings &fleet, QObject *parent = nullptr);

    void Start();
    // Ends the run at once: every job stops, those not started yet never do.
    void Interrupt();
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
