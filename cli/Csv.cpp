#include "Csv.h"

#include "Commands.h"

namespace cli {

namespace {

QString Cell(const QString &text)
{
    const bool quoted = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
            || text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
    if (!quoted)
        return text;
    QString cell = text;
    cell.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + cell + QLatin1Char('"');
}

} // namespace

QString CsvLine(const QStringList &cells)
{
    QStringList line;
    line.reserve(cells.size());
    for (const QString &cell : cells)
        line.append(Cell(cell));
    return line.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString CsvTable(const QList<const ResultField *> &fields, const QList<Outcome> &outcomes)
{
    QStringList header{ QStringLiteral("device") };
    for (const ResultField *field : fields)
        header += field->csvColumns;
    QString table = CsvLine(header);
    for (const Outcome &outcome : outcomes) {
        QStringList row{ outcome.target.Label() };
        for (const ResultField *field : fields)
            row += field->csv(outcome);
        table += CsvLine(row);
    }
    return table;
}

} // namespace cli
