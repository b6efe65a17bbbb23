#pragma once

#include "Targets.h"

#include <QLockFile>
#include <QString>

#include <memory>

namespace cli {

// What a device another run holds reports.
inline constexpr char BusyText[] = "busy: another run is driving this device";

// A device is driven by one run at a time: two would interleave their commands, and a device
// with one session slot gives it to whoever connected last, cutting a flash under way. The lock
// is advisory, a file per address and port in the user's runtime folder, held for the whole of
// the device's part of the run; a run that ended without releasing it leaves nothing that
// blocks the next one.
QString LockPath(const Target &target);
// The lock, or nothing with `error` BusyText (another run holds it) or why it cannot be taken.
std::unique_ptr<QLockFile> LockDevice(const Target &target, QString *error);

} // namespace cli
