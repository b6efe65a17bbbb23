#include "DeviceLock.h"

#include <QDir>
#include <QStandardPaths>

namespace cli {

namespace {

QString LockFolder()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // Without it the system's own fallback complains on the error output, which is the report's.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return QDir::tempPath();
#endif
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

} // namespace

QString LockPath(const Target &target)
{
    // No colon: the name must be a file name on Windows too.
    return QDir(LockFolder())
            .filePath(QStringLiteral("ql-t36-cli-%1-%2.lock").arg(target.host).arg(target.port));
}

std::unique_ptr<QLockFile> LockDevice(const Target &target, QString *error)
{
    auto lock = std::make_unique<QLockFile>(LockPath(target));
    // Never stale by age: a flash holds it for minutes. A lock whose run is gone is taken over.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        return lock;
    switch (lock->error()) {
    case QLockFile::LockFailedError:
        *error = QString::fromLatin1(BusyText);
        break;
    case QLockFile::PermissionError:
        *error = QStringLiteral("cannot take the lock %1: permission denied").arg(LockPath(target));
        break;
    default:
        *error = QStringLiteral("cannot take the lock %1").arg(LockPath(target));
        break;
    }
    return nullptr;
}

} // namespace cli
