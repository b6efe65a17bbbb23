#pragma once

#include "core/LinkSettings.h"

#include <QList>
#include <QString>

#include <optional>

// Which devices a run talks to: "HOST[:PORT]" arguments, a devices file, a scan range, or the
// settings file the windows read. Hosts are checked as strictly as the windows check them, once:
// a target holds the address as a number.
namespace cli {

// The settings' default port, as a number.
inline constexpr quint16 DefaultPort = [] {
    quint16 port = 0;
    for (const char *digit = core::DefaultPort; *digit != '\0'; ++digit)
        port = static_cast<quint16>(port * 10 + (*digit - '0'));
    return port;
}();
// A scan tries every address of its range, so the range is kept to what a run can try quickly.
inline constexpr int MinScanPrefix = 22;

struct Target
{
    quint32 address = 0; // IPv4, host order
    quint16 port = DefaultPort;

    // Dotted decimal, leading zeros gone ("010" reads as ten).
    QString Host() const;
    // "HOST:PORT"
    QString Label() const;
    bool operator==(const Target &other) const = default;
};

// "HOST" or "HOST:PORT"; on failure `error` says why.
std::optional<Target> ParseTarget(const QString &text, QString *error);
// One HOST[:PORT] a line; blank lines and lines starting with # are skipped. `path` may be a
// stream (see ReadInputFile); a termination signal that ends the wait for it sets
// `signalNumber`, with no error.
std::optional<QList<Target>> ReadTargetsFile(const QString &path, QString *error,
                                             int *signalNumber);
// "A.B.C.D/N" (N from MinScanPrefix to 32) or "A.B.C.D-E", every address of it on `port`.
std::optional<QList<Target>> ScanRange(const QString &range, quint16 port, QString *error);
// The address and port of QL_T36.ini in `folder`, defaults included.
std::optional<Target> SettingsTarget(const QString &folder, QString *error);

} // namespace cli
