#pragma once

#include "DeviceJob.h"

#include "core/DeviceSession.h"

#include <QByteArray>

// The exchanges a command's plan is made of; each sends one command (or one download) on the
// job's connection and puts what the device answered into the job's outcome.
namespace cli::steps {

Step ReadVersion();
Step ReadAddresses();
Step ReadMac();
Step SetAddresses(const core::DeviceSession::Addresses &addresses);
Step SetMac(const QByteArray &mac);
// Fails with the first block the device did not accept.
Step Download(const QByteArray &image, quint32 baseAddress);

} // namespace cli::steps
