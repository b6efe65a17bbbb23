#include "Bytes.h"

#include <array>

namespace sim {

namespace {

// Eight tables, so that eight bytes take one step (slicing by 8): a fleet of simulators checks
// gigabytes of blocks in one thread.
using CrcTables = std::array<std::array<quint32, 256>, 8>;

constexpr CrcTables makeCrcTables()
{
    CrcTables tables{};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (std::size_t n = 0; n < 256; ++n)
            tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFFu];
    }
    return tables;
}

constexpr CrcTables CrcTable = makeCrcTables();

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

quint32 crc32(QByteArrayView data)
{
    const auto byte = [&data](qsizetype i) {
        return static_cast<quint32>(static_cast<quint8>(data[i]));
    };
    quint32 c = 0xFFFFFFFFu;
    qsizetype i = 0;
    for (; i + 8 <= data.size(); i += 8) {
        const quint32 low =
                c ^ (byte(i) | byte(i + 1) << 8 | byte(i + 2) << 16 | byte(i + 3) << 24);
        const quint32 high = byte(i + 4) | byte(i + 5) << 8 | byte(i + 6) << 16 | byte(i + 7) << 24;
        c = CrcTable[7][low & 0xFFu] ^ CrcTable[6][(low >> 8) & 0xFFu]
                ^ CrcTable[5][(low >> 16) & 0xFFu] ^ CrcTable[4][low >> 24]
                ^ CrcTable[3][high & 0xFFu] ^ CrcTable[2][(high >> 8) & 0xFFu]
                ^ CrcTable[1][(high >> 16) & 0xFFu] ^ CrcTable[0][high >> 24];
    }
    for (; i < data.size(); ++i)
        c = CrcTable[0][(c ^ byte(i)) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

QString printable(QByteArrayView bytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<quint8>(ch);
        switch (b) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (b >= 0x20 && b < 0x7F) {
                out += ch;
            } else {
                out += "\\x";
                out += Digits[b >> 4];
                out += Digits[b & 0x0F];
            }
        }
    }
    return QString::fromLatin1(out);
}

std::optional<QByteArray> unescape(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch != '\\') {
            out += ch;
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text[i]) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x': {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

} // namespace sim
