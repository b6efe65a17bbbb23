#include "run/Fleet.h"

#include <algorithm>

namespace cli {

Fleet::Fleet(const QList<Target> &targets, const Plan &plan, const JobSettings &settings,
             const FleetSettings &fleet, QObject *parent)
    : QObject(parent),
      m_limit(fleet.jobs),
      m_maxFailures(fleet.maxFailures),
      m_canaries(std::min<qsizetype>(fleet.canary, targets.size()))
{
    for (const Target &target : targets) {
        auto *job = new DeviceJob(target, plan, settings, this);
        // Queued: a job may end inside its own Start(), and the next one starts from the loop.
        connect(
                job, &DeviceJob::finished, this, [this, job] { OnJobFinished(job); },
                Qt::QueuedConnection);
        m_jobs.append(job);
    }
}

void Fleet::Start()
{
    StartMore();
}

void Fleet::ForgoRest(const QString &why)
{
    while (m_next < m_jobs.size()) {
        DeviceJob *job = m_jobs[m_next++];
        // Said at once, not from the loop: the run may be over before it comes back.
        disconnect(job, &DeviceJob::finished, this, nullptr);
        job->Forgo(QStringLiteral("not started"), why);
        Q_EMIT deviceFinished(job->Result());
    }
}

void Fleet::StartMore()
{
    if (m_maxFailures > 0 && m_failures >= m_maxFailures)
        ForgoRest(QStringLiteral("not started: %1 device(s) failed, as many as --max-failures "
                                 "allows")
                          .arg(m_failures));
    if (m_canaryFailed && m_canariesDone == m_canaries)
        ForgoRest(QStringLiteral("not started: a canary did not succeed"));
    // The others wait for every canary.
    const qsizetype until = m_canariesDone < m_canaries ? m_canaries : m_jobs.size();
    while (!m_interrupted && m_running < m_limit && m_next < until) {
        DeviceJob *job = m_jobs[m_next++];
        ++m_running;
        Q_EMIT jobStarting(job);
        job->Start();
    }
    if (m_running == 0 && m_next == m_jobs.size() && !m_over) {
        m_over = true;
        Q_EMIT finished();
    }
}

void Fleet::OnJobFinished(const DeviceJob *job)
{
    if (m_over)
        return;
    --m_running;
    if (job->Result().status == QLatin1String("failed"))
        ++m_failures;
    if (m_jobs.indexOf(job) < m_canaries) {
        ++m_canariesDone;
        m_canaryFailed = m_canaryFailed || !job->Result().ok;
    }
    Q_EMIT deviceFinished(job->Result());
    StartMore();
}

void Fleet::Interrupt()
{
    if (m_over)
        return;
    m_interrupted = true;
    m_over = true;
    for (DeviceJob *job : std::as_const(m_jobs))
        job->Interrupt();
    Q_EMIT finished();
}

QList<Outcome> Fleet::Outcomes() const
{
    QList<Outcome> outcomes;
    outcomes.reserve(m_jobs.size());
    for (const DeviceJob *job : m_jobs)
        outcomes.append(job->Result());
    return outcomes;
}

} // namespace cli
