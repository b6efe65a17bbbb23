#include "report/Sinks.h"

#include "io/Console.h"

#include <algorithm>
#include <cmath>

namespace cli {

QString ToolVersion()
{
    return QStringLiteral(QLT36_VERSION);
}

bool IsListed(bool search, const Outcome &outcome)
{
    return !search || outcome.version.has_value();
}

qsizetype CountOk(const QList<Outcome> &outcomes)
{
    return std::count_if(outcomes.begin(), outcomes.end(), [](const Outcome &o) { return o.ok; });
}

qsizetype CountFailed(bool search, const QList<Outcome> &outcomes)
{
    return std::count_if(outcomes.begin(), outcomes.end(),
                         [search](const Outcome &o) { return !o.ok && IsListed(search, o); });
}

int ExitStatus(bool search, const QList<Outcome> &outcomes, int signalNumber)
{
    if (signalNumber != 0)
        return ExitSignalBase + signalNumber;
    if (search) {
        // At least one answered, and every one that did is done.
        qsizetype answered = 0;
        qsizetype failed = 0;
        for (const Outcome &outcome : outcomes) {
            if (IsListed(true, outcome)) {
                ++answered;
                failed += outcome.ok ? 0 : 1;
            }
        }
        return answered > 0 && failed == 0 ? ExitOk : ExitFailed;
    }
    return CountOk(outcomes) == outcomes.size() ? ExitOk : ExitFailed;
}

QJsonObject DeviceEntry(const CommandReport &command, const Outcome &outcome)
{
    QJsonObject device{
        { QStringLiteral("device"), outcome.target.Label() },
        { QStringLiteral("ok"), outcome.ok },
        { QStringLiteral("status"), outcome.status },
        { QStringLiteral("error"),
          outcome.ok ? QJsonValue(QJsonValue::Null) : QJsonValue(outcome.error) },
        // To the millisecond, as the clock means it.
        { QStringLiteral("seconds"), std::round(outcome.seconds * 1000) / 1000 },
    };
    for (const ResultField *field : command.Fields())
        device.insert(field->name, field->json(outcome));
    return device;
}

QString DeviceResultText(const CommandReport &command, const Outcome &outcome)
{
    if (!outcome.ok) {
        // Nothing was tried: the words say it all.
        if (outcome.status == QLatin1String("busy")
            || outcome.status == QLatin1String("not started"))
            return EscapedText(outcome.error);
        // A device that moved is to be looked for there.
        const QString where =
                outcome.movedTo ? QStringLiteral("; now at ") + *outcome.movedTo : QString();
        return QStringLiteral("failed: ") + EscapedText(outcome.error) + where;
    }
    return EscapedText(command.SuccessText(outcome));
}

QString TimeText(const QDateTime &time)
{
    return time.toString(Qt::ISODateWithMs);
}

} // namespace cli
