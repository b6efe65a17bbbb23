#pragma once

#include "run/DeviceJob.h"

#include <QByteArray>

namespace cli::steps {

// The firmware download on the job's connection, the session's waits for a size
// acknowledgement and a block's result set first. Fails with the first block the device did not
// accept. A first announce that got no size acknowledgement is tried again on a new connection
// while the job has attempts left. The image is shared, never copied: a thousand devices hold
// one.
Step Download(const QByteArray &image, quint32 baseAddress, int sizeWaitMs, int resultWaitMs,
              core::DeviceSession::DownloadPace pace);

} // namespace cli::steps
