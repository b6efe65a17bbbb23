#pragma once

#include "commands/Command.h"

#include <QString>
#include <QStringList>

// Reading the command line: the global options, the command and its own options and values,
// then the devices. Whatever is wrong with it is a usage error, found before any device is
// contacted.
namespace cli {

struct ParsedArguments
{
    Invocation invocation;
    QString error; // a usage error, or empty
};

// `arguments` includes the program name; `programFolder` is where QL_T36.ini is looked for.
ParsedArguments ParseArguments(const QStringList &arguments, const QString &programFolder);

} // namespace cli
