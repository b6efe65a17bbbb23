// inventory: version, addresses and MAC of each device on one connection; its CSV is a plan for
// apply.

#include "commands/Commands.h"
#include "commands/Fields.h"
#include "commands/Scan.h"
#include "run/Steps.h"

namespace cli {

namespace {

// A read of inventory: unanswered, it is noted and the others still run.
Step Optional(Step step, const QString &name)
{
    step.keepGoing = name;
    return step;
}

class Inventory final : public Command
{
public:
    Inventory()
    {
        m_definition.name = QStringLiteral("inventory");
        m_definition.options = {
            Documented(OptionDef{ { QStringLiteral("scan") },
                                  QStringLiteral("RANGE"),
                                  QStringLiteral("the devices that answer in RANGE (as scan finds "
                                                 "them), instead of the devices given"),
                                  [this](Invocation &, const QStringList &values) {
                                      m_scanRange = values.constLast();
                                  } },
                       QStringLiteral("The devices that answer in\n"
                                      ".I RANGE\n"
                                      "instead of those given.")),
            PortOption(m_port, m_portGiven,
                       QStringLiteral("With\n"
                                      ".BR \\-\\-scan :\n"
                                      "the port tried on every address (default %1).")
                               .arg(DefaultPort)),
        };
        m_definition.help = QStringLiteral("version, addresses and MAC of each device, one "
                                           "connection each; a read that fails leaves the others "
                                           "standing. Its CSV is a plan for apply");
        m_definition.manual =
                QStringLiteral("Read the version, the five addresses and the MAC address of each "
                               "device, on\n"
                               "one connection per device.\n"
                               "A read that fails is reported and the others still are.\n"
                               "The report is a table,\n"
                               ".B \\-\\-json\n"
                               "a document and\n"
                               ".B \\-\\-csv\n"
                               "a table that\n"
                               ".B apply\n"
                               "takes as its plan.\n"
                               "With\n"
                               ".BR \\-\\-scan ,\n"
                               "the devices are those that answer in\n"
                               ".I RANGE\n"
                               "(as\n"
                               ".B scan\n"
                               "finds them) on\n"
                               ".I PORT\n"
                               "(default %1).")
                        .arg(DefaultPort);
        m_definition.csv = true;
        m_definition.table = true;
        m_definition.fields = { &VersionField, &AddressesField, &MacField };
    }

    void Prepare(Invocation &invocation, const QStringList &) override
    {
        if (m_scanRange.isEmpty()) {
            if (m_portGiven)
                Fail(QStringLiteral("--port goes with --scan"));
            return;
        }
        if (!invocation.deviceTexts.isEmpty() || !invocation.devicesFile.isNull())
            Fail(QStringLiteral("--scan takes the place of -d and --devices"));
        Search(invocation, m_scanRange, m_port);
    }

    void Plan(DeviceJob &job) const override
    {
        job.Then(Optional(steps::ReadVersion(), VersionField.name));
        job.Then(Optional(steps::ReadAddresses(), AddressesField.name));
        job.Then(Optional(steps::ReadMac(), MacField.name));
    }

    // The table says it.
    QString SuccessText(const Outcome &) const override { return QString(); }

private:
    QString m_scanRange;
    quint16 m_port = DefaultPort;
    bool m_portGiven = false;
};

} // namespace

std::shared_ptr<Command> MakeInventory()
{
    return std::make_shared<Inventory>();
}

} // namespace cli
