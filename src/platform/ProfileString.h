#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QIODevice;

// Reading one value from a settings file in the classic private-profile layout:
//
//   [LAN]
//   ADR=192.168.0.1
//   PORT=2000
//
// Section and key names match without regard to case (Windows-1252 rules); blanks (space, tab)
// around names, around "=" and inside "[ name ]" do not count; a section name ends at its first
// "]"; the value is everything after the first "=", blanks at both ends removed, then one pair of
// matching enclosing quotes (" or ') removed; lines whose first non-blank character is ";" are
// comments (there are no comments at the end of a line, and "#" is ordinary text); only the first
// section of a name is searched and its first matching key wins; a present key with an empty value
// gives ""; lines without "=" and keys before the first section are never found. CR LF, LF and a
// lone CR all end a line. Values come back byte for byte, cut to 2047 bytes. A missing file,
// section or key gives the default (trailing spaces of the default removed). A UTF-8 byte-order
// mark is skipped, and a UTF-16LE file (with its byte-order mark) is read as text.
namespace platform {

inline constexpr qsizetype ProfileValueMax = 2047;

// The settings lookup the tool uses. On Windows it is the system's own GetPrivateProfileStringA
// (with a buffer of ProfileValueMax + 1 bytes); a path that the ANSI code page cannot spell is
// read by ReadProfileString instead. Elsewhere it is ReadProfileString.
QByteArray GetPrivateProfileString(QByteArrayView section, QByteArrayView key,
                                   QByteArrayView defaultValue, const QString &path);

// This project's reader of the file on disk, on every platform.
QByteArray ReadProfileString(QByteArrayView section, QByteArrayView key,
                             QByteArrayView defaultValue, const QString &path);

// How much of the file the reader takes at a time.
inline constexpr qint64 ProfileChunkSize = 64 * 1024;

// The same reader over a device opened for reading (the file, or a buffer), taken in pieces of
// `chunkSize` bytes, at least 3 so that the first holds a byte-order mark whole; it stops
// reading once the answer is known.
QByteArray ReadProfileString(QByteArrayView section, QByteArrayView key,
                             QByteArrayView defaultValue, QIODevice &file,
                             qint64 chunkSize = ProfileChunkSize);

// The same lookup over the contents of a file already in memory.
QByteArray ProfileStringFromBytes(QByteArrayView section, QByteArrayView key,
                                  QByteArrayView defaultValue, QByteArrayView contents);

} // namespace platform
