#include "Console.h"

#include <QByteArray>

#include <cstdio>

#ifdef Q_OS_WIN
#  include <io.h>
#else
#  include <unistd.h>
#endif

namespace cli {

namespace {

void Write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void WriteOut(const QString &text)
{
    Write(stdout, text);
}

void WriteErr(const QString &text)
{
    Write(stderr, text);
}

bool StdoutIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stdout)) != 0;
#else
    return ::isatty(STDOUT_FILENO) == 1;
#endif
}

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
