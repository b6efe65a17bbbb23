#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>

namespace cli {

class DeviceJob;

// Hands everything a job's session sends and receives to `write`, one timestamped line each
// (with its line feed): ">>" commands, "<<" reply lines, "==" blocks (address, length, CRC-32),
// "--" link status.
using TraceWriter = std::function<void(const QString &line)>;
void TraceJob(DeviceJob &job, const TraceWriter &write);

// The CRC-32 of zip and Ethernet, so a block can be matched against the device's own record.
quint32 Crc32(QByteArrayView bytes);

} // namespace cli
