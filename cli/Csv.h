#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Comma-separated values as spreadsheets and scripts read them (RFC 4180): a cell that holds a
// comma, a double quote, CR or LF goes in double quotes, with its own quotes doubled; every
// line ends in CR LF.
namespace cli {

struct Outcome;
struct ResultField;

QString CsvLine(const QStringList &cells);

// A header line ("device" and each field's columns), then one line per outcome, in order.
QString CsvTable(const QList<const ResultField *> &fields, const QList<Outcome> &outcomes);

} // namespace cli
