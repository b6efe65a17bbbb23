#include "commands/Fields.h"

#include "commands/Values.h"

#include <QJsonArray>

namespace cli {

QJsonValue TextOrNull(const std::optional<QString> &text)
{
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

QStringList NoCells(const Outcome &outcome)
{
    Q_UNUSED(outcome);
    return QStringList();
}

const ResultField VersionField{ QStringLiteral("version"),
                                QStringLiteral("\"version\""),
                                [](const Outcome &outcome) { return TextOrNull(outcome.version); },
                                { QStringLiteral("version") },
                                [](const Outcome &outcome) {
                                    return QStringList{ outcome.version.value_or(QString()) };
                                } };

const ResultField AddressesField{
    QStringLiteral("addresses"),
    QStringLiteral("\"addresses\" (five texts)"),
    [](const Outcome &outcome) {
        return outcome.addresses ? QJsonValue(QJsonArray::fromStringList(*outcome.addresses))
                                 : QJsonValue(QJsonValue::Null);
    },
    { QStringLiteral("ip"), QStringLiteral("dp310"), QStringLiteral("mask"),
      QStringLiteral("gateway"), QStringLiteral("multicast") },
    [](const Outcome &outcome) {
        QStringList cells = outcome.addresses.value_or(QStringList());
        cells.resize(AddressNames.size());
        return cells;
    }
};

const ResultField MacField{ QStringLiteral("mac"),
                            QStringLiteral("\"mac\""),
                            [](const Outcome &outcome) { return TextOrNull(outcome.mac); },
                            { QStringLiteral("mac") },
                            [](const Outcome &outcome) {
                                return QStringList{ outcome.mac.value_or(QString()) };
                            } };

const ResultField LeftField{
    QStringLiteral("left"),
    QStringLiteral("\"left\" (null, or for a device a set command was interrupted at: untouched, "
                   "set unacknowledged or set not read back)"),
    [](const Outcome &outcome) { return TextOrNull(outcome.left); },
    {},
    NoCells
};

} // namespace cli
