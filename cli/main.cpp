// ql-t36-cli: reads, sets and updates QL-T36 devices from the command line, many at once.

#include "app/Tool.h"
#include "io/Output.h"

#include "platform/ProgramPath.h"
#include "platform/Signals.h"

#include <QCoreApplication>

#include <csignal>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ql-t36-cli"));
#ifdef SIGPIPE
    // A closed pipe is a failed write, reported as such, not the end of the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    cli::StandardOutput output;
    cli::Tool tool(output);
    // Before the command line is read: reading an image from a pipe may wait for its writer.
    platform::OnTerminationSignals([&tool](int signalNumber) { tool.Interrupt(signalNumber); });
    if (!tool.Prepare(QCoreApplication::arguments(), platform::ProgramFolder()))
        return tool.ExitStatus();
    QObject::connect(&tool, &cli::Tool::finished, &app,
                     [](int exitStatus) { QCoreApplication::exit(exitStatus); });
    // From the loop, so that exit() has a loop to end even if every device fails at once.
    QMetaObject::invokeMethod(&tool, &cli::Tool::Start, Qt::QueuedConnection);
    return QCoreApplication::exec();
}
