#pragma once

#include <QString>

// Standard output and error, written through at once: a report line or a trace line is seen when
// it happens, and nothing is lost when the run ends on a signal.
namespace cli {

void WriteOut(const QString &text);
void WriteErr(const QString &text);
bool StdoutIsTerminal();

// A text of the link or the device as one report line: trailing line breaks dropped, inner ones
// turned into blanks.
QString OneLine(const QString &text);

} // namespace cli
