#include "run/DeviceLock.h"

#include <QCoreApplication>
#include <QDir>

namespace cli {

namespace {

// The note a holder leaves in its lock file: "key value" lines.
QByteArray Note()
{
    return QStringLiteral("pid %1\nprogram %2\nuser %3\n")
            .arg(QCoreApplication::applicationPid())
            .arg(QCoreApplication::applicationName(), platform::UserName())
            .toUtf8();
}

// The value of `key` in a note, or empty.
QString Noted(const QByteArray &note, QLatin1String key)
{
    for (const QByteArray &line : note.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.section(QLatin1Char(' '), 0, 0) == key)
            return text.section(QLatin1Char(' '), 1).trimmed();
    }
    return QString();
}

qint64 NotedPid(const QByteArray &note)
{
    bool number = false;
    const qint64 pid = Noted(note, QLatin1String("pid")).toLongLong(&number);
    return number && pid > 0 ? pid : 0;
}

// "PID 4711, ql-t36-cli, user alice", or empty for a note that names no run.
QString Holder(const QByteArray &note)
{
    const qint64 pid = NotedPid(note);
    if (pid == 0)
        return QString();
    const QString program = Noted(note, QLatin1String("program"));
    const QString user = Noted(note, QLatin1String("user"));
    QString holder = QStringLiteral("PID %1").arg(pid);
    if (!program.isEmpty())
        holder += QStringLiteral(", ") + program;
    if (!user.isEmpty())
        holder += QStringLiteral(", user ") + user;
    return holder;
}

QString LockFolder()
{
    const QString forTests = qEnvironmentVariable("QLT36_LOCK_DIR");
    return forTests.isEmpty() ? platform::HostLockFolder(QStringLiteral("ql-t36")) : forTests;
}

QString LockPath(const Target &target)
{
    // No colon: the name must be a file name on Windows too.
    return QDir(LockFolder())
            .filePath(QStringLiteral("%1-%2.lock").arg(target.Host()).arg(target.port));
}

} // namespace

DeviceLock LockDevice(const Target &target)
{
    DeviceLock taken;
    const QString path = LockPath(target);
    const QString shown = QDir::toNativeSeparators(path);
    QString error;
    if (!platform::MakeSharedFolder(LockFolder(), &error)) {
        taken.error = QStringLiteral("cannot take the lock %1: %2").arg(shown, error);
        return taken;
    }
    auto lock = std::make_unique<platform::FileLock>(path);
    switch (lock->TryLock()) {
    case platform::FileLock::State::Locked:
        break;
    case platform::FileLock::State::Busy: {
        taken.busy = true;
        // A note left in a file this run could not write names a run that is gone.
        const QByteArray note = platform::ReadNote(path);
        const QString holder = platform::ProcessRuns(NotedPid(note)) ? Holder(note) : QString();
        taken.error =
                QStringLiteral("busy: another run is driving this device (%1lock %2)")
                        .arg(holder.isEmpty() ? QString() : holder + QStringLiteral("; "), shown);
        return taken;
    }
    default:
        taken.error = QStringLiteral("cannot take the lock %1: %2").arg(shown, lock->ErrorString());
        return taken;
    }
    // Free, but not empty: its holder ended without releasing it (the system released it).
    if (!lock->Previous().isEmpty()) {
        const QString holder = Holder(lock->Previous());
        taken.takenOver = holder.isEmpty()
                ? QStringLiteral("lock %1 taken over: what it held names no run").arg(shown)
                : QStringLiteral("lock %1 taken over from %2, which ended without releasing it")
                          .arg(shown, holder);
    }
    lock->WriteNote(Note());
    taken.lock = std::move(lock);
    return taken;
}

} // namespace cli
