#include "StreamRead.h"

#include "Signals.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#  include <QDir>
#  include <windows.h>
#endif

#ifdef Q_OS_UNIX
#  include <cerrno>
#  include <cstring>
#  include <fcntl.h>
#  include <poll.h>
#  include <unistd.h>
#endif

namespace platform {

namespace {

void Take(StreamContents &contents, const char *data, qint64 count, qint64 keep)
{
    const qint64 room = qMax<qint64>(0, keep - contents.bytes.size());
    contents.bytes.append(data, qMin(room, count));
    contents.total += count;
}

} // namespace

#ifdef Q_OS_UNIX

StreamContents ReadStream(const QString &path, qint64 keep, bool toEnd)
{
    StreamContents contents;
    const bool standardInput = path == QLatin1String("-");
    // Not blocking in open(): a FIFO without a writer would hold it until one comes.
    const int fd = standardInput
            ? STDIN_FILENO
            : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        contents.error = QString::fromLocal8Bit(std::strerror(errno));
        return contents;
    }
    if (!standardInput) {
        // Reads wait in poll() below; a non-blocking FIFO would read as ended before its writer.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }

    const int wake = TerminationWakeDescriptor();
    pollfd waits[2] = { { fd, POLLIN, 0 }, { wake, POLLIN, 0 } };
    char buffer[64 * 1024];
    while ((contents.signalNumber = PendingTerminationSignal()) == 0) {
        waits[0].revents = waits[1].revents = 0;
        if (::poll(waits, wake >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            contents.error = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        if (waits[1].revents != 0)
            continue; // the signal is seen at the top
        if (waits[0].revents == 0)
            continue;
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            contents.error = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        if (count == 0)
            break; // every writer is gone
        Take(contents, buffer, count, keep);
        if (!toEnd && contents.total > keep)
            break;
    }
    if (!standardInput)
        ::close(fd);
    return contents;
}

bool OpenForAppending(QFile &file, int *signalNumber)
{
    const QFileInfo info(file.fileName());
    if (!info.exists() || info.isFile())
        return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
    const QByteArray name = QFile::encodeName(file.fileName());
    const int wake = TerminationWakeDescriptor();
    for (;;) {
        // Without O_NONBLOCK, open() would wait for a FIFO's reader past any signal.
        const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags >= 0)
                ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            // Not QIODevice::Append, which would seek.
            return file.open(fd, QIODevice::WriteOnly | QIODevice::Text,
                             QFileDevice::AutoCloseHandle);
        }
        if (errno != ENXIO && errno != EINTR)
            return file.open(QIODevice::WriteOnly | QIODevice::Text); // for its error
        // A FIFO nobody reads yet: its reader cannot be waited for in poll(), so it is looked
        // for every 100 ms.
        if ((*signalNumber = PendingTerminationSignal()) != 0)
            return false;
        pollfd wait = { wake, POLLIN, 0 };
        ::poll(&wait, wake >= 0 ? 1 : 0, 100);
    }
}

#else

StreamContents ReadStream(const QString &path, qint64 keep, bool toEnd)
{
    StreamContents contents;
    // The system's own reads: a pipe whose writer is done ends in ERROR_BROKEN_PIPE, which the
    // C library's reads report as a failure.
    const bool standardInput = path == QLatin1String("-");
    const HANDLE handle = standardInput
            ? ::GetStdHandle(STD_INPUT_HANDLE)
            : ::CreateFileW(
                    reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                    GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        contents.error = qt_error_string(int(::GetLastError()));
        return contents;
    }
    char buffer[64 * 1024];
    for (;;) {
        DWORD count = 0;
        if (!::ReadFile(handle, buffer, sizeof buffer, &count, nullptr)) {
            const DWORD code = ::GetLastError();
            if (code != ERROR_BROKEN_PIPE && code != ERROR_HANDLE_EOF)
                contents.error = qt_error_string(int(code));
            break;
        }
        if (count == 0)
            break;
        Take(contents, buffer, count, keep);
        if (!toEnd && contents.total > keep)
            break;
    }
    if (!standardInput)
        ::CloseHandle(handle);
    return contents;
}

bool OpenForAppending(QFile &file, int *signalNumber)
{
    *signalNumber = 0;
    // A device or pipe (NUL, \\.\pipe\...) cannot seek.
    const QFileInfo info(file.fileName());
    const QIODevice::OpenMode append =
            !info.exists() || info.isFile() ? QIODevice::Append : QIODevice::NotOpen;
    return file.open(QIODevice::WriteOnly | QIODevice::Text | append);
}

#endif

} // namespace platform
