#include "Report.h"

#include "Console.h"
#include "DeviceJob.h"
#include "Fleet.h"
#include "Progress.h"
#include "Trace.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace cli {

namespace {

QString Quoted(const QString &text)
{
    // Qt's own escaping, without the array around it.
    const QByteArray array = QJsonDocument(QJsonArray{ text }).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.sliced(1, array.size() - 2));
}

QString QuotedOrNull(bool present, const QString &text)
{
    return present ? Quoted(text) : QStringLiteral("null");
}

qsizetype CountOk(const QList<Outcome> &outcomes)
{
    return std::count_if(outcomes.begin(), outcomes.end(), [](const Outcome &o) { return o.ok; });
}

} // namespace

Report::Report(const Invocation &invocation, QObject *parent)
    : QObject(parent),
      m_commandName(invocation.commandName),
      m_command(invocation.request.command),
      m_json(invocation.json),
      m_trace(invocation.trace)
{
    if (m_command == Command::Flash && !m_json) {
        // Trace lines in between would break the live lines' redrawing.
        m_progress = new Progress(PlanFlash(invocation.request.image.size()),
                                  StdoutIsTerminal() && !m_trace, this);
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
        TraceJob(*job);
    if (m_progress) {
        m_progress->Watch(job);
        connect(job, &DeviceJob::finished, m_progress, [this, job] { m_progress->Forget(job); });
    }
}

QString Report::ResultText(const Outcome &outcome) const
{
    if (!outcome.ok)
        return QStringLiteral("failed: ") + outcome.error;
    switch (m_command) {
    case Command::Version:
    case Command::Scan:
        return QStringLiteral("version ") + outcome.version;
    case Command::Addresses:
        return QStringLiteral("addresses ") + outcome.addresses.join(QLatin1Char(' '));
    case Command::Mac:
        return QStringLiteral("mac ") + outcome.mac;
    case Command::SetAddresses:
        return QStringLiteral("IP Address Set Complete");
    case Command::SetMac:
        return QStringLiteral("MAC Address Set Complete");
    case Command::Flash: {
        qint64 bytes = 0;
        for (const BlockResult &block : outcome.blocks)
            bytes += block.length;
        return QStringLiteral("Update Complete: %1 blocks, %2 bytes")
                .arg(outcome.blocks.size())
                .arg(bytes);
    }
    }
    return QString();
}

void Report::OnDeviceFinished(const Outcome &outcome)
{
    if (m_json || m_reported.contains(outcome.target.Label()))
        return;
    m_reported.insert(outcome.target.Label());
    // A scan lists what answered; an address without a device is no failure.
    if (m_command == Command::Scan && !outcome.ok)
        return;
    // One arg() call: a device's text may hold "%1" itself.
    const QString line = QStringLiteral("%1  %2  (%3 s)\n")
                                 .arg(outcome.target.Label(), ResultText(outcome),
                                      QString::number(outcome.seconds, 'f', 1));
    if (m_progress)
        outcome.ok ? m_progress->PrintOut(line) : m_progress->PrintErr(line);
    else
        outcome.ok ? WriteOut(line) : WriteErr(line);
}

void Report::Conclude(const QList<Outcome> &outcomes, bool interrupted)
{
    if (m_json) {
        WriteOut(Json(outcomes));
        return;
    }
    for (const Outcome &outcome : outcomes)
        OnDeviceFinished(outcome); // those the run did not get to report
    const qsizetype ok = CountOk(outcomes);
    const QString ending = interrupted ? QStringLiteral(" (interrupted)") : QString();
    if (m_command == Command::Scan)
        WriteOut(QStringLiteral("%1 addresses scanned, %2 answered%3\n")
                         .arg(outcomes.size())
                         .arg(ok)
                         .arg(ending));
    else
        WriteOut(QStringLiteral("%1 ok, %2 failed%3\n")
                         .arg(ok)
                         .arg(outcomes.size() - ok)
                         .arg(ending));
}

QString Report::Json(const QList<Outcome> &outcomes) const
{
    const qsizetype ok = CountOk(outcomes);
    QStringList devices;
    for (const Outcome &outcome : outcomes) {
        if (m_command == Command::Scan && !outcome.ok)
            continue;
        QString device =
                QStringLiteral("{\"device\": %1, \"ok\": %2, \"error\": %3, \"seconds\": %4")
                        .arg(Quoted(outcome.target.Label()),
                             outcome.ok ? QStringLiteral("true") : QStringLiteral("false"),
                             QuotedOrNull(!outcome.ok, outcome.error),
                             QString::number(outcome.seconds, 'f', 3));
        switch (m_command) {
        case Command::Version:
        case Command::Scan:
            device += QStringLiteral(", \"version\": ") + QuotedOrNull(outcome.ok, outcome.version);
            break;
        case Command::Mac:
            device += QStringLiteral(", \"mac\": ") + QuotedOrNull(outcome.ok, outcome.mac);
            break;
        case Command::Addresses: {
            QStringList texts;
            for (const QString &address : outcome.addresses)
                texts.append(Quoted(address));
            device += QStringLiteral(", \"addresses\": ")
                    + (outcome.ok ? QLatin1Char('[') + texts.join(QStringLiteral(", "))
                                       + QLatin1Char(']')
                                  : QStringLiteral("null"));
            break;
        }
        case Command::Flash: {
            QStringList blocks;
            for (const BlockResult &block : outcome.blocks)
                blocks.append(QStringLiteral("{\"address\": %1, \"length\": %2, \"result\": %3}")
                                      .arg(block.address)
                                      .arg(block.length)
                                      .arg(Quoted(block.result)));
            device += QStringLiteral(", \"blocks\": [") + blocks.join(QStringLiteral(", "))
                    + QLatin1Char(']');
            break;
        }
        case Command::SetAddresses:
        case Command::SetMac:
            break;
        }
        devices.append(QStringLiteral("    ") + device + QLatin1Char('}'));
    }
    QString scanned;
    if (m_command == Command::Scan)
        scanned = QStringLiteral(",\n  \"scanned\": %1").arg(outcomes.size());
    return QStringLiteral("{\n  \"command\": %1,\n  \"ok\": %2,\n  \"failed\": %3%4,\n  "
                          "\"devices\": [%5]\n}\n")
            .arg(Quoted(m_commandName))
            .arg(ok)
            .arg(outcomes.size() - ok)
            .arg(scanned,
                 devices.isEmpty() ? QString()
                                   : QLatin1Char('\n') + devices.join(QStringLiteral(",\n"))
                                 + QStringLiteral("\n  "));
}

int Report::ExitStatus(Command command, const QList<Outcome> &outcomes, bool interrupted)
{
    if (interrupted)
        return ExitInterrupted;
    const qsizetype ok = CountOk(outcomes);
    if (command == Command::Scan)
        return ok > 0 ? ExitOk : ExitFailed;
    return ok == outcomes.size() ? ExitOk : ExitFailed;
}

} // namespace cli
