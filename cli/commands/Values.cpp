#include "commands/Values.h"

#include "commands/Option.h"
#include "io/Console.h"

#include "platform/Inet.h"
#include "protocol/Commands.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace cli {

const QStringList AddressNames{ QStringLiteral("IP"), QStringLiteral("DP310"),
                                QStringLiteral("MASK"), QStringLiteral("GATEWAY"),
                                QStringLiteral("MULTICAST") };

QByteArray RequiredValue(const QString &value, const QString &name, qsizetype maxLength)
{
    if (protocol::Trim(value).isEmpty())
        Fail(QStringLiteral("%1 is empty").arg(name));
    for (const QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            Fail(QStringLiteral("%1 \"%2\" holds the control character \\x%3")
                         .arg(name, EscapedText(value))
                         .arg(c.unicode(), 2, 16, QLatin1Char('0')));
    }
    if (value.size() > maxLength)
        Fail(QStringLiteral("%1 \"%2\" is %3 characters long; the field takes %4")
                     .arg(name, value)
                     .arg(value.size())
                     .arg(maxLength));
    return protocol::ToWire(value); // as typed, blanks included
}

std::optional<QString> NormalAddress(const QString &text)
{
    const std::optional<quint32> address = platform::ParseDottedDecimal(text);
    if (!address)
        return std::nullopt;
    return QHostAddress(*address).toString();
}

std::optional<QString> NormalMac(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(
            "^(?:[0-9A-Fa-f]{12}|[0-9A-Fa-f]{2}([-:])[0-9A-Fa-f]{2}(?:\\1[0-9A-Fa-f]{2}){4})$"));
    const QString mac = protocol::Trim(text);
    if (!form.match(mac).hasMatch())
        return std::nullopt;
    return QString(mac).remove(QLatin1Char('-')).remove(QLatin1Char(':')).toUpper();
}

QByteArray AddressValue(const QString &value, const QString &name, quint32 *number)
{
    RequiredValue(value, name, AddressFieldLength);
    const std::optional<quint32> address = platform::ParseDottedDecimal(value);
    if (!address)
        Fail(QStringLiteral("%1 \"%2\" is not an IPv4 address (four decimal numbers 0-255)")
                     .arg(name, value));
    if (number != nullptr)
        *number = *address;
    return protocol::ToWire(QHostAddress(*address).toString());
}

QByteArray MacValue(const QString &value, const QString &name)
{
    RequiredValue(value, name, value.size());
    const std::optional<QString> mac = NormalMac(value);
    if (!mac)
        Fail(QStringLiteral("%1 \"%2\" is not a MAC address (twelve hexadecimal digits, or six "
                            "pairs of them joined by - or :)")
                     .arg(name, value));
    return protocol::ToWire(*mac);
}

} // namespace cli
