#pragma once

#include <QString>

// apply: a planned configuration, one CSV row per device, brought about device by device.
namespace cli {

struct Invocation;
struct Outcome;
struct ResultField;
class DeviceJob;

// The columns a plan names its values by, in the window's order; "mac" may follow.
extern const QStringList PlanColumns;

// Reads the plan FILE into the invocation: its devices in the order listed and what each is to
// hold, every value checked as set-addresses and set-mac check theirs. Throws UsageError.
void ReadPlanFile(Invocation &invocation, const QString &path);

// One device: read what the plan names, and if anything differs (and this is no dry run) set it:
// the MAC, then the addresses in one command with those not planned as read (never one that
// neither the plan nor the device gave), then read back, on a new connection to the device's new
// address if the one open ends or goes quiet: "changed" only when the device now holds the plan.
// A device not at its address is looked for at the IP planned for it, and only read there.
void PlanApply(DeviceJob &job);
QString ApplyReportText(const Outcome &outcome);

extern const ResultField ChangesField;
extern const ResultField MovedToField;

} // namespace cli
