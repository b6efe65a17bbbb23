#include "Output.h"

#include "Console.h"

namespace cli {

void StandardOutput::Out(const QString &text)
{
    WriteOut(text);
}

void StandardOutput::Err(const QString &text)
{
    WriteErr(text);
}

bool StandardOutput::OutIsTerminal() const
{
    return StdoutIsTerminal();
}

} // namespace cli
