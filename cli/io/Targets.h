#pragma once

#include <QList>
#include <QString>

#include <optional>

// Which devices a run talks to: "HOST[:PORT]" arguments, a devices file, a scan range, or the
// settings file the windows read. Hosts are checked as strictly as the windows check them.
namespace cli {

inline constexpr quint16 DefaultPort = 2000;
// A scan tries every address of its range, so the range is kept to what a run can try quickly.
inline constexpr int MinScanPrefix = 22;

struct Target
{
    QString host; // dotted decimal, leading zeros gone ("010" reads as ten)
    quint16 port = DefaultPort;

    QString Label() const { return host + QLatin1Char(':') + QString::number(port); }
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
