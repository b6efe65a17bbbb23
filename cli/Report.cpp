#include "Report.h"

#include "Commands.h"
#include "Console.h"
#include "DeviceJob.h"
#include "Fleet.h"
#include "Output.h"
#include "Progress.h"
#include "Trace.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace cli {

namespace {

qsizetype CountOk(const QList<Outcome> &outcomes)
{
    return std::count_if(outcomes.begin(), outcomes.end(), [](const Outcome &o) { return o.ok; });
}

} // namespace

Report::Report(const Invocation &invocation, Output &output, QObject *parent)
    : QObject(parent),
      m_commandName(invocation.commandName),
      m_command(*invocation.request.command),
      m_output(output),
      m_json(invocation.json),
      m_trace(invocation.trace),
      m_imageLength(invocation.imageLength),
      m_imageWritten(invocation.request.image.size())
{
    for (const Target &target : invocation.targets)
        m_order.append(target.Label());
    const Request &request = invocation.request;
    if (!request.image.isEmpty() && !m_json) {
        // Trace lines in between would break the live lines' redrawing.
        m_progress = new Progress(download::PlanDownload(request.image.size(), request.baseAddress),
                                  output, output.OutIsTerminal() && !m_trace, this);
    }
}

void Report::Watch(Fleet &fleet)
{
    connect(&fleet, &Fleet::jobStarting, this, &Report::OnJobStarting);
    connect(&fleet, &Fleet::deviceFinished, this, &Report::OnDeviceFinished);
}

void Report::OnJobStarting(DeviceJob *job)
{
    if (m_trace)
        TraceJob(*job, m_output);
    if (m_progress) {
        m_progress->Watch(job);
        connect(job, &DeviceJob::finished, m_progress, [this, job] { m_progress->Forget(job); });
    }
}

QString Report::ResultText(const Outcome &outcome) const
{
    // A device's own text could drive the terminal.
    if (!outcome.ok)
        return QStringLiteral("failed: ") + EscapedText(outcome.error);
    return EscapedText(m_command.reportText(outcome));
}

QString Report::ImageText() const
{
    const qint64 notWritten = m_imageLength - m_imageWritten;
    if (m_imageLength == 0 || notWritten <= 0)
        return QString();
    return QStringLiteral("The image is %1 bytes long; a flash writes its first %2, so its last "
                          "%3 %4 not written.\n")
            .arg(m_imageLength)
            .arg(m_imageWritten)
            .arg(notWritten)
            .arg(notWritten == 1 ? QStringLiteral("byte is") : QStringLiteral("bytes are"));
}

void Report::OnDeviceFinished(const Outcome &outcome)
{
    if (m_json)
        return;
    m_finished.insert(outcome.target.Label(), outcome);
    // Copied, not taken: GCC 12 at -O3 (the Windows build) takes the optional members of a
    // moved-out outcome for uninitialised.
    for (auto next = m_finished.constFind(m_order.value(m_printed)); next != m_finished.cend();
         next = m_finished.constFind(m_order.value(m_printed))) {
        const Outcome ready = next.value();
        m_finished.erase(next);
        ++m_printed;
        Print(ready);
    }
}

void Report::Print(const Outcome &outcome)
{
    // A search lists what answered; an address without a device is no failure.
    if (m_command.search && !outcome.ok)
        return;
    // One arg() call: a device's text may hold "%1" itself.
    const QString line = QStringLiteral("%1  %2  (%3 s)\n")
                                 .arg(outcome.target.Label(), ResultText(outcome),
                                      QString::number(outcome.seconds, 'f', 1));
    if (m_progress)
        outcome.ok ? m_progress->PrintOut(line) : m_progress->PrintErr(line);
    else
        outcome.ok ? m_output.Out(line) : m_output.Err(line);
}

void Report::Conclude(const QList<Outcome> &outcomes, int signalNumber)
{
    if (m_json) {
        m_output.Out(Json(outcomes));
        return;
    }
    // Those the run did not get to report, in order.
    for (const Outcome &outcome : outcomes) {
        if (m_printed < m_order.size() && outcome.target.Label() == m_order[m_printed]) {
            ++m_printed;
            Print(outcome);
        }
    }
    m_output.Out(ImageText());
    const qsizetype ok = CountOk(outcomes);
    const QString ending = signalNumber != 0 ? QStringLiteral(" (interrupted)") : QString();
    if (m_command.search)
        m_output.Out(QStringLiteral("%1 addresses scanned, %2 answered%3\n")
                             .arg(outcomes.size())
                             .arg(ok)
                             .arg(ending));
    else
        m_output.Out(QStringLiteral("%1 ok, %2 failed%3\n")
                             .arg(ok)
                             .arg(outcomes.size() - ok)
                             .arg(ending));
}

QString Report::Json(const QList<Outcome> &outcomes) const
{
    const qsizetype ok = CountOk(outcomes);
    QJsonArray devices;
    for (const Outcome &outcome : outcomes) {
        if (m_command.search && !outcome.ok)
            continue;
        QJsonObject device{
            { QStringLiteral("device"), outcome.target.Label() },
            { QStringLiteral("ok"), outcome.ok },
            { QStringLiteral("error"),
              outcome.ok ? QJsonValue(QJsonValue::Null) : QJsonValue(outcome.error) },
            // To the millisecond, as the clock means it.
            { QStringLiteral("seconds"), std::round(outcome.seconds * 1000) / 1000 },
        };
        for (const ResultField *field : m_command.fields)
            device.insert(field->name, field->json(outcome));
        devices.append(device);
    }
    QJsonObject document{
        { QStringLiteral("command"), m_commandName },
        { QStringLiteral("ok"), ok },
        { QStringLiteral("failed"), outcomes.size() - ok },
        { QStringLiteral("devices"), devices },
    };
    if (m_command.search)
        document.insert(QStringLiteral("scanned"), outcomes.size());
    if (m_imageLength > 0)
        document.insert(
                QStringLiteral("image"),
                QJsonObject{ { QStringLiteral("length"), m_imageLength },
                             { QStringLiteral("notWritten"), m_imageLength - m_imageWritten } });
    return QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented));
}

int Report::ExitStatus(const CommandDef &command, const QList<Outcome> &outcomes, int signalNumber)
{
    if (signalNumber != 0)
        return ExitSignalBase + signalNumber;
    const qsizetype ok = CountOk(outcomes);
    if (command.search)
        return ok > 0 ? ExitOk : ExitFailed;
    return ok == outcomes.size() ? ExitOk : ExitFailed;
}

} // namespace cli
