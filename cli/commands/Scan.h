#pragma once

#include "commands/Option.h"

#include <QString>

// Looking for devices in an address range: scan, and inventory --scan.
namespace cli {

struct Invocation;

inline constexpr int ScanConnectTimeoutMs = 1000;

// --port, as scan and inventory take it, into `port`; `given` says it was.
OptionDef PortOption(quint16 &port, bool &given, const QString &manual);
// Every address of `range` on `port` becomes a device of the run, each bound to the scan's
// connect time-out; only those that answer are listed. Throws UsageError.
void Search(Invocation &invocation, const QString &range, quint16 port);

} // namespace cli
