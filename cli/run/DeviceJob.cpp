#include "run/DeviceJob.h"

#include "io/Console.h"
#include "run/DeviceLock.h"
#include "run/Steps.h"

#include "platform/FileLock.h"
#include "platform/SocketErrors.h"

#include <algorithm>

namespace cli {

using core::DeviceLink;

namespace {

// Between attempts: long enough for a device that was busy or rebooting, short for a site.
constexpr int FirstBackOffMs = 500;
constexpr int MaxBackOffMs = 4000;

} // namespace

QString WithCause(const QString &text, int code)
{
    const QString cause = platform::WsaErrorName(code);
    return cause.isEmpty() ? OneLine(text) : OneLine(text) + QStringLiteral(" (%1)").arg(cause);
}

DeviceJob::DeviceJob(const Target &target, Plan plan, const JobSettings &settings, QObject *parent)
    : QObject(parent),
      m_plan(std::move(plan)),
      m_settings(settings),
      m_replyTimer(this),
      m_backOffTimer(this)
{
    m_outcome.target = target;
    m_replyTimer.setSingleShot(true);
    m_replyTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_replyTimer, &QTimer::timeout, this, &DeviceJob::ReplyTimedOut);
    m_backOffTimer.setSingleShot(true);
    connect(&m_backOffTimer, &QTimer::timeout, this, &DeviceJob::Begin);
}

DeviceJob::~DeviceJob() = default;

void DeviceJob::ReplyTimedOut()
{
    const QString awaited =
            m_answer.isEmpty() ? QStringLiteral("reply") : m_answer + QStringLiteral(" reply");
    QString text = QStringLiteral("no %1 within %2 s")
                           .arg(awaited)
                           .arg(m_settings.replyTimeoutMs / 1000.0);
    // Lines that came but answered nothing tell a confused device from a silent one.
    if (m_ignoredLines == 1)
        text += QStringLiteral("; 1 other line received, see --trace");
    else if (m_ignoredLines > 1)
        text += QStringLiteral("; %1 other lines received, see --trace").arg(m_ignoredLines);
    if (m_keepGoing.isEmpty()) {
        Unanswered(text);
        return;
    }
    m_readErrors.append(m_keepGoing + QStringLiteral(": ") + text);
    StepDone();
}

void DeviceJob::Unanswered(const QString &why)
{
    if (const auto handle = m_unanswered) {
        EndStep();
        handle(*this, why);
        return;
    }
    if (m_sets && m_setState == SetState::Sent) {
        Fail(QStringLiteral("set sent, not acknowledged: its state is unknown (%1)").arg(why));
        return;
    }
    Fail(why);
}

double DeviceJob::Seconds() const
{
    return m_clock.isValid() ? static_cast<double>(m_clock.nsecsElapsed()) / 1e9 : 0.0;
}

void DeviceJob::Then(Step step)
{
    m_steps.append(std::move(step));
}

void DeviceJob::Start()
{
    m_clock.start();
    DeviceLock taken = LockDevice(m_outcome.target);
    if (!taken.lock) {
        if (taken.busy)
            m_outcome.status = QStringLiteral("busy");
        End(false, taken.error);
        return;
    }
    m_lock = std::move(taken.lock);
    if (!taken.takenOver.isEmpty())
        Q_EMIT noted(taken.takenOver);
    DeviceLink &link = m_session.Link();
    // Checked when the target was read: the numbers go to the socket as they are.
    link.SetTarget(m_outcome.target.address, m_outcome.target.port);
    link.SetConnectTimeout(m_settings.connectTimeoutMs);
    m_session.SetRouting(core::DeviceSession::Routing::AnswersOnly);
    connect(&m_session, &core::DeviceSession::replyIgnored, this, [this] { ++m_ignoredLines; });
    connect(&m_session, &core::DeviceSession::blockSent, this, [this] { m_wroteBlock = true; });
    connect(&link, &DeviceLink::connected, this, [this] {
        m_unreachable = nullptr;
        m_lostBetweenSteps.clear();
    });
    connect(&m_session, &core::DeviceSession::replyReceived, this, [this] { m_answered = true; });
    // A lost connection ends the device's run at once, unless the step under way can do without
    // it or the device hung up before answering anything (retried); a step that waits on its own
    // (a download) says itself which block it cut.
    connect(&link, &DeviceLink::connectionLost, this, [this](const QString &text, int code) {
        if (m_backOffTimer.isActive())
            return;
        const QString error = WithCause(text, code);
        if (m_stepContext == nullptr && m_nextQueued)
            m_lostBetweenSteps = error; // the next step meets it, as if it had been under way
        else if (m_stepContext == nullptr)
            ConnectionEnded(error);
        else if (m_wait == Step::Wait::Reply && (m_answered || !Retry(error)))
            Unanswered(error);
    });
    Begin();
}

void DeviceJob::Begin()
{
    ++m_outcome.attempts;
    m_answered = false;
    m_lostBetweenSteps.clear();
    m_steps.clear();
    Then(steps::Connect());
    m_plan(*this);
    RunNext();
}

bool DeviceJob::Retry(const QString &why)
{
    if (m_done || m_wroteBlock || m_setState != SetState::None
        || m_outcome.attempts > m_settings.retries)
        return false;
    const int attempt = m_outcome.attempts;
    EndStep();
    m_steps.clear();
    // What this attempt read goes with it.
    Outcome fresh;
    fresh.target = m_outcome.target;
    fresh.attempts = attempt;
    m_outcome = fresh;
    m_readErrors.clear();
    m_backOffTimer.start(std::min(MaxBackOffMs, FirstBackOffMs << std::min(attempt - 1, 8)));
    // Nothing of the block was written; whatever the device opened goes with its connection.
    m_session.AbortDownload();
    m_session.Link().Abort();
    Q_EMIT retrying(OneLine(why), attempt + 1);
    return true;
}

void DeviceJob::Instead(QList<Step> steps)
{
    m_steps = std::move(steps);
}

void DeviceJob::WhenUnreachable(std::function<bool(DeviceJob &, const QString &)> elsewhere)
{
    m_unreachable = std::move(elsewhere);
}

bool DeviceJob::Unreachable(const QString &why)
{
    const auto elsewhere = std::exchange(m_unreachable, nullptr);
    return elsewhere && elsewhere(*this, why);
}

void DeviceJob::ConnectionEnded(const QString &error)
{
    if (m_answered || !Retry(error))
        Fail(error);
}

void DeviceJob::RunNext()
{
    m_nextQueued = false;
    if (m_done)
        return;
    if (m_steps.isEmpty()) {
        End(m_readErrors.isEmpty(), m_readErrors.join(QStringLiteral("; ")));
        return;
    }
    const Step step = m_steps.takeFirst();
    m_wait = step.wait;
    m_answer = step.answer;
    m_keepGoing = step.keepGoing;
    m_sets = step.sets;
    m_unanswered = step.unanswered;
    m_ignoredLines = 0;
    m_stepContext = new QObject(this);
    // A device often ends the connection right after its answer (one that took a new IP does):
    // then a step that needs an answer is over before it sends anything.
    if (m_wait == Step::Wait::Reply && !m_lostBetweenSteps.isEmpty()) {
        const QString error = std::exchange(m_lostBetweenSteps, QString());
        if (m_answered || !Retry(error))
            Unanswered(error);
        return;
    }
    if (m_wait == Step::Wait::Reply)
        m_replyTimer.start(m_settings.replyTimeoutMs);
    const bool connected = m_session.Link().IsConnected();
    step.start(*this, m_stepContext);
    if (m_sets && connected && !m_done)
        m_setState = SetState::Sent;
}

void DeviceJob::EndStep()
{
    m_replyTimer.stop();
    m_sets = false;
    m_unanswered = nullptr;
    if (m_stepContext == nullptr)
        return;
    // Nothing the session says from here on belongs to this step. Deleted later: the step may
    // be ending from inside one of its own connections.
    disconnect(&m_session, nullptr, m_stepContext, nullptr);
    disconnect(&m_session.Link(), nullptr, m_stepContext, nullptr);
    m_stepContext->deleteLater();
    m_stepContext = nullptr;
}

void DeviceJob::StepDone()
{
    if (m_done)
        return;
    if (m_sets && m_setState == SetState::Sent)
        m_setState = SetState::Acknowledged;
    EndStep();
    if (m_steps.isEmpty()) {
        RunNext();
        return;
    }
    // From the loop: the session is still handing over the reply that ended this step.
    m_nextQueued = true;
    QMetaObject::invokeMethod(this, &DeviceJob::RunNext, Qt::QueuedConnection);
}

void DeviceJob::Fail(const QString &error)
{
    End(false, error);
}

void DeviceJob::Finish(const QString &status)
{
    m_outcome.status = status;
    End(true, QString());
}

void DeviceJob::Forgo(const QString &status, const QString &why)
{
    m_outcome.status = status;
    End(false, why.isEmpty() ? status : why);
}

void DeviceJob::AddBlock(const BlockResult &block)
{
    m_outcome.blocks.append(block);
    Q_EMIT blockFinished(block);
}

void DeviceJob::End(bool ok, const QString &error, Ending how)
{
    if (m_done)
        return;
    m_done = true;
    EndStep();
    m_backOffTimer.stop();
    m_steps.clear();
    disconnect(&m_session, nullptr, this, nullptr);
    disconnect(&m_session.Link(), nullptr, this, nullptr);
    // A download that failed before its sequence was over goes no further either.
    m_session.AbortDownload();
    if (how == Ending::Abort)
        m_session.Link().Abort();
    else
        m_session.Link().CloseLink();
    // Released once the job writes nothing more.
    m_lock.reset();
    m_outcome.ok = ok;
    m_outcome.error = OneLine(error);
    if (m_outcome.status.isEmpty())
        m_outcome.status = ok ? QStringLiteral("ok") : QStringLiteral("failed");
    m_outcome.seconds = Seconds();
    Q_EMIT finished();
}

void DeviceJob::Interrupt()
{
    if (m_done)
        return;
    // Taken before the reset throws away what the link still held of the block.
    QString error = QStringLiteral("interrupted");
    if (const auto block = m_session.CurrentBlock()) {
        m_outcome.cut = CutBlock{ block->address, block->length, block->written };
        error += QString::asprintf(": block 0x%08x cut after %lld of %d bytes sent", block->address,
                                   static_cast<long long>(block->written), block->length);
    }
    // A device a set may have reached is to be checked; one never set, not.
    if (m_settings.sets) {
        switch (m_setState) {
        case SetState::None:
            m_outcome.left = QStringLiteral("untouched");
            error += QStringLiteral(": untouched");
            break;
        case SetState::Sent:
            m_outcome.left = QStringLiteral("set unacknowledged");
            error += QStringLiteral(": set sent, not acknowledged: its state is unknown");
            break;
        case SetState::Acknowledged:
            m_outcome.left = QStringLiteral("set not read back");
            error += QStringLiteral(": set, not read back");
            break;
        }
    }
    m_outcome.status = QStringLiteral("interrupted");
    End(false, error, Ending::Abort);
}

} // namespace cli
