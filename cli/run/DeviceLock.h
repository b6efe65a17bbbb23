#pragma once

#include "io/Targets.h"

#include "platform/FileLock.h"

#include <QString>

#include <memory>

namespace cli {

// A device is driven by one run at a time: two would interleave their commands, and a device
// with one session slot gives it to whoever connected last, cutting a flash under way. The lock
// is a file per address and port in one folder for the whole host, whoever runs the tool and
// with whatever environment, held for the whole of the device's part of the run. The system
// releases it however the run ends, so a run that is gone never blocks the next one. The folder
// is the host's, or QLT36_LOCK_DIR where that is set (for tests, which must never meet a real
// run on the host).
struct DeviceLock
{
    std::unique_ptr<platform::FileLock> lock; // held; null when it was not taken
    bool busy = false; // another run holds it
    QString error; // why it was not taken, naming the run that holds it where known
    QString takenOver; // in words, the note of a run that ended without releasing it
};

// Taken, with a note naming this run for whoever finds it busy.
DeviceLock LockDevice(const Target &target);

} // namespace cli
