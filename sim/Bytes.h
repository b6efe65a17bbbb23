#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace sim {

// CRC-32 (IEEE 802.3, the zlib/PNG variant): summarises a block in the log and in the records.
quint32 crc32(QByteArrayView data);

// One-line rendering of wire bytes for the traffic log: printable ASCII as is, backslash doubled,
// CR/LF/TAB as \r \n \t and any other byte as \xHH.
QString printable(QByteArrayView bytes);

// Inverse of printable() for texts given on the command line (\r \n \t \\ \xHH); nullopt when
// an escape is incomplete or unknown.
std::optional<QByteArray> unescape(QByteArrayView text);

} // namespace sim
