#pragma once

#include <QByteArrayView>
#include <QString>

namespace cli {

class DeviceJob;
class Output;

// Writes everything a job's session sends and receives to the error output, one timestamped line each:
// ">>" commands, "<<" reply lines, "==" blocks (address, length, CRC-32), "--" link status.
void TraceJob(DeviceJob &job, Output &output);

// The CRC-32 of zip and Ethernet, so a block can be matched against the device's own record.
quint32 Crc32(QByteArrayView bytes);

} // namespace cli
