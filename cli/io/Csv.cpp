#include "io/Csv.h"

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

std::optional<QList<CsvRecord>> ParseCsv(QStringView text, QString *error)
{
    QList<CsvRecord> records;
    qsizetype at = 0;
    int line = 1;
    const auto lineEnd = [&](qsizetype i) {
        return i >= text.size() || text[i] == QLatin1Char('\n')
                || (text[i] == QLatin1Char('\r') && i + 1 < text.size()
                    && text[i + 1] == QLatin1Char('\n'));
    };
    const auto skipLineEnd = [&] {
        if (at < text.size() && text[at] == QLatin1Char('\r'))
            ++at;
        if (at < text.size() && text[at] == QLatin1Char('\n'))
            ++at;
        ++line;
    };
    while (at < text.size()) {
        if (text[at] == QLatin1Char('#') || lineEnd(at)) {
            while (!lineEnd(at))
                ++at;
            skipLineEnd();
            continue;
        }
        CsvRecord record{ line, {} };
        for (;;) {
            QString cell;
            if (at < text.size() && text[at] == QLatin1Char('"')) {
                const int opened = line;
                for (++at;; ++at) {
                    if (at >= text.size()) {
                        *error = QStringLiteral("line %1: a quote is not closed").arg(opened);
                        return std::nullopt;
                    }
                    if (text[at] == QLatin1Char('"')) {
                        if (at + 1 < text.size() && text[at + 1] == QLatin1Char('"')) {
                            cell += QLatin1Char('"');
                            ++at;
                            continue;
                        }
                        ++at;
                        break;
                    }
                    if (text[at] == QLatin1Char('\n'))
                        ++line;
                    cell += text[at];
                }
                if (at < text.size() && text[at] != QLatin1Char(',') && !lineEnd(at)) {
                    *error = QStringLiteral("line %1: text after a closing quote").arg(line);
                    return std::nullopt;
                }
            } else {
                while (at < text.size() && text[at] != QLatin1Char(',') && !lineEnd(at))
                    cell += text[at++];
            }
            record.cells.append(cell);
            if (at < text.size() && text[at] == QLatin1Char(',')) {
                ++at;
                continue;
            }
            break;
        }
        records.append(record);
        skipLineEnd();
    }
    return records;
}

} // namespace cli
