#include "DeviceJob.h"

#include "Commands.h"
#include "Console.h"

namespace cli {

using core::DeviceLink;

DeviceJob::DeviceJob(const Target &target, const Request &request, QObject *parent)
    : QObject(parent), m_request(request), m_replyTimer(this)
{
    m_outcome.target = target;
    m_replyTimer.setSingleShot(true);
    m_replyTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_replyTimer, &QTimer::timeout, this, [this] {
        Fail(QStringLiteral("no reply within %1 s").arg(m_request.replyTimeoutMs / 1000.0));
    });
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
    // The first connection runs the steps; one the link may open later for held commands
    // does not start them again.
    connect(&link, &DeviceLink::connected, this, [this] {
        disconnect(&m_session.Link(), &DeviceLink::connected, this, nullptr);
        RunNext();
    });
    connect(&link, &DeviceLink::connectFailed, this, [this](const QString &text) { Fail(text); });
    // A lost connection ends a read or a set at once; a flash carries on to its own time-outs,
    // which fail the block it was in.
    connect(&link, &DeviceLink::connectionLost, this, [this](const QString &text) {
        if (m_stepContext != nullptr && m_wait == Step::Wait::Reply)
            Fail(text);
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
    m_steps.clear();
    disconnect(&m_session, nullptr, this, nullptr);
    disconnect(&m_session.Link(), nullptr, this, nullptr);
    if (how == Ending::Abort) {
        m_session.AbortDownload();
        m_session.Link().Abort();
    } else {
        m_session.Link().CloseLink();
    }
    m_outcome.ok = ok;
    m_outcome.error = OneLine(error);
    m_outcome.seconds = Seconds();
    Q_EMIT finished();
}

void DeviceJob::Interrupt()
{
    End(false, QStringLiteral("interrupted"), Ending::Abort);
}

} // namespace cli
