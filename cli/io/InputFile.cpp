#include "io/InputFile.h"

#include "platform/StreamRead.h"

#include <QFile>
#include <QFileInfo>

namespace cli {

InputFile ReadInputFile(const QString &path, qint64 limit)
{
    InputFile input;
    const QFileInfo info(path);
    const auto tooLong = [&] {
        input.error = QStringLiteral("longer than %1 bytes").arg(limit);
        return input;
    };
    if (path == QLatin1String("-") || (info.exists() && !info.isFile() && !info.isDir())) {
        // A pipe has no length to ask for: it is read until its writer is done.
        const platform::StreamContents stream = platform::ReadStream(path, limit, false);
        input.signalNumber = stream.signalNumber;
        input.error = stream.error;
        input.bytes = stream.bytes;
        if (input.signalNumber == 0 && input.error.isEmpty() && stream.total > limit)
            return tooLong();
        return input;
    }
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        input.error = info.isDir() ? QStringLiteral("it is a folder") : file.errorString();
        return input;
    }
    input.bytes = file.read(limit + 1);
    if (input.bytes.size() > limit)
        return tooLong();
    return input;
}

} // namespace cli
