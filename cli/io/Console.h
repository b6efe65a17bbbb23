#pragma once

#include <QString>

// Standard output and error, written through at once: a report line or a trace line is seen when
// it happens, and nothing is lost when the run ends on a signal.
namespace cli {

// False when the stream did not take all of it (a full disk, a closed pipe).
bool WriteOut(const QString &text);
bool WriteErr(const QString &text);
bool StdoutIsTerminal();
#ifdef Q_OS_WIN
// Takes the last `lines` lines written to the console on standard output back off it, through
// the console's own functions: not every console takes escape sequences.
void EraseConsoleLines(int lines);
#endif

// A text of the link or the device as one report line: trailing line breaks dropped, inner ones
// turned into blanks.
QString OneLine(const QString &text);

// A device's text as it may be shown, so that it cannot drive a terminal: CR and LF as \r and
// \n, other control characters and the backslash as \xNN.
QString EscapedText(QStringView text);

} // namespace cli
