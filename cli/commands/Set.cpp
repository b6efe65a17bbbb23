// set-addresses, set-mac: one set each, on exactly one device.

#include "commands/Commands.h"
#include "commands/Fields.h"
#include "commands/Values.h"
#include "run/Steps.h"

namespace cli {

namespace {

class SetAddresses final : public Command
{
public:
    SetAddresses()
    {
        m_definition.name = QStringLiteral("set-addresses");
        m_definition.arguments = AddressNames;
        m_definition.help = QStringLiteral("set them, sent in plain dotted decimal (exactly one "
                                           "device; see Values)");
        m_definition.manual =
                QStringLiteral(
                        "Set them.\n"
                        "Exactly one device.\n"
                        "Each is to be four decimal numbers 0 to 255 within the window's field of "
                        "%1\n"
                        "characters, and goes out in plain dotted decimal, leading zeros dropped\n"
                        "(10.0.9.05 as 10.0.9.5), since a device may read a leading zero as "
                        "octal.\n"
                        "A value that is empty once trimmed, holds a control character, is longer "
                        "than\n"
                        "the field or is no such address (999.1.1.1, 1.12234E+11) is refused.")
                        .arg(AddressFieldLength);
        m_definition.devices = CommandDef::Devices::One;
        m_definition.sets = true;
        m_definition.fields = { &LeftField };
    }

    void Prepare(Invocation &, const QStringList &values) override
    {
        for (std::size_t i = 0; i < m_addresses.size(); ++i) {
            const auto at = static_cast<qsizetype>(i);
            m_addresses[i] = AddressValue(values[at], AddressNames[at]);
        }
    }

    void Plan(DeviceJob &job) const override { job.Then(steps::SetAddresses(m_addresses)); }

    QString SuccessText(const Outcome &) const override
    {
        return QStringLiteral("IP Address Set Complete");
    }

private:
    core::DeviceSession::Addresses m_addresses; // as typed
};

class SetMac final : public Command
{
public:
    SetMac()
    {
        m_definition.name = QStringLiteral("set-mac");
        m_definition.arguments = { QStringLiteral("HEX12") };
        m_definition.help = QStringLiteral("set it, sent as twelve upper-case digits (exactly one "
                                           "device; see Values)");
        m_definition.manual = QStringLiteral(
                "Set it: twelve hexadecimal digits, or six pairs of them joined by \\- or :\n"
                "(00\\-a0\\-b1\\-c2\\-d3\\-e4), sent as the twelve digits in upper case.\n"
                "Exactly one device.");
        m_definition.devices = CommandDef::Devices::One;
        m_definition.sets = true;
        m_definition.fields = { &LeftField };
    }

    void Prepare(Invocation &, const QStringList &values) override
    {
        m_mac = MacValue(values[0], QStringLiteral("HEX12"));
    }

    void Plan(DeviceJob &job) const override { job.Then(steps::SetMac(m_mac)); }

    QString SuccessText(const Outcome &) const override
    {
        return QStringLiteral("MAC Address Set Complete");
    }

private:
    QByteArray m_mac; // as it goes out
};

} // namespace

std::shared_ptr<Command> MakeSetAddresses()
{
    return std::make_shared<SetAddresses>();
}

std::shared_ptr<Command> MakeSetMac()
{
    return std::make_shared<SetMac>();
}

} // namespace cli
