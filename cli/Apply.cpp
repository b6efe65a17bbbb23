#include "Apply.h"

#include "Commands.h"
#include "Csv.h"
#include "DeviceJob.h"
#include "InputFile.h"
#include "Options.h"
#include "Steps.h"

#include "platform/AnsiUpper.h"
#include "protocol/Commands.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>

namespace cli {

const QStringList PlanColumns{ QStringLiteral("ip"), QStringLiteral("dp310"),
                               QStringLiteral("mask"), QStringLiteral("gateway"),
                               QStringLiteral("multicast") };

namespace {

// Far beyond any site's plan; a device that never ends (/dev/zero) is not read forever.
constexpr qint64 MaxPlanBytes = 16 * 1024 * 1024;

const QString DeviceColumn = QStringLiteral("device");
const QString MacColumn = QStringLiteral("mac");
// What inventory writes beside the plan's columns; read and left alone.
const QString VersionColumn = QStringLiteral("version");

// As the device keeps a MAC address: the session upper-cases it on its way out.
QString MacText(const QByteArray &mac)
{
    return protocol::FromWire(platform::CharUpperBuffA(mac));
}

QList<Outcome::Change> Differences(const PlannedConfig &plan, const Outcome &values)
{
    QList<Outcome::Change> changes;
    const QStringList read = values.addresses.value_or(QStringList());
    for (qsizetype i = 0; i < PlanColumns.size(); ++i) {
        const auto &planned = plan.addresses[static_cast<std::size_t>(i)];
        if (planned && protocol::FromWire(*planned) != read.value(i))
            changes.append({ PlanColumns[i], read.value(i), protocol::FromWire(*planned) });
    }
    if (plan.mac) {
        const QString was = values.mac.value_or(QString());
        if (MacText(*plan.mac) != MacText(protocol::ToWire(was)))
            changes.append({ MacColumn, was, MacText(*plan.mac) });
    }
    return changes;
}

QString ChangeText(const QList<Outcome::Change> &changes)
{
    QStringList texts;
    for (const Outcome::Change &change : changes)
        texts.append(QStringLiteral("%1 %2 -> %3").arg(change.field, change.was, change.planned));
    return texts.join(QStringLiteral(", "));
}

bool Touches(const QList<Outcome::Change> &changes, bool mac)
{
    return std::any_of(changes.begin(), changes.end(), [mac](const Outcome::Change &change) {
        return (change.field == MacColumn) == mac;
    });
}

void CheckReadBack(DeviceJob &job, const PlannedConfig &plan)
{
    Outcome &values = job.Values();
    const QList<Outcome::Change> left = Differences(plan, values);
    if (!left.isEmpty()) {
        QStringList texts;
        for (const Outcome::Change &change : left)
            texts.append(QStringLiteral("%1 %2, planned %3")
                                 .arg(change.field, change.was, change.planned));
        job.Fail(QStringLiteral("read back: ") + texts.join(QStringLiteral("; ")));
        return;
    }
    // The device is somewhere else now: a later run has to use the new address.
    if (values.changes.first().field == PlanColumns.first())
        values.movedTo = values.changes.first().planned + QLatin1Char(':')
                + QString::number(values.target.port);
    job.Finish(QStringLiteral("changed"));
}

void Compare(DeviceJob &job, const PlannedConfig &plan)
{
    Outcome &values = job.Values();
    values.changes = Differences(plan, values);
    if (values.changes.isEmpty()) {
        job.Finish(QStringLiteral("unchanged"));
        return;
    }
    if (job.Asked().dryRun) {
        job.Finish(QStringLiteral("would change"));
        return;
    }
    const QString planned = QStringLiteral(" (planned: %1)").arg(ChangeText(values.changes));
    const bool addresses = Touches(values.changes, false);
    const bool mac = Touches(values.changes, true);
    if (addresses) {
        // All five in one command, as the window sends them: those not planned as read.
        core::DeviceSession::Addresses all;
        for (std::size_t i = 0; i < all.size(); ++i)
            all[i] = plan.addresses[i].value_or(
                    protocol::ToWire(values.addresses->value(static_cast<qsizetype>(i))));
        job.Then(steps::SetAddresses(all, QStringLiteral("IP Address Set Failed") + planned));
    }
    if (mac)
        job.Then(steps::SetMac(*plan.mac, QStringLiteral("MAC Address Set Failed") + planned));
    if (addresses)
        job.Then(steps::ReadAddresses());
    if (mac)
        job.Then(steps::ReadMac());
    job.Then(steps::Check([plan](DeviceJob &checked) { CheckReadBack(checked, plan); }));
    job.StepDone();
}

} // namespace

void ReadPlanFile(Invocation &invocation, const QString &path)
{
    const InputFile file = ReadInputFile(path, MaxPlanBytes);
    if (file.signalNumber != 0) {
        invocation.signalNumber = file.signalNumber; // the run ends as interrupted
        return;
    }
    if (!file.error.isEmpty())
        Fail(QStringLiteral("cannot read %1: %2").arg(path, file.error));
    QString text = QString::fromUtf8(file.bytes);
    if (text.startsWith(QChar(0xFEFF))) // as a spreadsheet may save it
        text.remove(0, 1);
    QString error;
    const auto records = ParseCsv(text, &error);
    if (!records)
        Fail(QStringLiteral("%1: %2").arg(path, error));
    if (records->isEmpty())
        Fail(QStringLiteral("%1 has no header line").arg(path));

    // Columns by name, in any order.
    const CsvRecord &header = records->first();
    QHash<QString, qsizetype> column;
    for (qsizetype i = 0; i < header.cells.size(); ++i) {
        const QString name = header.cells[i].trimmed().toLower();
        if (name != DeviceColumn && name != MacColumn && name != VersionColumn
            && !PlanColumns.contains(name))
            Fail(QStringLiteral("%1:%2: unknown column \"%3\"")
                         .arg(path)
                         .arg(header.line)
                         .arg(name));
        if (column.contains(name))
            Fail(QStringLiteral("%1:%2: column \"%3\" twice").arg(path).arg(header.line).arg(name));
        column.insert(name, i);
    }
    for (const QString &name : QStringList{ DeviceColumn } + PlanColumns) {
        if (!column.contains(name))
            Fail(QStringLiteral("%1:%2: the header has no \"%3\" column")
                         .arg(path)
                         .arg(header.line)
                         .arg(name));
    }

    QHash<QString, QString> plannedIps; // planned IP -> the device it is planned for
    QHash<QString, QString> plannedMacs;
    for (qsizetype r = 1; r < records->size(); ++r) {
        const CsvRecord &record = records->at(r);
        const QString where = QStringLiteral("%1:%2").arg(path).arg(record.line);
        if (record.cells.size() != header.cells.size())
            Fail(QStringLiteral("%1: %2 cells, the header has %3")
                         .arg(where)
                         .arg(record.cells.size())
                         .arg(header.cells.size()));
        const auto cell = [&](const QString &name) { return record.cells[column.value(name)]; };
        const std::optional<Target> target = ParseTarget(cell(DeviceColumn).trimmed(), &error);
        if (!target)
            Fail(QStringLiteral("%1: %2").arg(where, error));
        const QString label = target->Label();
        if (invocation.request.plans.contains(label))
            Fail(QStringLiteral("%1: %2 is listed twice").arg(where, label));

        PlannedConfig plan;
        for (qsizetype i = 0; i < PlanColumns.size(); ++i) {
            const QString value = cell(PlanColumns[i]);
            if (!value.isEmpty()) // an empty cell leaves the value as it is
                plan.addresses[static_cast<std::size_t>(i)] = RequiredValue(
                        value, where + QLatin1Char(' ') + PlanColumns[i], AddressFieldLength);
        }
        if (column.contains(MacColumn) && !cell(MacColumn).isEmpty())
            plan.mac =
                    RequiredValue(cell(MacColumn), where + QStringLiteral(" mac"), MacFieldLength);
        // Two devices at one address would leave neither reachable.
        const auto unique = [&](QHash<QString, QString> &planned, const QString &what,
                                const QString &value) {
            if (planned.contains(value))
                Fail(QStringLiteral("%1: %2 %3 is planned for %4 too")
                             .arg(where, what, value, planned.value(value)));
            planned.insert(value, label);
        };
        if (plan.addresses[0])
            unique(plannedIps, PlanColumns[0], protocol::FromWire(*plan.addresses[0]));
        if (plan.mac)
            unique(plannedMacs, MacColumn, MacText(*plan.mac));
        invocation.targets.append(*target);
        invocation.request.plans.insert(label, plan);
    }
    if (invocation.targets.isEmpty())
        Fail(QStringLiteral("%1 plans no device").arg(path));
    // Nor at an address where another listed device is now: the order the devices are set in
    // would decide whether two of them share it for a while.
    for (const Target &target : std::as_const(invocation.targets)) {
        const QString planned = plannedIps.key(target.Label());
        for (const Target &other : std::as_const(invocation.targets)) {
            if (!planned.isEmpty() && other.host == planned && !(other == target))
                Fail(QStringLiteral("%1: ip %2 is planned for %3, but %4 is there now")
                             .arg(path, planned, target.Label(), other.Label()));
        }
    }
}

void PlanApply(DeviceJob &job)
{
    const PlannedConfig plan = job.Asked().plans.value(job.Result().target.Label());
    // The addresses are read in any case: they say where the device is.
    job.Then(steps::ReadAddresses());
    if (plan.mac)
        job.Then(steps::ReadMac());
    job.Then(steps::Check([plan](DeviceJob &compared) { Compare(compared, plan); }));
}

QString ApplyReportText(const Outcome &outcome)
{
    if (outcome.changes.isEmpty())
        return outcome.status;
    QString text = outcome.status + QStringLiteral(": ") + ChangeText(outcome.changes);
    if (outcome.movedTo)
        text += QStringLiteral("; now at ") + *outcome.movedTo;
    return text;
}

const ResultField ChangesField{ QStringLiteral("changes"),
                                QStringLiteral("\"changes\" ([{\"field\", \"was\", \"planned\"}])"),
                                [](const Outcome &outcome) {
                                    QJsonArray changes;
                                    for (const Outcome::Change &change : outcome.changes)
                                        changes.append(QJsonObject{
                                                { QStringLiteral("field"), change.field },
                                                { QStringLiteral("was"), change.was },
                                                { QStringLiteral("planned"), change.planned } });
                                    return QJsonValue(changes);
                                },
                                {},
                                [](const Outcome &) { return QStringList(); } };

const ResultField MovedToField{
    QStringLiteral("movedTo"),
    QStringLiteral("\"movedTo\" (null, or HOST:PORT once its IP was changed)"),
    [](const Outcome &outcome) {
        return outcome.movedTo ? QJsonValue(*outcome.movedTo) : QJsonValue(QJsonValue::Null);
    },
    {},
    [](const Outcome &) { return QStringList(); }
};

} // namespace cli
