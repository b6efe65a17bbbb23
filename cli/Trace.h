#pragma once

#include <QByteArrayView>
#include <QString>

namespace cli {

class DeviceJob;

// Writes everything a job's session sends and receives to stderr, one timestamped line each:
// ">>" commands, "<<" reply lines, "==" blocks (address, length, CRC-32), "--" link status.
void TraceJob(DeviceJob &job);

// The CRC-32 of zip and Ethernet, so a block can be matched against the device's own record.
quint32 Crc32(QByteArrayView bytes);

} // namespace cli
