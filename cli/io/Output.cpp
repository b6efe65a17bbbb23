#include "io/Output.h"

#include "io/Console.h"

#include <cerrno>
#include <cstring>

namespace cli {

void Output::Failed(const QString &why)
{
    if (!m_failure.isEmpty())
        return;
    m_failure = why;
    if (m_onFailure)
        m_onFailure();
}

namespace {

QString SystemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

void Output::EraseLines(int lines)
{
    Out(QStringLiteral("\x1b[%1A\r\x1b[J").arg(lines));
}

void StandardOutput::Out(const QString &text)
{
    if (!WriteOut(text))
        Failed(QStringLiteral("standard output: ") + SystemError());
}

void StandardOutput::Err(const QString &text)
{
    if (!WriteErr(text))
        Failed(QStringLiteral("standard error: ") + SystemError());
}

bool StandardOutput::OutIsTerminal() const
{
    return StdoutIsTerminal();
}

void StandardOutput::EraseLines(int lines)
{
#ifdef Q_OS_WIN
    EraseConsoleLines(lines);
#else
    Output::EraseLines(lines);
#endif
}

} // namespace cli
