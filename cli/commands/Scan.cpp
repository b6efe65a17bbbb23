// scan: every address of a range is tried, and those that answer are listed.

#include "commands/Scan.h"

#include "commands/Commands.h"
#include "commands/Fields.h"
#include "run/Steps.h"

#include "platform/Inet.h"

namespace cli {

OptionDef PortOption(quint16 &port, bool &given, const QString &manual)
{
    return Documented(
            OptionDef{ { QStringLiteral("port") },
                       QStringLiteral("PORT"),
                       QStringLiteral("the port tried, 1-65535 (default %1)").arg(DefaultPort),
                       [&port, &given](Invocation &, const QStringList &values) {
                           const std::optional<quint16> number =
                                   platform::ParsePort(values.constLast());
                           if (!number)
                               Fail(QStringLiteral("--port wants a port from 1 to 65535, not "
                                                   "\"%1\"")
                                            .arg(values.constLast()));
                           port = *number;
                           given = true;
                       } },
            manual);
}

void Search(Invocation &invocation, const QString &range, quint16 port)
{
    QString error;
    const auto targets = ScanRange(range, port, &error);
    if (!targets)
        Fail(error);
    invocation.targets = *targets;
    invocation.search = true;
    invocation.job.connectTimeoutMs = ScanConnectTimeoutMs;
}

namespace {

class Scan final : public Command
{
public:
    Scan()
    {
        m_definition.name = QStringLiteral("scan");
        m_definition.arguments = { QStringLiteral("RANGE") };
        m_definition.options = { PortOption(
                m_port, m_portGiven,
                QStringLiteral("The port tried on every address (default %1).").arg(DefaultPort)) };
        m_definition.help = QStringLiteral("find devices in A.B.C.D/N (N >= %1) or A.B.C.D-E: "
                                           "every address is tried (connect bound %2 s, then a "
                                           "version read); those that answer are listed")
                                    .arg(MinScanPrefix)
                                    .arg(ScanConnectTimeoutMs / 1000);
        m_definition.manual =
                QStringLiteral("Find devices in\n"
                               ".IR A.B.C.D / N\n"
                               ".RI ( N\n"
                               "%1 or more) or\n"
                               ".IR A.B.C.D \\- E :\n"
                               "every address is tried (the connection bound to %2\\ s, then a "
                               "version read) on\n"
                               ".I PORT\n"
                               "(default %3); those that answer are listed.")
                        .arg(MinScanPrefix)
                        .arg(ScanConnectTimeoutMs / 1000)
                        .arg(DefaultPort);
        m_definition.devices = CommandDef::Devices::Range;
        m_definition.connectTimeoutMs = ScanConnectTimeoutMs;
        m_definition.search = true;
        m_definition.csv = true;
        m_definition.fields = { &VersionField };
    }

    void Prepare(Invocation &invocation, const QStringList &values) override
    {
        Search(invocation, values[0], m_port);
    }

    void Plan(DeviceJob &job) const override { job.Then(steps::ReadVersion()); }
    QString SuccessText(const Outcome &outcome) const override { return VersionReadText(outcome); }

private:
    quint16 m_port = DefaultPort;
    bool m_portGiven = false;
};

} // namespace

std::shared_ptr<Command> MakeScan()
{
    return std::make_shared<Scan>();
}

} // namespace cli
