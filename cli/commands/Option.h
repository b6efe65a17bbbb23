#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace cli {

struct Invocation;

// A command line that cannot run; thrown while it is read and turned into the usage error.
struct UsageError
{
    QString text;
};
[[noreturn]] void Fail(const QString &text);

inline constexpr double MaxTimeoutSeconds = 3600;

struct OptionDef
{
    enum class Group { Devices, General };

    QStringList names; // the short name (if any) first, the long one last: { "j", "jobs" }
    QString valueName; // "N", "FILE"; empty for a flag
    QString help; // with the option's limits and default
    // Takes what was given (nothing for a flag, each value otherwise) into the invocation, or
    // into the state of the command it goes with. Empty for one the parser reads itself.
    std::function<void(Invocation &, const QStringList &values)> apply;
    Group group = Group::General;
    // Its entry in the manual page, in roff.
    QString manual = QString();

    QString LongName() const { return names.constLast(); }
    // "-j, --jobs N"
    QString Synopsis() const;
    // A value named so is a file's name (completed as one).
    bool TakesFile() const;
};

// The option with its entry in the manual page.
OptionDef Documented(OptionDef option, const QString &manual);

OptionDef Flag(const QStringList &names, const QString &help,
               std::function<void(Invocation &)> set);
// A whole number from `min` to `max`; the help gives the range and the default.
OptionDef Integer(const QStringList &names, const QString &valueName, const QString &help, int min,
                  int max, int fallback, std::function<int &(Invocation &)> field);
// Seconds above 0 (or from 0, `fromZero`) and up to `max`, kept in milliseconds (rounded up).
OptionDef Seconds(const QStringList &names, const QString &help, double max, int fallbackMs,
                  std::function<int &(Invocation &)> fieldMs, bool fromZero = false);

} // namespace cli
