#include "DeviceJob.h"

#include "Commands.h"
#include "Console.h"

#include "platform/SocketErrors.h"

namespace cli {

using core::DeviceLink;

namespace {

// The link's text with the plain words for its Winsock code.
QString WithCause(const QString &text, int code)
{
    const QString cause = platform::WsaErrorName(code);
    return cause.isEmpty() ? OneLine(text) : OneLine(text) + QStringLiteral(" (%1)").arg(cause);
}

} // namespace

DeviceJob::DeviceJob(const Target &target, const Request &request, QObject *parent)
    : QObject(parent), m_request(request), m_replyTimer(this), m_settleTimer(this)
{
    m_outcome.target = target;
    m_replyTimer.setSingleShot(true);
    m_replyTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_replyTimer, &QTimer::timeout, this, &DeviceJob::ReplyTimedOut);
    m_settleTimer.setSingleShot(true);
    m_settleTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_settleTimer, &QTimer::timeout, this, [this] {
        m_session.DiscardReceived();
        RunNext();
    });
}

void DeviceJob::ReplyTimedOut()
{
    const QString awaited =
            m_answer.isEmpty() ? QStringLiteral("reply") : m_answer + QStringLiteral(" reply");
    QString text =
            QStringLiteral("no %1 within %2 s").arg(awaited).arg(m_request.replyTimeoutMs / 1000.0);
    // Lines that came but answered nothing tell a confused device from a silent one.
    if (m_ignoredLines == 1)
        text += QStringLiteral("; 1 other line received, see --trace");
    else if (m_ignoredLines > 1)
        text += QStringLiteral("; %1 other lines received, see --trace").arg(m_ignoredLines);
    Fail(text);
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
    m_request.command->plan(*this);
    DeviceLink &link = m_session.Link();
    link.SetAddress(m_outcome.target.host);
    link.SetPort(QString::number(m_outcome.target.port));
    link.SetConnectTimeout(m_request.connectTimeoutMs);
    m_session.SetStrictReplies(true);
    connect(&m_session, &core::DeviceSession::replyIgnored, this, [this] { ++m_ignoredLines; });
    // The first connection runs the steps; one the link may open later for held commands
    // does not start them again.
    connect(&link, &DeviceLink::connected, this, [this] {
        disconnect(&m_session.Link(), &DeviceLink::connected, this, nullptr);
        // Reading before writing is the only way to tell a greeting or a stale reply from an
        // answer: whatever comes before the first command is ignored.
        if (m_request.settleMs > 0)
            m_settleTimer.start(m_request.settleMs);
        else
            RunNext();
    });
    connect(&link, &DeviceLink::connectFailed, this,
            [this](const QString &text, int code) { Fail(WithCause(text, code)); });
    // A lost connection ends the device's run at once; a step that waits on its own (a
    // download) says itself which block it cut.
    connect(&link, &DeviceLink::connectionLost, this, [this](const QString &text, int code) {
        if (m_stepContext == nullptr || m_wait == Step::Wait::Reply)
            Fail(WithCause(text, code));
    });
    link.BeginConnect();
}

void DeviceJob::RunNext()
{
    if (m_done)
        return;
    if (m_steps.isEmpty()) {
        End(true, QString());
        return;
    }
    const Step step = m_steps.takeFirst();
    m_wait = step.wait;
    m_answer = step.answer;
    m_ignoredLines = 0;
    m_stepContext = new QObject(this);
    if (m_wait == Step::Wait::Reply)
        m_replyTimer.start(m_request.replyTimeoutMs);
    step.start(*this, m_stepContext);
}

void DeviceJob::EndStep()
{
    m_replyTimer.stop();
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
    EndStep();
    if (m_steps.isEmpty()) {
        End(true, QString());
        return;
    }
    // From the loop: the session is still handing over the reply that ended this step.
    QMetaObject::invokeMethod(this, &DeviceJob::RunNext, Qt::QueuedConnection);
}

void DeviceJob::Fail(const QString &error)
{
    End(false, error);
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
    m_settleTimer.stop();
    m_steps.clear();
    disconnect(&m_session, nullptr, this, nullptr);
    disconnect(&m_session.Link(), nullptr, this, nullptr);
    // A download that failed before its sequence was over goes no further either.
    m_session.AbortDownload();
    if (how == Ending::Abort)
        m_session.Link().Abort();
    else
        m_session.Link().CloseLink();
    m_outcome.ok = ok;
    m_outcome.error = OneLine(error);
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
        error += QString::asprintf(": block 0x%08x cut after %lld of %d bytes", block->address,
                                   static_cast<long long>(block->written), block->length);
    }
    End(false, error, Ending::Abort);
}

} // namespace cli
