// apply: a planned configuration, one CSV row per device, brought about device by device.

#include "commands/Commands.h"
#include "commands/Fields.h"
#include "commands/PlanFile.h"
#include "commands/Values.h"
#include "run/Steps.h"

#include "protocol/Commands.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <optional>

namespace cli {

namespace {

// "a", "a and b", "a, b and c".
QString Listed(QStringList names)
{
    const QString last = names.takeLast();
    return names.isEmpty() ? last
                           : names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// A device's text and a plan's value compare in the plan's form: "10.0.9.05" holds 10.0.9.5 and
// "00-a0-b1-c2-d3-e4" holds 00A0B1C2D3E4.
QList<Outcome::Change> Differences(const PlannedConfig &plan, const Outcome &values)
{
    QList<Outcome::Change> changes;
    const QStringList read = values.addresses.value_or(QStringList());
    for (qsizetype i = 0; i < PlanColumns.size(); ++i) {
        const auto &planned = plan.addresses[static_cast<std::size_t>(i)];
        const QString was = read.value(i);
        if (planned && protocol::FromWire(*planned) != NormalAddress(was).value_or(was))
            changes.append({ PlanColumns[i], was, protocol::FromWire(*planned) });
    }
    if (plan.mac) {
        const QString was = values.mac.value_or(QString());
        if (protocol::FromWire(*plan.mac) != NormalMac(was).value_or(was))
            changes.append({ MacColumn, was, protocol::FromWire(*plan.mac) });
    }
    return changes;
}

QString ChangeText(const QList<Outcome::Change> &changes)
{
    QStringList texts;
    for (const Outcome::Change &change : changes)
        texts.append(QStringLiteral("%1 %2 -> %3").arg(change.field, change.was, change.planned));
    return texts.join(QStringLiteral(", "));
}

bool Touches(const QList<Outcome::Change> &changes, const QString &field, bool only = true)
{
    return std::any_of(changes.begin(), changes.end(), [&](const Outcome::Change &change) {
        return (change.field == field) == only;
    });
}

// The five values of the address set: planned, or as the device reported them. Nothing, with the
// job failed, when one is neither: the set would wipe it.
std::optional<core::DeviceSession::Addresses> WholeSet(DeviceJob &job, const PlannedConfig &plan)
{
    const QStringList read = job.Values().addresses.value_or(QStringList());
    core::DeviceSession::Addresses all;
    qsizetype reported = 0;
    QStringList missing;
    QStringList odd;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const QString item = read.value(static_cast<qsizetype>(i));
        const QString &name = PlanColumns[static_cast<qsizetype>(i)];
        reported += item.isEmpty() ? 0 : 1;
        const std::optional<QString> address = NormalAddress(item);
        if (plan.addresses[i])
            all[i] = *plan.addresses[i];
        else if (item.isEmpty())
            missing.append(name);
        else if (!address)
            odd.append(QStringLiteral("%1 \"%2\"").arg(name, item));
        else
            all[i] = protocol::ToWire(*address);
    }
    if (!missing.isEmpty()) {
        job.Fail(QStringLiteral("device reported %1 of 5 addresses; plan %2 to set it")
                         .arg(reported)
                         .arg(Listed(missing)));
        return std::nullopt;
    }
    if (!odd.isEmpty()) {
        job.Fail(QStringLiteral("device reported %1: %2; plan %3 to set it")
                         .arg(Listed(odd),
                              odd.size() == 1 ? QStringLiteral("not an address")
                                              : QStringLiteral("not addresses"),
                              odd.size() == 1 ? QStringLiteral("it") : QStringLiteral("them")));
        return std::nullopt;
    }
    return all;
}

void CheckReadBack(DeviceJob &job, const PlannedConfig &plan)
{
    const QList<Outcome::Change> left = Differences(plan, job.Values());
    if (!left.isEmpty()) {
        QStringList texts;
        for (const Outcome::Change &change : left)
            texts.append(QStringLiteral("%1 %2, planned %3")
                                 .arg(change.field, change.was, change.planned));
        job.Fail(QStringLiteral("read back: ") + texts.join(QStringLiteral("; ")));
        return;
    }
    job.Finish(QStringLiteral("changed"));
}

// The reads that check what was set, on the connection still open. A device that took a new IP
// usually ends it (or goes quiet): then they are made once more on a new connection to `at`.
QList<Step> ReadBack(const PlannedConfig &plan, bool addresses, bool mac, const Target &at,
                     bool again = false)
{
    QList<Step> reads;
    if (addresses)
        reads.append(steps::ReadAddresses());
    if (mac)
        reads.append(steps::ReadMac());
    const auto notReadBack = [](DeviceJob &job, const QString &why) {
        job.Fail(QStringLiteral("set, not read back: ") + why);
        return true;
    };
    const auto elsewhere = [plan, addresses, mac, at, notReadBack](DeviceJob &job,
                                                                   const QString &) {
        core::DeviceLink &link = job.Session().Link();
        link.DropConnection();
        link.SetTarget(at.address, at.port);
        job.WhenUnreachable(notReadBack);
        job.Instead(QList<Step>{ steps::Connect() } + ReadBack(plan, addresses, mac, at, true));
        job.StepDone();
    };
    for (Step &read : reads) {
        if (again)
            read.unanswered = notReadBack;
        else
            read.unanswered = elsewhere;
    }
    reads.append(steps::Check([plan](DeviceJob &checked) { CheckReadBack(checked, plan); }));
    return reads;
}

void Compare(DeviceJob &job, const PlannedConfig &plan, bool dryRun)
{
    Outcome &values = job.Values();
    values.changes = Differences(plan, values);
    if (values.changes.isEmpty()) {
        job.Finish(QStringLiteral("unchanged"));
        return;
    }
    if (dryRun) {
        job.Finish(QStringLiteral("would change"));
        return;
    }
    const QString planned = QStringLiteral(" (planned: %1)").arg(ChangeText(values.changes));
    const bool addresses = Touches(values.changes, MacColumn, false);
    const bool mac = Touches(values.changes, MacColumn);
    std::optional<core::DeviceSession::Addresses> all;
    if (addresses && !(all = WholeSet(job, plan)))
        return;
    // The MAC first: a new IP may end the connection.
    if (mac)
        job.Then(steps::SetMac(*plan.mac, QStringLiteral("MAC Address Set Failed") + planned));
    Target at = job.Result().target;
    if (addresses) {
        const bool moves = Touches(values.changes, PlanColumns.first());
        if (moves)
            at = *plan.at;
        // Taken, the device is at its new address, whatever the read-back finds.
        job.Then(steps::SetAddresses(*all, QStringLiteral("IP Address Set Failed") + planned,
                                     [moves, at](DeviceJob &set) {
                                         if (moves)
                                             set.Values().movedTo = at.Label();
                                     }));
    }
    for (Step &step : ReadBack(plan, addresses, mac, at))
        job.Then(std::move(step));
    job.StepDone();
}

// A device not at its own address may be at the IP planned for it, where an earlier run moved it
// (no other listed device can be there: the plan would have been refused). It is only read
// there: "unchanged" when it holds the whole plan, otherwise it fails and nothing is set, since
// nothing tells that it is the device meant.
bool FindAtPlannedIp(DeviceJob &job, const PlannedConfig &plan, const QString &why)
{
    const QString at = plan.at->Label();
    job.Session().Link().SetTarget(plan.at->address, plan.at->port);
    job.WhenUnreachable([why, at](DeviceJob &unreached, const QString &there) {
        unreached.Fail(QStringLiteral("%1; nor at %2: %3").arg(why, at, there));
        return true;
    });
    QList<Step> reads{ steps::Connect(), steps::ReadAddresses() };
    if (plan.mac)
        reads.append(steps::ReadMac());
    reads.append(steps::Check([plan, why, at](DeviceJob &found) {
        const QList<Outcome::Change> differences = Differences(plan, found.Values());
        if (!differences.isEmpty()) {
            found.Fail(QStringLiteral("%1; the device at %2 does not hold the plan (%3): nothing "
                                      "set there")
                               .arg(why, at, ChangeText(differences)));
            return;
        }
        found.Values().movedTo = at;
        found.Finish(QStringLiteral("unchanged"));
    }));
    job.Instead(reads);
    job.StepDone();
    return true;
}

const ResultField ChangesField{ QStringLiteral("changes"),
                                QStringLiteral("\"changes\" ([{\"field\", \"was\", \"planned\"}])"),
                                [](const Outcome &outcome) {
                                    QJsonArray changes;
                                    for (const Outcome::Change &change : outcome.changes)
                                        changes.append(QJsonObject{
                                                { QStringLiteral("field"), change.field },
                                                { QStringLiteral("was"), change.was },
                                                { QStringLiteral("planned"), change.planned } });
                                    return QJsonValue(changes);
                                },
                                {},
                                NoCells };

const ResultField MovedToField{
    QStringLiteral("movedTo"),
    QStringLiteral("\"movedTo\" (null, or HOST:PORT where the device is now when not at its own "
                   "address: its IP was set, or it was found at its planned ip)"),
    [](const Outcome &outcome) {
        return outcome.movedTo ? QJsonValue(*outcome.movedTo) : QJsonValue(QJsonValue::Null);
    },
    {},
    NoCells
};

// One device: read what the plan names, and if anything differs (and this is no dry run) set it:
// the MAC, then the addresses in one command with those not planned as read (never one that
// neither the plan nor the device gave), then read back, on a new connection to the device's new
// address if the one open ends or goes quiet: "changed" only when the device now holds the plan.
// A device not at its address is looked for at the IP planned for it, and only read there.
class Apply final : public Command
{
public:
    Apply()
    {
        m_definition.name = QStringLiteral("apply");
        m_definition.arguments = { QStringLiteral("FILE") };
        m_definition.options = { Documented(
                Flag({ QStringLiteral("dry-run") },
                     QStringLiteral("say per device what differs, sending only the reads"),
                     [this](Invocation &) { m_dryRun = true; }),
                QStringLiteral("Send only the reads.")) };
        m_definition.help = QStringLiteral("bring each device of the CSV plan FILE "
                                           "(device,%1[,mac]; see Plans) to it: read, set what "
                                           "differs, read back; \"unchanged\", \"changed\" or "
                                           "failed with what differs")
                                    .arg(PlanColumns.join(QLatin1Char(',')));
        m_definition.manual = QStringLiteral(
                "Bring each device of the plan\n"
                ".I FILE\n"
                "to it (see PLANS): read its values; if they match, report \"unchanged\" and\n"
                "send nothing; otherwise send what differs (the MAC first, then the addresses\n"
                "in one command, all five, those not planned as read), read back and report\n"
                "\"changed\" only when the device holds the plan, a failure naming what differs\n"
                "otherwise.\n"
                "With\n"
                ".BR \\-\\-dry\\-run ,\n"
                "only the reads are sent, and the report says what would change.");
        m_definition.devices = CommandDef::Devices::File;
        m_definition.sets = true;
        m_definition.fields = { &AddressesField, &MacField, &ChangesField, &MovedToField,
                                &LeftField };
    }

    void Prepare(Invocation &invocation, const QStringList &values) override
    {
        const PlanFile file = ReadPlanFile(values[0]);
        if (file.signalNumber != 0)
            invocation.signalNumber = file.signalNumber;
        invocation.targets += file.targets;
        m_plans = file.plans;
    }

    void Plan(DeviceJob &job) const override
    {
        const PlannedConfig plan = m_plans.value(job.Result().target.Label());
        if (plan.at && plan.at->address != job.Result().target.address)
            job.WhenUnreachable([plan](DeviceJob &unreached, const QString &why) {
                return FindAtPlannedIp(unreached, plan, why);
            });
        // The addresses are read in any case: they say where the device is.
        job.Then(steps::ReadAddresses());
        if (plan.mac)
            job.Then(steps::ReadMac());
        job.Then(steps::Check([plan, dryRun = m_dryRun](DeviceJob &compared) {
            Compare(compared, plan, dryRun);
        }));
    }

    QString SuccessText(const Outcome &outcome) const override
    {
        QString text = outcome.status;
        if (!outcome.changes.isEmpty())
            text += QStringLiteral(": ") + ChangeText(outcome.changes);
        if (outcome.movedTo)
            text += QStringLiteral("; now at ") + *outcome.movedTo;
        return text;
    }

    bool DryRun() const override { return m_dryRun; }

private:
    bool m_dryRun = false;
    QHash<QString, PlannedConfig> m_plans; // by the device's label
};

} // namespace

std::shared_ptr<Command> MakeApply()
{
    return std::make_shared<Apply>();
}

} // namespace cli
