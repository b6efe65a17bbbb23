#pragma once

#include "report/CommandReport.h"

#include <QJsonValue>
#include <QString>

#include <optional>

// The values that several commands report for each device.
namespace cli {

extern const ResultField VersionField;
// The five addresses, in the columns a plan names them by.
extern const ResultField AddressesField;
extern const ResultField MacField;
// A command that sets, interrupted: what it left the device as.
extern const ResultField LeftField;

// The human report's "version 2.00".
QString VersionReadText(const Outcome &outcome);

QJsonValue TextOrNull(const std::optional<QString> &text);
// For a field that has no CSV column.
QStringList NoCells(const Outcome &outcome);

} // namespace cli
