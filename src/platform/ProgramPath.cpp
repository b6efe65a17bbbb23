#include "ProgramPath.h"

#include <QCoreApplication>
#include <QDir>

#ifdef Q_OS_WIN
#  include <vector>
#  include <windows.h>
#endif

namespace platform {

namespace {

QString &moduleOverride()
{
    static QString path;
    return path;
}

// Separators of real file-system paths on this platform.
QString nativeSeparators()
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\:");
#else
    return QStringLiteral("/");
#endif
}

qsizetype lastDelimiter(const QString &delimiters, const QString &path)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (delimiters.contains(path[i]))
            return i;
    }
    return -1;
}

} // namespace

QString ModuleFileName()
{
    if (!moduleOverride().isEmpty())
        return moduleOverride();
#ifdef Q_OS_WIN
    // The path the system loaded the executable from, in full: a folder may be named in any
    // script and be longer than MAX_PATH.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0)
            return QString();
        if (length < size)
            return QString::fromWCharArray(buffer.data(), static_cast<qsizetype>(length));
        if (buffer.size() >= 32768)
            return QString();
        buffer.resize(buffer.size() * 2);
    }
#else
    return QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
#endif
}

void SetModuleFileNameForTesting(const QString &path)
{
    moduleOverride() = path;
}

QString ExtractFileDir(const QString &path)
{
    const QString delimiters = nativeSeparators();
    qsizetype i = lastDelimiter(delimiters, path);
    // Drop the separator unless it ends a root such as "C:\" or "/".
    if (i > 0 && path[i] == QDir::separator() && !delimiters.contains(path[i - 1]))
        --i;
    return path.left(i + 1);
}

QString ProgramFolder()
{
    return ExtractFileDir(ModuleFileName());
}

QString JoinPath(const QString &folder, const QString &name)
{
    return folder + QDir::separator() + name;
}

QString ExtractFilePath(const QString &path)
{
    // "a:b.bin" is one file name on Linux, and a backslash is an ordinary character there.
    const QString native = QDir::toNativeSeparators(path);
    return native.left(lastDelimiter(nativeSeparators(), native) + 1);
}

QString ExtractFileName(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    return native.sliced(lastDelimiter(nativeSeparators(), native) + 1);
}

} // namespace platform
