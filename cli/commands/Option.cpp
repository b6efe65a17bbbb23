#include "commands/Option.h"

#include <cmath>

namespace cli {

void Fail(const QString &text)
{
    throw UsageError{ text };
}

QString OptionDef::Synopsis() const
{
    QStringList spelled;
    for (const QString &name : names)
        spelled.append((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    QString synopsis = spelled.join(QStringLiteral(", "));
    if (!valueName.isEmpty())
        synopsis += QLatin1Char(' ') + valueName;
    return synopsis;
}

bool OptionDef::TakesFile() const
{
    return valueName == QLatin1String("FILE") || valueName == QLatin1String("IMAGE");
}

OptionDef Documented(OptionDef option, const QString &manual)
{
    option.manual = manual;
    return option;
}

OptionDef Flag(const QStringList &names, const QString &help, std::function<void(Invocation &)> set)
{
    return OptionDef{ names, QString(), help,
                      [set](Invocation &invocation, const QStringList &) { set(invocation); } };
}

OptionDef Integer(const QStringList &names, const QString &valueName, const QString &help, int min,
                  int max, int fallback, std::function<int &(Invocation &)> field)
{
    const QString name = names.constLast();
    return OptionDef{
        names, valueName,
        QStringLiteral("%1, %2-%3 (default %4)").arg(help).arg(min).arg(max).arg(fallback),
        [=](Invocation &invocation, const QStringList &values) {
            bool ok = false;
            const int number = values.constLast().toInt(&ok);
            if (!ok || number < min || number > max)
                Fail(QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"")
                             .arg(name)
                             .arg(min)
                             .arg(max)
                             .arg(values.constLast()));
            field(invocation) = number;
        }
    };
}

OptionDef Seconds(const QStringList &names, const QString &help, double max, int fallbackMs,
                  std::function<int &(Invocation &)> fieldMs, bool fromZero)
{
    const QString name = names.constLast();
    const QString range = fromZero ? QStringLiteral("from 0") : QStringLiteral("above 0");
    return OptionDef{ names, QStringLiteral("SECONDS"),
                      QStringLiteral("%1, %2 and up to %3 (default %4)")
                              .arg(help, range)
                              .arg(max)
                              .arg(fallbackMs / 1000.0),
                      [=](Invocation &invocation, const QStringList &values) {
                          bool ok = false;
                          const double seconds = values.constLast().toDouble(&ok);
                          if (!ok || !(seconds > 0 || (fromZero && seconds == 0)) || seconds > max)
                              Fail(QStringLiteral("--%1 wants seconds %2 and up to %3, not \"%4\"")
                                           .arg(name, range)
                                           .arg(max)
                                           .arg(values.constLast()));
                          fieldMs(invocation) = static_cast<int>(std::ceil(seconds * 1000));
                      } };
}

} // namespace cli
