#include "Command.h"

#include <optional>

namespace sim {

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isLowerHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// "0x" or "0X" followed by at least one hex digit, value within 32 bits (leading zeros allowed).
std::optional<quint32> parseHex32(QByteArrayView text)
{
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return std::nullopt;
    quint64 value = 0;
    for (const char c : text.sliced(2)) {
        if (!isHexDigit(c))
            return std::nullopt;
        const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        value = value * 16 + static_cast<quint64>(digit);
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return static_cast<quint32>(value);
}

bool isExactAddressText(QByteArrayView text)
{
    if (text.size() != 10 || !text.startsWith("0x"))
        return false;
    for (const char c : text.sliced(2)) {
        if (!isLowerHexDigit(c))
            return false;
    }
    return true;
}

bool isExactLengthText(QByteArrayView text)
{
    if (text.size() < 3 || !text.startsWith("0x"))
        return false;
    const QByteArrayView digits = text.sliced(2);
    if (digits.size() > 1 && digits[0] == '0')
        return false;
    for (const char c : digits) {
        if (!isLowerHexDigit(c))
            return false;
    }
    return true;
}

QList<QByteArray> splitAtCommas(QByteArrayView text)
{
    QList<QByteArray> items;
    qsizetype start = 0;
    for (;;) {
        const qsizetype comma = text.indexOf(',', start);
        if (comma < 0) {
            items.append(text.sliced(start).toByteArray());
            return items;
        }
        items.append(text.sliced(start, comma - start).toByteArray());
        start = comma + 1;
    }
}

} // namespace

Command parseCommand(QByteArrayView line)
{
    Command command;
    if (line == "ReqIP_ADR") {
        command.kind = CommandKind::ReqIp;
        command.valid = true;
        return command;
    }
    if (line == "ReqMAC_ADR") {
        command.kind = CommandKind::ReqMac;
        command.valid = true;
        return command;
    }
    if (line == "ReqVer") {
        command.kind = CommandKind::ReqVer;
        command.valid = true;
        return command;
    }

    const qsizetype open = line.indexOf('(');
    const QByteArrayView keyword = open < 0 ? line : line.first(open);
    if (keyword == "SetIP_ADR")
        command.kind = CommandKind::SetIp;
    else if (keyword == "SetMAC_ADR")
        command.kind = CommandKind::SetMac;
    else if (keyword == "Download")
        command.kind = CommandKind::Download;
    else
        return command;

    if (open < 0 || !line.endsWith(')'))
        return command;
    const QByteArrayView inside = line.sliced(open + 1, line.size() - open - 2);

    switch (command.kind) {
    case CommandKind::SetIp:
        command.arguments = splitAtCommas(inside);
        command.valid = true;
        break;
    case CommandKind::SetMac:
        command.arguments = { inside.toByteArray() };
        command.valid = true;
        break;
    case CommandKind::Download: {
        command.arguments = splitAtCommas(inside);
        if (command.arguments.size() != 2)
            break;
        const std::optional<quint32> address = parseHex32(command.arguments[0]);
        const std::optional<quint32> length = parseHex32(command.arguments[1]);
        if (!address || !length)
            break;
        command.address = *address;
        command.length = *length;
        command.valid = true;
        command.exactForm =
                isExactAddressText(command.arguments[0]) && isExactLengthText(command.arguments[1]);
        break;
    }
    default:
        break;
    }
    return command;
}

bool isDottedDecimalIpv4(QByteArrayView text)
{
    int groups = 0;
    int digits = 0;
    int value = 0;
    for (const char c : text) {
        if (c == '.') {
            if (digits == 0 || ++groups > 3)
                return false;
            digits = 0;
            value = 0;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            if (++digits > 3 || value > 255)
                return false;
        } else {
            return false;
        }
    }
    return groups == 3 && digits > 0;
}

bool isMacText(QByteArrayView text)
{
    if (text.size() != 12)
        return false;
    for (const char c : text) {
        if (!isHexDigit(c))
            return false;
    }
    return true;
}

const char *commandKindName(CommandKind kind)
{
    switch (kind) {
    case CommandKind::SetIp:
        return "SetIP_ADR";
    case CommandKind::ReqIp:
        return "ReqIP_ADR";
    case CommandKind::SetMac:
        return "SetMAC_ADR";
    case CommandKind::ReqMac:
        return "ReqMAC_ADR";
    case CommandKind::ReqVer:
        return "ReqVer";
    case CommandKind::Download:
        return "Download";
    case CommandKind::Unknown:
        break;
    }
    return "unknown";
}

} // namespace sim
