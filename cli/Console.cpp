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

bool Write(std::FILE *stream, const QString &text)
{
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
    return _isatty(_fileno(stdout)) != 0;
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
