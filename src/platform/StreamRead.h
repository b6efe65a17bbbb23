#pragma once

#include <QByteArray>
#include <QString>

class QFile;

namespace platform {

struct StreamContents
{
    QByteArray bytes; // the first `keep` bytes
    qint64 total = 0; // every byte the stream held
    QString error; // empty when the stream was read to its end
    int signalNumber = 0; // a termination signal ended the read first
};

// Reads a stream that is not a regular file (a pipe, a FIFO, a terminal; "-" is standard input)
// to its end, keeping its first `keep` bytes and counting the rest (or, not `toEnd`, stopping
// once there are more). A stream without a writer yet is waited for, but a termination signal
// (see OnTerminationSignals) ends the wait.
StreamContents ReadStream(const QString &path, qint64 keep, bool toEnd = true);

// Opens `file` (named already) for appending text. A FIFO without a reader yet is waited for,
// but a termination signal ends the wait: false, with `signalNumber` set. A stream that cannot
// seek (a FIFO, a terminal, /dev/stdout on a pipe) is written where it stands, never sought.
bool OpenForAppending(QFile &file, int *signalNumber);

} // namespace platform
