#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The values a command sends, checked as the window checks them before anything goes out.
namespace cli {

// What the window's address fields take.
inline constexpr qsizetype AddressFieldLength = 15;
// The five addresses by name, in the window's order.
extern const QStringList AddressNames;

// A value as the window would send it, or a usage error naming it by `name`: empty once
// trimmed (the window would send nothing), longer than `maxLength`, or holding a control
// character, which on the wire would end the command early and start another.
QByteArray RequiredValue(const QString &value, const QString &name, qsizetype maxLength);
// An IPv4 address, as set-addresses and a plan take it (a usage error otherwise): four decimal
// numbers 0-255 within the window's field, blanks around it aside. It goes out in plain dotted
// decimal, leading zeros dropped, since a device may read "010" as octal. `number`, if given,
// receives the address itself.
QByteArray AddressValue(const QString &value, const QString &name, quint32 *number = nullptr);
// A MAC address: twelve hexadecimal digits, or six pairs of them joined by "-" or ":". It goes
// out as the twelve digits in upper case.
QByteArray MacValue(const QString &value, const QString &name);
// The same forms for what a device reported: nothing when it is no address.
std::optional<QString> NormalAddress(const QString &text);
std::optional<QString> NormalMac(const QString &text);

} // namespace cli
