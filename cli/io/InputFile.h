#pragma once

#include <QByteArray>
#include <QString>

namespace cli {

struct InputFile
{
    QByteArray bytes;
    QString error; // why it could not be read; empty when it was
    int signalNumber = 0; // a termination signal ended the wait for it
};

// A file the command line names, whole: a regular file, or a stream (a pipe, a FIFO, "-" for
// standard input, /dev/stdin, a shell's <(...)) read to its end, its writer waited for as long
// as no termination signal comes. More than `limit` bytes is an error.
InputFile ReadInputFile(const QString &path, qint64 limit);

} // namespace cli
