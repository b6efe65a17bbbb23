#include "report/Report.h"

#include "commands/Command.h"
#include "io/Console.h"
#include "io/Csv.h"
#include "run/DeviceJob.h"
#include "report/EventsReport.h"
#include "run/Fleet.h"
#include "io/Output.h"
#include "report/Progress.h"
#include "report/Trace.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>

namespace cli {

namespace {

const QString ToolVersion = QStringLiteral(QLT36_VERSION);

qsizetype CountOk(const QList<Outcome> &outcomes)
{
    return std::count_if(outcomes.begin(), outcomes.end(), [](const Outcome &o) { return o.ok; });
}

// A search lists the devices that answered, and an address without a device is no failure.
bool IsListed(bool search, const Outcome &outcome)
{
    return !search || outcome.version.has_value();
}

// Devices that failed; for a search, of those that answered (the others count as scanned only).
qsizetype CountFailed(bool search, const QList<Outcome> &outcomes)
{
    return std::count_if(outcomes.begin(), outcomes.end(),
                         [search](const Outcome &o) { return !o.ok && IsListed(search, o); });
}

QString Time(const QDateTime &time)
{
    return time.toString(Qt::ISODateWithMs);
}

QString Hex(quint32 value, int digits = 0)
{
    return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'));
}

} // namespace

Report::Report(const Invocation &invocation, Output &output, QFile *log, QObject *parent)
    : QObject(parent),
      m_invocation(invocation),
      m_command(*invocation.request.command),
      m_output(output),
      m_mode(invocation.json             ? Mode::Json
                     : invocation.csv    ? Mode::Csv
                     : invocation.events ? Mode::Events
                                         : Mode::Human),
      m_search(invocation.search),
      m_plan(invocation.planReport),
      m_trace(invocation.trace),
      m_log(log),
      m_start(QDateTime::currentDateTimeUtc())
{
    for (const Target &target : invocation.targets)
        m_order.append(target.Label());
    const Request &request = invocation.request;
    if (!request.image.isEmpty() && m_mode == Mode::Human && !m_plan) {
        // Trace lines in between would break the live lines' redrawing.
        m_progress = new Progress(download::PlanDownload(request.image.size(), request.baseAddress),
                                  output, output.OutIsTerminal() && !m_trace, this);
    }
    if (m_log)
        Log(QStringLiteral("%1 ql-t36-cli %2: %3, %4 device(s)\n")
                    .arg(Time(m_start), ToolVersion, invocation.commandName)
                    .arg(invocation.targets.size()));
    if (m_mode == Mode::Events) {
        m_events = std::make_unique<Events>(output);
        m_events->Emit(QString(), QStringLiteral("run start"),
                       { { QStringLiteral("command"), invocation.commandName },
                         { QStringLiteral("devices"), invocation.targets.size() },
                         { QStringLiteral("toolVersion"), ToolVersion },
                         { QStringLiteral("formatVersion"), FormatVersion },
                         { QStringLiteral("dryRun"), request.dryRun } });
    }
}

Report::~Report() = default;

void Report::Log(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    // Written through: what the log holds is there even if the run ends on a signal.
    if (m_log->write(bytes) != bytes.size() || !m_log->flush())
        m_output.Failed(m_log->fileName() + QStringLiteral(": ") + m_log->errorString());
}

void Report::Watch(Fleet &fleet)
{
    connect(&fleet, &Fleet::jobStarting, this, &Report::OnJobStarting);
    connect(&fleet, &Fleet::deviceFinished, this, &Report::OnDeviceFinished);
}

void Report::OnJobStarting(DeviceJob *job)
{
    if (m_trace || m_log) {
        TraceJob(*job, [this](const QString &line) {
            if (m_trace)
                m_output.Err(line);
            if (m_log)
                Log(line);
        });
    }
    if (m_events)
        m_events->WatchJob(*job);
    if (m_progress) {
        m_progress->Watch(job);
        connect(job, &DeviceJob::finished, m_progress, [this, job] { m_progress->Forget(job); });
    }
}

bool Report::Listed(const Outcome &outcome) const
{
    return IsListed(m_search, outcome);
}

QString Report::ResultText(const Outcome &outcome) const
{
    // A device's own text could drive the terminal.
    if (!outcome.ok) {
        // Nothing was tried: the words say it all.
        if (outcome.status == QLatin1String("busy")
            || outcome.status == QLatin1String("not started"))
            return EscapedText(outcome.error);
        // A device that moved is to be looked for there.
        const QString where =
                outcome.movedTo ? QStringLiteral("; now at ") + *outcome.movedTo : QString();
        return QStringLiteral("failed: ") + EscapedText(outcome.error) + where;
    }
    return EscapedText(m_command.reportText(outcome));
}

QString Report::ImageText() const
{
    const qint64 written = m_invocation.request.image.size();
    const qint64 notWritten = m_invocation.imageLength - written;
    if (m_invocation.imageLength == 0 || notWritten <= 0)
        return QString();
    return QStringLiteral("The image is %1 bytes long; a flash writes its first %2, so its last "
                          "%3 %4 not written.\n")
            .arg(m_invocation.imageLength)
            .arg(written)
            .arg(notWritten)
            .arg(notWritten == 1 ? QStringLiteral("byte is") : QStringLiteral("bytes are"));
}

void Report::OnDeviceFinished(const Outcome &outcome)
{
    if (m_events) {
        m_told.insert(outcome.target.Label());
        m_events->Emit(outcome.target.Label(), QStringLiteral("outcome"), DeviceEntry(outcome));
        return;
    }
    if (m_mode == Mode::Json)
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
    if (!Listed(outcome))
        return;
    // A table or a plan says the values at the end; failures are said as they come.
    if (outcome.ok && (m_mode == Mode::Csv || m_command.table || m_plan))
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

QString Report::Table(const QList<Outcome> &outcomes) const
{
    QList<QStringList> rows;
    QStringList header{ QStringLiteral("DEVICE") };
    for (const ResultField *field : m_command.fields) {
        for (const QString &column : field->csvColumns)
            header.append(column.toUpper());
    }
    rows.append(header);
    for (const Outcome &outcome : outcomes) {
        if (!Listed(outcome))
            continue;
        QStringList row{ outcome.target.Label() };
        for (const ResultField *field : m_command.fields) {
            for (const QString &cell : field->csv(outcome))
                row.append(cell.isEmpty() ? QStringLiteral("-") : EscapedText(cell));
        }
        rows.append(row);
    }
    QList<qsizetype> widths(header.size(), 0);
    for (const QStringList &row : std::as_const(rows)) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    QString table;
    for (const QStringList &row : std::as_const(rows)) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += row[i].leftJustified(widths[i] + 2);
        table += line.trimmed() + QLatin1Char('\n');
    }
    return table;
}

QString Report::Summary(const QList<Outcome> &outcomes, int signalNumber) const
{
    const QString ending = signalNumber != 0 ? QStringLiteral(" (interrupted)") : QString();
    if (m_search) {
        const auto answered = std::count_if(outcomes.begin(), outcomes.end(),
                                            [this](const Outcome &o) { return Listed(o); });
        return QStringLiteral("%1 addresses scanned, %2 answered%3\n")
                .arg(outcomes.size())
                .arg(answered)
                .arg(ending);
    }
    // What else became of the devices, in the order first seen.
    QStringList statuses;
    QHash<QString, int> counts;
    for (const Outcome &outcome : outcomes) {
        if (outcome.status == QLatin1String("ok") || outcome.status == QLatin1String("failed"))
            continue;
        if (!counts.contains(outcome.status))
            statuses.append(outcome.status);
        ++counts[outcome.status];
    }
    QStringList tally;
    for (const QString &status : std::as_const(statuses))
        tally.append(QStringLiteral("%1 %2").arg(counts.value(status)).arg(status));
    const qsizetype ok = CountOk(outcomes);
    return QStringLiteral("%1 ok, %2 failed%3%4\n")
            .arg(ok)
            .arg(outcomes.size() - ok)
            .arg(tally.isEmpty() ? QString()
                                 : QStringLiteral(" (") + tally.join(QStringLiteral(", "))
                                 + QLatin1Char(')'))
            .arg(ending);
}

QString Report::PlanText(const QList<Outcome> &outcomes) const
{
    const Request &request = m_invocation.request;
    const QJsonObject image = ImageEntry();
    // With --skip-version the devices were asked their version, and nothing else.
    const bool read = !m_invocation.sendNothing;
    QString text = QStringLiteral("Dry run: %1\nImage: %2 bytes, SHA-256 %3\n")
                           .arg(read ? QStringLiteral("only version reads are sent.")
                                     : QStringLiteral("nothing is sent."))
                           .arg(m_invocation.imageLength)
                           .arg(image.value(QLatin1String("sha256")).toString());
    const download::DownloadPlan plan =
            download::PlanDownload(request.image.size(), request.baseAddress);
    const QJsonArray blocks = image.value(QLatin1String("blocks")).toArray();
    text += QStringLiteral("Blocks, each sent to every device:\n");
    for (qsizetype i = 0; i < plan.blocks.size(); ++i) {
        const download::PlannedBlock &block = plan.blocks[i];
        text += QStringLiteral("  phase %1  address %2  length %3  from offset %4  CRC-32 %5\n")
                        .arg(block.phase)
                        .arg(Hex(block.address, 8), Hex(quint32(block.length)),
                             Hex(quint32(block.offset)),
                             Hex(quint32(blocks[i][QLatin1String("crc32")].toInteger()), 8));
    }
    text += QStringLiteral("%1 bytes in %2 %3; %4 bytes of the image not written.\n")
                    .arg(plan.bytes)
                    .arg(plan.blocks.size())
                    .arg(plan.blocks.size() == 1 ? QStringLiteral("block")
                                                 : QStringLiteral("blocks"))
                    .arg(download::BytesNotWritten(m_invocation.imageLength));
    text += QStringLiteral("Devices (%1, up to %2 at once):\n")
                    .arg(outcomes.size())
                    .arg(m_invocation.jobs);
    for (const Outcome &outcome : outcomes) {
        text += QStringLiteral("  ") + outcome.target.Label();
        if (read)
            text += QStringLiteral("  ") + ResultText(outcome);
        text += QLatin1Char('\n');
    }
    if (request.skipVersion)
        text += QStringLiteral("Each device's version is read first, twice; one that runs %1 is "
                               "skipped.\n")
                        .arg(EscapedText(*request.skipVersion));
    if (request.canary > 0)
        text += QStringLiteral("The first %1 device(s) are done before any other starts; the "
                               "others start only if all of them succeeded.\n")
                        .arg(request.canary);
    if (request.verifyVersion)
        text += QStringLiteral("After its flash, each device's version is read on a new "
                               "connection %1 s later and must be %2.\n")
                        .arg(request.verifyDelayMs / 1000.0)
                        .arg(EscapedText(*request.verifyVersion));
    if (request.maxFailures > 0)
        text += QStringLiteral("Once %1 device(s) have failed, no further device is started.\n")
                        .arg(request.maxFailures);
    if (request.retries > 0)
        text += QStringLiteral("A device whose connection fails or ends before it answered, or "
                               "whose first announce gets no size acknowledgement, is tried up "
                               "to %1 more time(s).\n")
                        .arg(request.retries);
    text += QStringLiteral("Waits: connect %1 s, size acknowledgement %2 s, result %3 s.\n")
                    .arg(request.connectTimeoutMs / 1000.0)
                    .arg(std::ceil(request.sizeWaitMs / 100.0) / 10)
                    .arg(std::ceil(request.resultWaitMs / 100.0) / 10);
    return text;
}

void Report::Conclude(const QList<Outcome> &outcomes, int signalNumber)
{
    if (m_events) {
        for (const Outcome &outcome : outcomes) {
            if (!m_told.contains(outcome.target.Label()))
                m_events->Emit(outcome.target.Label(), QStringLiteral("outcome"),
                               DeviceEntry(outcome));
        }
        m_events->Emit(QString(), QStringLiteral("run end"),
                       { { QStringLiteral("ok"), CountOk(outcomes) },
                         { QStringLiteral("failed"), CountFailed(m_search, outcomes) },
                         { QStringLiteral("interrupted"), signalNumber != 0 },
                         { QStringLiteral("exitStatus"),
                           ExitStatus(m_invocation, outcomes, signalNumber) } });
        return;
    }
    if (m_mode == Mode::Json) {
        m_output.Out(Json(outcomes));
        return;
    }
    if (m_plan) {
        m_output.Out(PlanText(outcomes));
        if (!m_invocation.sendNothing)
            m_output.Out(Summary(outcomes, signalNumber));
        return;
    }
    // Those the run did not get to report, in order.
    for (const Outcome &outcome : outcomes) {
        if (m_printed < m_order.size() && outcome.target.Label() == m_order[m_printed]) {
            ++m_printed;
            Print(outcome);
        }
    }
    if (m_mode == Mode::Csv) {
        QList<Outcome> listed;
        std::copy_if(outcomes.begin(), outcomes.end(), std::back_inserter(listed),
                     [this](const Outcome &o) { return Listed(o); });
        m_output.Out(CsvTable(m_command.fields, listed));
        return;
    }
    if (m_command.table)
        m_output.Out(Table(outcomes));
    m_output.Out(ImageText());
    m_output.Out(Summary(outcomes, signalNumber));
}

QJsonObject Report::DeviceEntry(const Outcome &outcome) const
{
    QJsonObject device{
        { QStringLiteral("device"), outcome.target.Label() },
        { QStringLiteral("ok"), outcome.ok },
        { QStringLiteral("status"), outcome.status },
        { QStringLiteral("error"),
          outcome.ok ? QJsonValue(QJsonValue::Null) : QJsonValue(outcome.error) },
        // To the millisecond, as the clock means it.
        { QStringLiteral("seconds"), std::round(outcome.seconds * 1000) / 1000 },
    };
    for (const ResultField *field : m_command.fields)
        device.insert(field->name, field->json(outcome));
    return device;
}

QJsonObject Report::ImageEntry() const
{
    const Request &request = m_invocation.request;
    QJsonArray blocks;
    for (const download::PlannedBlock &block :
         download::PlanDownload(request.image.size(), request.baseAddress).blocks) {
        const QByteArrayView bytes =
                QByteArrayView(request.image).sliced(block.offset, block.length);
        blocks.append(QJsonObject{ { QStringLiteral("phase"), block.phase },
                                   { QStringLiteral("address"), qint64(block.address) },
                                   { QStringLiteral("offset"), block.offset },
                                   { QStringLiteral("length"), block.length },
                                   { QStringLiteral("crc32"), qint64(Crc32(bytes)) } });
    }
    // Of what is written: the image's bytes past the limit never reach a device.
    const QByteArray sha256 = QCryptographicHash::hash(request.image, QCryptographicHash::Sha256);
    return QJsonObject{ { QStringLiteral("length"), m_invocation.imageLength },
                        { QStringLiteral("notWritten"),
                          m_invocation.imageLength - request.image.size() },
                        { QStringLiteral("sha256"), QString::fromLatin1(sha256.toHex()) },
                        { QStringLiteral("blocks"), blocks } };
}

QString Report::Json(const QList<Outcome> &outcomes) const
{
    QJsonArray devices;
    for (const Outcome &outcome : outcomes) {
        if (Listed(outcome))
            devices.append(DeviceEntry(outcome));
    }
    QJsonObject document{
        { QStringLiteral("command"), m_invocation.commandName },
        { QStringLiteral("toolVersion"), ToolVersion },
        { QStringLiteral("formatVersion"), FormatVersion },
        { QStringLiteral("startTime"), Time(m_start) },
        { QStringLiteral("endTime"), Time(QDateTime::currentDateTimeUtc()) },
        { QStringLiteral("ok"), CountOk(outcomes) },
        { QStringLiteral("failed"), CountFailed(m_search, outcomes) },
        { QStringLiteral("devices"), devices },
    };
    if (m_search)
        document.insert(QStringLiteral("scanned"), outcomes.size());
    if (m_invocation.imageLength > 0)
        document.insert(QStringLiteral("image"), ImageEntry());
    if (m_invocation.request.dryRun)
        document.insert(QStringLiteral("dryRun"), true);
    return QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented));
}

int Report::ExitStatus(const Invocation &invocation, const QList<Outcome> &outcomes,
                       int signalNumber)
{
    if (signalNumber != 0)
        return ExitSignalBase + signalNumber;
    if (invocation.search) {
        // At least one answered, and every one that did is done.
        qsizetype answered = 0;
        qsizetype failed = 0;
        for (const Outcome &outcome : outcomes) {
            if (IsListed(true, outcome)) {
                ++answered;
                failed += outcome.ok ? 0 : 1;
            }
        }
        return answered > 0 && failed == 0 ? ExitOk : ExitFailed;
    }
    return CountOk(outcomes) == outcomes.size() ? ExitOk : ExitFailed;
}

} // namespace cli
