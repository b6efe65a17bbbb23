#include "io/Console.h"

#include <QByteArray>

#include <cstdio>

#ifdef Q_OS_WIN
#  include <algorithm>
#  include <io.h>
#  include <windows.h>
#else
#  include <unistd.h>
#endif

namespace cli {

namespace {

#ifdef Q_OS_WIN
// The console behind `stream`, or nullptr for a file or a pipe (_isatty() would say yes for NUL
// too).
HANDLE ConsoleOf(std::FILE *stream)
{
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) ? handle : nullptr;
}
#endif

bool Write(std::FILE *stream, const QString &text)
{
#ifdef Q_OS_WIN
    // A console would show UTF-8 bytes in its own code page: it is given the characters.
    if (const HANDLE console = ConsoleOf(stream)) {
        DWORD written = 0;
        return ::WriteConsoleW(console, text.utf16(), static_cast<DWORD>(text.size()), &written,
                               nullptr)
                && written == static_cast<DWORD>(text.size());
    }
#endif
    const QByteArray bytes = text.toUtf8();
    const auto size = static_cast<std::size_t>(bytes.size());
    const bool written = std::fwrite(bytes.constData(), 1, size, stream) == size;
    return std::fflush(stream) == 0 && written;
}

} // namespace

bool WriteOut(const QString &text)
{
    return Write(stdout, text);
}

bool WriteErr(const QString &text)
{
    return Write(stderr, text);
}

bool StdoutIsTerminal()
{
#ifdef Q_OS_WIN
    return ConsoleOf(stdout) != nullptr;
#else
    return ::isatty(STDOUT_FILENO) == 1;
#endif
}

QString EscapedText(QStringView text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == u'\r')
            escaped += QLatin1String("\\r");
        else if (code == u'\n')
            escaped += QLatin1String("\\n");
        else if (code < 0x20 || code == 0x7F || code == u'\\')
            escaped += QString::asprintf("\\x%02x", unsigned(code));
        else
            escaped += c;
    }
    return escaped;
}

#ifdef Q_OS_WIN
void EraseConsoleLines(int lines)
{
    const HANDLE console = ConsoleOf(stdout);
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (console == nullptr || !::GetConsoleScreenBufferInfo(console, &info))
        return;
    // The cursor stands at the start of the line below the last one written.
    const int top = std::max(0, info.dwCursorPosition.Y - lines);
    const COORD start = { 0, static_cast<SHORT>(top) };
    const auto cells = static_cast<DWORD>(info.dwSize.X * (info.dwCursorPosition.Y - top + 1));
    DWORD done = 0;
    ::FillConsoleOutputCharacterW(console, L' ', cells, start, &done);
    ::FillConsoleOutputAttribute(console, info.wAttributes, cells, start, &done);
    ::SetConsoleCursorPosition(console, start);
}
#endif

QString OneLine(const QString &text)
{
    QString line = text;
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

} // namespace cli
