// ql-t36-cli: reads, sets and updates QL-T36 devices from the command line, many at once.

#include "Console.h"
#include "Fleet.h"
#include "Options.h"
#include "Report.h"

#include "platform/ProgramPath.h"
#include "platform/Signals.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ql-t36-cli"));

    const cli::ParsedArguments parsed =
            cli::ParseArguments(QCoreApplication::arguments(), platform::ProgramFolder());
    if (!parsed.error.isEmpty()) {
        cli::WriteErr(
                QStringLiteral("ql-t36-cli: %1\nTry 'ql-t36-cli --help'.\n").arg(parsed.error));
        return cli::ExitUsage;
    }
    const cli::Invocation &invocation = parsed.invocation;
    if (invocation.help) {
        cli::WriteOut(cli::HelpText());
        return cli::ExitOk;
    }

    cli::Fleet fleet(invocation.targets, invocation.request, invocation.jobs);
    cli::Report report(invocation);
    report.Watch(fleet);
    QObject::connect(&fleet, &cli::Fleet::finished, &app, [&] {
        const QList<cli::Outcome> outcomes = fleet.Outcomes();
        report.Conclude(outcomes, fleet.Interrupted());
        QCoreApplication::exit(
                cli::Report::ExitStatus(invocation.request.command, outcomes, fleet.Interrupted()));
    });
    platform::OnTerminationSignals([&fleet](int) { fleet.Interrupt(); });
    // From the loop, so that exit() has a loop to end even if every device fails at once.
    QMetaObject::invokeMethod(&fleet, &cli::Fleet::Start, Qt::QueuedConnection);
    return QCoreApplication::exec();
}
