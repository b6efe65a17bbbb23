#pragma once

#include "io/Targets.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// apply's plan: a CSV file, one row per device, of what each is to hold.
namespace cli {

// The columns a plan names its values by, in the window's order; "mac" may follow.
extern const QStringList PlanColumns;
extern const QString MacColumn;

// What one device is to hold. A value left empty in the plan is left as it is.
struct PlannedConfig
{
    std::array<std::optional<QByteArray>, 5> addresses; // as they go out, in the window's order
    std::optional<QByteArray> mac;
    // Where the device is once its planned IP is set: that IP, on the device's port.
    std::optional<Target> at;
};

struct PlanFile
{
    QList<Target> targets; // in the order listed
    QHash<QString, PlannedConfig> plans; // by the device's label
    int signalNumber = 0; // a termination signal ended the wait for a piped plan
};

// Reads the plan FILE: its devices and what each is to hold, every value checked as
// set-addresses and set-mac check theirs. Throws UsageError.
PlanFile ReadPlanFile(const QString &path);

} // namespace cli
