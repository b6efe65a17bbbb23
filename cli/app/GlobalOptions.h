#pragma once

#include "commands/Option.h"

#include <QList>

namespace cli {

// The options of every run, in the order --help lists them.
const QList<OptionDef> &GlobalOptions();

} // namespace cli
