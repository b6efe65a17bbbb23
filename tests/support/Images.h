#pragma once

#include <QByteArray>
#include <QString>

// Firmware images for tests, and the announce lines a device expects, spelled out here
// independently of the tool's own formatter.
namespace testsupport {

// Every 4-byte word holds its own index (xor `salt`), so a block taken from the wrong offset or
// another image never matches.
inline QByteArray PatternedImage(qsizetype length, uchar salt = 0)
{
    QByteArray image(length, Qt::Uninitialized);
    char *bytes = image.data();
    for (qsizetype i = 0; i < length; ++i) {
        const auto word = static_cast<quint32>(i / 4);
        const auto shift = static_cast<unsigned>(8 * (i % 4));
        bytes[i] = static_cast<char>(((word >> shift) & 0xFFu) ^ salt);
    }
    return image;
}

// The announce of a block without its CR: eight lower-case address digits, the length unpadded.
inline QByteArray AnnounceLine(quint32 address, qsizetype length)
{
    return QByteArrayLiteral("Download(0x") + QByteArray::number(address, 16).rightJustified(8, '0')
            + ",0x" + QByteArray::number(length, 16) + ")";
}

} // namespace testsupport
