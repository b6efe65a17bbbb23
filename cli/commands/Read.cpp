// version, addresses, mac: one read each.

#include "commands/Commands.h"
#include "commands/Fields.h"
#include "run/Steps.h"

namespace cli {

namespace {

class Read final : public Command
{
public:
    Read(CommandDef definition, std::function<Step()> read,
         std::function<QString(const Outcome &)> text)
        : m_read(std::move(read)), m_text(std::move(text))
    {
        m_definition = std::move(definition);
        m_definition.csv = true;
    }

    void Plan(DeviceJob &job) const override { job.Then(m_read()); }
    QString SuccessText(const Outcome &outcome) const override { return m_text(outcome); }

private:
    std::function<Step()> m_read;
    std::function<QString(const Outcome &)> m_text;
};

} // namespace

QString VersionReadText(const Outcome &outcome)
{
    return QStringLiteral("version ") + outcome.version.value_or(QString());
}

std::shared_ptr<Command> MakeVersion()
{
    CommandDef version;
    version.name = QStringLiteral("version");
    version.help = QStringLiteral("read the firmware version");
    version.manual = QStringLiteral("Read the firmware version.");
    version.fields = { &VersionField };
    return std::make_shared<Read>(
            version, [] { return steps::ReadVersion(); }, VersionReadText);
}

std::shared_ptr<Command> MakeAddresses()
{
    CommandDef addresses;
    addresses.name = QStringLiteral("addresses");
    addresses.help = QStringLiteral("read the five network addresses");
    addresses.manual = QStringLiteral(
            "Read the five network addresses: the device's IP address, the DP\\-310's IP\n"
            "address, the subnet mask, the default gateway and the multicast address.");
    addresses.fields = { &AddressesField };
    return std::make_shared<Read>(
            addresses, steps::ReadAddresses, [](const Outcome &outcome) -> QString {
                return QStringLiteral("addresses ")
                        + outcome.addresses.value_or(QStringList()).join(QLatin1Char(' '));
            });
}

std::shared_ptr<Command> MakeMac()
{
    CommandDef mac;
    mac.name = QStringLiteral("mac");
    mac.help = QStringLiteral("read the MAC address");
    mac.manual = QStringLiteral("Read the MAC address.");
    mac.fields = { &MacField };
    return std::make_shared<Read>(mac, steps::ReadMac, [](const Outcome &outcome) -> QString {
        return QStringLiteral("mac ") + outcome.mac.value_or(QString());
    });
}

} // namespace cli
