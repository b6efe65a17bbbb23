#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Comma-separated values as spreadsheets and scripts read them (RFC 4180): a cell that holds a
// comma, a double quote, CR or LF goes in double quotes, with its own quotes doubled; every
// line ends in CR LF.
namespace cli {

QString CsvLine(const QStringList &cells);

// One record of a CSV text, and the line it starts on.
struct CsvRecord
{
    int line = 0;
    QStringList cells;
};

// The records of a CSV text: lines end in CR LF or LF, a quoted cell may hold commas, doubled
// quotes and line breaks. A line that starts with # and a blank line are no records. Nothing,
// with `error` saying where, when a quote is left open or text follows a closing quote.
std::optional<QList<CsvRecord>> ParseCsv(QStringView text, QString *error);

} // namespace cli
