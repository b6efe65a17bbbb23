#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// An exclusive lock on a file, held while this object lives, taken without waiting. The system
// itself releases it when the process ends, however it ends (a crash, SIGKILL, a closed console),
// so a holder that is gone never leaves anything that blocks the next one: the file stays, free.
// An advisory lock (flock on Linux, LockFileEx on Windows): it keeps out only those who ask for
// it, and it does not keep the file's text from being read.
class FileLock
{
public:
    enum class State { Unlocked, Locked, Busy, Failed };

    explicit FileLock(const QString &path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Opens the file (made when missing, readable and writable by every user whatever the umask,
    // so that another user's run can take it over later) and takes the lock. A file another user
    // left that this one may only read is locked all the same. Busy when another process holds
    // it; Failed with ErrorString() when the file cannot be opened.
    State TryLock();
    State LockState() const { return m_state; }
    QString ErrorString() const { return m_error; }
    QString Path() const { return m_path; }
    // What the file held when the lock was taken: the note of a holder that ended without
    // releasing it, or nothing.
    QByteArray Previous() const { return m_previous; }
    // Replaces what the file holds, for whoever finds it busy; false where it is read-only here.
    bool WriteNote(const QByteArray &note);
    // Empties the file (if it may) and releases the lock; the destructor does it too.
    void Release();

private:
    QString m_path;
    State m_state = State::Unlocked;
    QString m_error;
    QByteArray m_previous;
    bool m_writable = false;
#ifdef Q_OS_WIN
    void *m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

// What the file at `path` holds, at most `max` bytes; empty if it cannot be read.
QByteArray ReadNote(const QString &path, qint64 max = 4096);

// Makes `folder` if missing, with its parents, such that every user may make files in it and
// only their owner may remove them (mode 1777, as /tmp) where the system has such modes. False
// with `error` set when it is missing still.
bool MakeSharedFolder(const QString &folder, QString *error);

// The folder for the host-wide locks of the program `name`, the same for every user, session and
// environment of the host: /run/lock/NAME on Linux, %ProgramData%\NAME\lock on Windows.
QString HostLockFolder(const QString &name);

// The name of the user this process runs as; empty if unknown.
QString UserName();
// Whether a process with this id runs now (a note that another user's read-only file still
// holds may name a run long gone).
bool ProcessRuns(qint64 pid);

} // namespace platform
