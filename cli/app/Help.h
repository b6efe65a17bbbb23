#pragma once

#include <QString>
#include <QStringList>

// What the tool says of itself, made from the definitions of the commands and options with the
// prose around them: --help, and the documents of the hidden --help-format (the manual page, the
// README's command list, the bash completion), which scripts/make-docs.sh writes into the tree.
namespace cli {

struct CommandDef;

QString HelpText();

// "man", "markdown", "bash"
QStringList HelpFormats();
// The document of a format HelpFormats() lists.
QString HelpDocument(const QString &format);

QString ManualPage(); // Manual.cpp
QString MarkdownList(); // Documents.cpp
QString BashCompletion(); // Documents.cpp

// What --help and the manual page show, a command line each; a line that ends in a backslash
// goes on in the next, indented.
const QStringList &Examples();
// The command's own options fit on its line in --help; otherwise the line says "[OPTIONS]".
bool OptionsOnCommandLine(const CommandDef &command);

} // namespace cli
