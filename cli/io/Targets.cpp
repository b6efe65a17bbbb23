#include "io/Targets.h"

#include "io/InputFile.h"

#include "platform/Inet.h"

#include <QHostAddress>

namespace cli {

namespace {

// Far beyond any site's list; a device that never ends (/dev/zero) is not read forever.
constexpr qint64 MaxDevicesFileBytes = 16 * 1024 * 1024;

std::optional<Target> MakeTarget(const QString &host, const QString &port, QString *error)
{
    const std::optional<quint32> address = platform::ParseDottedDecimal(host);
    if (!address) {
        *error = QStringLiteral("\"%1\" is not a dotted-decimal IPv4 address").arg(host);
        return std::nullopt;
    }
    const std::optional<quint16> number = platform::ParsePort(port);
    if (!number) {
        *error = QStringLiteral("\"%1\" is not a port from 1 to 65535").arg(port);
        return std::nullopt;
    }
    return Target{ *address, *number };
}

} // namespace

QString Target::Host() const
{
    return QHostAddress(address).toString();
}

QString Target::Label() const
{
    return Host() + QLatin1Char(':') + QString::number(port);
}

std::optional<Target> ParseTarget(const QString &text, QString *error)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return MakeTarget(text, QString::number(DefaultPort), error);
    return MakeTarget(text.first(colon), text.sliced(colon + 1), error);
}

std::optional<QList<Target>> ReadTargetsFile(const QString &path, QString *error, int *signalNumber)
{
    const InputFile file = ReadInputFile(path, MaxDevicesFileBytes);
    *signalNumber = file.signalNumber;
    if (file.signalNumber != 0)
        return std::nullopt;
    if (!file.error.isEmpty()) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.error);
        return std::nullopt;
    }
    QList<Target> targets;
    int lineNumber = 0;
    for (const QByteArray &bytes : file.bytes.split('\n')) {
        ++lineNumber;
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        QString why;
        const std::optional<Target> target = ParseTarget(line, &why);
        if (!target) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(lineNumber).arg(why);
            return std::nullopt;
        }
        targets.append(*target);
    }
    if (targets.isEmpty()) {
        *error = QStringLiteral("%1 lists no device").arg(path);
        return std::nullopt;
    }
    return targets;
}

std::optional<QList<Target>> ScanRange(const QString &range, quint16 port, QString *error)
{
    const auto fail = [&] {
        *error = QStringLiteral("\"%1\" is not a scan range: A.B.C.D/N with N from %2 to 32, or "
                                "A.B.C.D-E")
                         .arg(range)
                         .arg(MinScanPrefix);
        return std::nullopt;
    };
    const qsizetype slash = range.indexOf(QLatin1Char('/'));
    const qsizetype dash = range.indexOf(QLatin1Char('-'));
    const qsizetype cut = slash >= 0 ? slash : dash;
    if (cut < 0)
        return fail();
    const std::optional<quint32> start = platform::ParseDottedDecimal(range.first(cut));
    bool numeric = false;
    const uint bound = range.sliced(cut + 1).toUInt(&numeric);
    if (!start || !numeric)
        return fail();

    quint32 first = *start;
    quint32 count = 0;
    if (slash >= 0) {
        if (bound < MinScanPrefix || bound > 32)
            return fail();
        count = 1u << (32 - bound);
        first &= ~(count - 1);
    } else {
        const quint32 lastOctet = first & 0xFFu;
        if (bound > 255 || bound < lastOctet)
            return fail();
        count = bound - lastOctet + 1;
    }
    QList<Target> targets;
    targets.reserve(count);
    for (quint32 i = 0; i < count; ++i)
        targets.append(Target{ first + i, port });
    return targets;
}

std::optional<Target> SettingsTarget(const QString &folder, QString *error)
{
    const core::LinkSettings settings = core::ReadLinkSettings(folder);
    QString why;
    const std::optional<Target> target = MakeTarget(settings.address, settings.port, &why);
    if (!target)
        *error = QStringLiteral("%1 in %2: %3")
                         .arg(QLatin1String(core::SettingsFileName), folder, why);
    return target;
}

} // namespace cli
