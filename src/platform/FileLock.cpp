#include "FileLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#  include <windows.h>
#  include <shlobj.h>
#else
#  include <cerrno>
#  include <fcntl.h>
#  include <csignal>
#  include <pwd.h>
#  include <sys/file.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace platform {

FileLock::FileLock(const QString &path) : m_path(path) { }

FileLock::~FileLock()
{
    Release();
}

#ifdef Q_OS_WIN

namespace {

// The lock covers one byte far beyond anything written, since a locked range cannot be read by
// others on Windows: the holder's note at the start stays readable.
constexpr DWORD LockOffsetHigh = 0x40000000;

std::wstring Native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

bool Rewind(HANDLE handle)
{
    LARGE_INTEGER start = {};
    return ::SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) != 0;
}

QByteArray ReadFrom(HANDLE handle, qint64 max)
{
    QByteArray bytes(max, Qt::Uninitialized);
    DWORD read = 0;
    if (!Rewind(handle) || !::ReadFile(handle, bytes.data(), DWORD(max), &read, nullptr))
        return QByteArray();
    bytes.truncate(read);
    return bytes;
}

} // namespace

FileLock::State FileLock::TryLock()
{
    if (m_state == State::Locked)
        return m_state;
    constexpr DWORD Share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const std::wstring path = Native(m_path);
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, Share, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    m_writable = handle != INVALID_HANDLE_VALUE;
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED)
        handle = ::CreateFileW(path.c_str(), GENERIC_READ, Share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        m_error = qt_error_string(int(::GetLastError()));
        return m_state = State::Failed;
    }
    OVERLAPPED region = {};
    region.OffsetHigh = LockOffsetHigh;
    if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &region)) {
        const DWORD code = ::GetLastError();
        ::CloseHandle(handle);
        if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING)
            return m_state = State::Busy;
        m_error = qt_error_string(int(code));
        return m_state = State::Failed;
    }
    m_handle = handle;
    m_previous = ReadFrom(handle, 4096);
    return m_state = State::Locked;
}

bool FileLock::WriteNote(const QByteArray &note)
{
    if (m_state != State::Locked || !m_writable)
        return false;
    const HANDLE handle = m_handle;
    DWORD written = 0;
    return Rewind(handle) && ::SetEndOfFile(handle)
            && ::WriteFile(handle, note.constData(), DWORD(note.size()), &written, nullptr)
            && written == DWORD(note.size());
}

void FileLock::Release()
{
    if (m_state != State::Locked)
        return;
    const HANDLE handle = m_handle;
    if (m_writable && Rewind(handle))
        ::SetEndOfFile(handle);
    OVERLAPPED region = {};
    region.OffsetHigh = LockOffsetHigh;
    ::UnlockFileEx(handle, 0, 1, 0, &region);
    ::CloseHandle(handle);
    m_handle = nullptr;
    m_state = State::Unlocked;
}

QByteArray ReadNote(const QString &path, qint64 max)
{
    const HANDLE handle = ::CreateFileW(Native(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return QByteArray();
    const QByteArray note = ReadFrom(handle, max);
    ::CloseHandle(handle);
    return note;
}

bool MakeSharedFolder(const QString &folder, QString *error)
{
    // Under %ProgramData% every user may make files; what one makes, the others may read, which
    // is all a lock needs.
    if (QDir().mkpath(folder))
        return true;
    *error = QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(folder));
    return false;
}

QString HostLockFolder(const QString &name)
{
    // Asked of the system, not the environment: a run with its own environment finds it too.
    QString programData;
    PWSTR path = nullptr;
    if (::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path) == S_OK)
        programData = QDir::fromNativeSeparators(QString::fromWCharArray(path));
    ::CoTaskMemFree(path);
    if (programData.isEmpty())
        programData = QStringLiteral("C:/ProgramData");
    return programData + QLatin1Char('/') + name + QStringLiteral("/lock");
}

bool ProcessRuns(qint64 pid)
{
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (process == nullptr)
        return ::GetLastError() == ERROR_ACCESS_DENIED; // another user's
    const bool runs = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return runs;
}

QString UserName()
{
    wchar_t name[257] = {};
    DWORD length = 257;
    return ::GetUserNameW(name, &length) ? QString::fromWCharArray(name) : QString();
}

#else

namespace {

// No symbolic link is followed (the folder is everyone's), and nothing waits in open() for a
// FIFO somebody put there.
constexpr int OpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

QString ErrnoText()
{
    return qt_error_string(errno);
}

// Opens the file read-write, or read-only where this user may not write another's. O_CREAT only
// for a file that is missing: in a sticky folder the system may refuse it for another user's
// file that its mode lets everyone write (fs.protected_regular).
int OpenLockFile(const QByteArray &name, bool *writable)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::open(name.constData(), O_RDWR | OpenFlags);
        if (fd >= 0) {
            *writable = true;
            return fd;
        }
        if (errno == EACCES || errno == EPERM || errno == EROFS) {
            *writable = false;
            return ::open(name.constData(), O_RDONLY | OpenFlags);
        }
        if (errno != ENOENT)
            return -1;
        fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | OpenFlags, 0666);
        if (fd >= 0) {
            *writable = true;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
        // Another run made it meanwhile: that one is opened.
    }
    return -1;
}

QByteArray ReadFd(int fd, qint64 max)
{
    QByteArray bytes(max, Qt::Uninitialized);
    const ssize_t count = ::pread(fd, bytes.data(), std::size_t(max), 0);
    bytes.truncate(count > 0 ? qsizetype(count) : 0);
    return bytes;
}

} // namespace

FileLock::State FileLock::TryLock()
{
    if (m_state == State::Locked)
        return m_state;
    const int fd = OpenLockFile(QFile::encodeName(m_path), &m_writable);
    if (fd < 0) {
        m_error = ErrnoText();
        return m_state = State::Failed;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        m_error = QStringLiteral("not a regular file");
        ::close(fd);
        return m_state = State::Failed;
    }
    // Whatever the umask: a file this user leaves behind must stay usable by the next user.
    if (status.st_uid == ::geteuid() && (status.st_mode & 07777) != 0666)
        ::fchmod(fd, 0666);
    int locked = -1;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) { }
    if (locked != 0) {
        const bool busy = errno == EWOULDBLOCK;
        m_error = busy ? QString() : ErrnoText();
        ::close(fd);
        return m_state = busy ? State::Busy : State::Failed;
    }
    m_fd = fd;
    m_previous = ReadFd(fd, 4096);
    return m_state = State::Locked;
}

bool FileLock::WriteNote(const QByteArray &note)
{
    if (m_state != State::Locked || !m_writable)
        return false;
    return ::ftruncate(m_fd, 0) == 0
            && ::pwrite(m_fd, note.constData(), std::size_t(note.size()), 0) == note.size();
}

void FileLock::Release()
{
    if (m_state != State::Locked)
        return;
    // Emptied first: a run that finds it free has no holder's note to read.
    if (m_writable && ::ftruncate(m_fd, 0) != 0) {
        // Left as it was: the next run finds the note of a holder that is gone, and says so.
    }
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
    m_state = State::Unlocked;
}

QByteArray ReadNote(const QString &path, qint64 max)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | OpenFlags);
    if (fd < 0)
        return QByteArray();
    const QByteArray note = ReadFd(fd, max);
    ::close(fd);
    return note;
}

bool MakeSharedFolder(const QString &folder, QString *error)
{
    if (QFileInfo(folder).isDir())
        return true;
    QDir().mkpath(QFileInfo(folder).absolutePath());
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), 01777) == 0) {
        // The umask took bits away.
        ::chmod(name.constData(), 01777);
    } else if (errno != EEXIST) {
        *error = QStringLiteral("cannot make the folder %1: %2").arg(folder, ErrnoText());
        return false;
    }
    return true;
}

QString HostLockFolder(const QString &name)
{
#  ifdef Q_OS_LINUX
    return QStringLiteral("/run/lock/") + name;
#  else
    return QStringLiteral("/tmp/") + name;
#  endif
}

bool ProcessRuns(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

QString UserName()
{
    const uid_t uid = ::geteuid();
    char buffer[1024];
    struct passwd entry = {};
    struct passwd *found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

#endif

} // namespace platform
