#pragma once

#include <QString>

#include <functional>
#include <optional>

// Checking the device's address and port before any connection is attempted.
namespace platform {

// Dotted-decimal IPv4 after trimming (codes 0-32): exactly four parts of ASCII digits, each
// 0-255 and read as decimal even with leading zeros ("010" is ten, never octal). No short forms,
// no hexadecimal, no signs. Returns the address in host order.
std::optional<quint32> ParseDottedDecimal(const QString &text);

// A decimal port 1-65535 after trimming; digits only.
std::optional<quint16> ParsePort(const QString &text);

// Test seam: a guard that every connection attempt must pass (the test suites refuse anything
// that is not loopback). Without a guard every address is allowed.
using ConnectGuard = std::function<bool(quint32 hostOrderAddress)>;
void SetConnectGuard(ConnectGuard guard);
bool IsConnectAllowed(quint32 hostOrderAddress);

} // namespace platform
