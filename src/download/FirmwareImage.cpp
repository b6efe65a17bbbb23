#include "FirmwareImage.h"

#include <QFile>

#include <algorithm>
#include <new>

namespace download {

ImageFile ReadImageFile(const QString &path, qint64 limit)
{
    ImageFile result;
    try {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            result.error = file.errorString();
            return result;
        }
        const qint64 length = file.size();
        if (length < 0 || !file.seek(0)) {
            result.error = file.errorString();
            return result;
        }
        const qint64 wanted = std::min(length, limit);
        QByteArray bytes;
        bytes.resize(static_cast<qsizetype>(wanted));
        const qint64 read = wanted > 0 ? file.read(bytes.data(), wanted) : 0;
        if (read < 0) {
            result.error = file.errorString();
            return result;
        }
        bytes.resize(static_cast<qsizetype>(read));
        file.close();
        if (file.error() != QFileDevice::NoError) {
            result.error = file.errorString();
            return result;
        }
        result.ok = true;
        result.bytes = std::move(bytes);
        result.fileLength = length;
    } catch (const std::bad_alloc &) {
        result = ImageFile();
        result.error = QStringLiteral("not enough memory");
    }
    return result;
}

DownloadPlan PlanDownload(qint64 imageLength, quint32 baseAddress)
{
    constexpr qint64 block = DownloadSequence::BlockLength;
    DownloadPlan plan;
    const auto place = [&](int phase, quint32 address, qint64 offset) {
        const qint64 length = std::min(imageLength - offset, block);
        if (length <= 0)
            return false;
        plan.blocks.append(PlannedBlock{ phase, address, static_cast<qint32>(offset),
                                         static_cast<qint32>(length) });
        plan.bytes += length;
        return true;
    };
    for (int number = 0; number < DownloadSequence::Phase1Blocks; ++number) {
        const qint64 offset = number * block;
        if (!place(1, baseAddress + static_cast<quint32>(offset), offset))
            break;
    }
    // Phase 2 writes the image's third and fourth blocks again, to the bottom of the device.
    for (int number = DownloadSequence::Phase2FirstBlock; number < DownloadSequence::Phase2EndBlock;
         ++number) {
        const qint64 offset = number * block;
        if (!place(2, static_cast<quint32>((number - DownloadSequence::Phase2FirstBlock) * block),
                   offset))
            break;
    }
    return plan;
}

} // namespace download
