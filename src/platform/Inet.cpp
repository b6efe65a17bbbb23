#include "Inet.h"

#include <QList>

namespace platform {

namespace {

QString trimmed(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.sliced(begin, end - begin);
}

// Reads a run of ASCII digits as decimal; nullopt if there is none or the value passes `max`.
std::optional<quint32> decimal(QStringView digits, quint32 max)
{
    if (digits.isEmpty())
        return std::nullopt;
    quint32 value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + static_cast<quint32>(c.unicode() - u'0');
        if (value > max)
            return std::nullopt;
    }
    return value;
}

ConnectGuard &guardSlot()
{
    static ConnectGuard guard;
    return guard;
}

} // namespace

std::optional<quint32> ParseDottedDecimal(const QString &text)
{
    const QString address = trimmed(text);
    const QList<QStringView> parts = QStringView(address).split(u'.');
    if (parts.size() != 4)
        return std::nullopt;
    quint32 result = 0;
    for (const QStringView part : parts) {
        const std::optional<quint32> value = decimal(part, 255);
        if (!value)
            return std::nullopt;
        result = (result << 8) | *value;
    }
    return result;
}

std::optional<quint16> ParsePort(const QString &text)
{
    const std::optional<quint32> value = decimal(trimmed(text), 65535);
    if (!value || *value == 0)
        return std::nullopt;
    return static_cast<quint16>(*value);
}

void SetConnectGuard(ConnectGuard guard)
{
    guardSlot() = std::move(guard);
}

bool IsConnectAllowed(quint32 hostOrderAddress)
{
    const ConnectGuard &guard = guardSlot();
    return !guard || guard(hostOrderAddress);
}

} // namespace platform
