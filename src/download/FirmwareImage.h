#pragma once

#include "download/DownloadSequence.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <limits>

// What a firmware image is to every front end: a file read whole into memory, the part of it a
// download can write, and where each block of the download goes. The download sequence writes
// the same blocks; this is the plan of them before anything is sent.
namespace download {

// Where phase 1 writes the image: the device's main area, or its backup area.
inline constexpr quint32 MainBaseAddress = 0x1000000;
inline constexpr quint32 BackupBaseAddress = 0;
// The most of an image a download writes; the bytes past it are never sent.
inline constexpr qint64 MaxImageLength = DownloadSequence::Phase1Length;

// How many bytes of an image of `length` bytes a download leaves out.
inline qint64 BytesNotWritten(qint64 length)
{
    return length > MaxImageLength ? length - MaxImageLength : 0;
}

struct ImageFile
{
    bool ok = false;
    QByteArray bytes; // what the read returned, at most the limit
    qint64 fileLength = 0; // the file's own length, which may be more than was read
    QString error; // the system's reason when not ok
};

// Opens the file, takes its length, and reads from its start up to `limit` bytes in one read.
// The content is never examined; an empty file reads as 0 bytes. A file too large for memory
// fails like any other.
ImageFile ReadImageFile(const QString &path, qint64 limit = std::numeric_limits<qint64>::max());

struct PlannedBlock
{
    int phase = 1; // 1 or 2
    quint32 address = 0; // on the device
    qint32 offset = 0; // of its first byte in the image
    qint32 length = 0;
};

struct DownloadPlan
{
    QList<PlannedBlock> blocks; // in the order they go out
    qint64 bytes = 0; // written in all, both phases
};

// The blocks a download of an image of `imageLength` bytes writes, phase 1 from `baseAddress`.
DownloadPlan PlanDownload(qint64 imageLength, quint32 baseAddress);

} // namespace download
