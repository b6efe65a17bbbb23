#include "report/Progress.h"

#include "io/Console.h"
#include "io/Output.h"
#include "run/DeviceJob.h"

#include <algorithm>

namespace cli {

namespace {

constexpr int RedrawMs = 250;
// Live lines beyond this are summed up in one, so the block stays on one screen.
constexpr int MaxLiveLines = 16;

} // namespace

Progress::Progress(const download::DownloadPlan &plan, Output &output, bool live, QObject *parent)
    : QObject(parent),
      m_blocks(static_cast<int>(plan.blocks.size())),
      m_bytes(plan.bytes),
      m_output(output),
      m_live(live),
      m_redraw(this)
{
    m_redraw.setInterval(RedrawMs);
    m_redraw.setTimerType(Qt::PreciseTimer);
    connect(&m_redraw, &QTimer::timeout, this, [this] {
        Clear();
        Draw();
    });
}

void Progress::Watch(DeviceJob *job)
{
    m_running.append(Running{ job, 0, 0 });
    connect(job, &DeviceJob::blockFinished, this, [this, job](const BlockResult &block) {
        const auto found = std::find_if(m_running.begin(), m_running.end(),
                                        [job](const Running &r) { return r.job == job; });
        if (found == m_running.end())
            return;
        ++found->blocks;
        found->bytes += block.length;
        if (!m_live) {
            m_output.Out(
                    QStringLiteral("%1  block %2/%3  0x%4  %5 bytes  %6  (%7 s)\n")
                            .arg(job->Result().target.Label(), QString::number(found->blocks),
                                 QString::number(m_blocks),
                                 QStringLiteral("%1").arg(block.address, 8, 16, QLatin1Char('0')),
                                 QString::number(block.length), EscapedText(block.result),
                                 QString::number(job->Seconds(), 'f', 1)));
        }
    });
    // A new attempt starts from its first block again.
    connect(job, &DeviceJob::retrying, this, [this, job] {
        for (Running &running : m_running) {
            if (running.job == job)
                running = Running{ job, 0, 0 };
        }
    });
    if (m_live) {
        Clear();
        Draw();
        m_redraw.start();
    }
}

void Progress::Forget(const DeviceJob *job)
{
    m_running.removeIf([job](const Running &r) { return r.job == job; });
    if (m_running.isEmpty())
        m_redraw.stop();
}

QString Progress::LiveLine(const Running &running) const
{
    const int percent = m_bytes > 0 ? static_cast<int>(running.bytes * 100 / m_bytes) : 100;
    return QStringLiteral("%1  block %2 of %3  %4/%5 bytes  %6%  %7 s")
            .arg(running.job->Result().target.Label())
            .arg(std::min(running.blocks + 1, m_blocks))
            .arg(m_blocks)
            .arg(running.bytes)
            .arg(m_bytes)
            .arg(percent)
            .arg(running.job->Seconds(), 0, 'f', 1);
}

void Progress::Clear()
{
    if (m_drawn > 0) // up to the first live line, and everything below goes
        m_output.EraseLines(m_drawn);
    m_drawn = 0;
}

void Progress::Draw()
{
    if (!m_live)
        return;
    QString text;
    const qsizetype shown = std::min<qsizetype>(m_running.size(), MaxLiveLines);
    for (qsizetype i = 0; i < shown; ++i)
        text += LiveLine(m_running[i]) + QLatin1Char('\n');
    if (m_running.size() > shown)
        text += QStringLiteral("... and %1 more running\n").arg(m_running.size() - shown);
    m_drawn = static_cast<int>(text.count(QLatin1Char('\n')));
    if (!text.isEmpty())
        m_output.Out(text);
}

void Progress::PrintOut(const QString &line)
{
    Clear();
    m_output.Out(line);
    Draw();
}

void Progress::PrintErr(const QString &line)
{
    Clear();
    m_output.Err(line);
    Draw();
}

} // namespace cli
