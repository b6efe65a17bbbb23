#include "commands/PlanFile.h"

#include "commands/Option.h"
#include "commands/Values.h"
#include "io/Csv.h"
#include "io/InputFile.h"

#include "protocol/Commands.h"

#include <algorithm>

namespace cli {

const QStringList PlanColumns{ QStringLiteral("ip"), QStringLiteral("dp310"),
                               QStringLiteral("mask"), QStringLiteral("gateway"),
                               QStringLiteral("multicast") };
const QString MacColumn = QStringLiteral("mac");

namespace {

// Far beyond any site's plan; a device that never ends (/dev/zero) is not read forever.
constexpr qint64 MaxPlanBytes = 16 * 1024 * 1024;

const QString DeviceColumn = QStringLiteral("device");
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

} // namespace

PlanFile ReadPlanFile(const QString &path)
{
    PlanFile read;
    const InputFile file = ReadInputFile(path, MaxPlanBytes);
    if (file.signalNumber != 0) {
        read.signalNumber = file.signalNumber; // the run ends as interrupted
        return read;
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
        if (read.plans.contains(label))
            Fail(QStringLiteral("%1: %2 is listed twice").arg(where, label));

        PlannedConfig plan;
        for (qsizetype i = 0; i < PlanColumns.size(); ++i) {
            const QString value = cell(PlanColumns[i]);
            quint32 address = 0;
            if (!value.isEmpty()) // an empty cell leaves the value as it is
                plan.addresses[static_cast<std::size_t>(i)] =
                        AddressValue(value, where + QLatin1Char(' ') + PlanColumns[i], &address);
            if (i == 0 && !value.isEmpty())
                plan.at = Target{ address, target->port };
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
        read.targets.append(*target);
        read.plans.insert(label, plan);
    }
    if (read.targets.isEmpty())
        Fail(QStringLiteral("%1 plans no device").arg(path));
    // Nor at an address where another listed device is now: the order the devices are set in
    // would decide whether two of them share it for a while.
    for (const Target &target : std::as_const(read.targets)) {
        const std::optional<Target> at = read.plans.value(target.Label()).at;
        for (const Target &other : std::as_const(read.targets)) {
            if (at && other.address == at->address && !(other == target))
                Fail(QStringLiteral("%1: ip %2 is planned for %3, but %4 is there now")
                             .arg(path, at->Host(), target.Label(), other.Label()));
        }
    }
    return read;
}

} // namespace cli
