#include "commands/Apply.h"

#include "commands/Command.h"
#include "io/Csv.h"
#include "run/DeviceJob.h"
#include "io/InputFile.h"
#include "app/Arguments.h"
#include "run/Steps.h"

#include "protocol/Commands.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <optional>

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

// Blanks around a cell go, as any CSV reader drops them; other control characters stay, to be
// refused with the value.
QString Trimmed(const QString &cell)
{
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    qsizetype from = 0;
    qsizetype to = cell.size();
    while (from < to && blank(cell[from]))
        ++from;
    while (to > from && blank(cell[to - 1]))
        --to;
    return cell.sliced(from, to - from);
}

// "a", "a and b", "a, b and c".
QString Listed(QStringList names)
{
    const QString last = names.takeLast();
    return names.isEmpty() ? last
                           : names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// A device's text and a plan's value compare in the plan's form: "10.0.9.05" holds 10.0.9.5 and
// "00-a0-b1-c2-d3-e4" holds 00A0B1C2D3E4.
QList<Outcome::Change> Differences(const PlannedConfig &plan, const Outcome &values)
{
    QList<Outcome::Change> changes;
    const QStringList read = values.addresses.value_or(QStringList());
    for (qsizetype i = 0; i < PlanColumns.size(); ++i) {
        const auto &planned = plan.addresses[static_cast<std::size_t>(i)];
        const QString was = read.value(i);
        if (planned && protocol::FromWire(*planned) != NormalAddress(was).value_or(was))
            changes.append({ PlanColumns[i], was, protocol::FromWire(*planned) });
    }
    if (plan.mac) {
        const QString was = values.mac.value_or(QString());
        if (protocol::FromWire(*plan.mac) != NormalMac(was).value_or(was))
            changes.append({ MacColumn, was, protocol::FromWire(*plan.mac) });
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

bool Touches(const QList<Outcome::Change> &changes, const QString &field, bool only = true)
{
    return std::any_of(changes.begin(), changes.end(), [&](const Outcome::Change &change) {
        return (change.field == field) == only;
    });
}

// The five values of the address set: planned, or as the device reported them. Nothing, with the
// job failed, when one is neither: the set would wipe it.
std::optional<core::DeviceSession::Addresses> WholeSet(DeviceJob &job, const PlannedConfig &plan)
{
    const QStringList read = job.Values().addresses.value_or(QStringList());
    core::DeviceSession::Addresses all;
    qsizetype reported = 0;
    QStringList missing;
    QStringList odd;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const QString item = read.value(static_cast<qsizetype>(i));
        const QString &name = PlanColumns[static_cast<qsizetype>(i)];
        reported += item.isEmpty() ? 0 : 1;
        const std::optional<QString> address = NormalAddress(item);
        if (plan.addresses[i])
            all[i] = *plan.addresses[i];
        else if (item.isEmpty())
            missing.append(name);
        else if (!address)
            odd.append(QStringLiteral("%1 \"%2\"").arg(name, item));
        else
            all[i] = protocol::ToWire(*address);
    }
    if (!missing.isEmpty()) {
        job.Fail(QStringLiteral("device reported %1 of 5 addresses; plan %2 to set it")
                         .arg(reported)
                         .arg(Listed(missing)));
        return std::nullopt;
    }
    if (!odd.isEmpty()) {
        job.Fail(QStringLiteral("device reported %1: %2; plan %3 to set it")
                         .arg(Listed(odd),
                              odd.size() == 1 ? QStringLiteral("not an address")
                                              : QStringLiteral("not addresses"),
                              odd.size() == 1 ? QStringLiteral("it") : QStringLiteral("them")));
        return std::nullopt;
    }
    return all;
}

QString Where(const QString &host, const DeviceJob &job)
{
    return host + QLatin1Char(':') + QString::number(job.Result().target.port);
}

void CheckReadBack(DeviceJob &job, const PlannedConfig &plan)
{
    const QList<Outcome::Change> left = Differences(plan, job.Values());
    if (!left.isEmpty()) {
        QStringList texts;
        for (const Outcome::Change &change : left)
            texts.append(QStringLiteral("%1 %2, planned %3")
                                 .arg(change.field, change.was, change.planned));
        job.Fail(QStringLiteral("read back: ") + texts.join(QStringLiteral("; ")));
        return;
    }
    job.Finish(QStringLiteral("changed"));
}

// The reads that check what was set, on the connection still open. A device that took a new IP
// usually ends it (or goes quiet): then they are made once more on a new connection to `host`.
QList<Step> ReadBack(const PlannedConfig &plan, bool addresses, bool mac, const QString &host,
                     bool again = false)
{
    QList<Step> reads;
    if (addresses)
        reads.append(steps::ReadAddresses());
    if (mac)
        reads.append(steps::ReadMac());
    const auto notReadBack = [](DeviceJob &job, const QString &why) {
        job.Fail(QStringLiteral("set, not read back: ") + why);
        return true;
    };
    const auto elsewhere = [plan, addresses, mac, host, notReadBack](DeviceJob &job,
                                                                     const QString &) {
        core::DeviceLink &link = job.Session().Link();
        link.DropConnection();
        link.SetAddress(host);
        job.WhenUnreachable(notReadBack);
        job.Instead(QList<Step>{ steps::Connect() } + ReadBack(plan, addresses, mac, host, true));
        job.StepDone();
    };
    for (Step &read : reads) {
        if (again)
            read.unanswered = notReadBack;
        else
            read.unanswered = elsewhere;
    }
    reads.append(steps::Check([plan](DeviceJob &checked) { CheckReadBack(checked, plan); }));
    return reads;
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
    const bool addresses = Touches(values.changes, MacColumn, false);
    const bool mac = Touches(values.changes, MacColumn);
    std::optional<core::DeviceSession::Addresses> all;
    if (addresses && !(all = WholeSet(job, plan)))
        return;
    // The MAC first: a new IP may end the connection.
    if (mac)
        job.Then(steps::SetMac(*plan.mac, QStringLiteral("MAC Address Set Failed") + planned));
    QString host = job.Session().Link().Address();
    if (addresses) {
        const bool moves = Touches(values.changes, PlanColumns.first());
        if (moves)
            host = protocol::FromWire(*plan.addresses[0]);
        // Taken, the device is at its new address, whatever the read-back finds.
        job.Then(steps::SetAddresses(*all, QStringLiteral("IP Address Set Failed") + planned,
                                     [moves, host](DeviceJob &set) {
                                         if (moves)
                                             set.Values().movedTo = Where(host, set);
                                     }));
    }
    for (Step &step : ReadBack(plan, addresses, mac, host))
        job.Then(std::move(step));
    job.StepDone();
}

// A device not at its own address may be at the IP planned for it, where an earlier run moved it
// (no other listed device can be there: the plan would have been refused). It is only read
// there: "unchanged" when it holds the whole plan, otherwise it fails and nothing is set, since
// nothing tells that it is the device meant.
bool FindAtPlannedIp(DeviceJob &job, const PlannedConfig &plan, const QString &why)
{
    const QString at = Where(protocol::FromWire(*plan.addresses[0]), job);
    job.Session().Link().SetAddress(protocol::FromWire(*plan.addresses[0]));
    job.WhenUnreachable([why, at](DeviceJob &unreached, const QString &there) {
        unreached.Fail(QStringLiteral("%1; nor at %2: %3").arg(why, at, there));
        return true;
    });
    QList<Step> reads{ steps::Connect(), steps::ReadAddresses() };
    if (plan.mac)
        reads.append(steps::ReadMac());
    reads.append(steps::Check([plan, why, at](DeviceJob &found) {
        const QList<Outcome::Change> differences = Differences(plan, found.Values());
        if (!differences.isEmpty()) {
            found.Fail(QStringLiteral("%1; the device at %2 does not hold the plan (%3): nothing "
                                      "set there")
                               .arg(why, at, ChangeText(differences)));
            return;
        }
        found.Values().movedTo = at;
        found.Finish(QStringLiteral("unchanged"));
    }));
    job.Instead(reads);
    job.StepDone();
    return true;
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

    // Cells without their blanks, and without the empty ones a spreadsheet adds at the end of a
    // line (past the named columns).
    const auto cells = [](const CsvRecord &record, qsizetype named) {
        QStringList trimmed;
        for (const QString &cell : record.cells)
            trimmed.append(Trimmed(cell));
        while (trimmed.size() > named && trimmed.constLast().isEmpty())
            trimmed.removeLast();
        return trimmed;
    };
    // Columns by name, in any order.
    const CsvRecord &header = records->first();
    const QStringList names = cells(header, 0);
    QHash<QString, qsizetype> column;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString name = names[i].toLower();
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
        const QStringList row = cells(record, 0);
        if (row.isEmpty()) // ",,,,,,": a line a spreadsheet left
            continue;
        if (row.size() > names.size() || record.cells.size() < names.size())
            Fail(QStringLiteral("%1: %2 cells, the header has %3")
                         .arg(where)
                         .arg(std::max(row.size(), record.cells.size()))
                         .arg(names.size()));
        const auto cell = [&](const QString &name) { return row.value(column.value(name)); };
        const std::optional<Target> target = ParseTarget(cell(DeviceColumn), &error);
        if (!target)
            Fail(QStringLiteral("%1: %2").arg(where, error));
        const QString label = target->Label();
        if (invocation.request.plans.contains(label))
            Fail(QStringLiteral("%1: %2 is listed twice").arg(where, label));

        PlannedConfig plan;
        for (qsizetype i = 0; i < PlanColumns.size(); ++i) {
            const QString value = cell(PlanColumns[i]);
            if (!value.isEmpty()) // an empty cell leaves the value as it is
                plan.addresses[static_cast<std::size_t>(i)] =
                        AddressValue(value, where + QLatin1Char(' ') + PlanColumns[i]);
        }
        if (column.contains(MacColumn) && !cell(MacColumn).isEmpty())
            plan.mac = MacValue(cell(MacColumn), where + QStringLiteral(" mac"));
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
            unique(plannedMacs, MacColumn, protocol::FromWire(*plan.mac));
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
    if (plan.addresses[0] && protocol::FromWire(*plan.addresses[0]) != job.Result().target.host)
        job.WhenUnreachable([plan](DeviceJob &unreached, const QString &why) {
            return FindAtPlannedIp(unreached, plan, why);
        });
    // The addresses are read in any case: they say where the device is.
    job.Then(steps::ReadAddresses());
    if (plan.mac)
        job.Then(steps::ReadMac());
    job.Then(steps::Check([plan](DeviceJob &compared) { Compare(compared, plan); }));
}

QString ApplyReportText(const Outcome &outcome)
{
    QString text = outcome.status;
    if (!outcome.changes.isEmpty())
        text += QStringLiteral(": ") + ChangeText(outcome.changes);
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
    QStringLiteral("\"movedTo\" (null, or HOST:PORT where the device is now when not at its own "
                   "address: its IP was set, or it was found at its planned ip)"),
    [](const Outcome &outcome) {
        return outcome.movedTo ? QJsonValue(*outcome.movedTo) : QJsonValue(QJsonValue::Null);
    },
    {},
    [](const Outcome &) { return QStringList(); }
};

} // namespace cli
