#pragma once

#include "run/Outcome.h"
#include "io/Targets.h"

#include <QList>
#include <QString>
#include <QStringList>

// The command line, checked in full before any device is contacted: whatever is wrong with it
// is a usage error, never a half-done run.
namespace cli {

inline constexpr int DefaultJobs = 32;
// Each running device holds a socket; beyond this the descriptor limit comes first.
inline constexpr int MaxJobs = 256;

struct Invocation
{
    QString commandName; // as typed: "version", "set-mac", ...
    Request request;
    QList<Target> targets;
    int jobs = DefaultJobs;
    bool json = false;
    bool csv = false;
    bool events = false;
    bool trace = false;
    QString logPath; // --log: the trace goes there too
    // Looks for devices (scan, inventory --scan): see CommandDef::search.
    bool search = false;
    // No device is contacted: flash --dry-run, unless --skip-version has the versions read.
    bool sendNothing = false;
    bool planReport = false; // flash --dry-run: the report is the plan
    bool help = false;
    bool version = false;

    // The devices as given, resolved once the command is known.
    QStringList deviceTexts;
    QString devicesFile;
    // Options of one command, for its prepare().
    bool allowTruncation = false;
    quint16 scanPort = DefaultPort;
    bool scanPortGiven = false;
    QString scanRange; // inventory --scan
    int connectTimeoutMs = 0; // --connect-timeout; 0: the command's own
    bool verifyDelayGiven = false;
    // flash: the image's whole length, of which at most the first 2 MiB are in the request.
    qint64 imageLength = 0;
    // A termination signal that came while the command line was read (a blocking image read).
    int signalNumber = 0;
};

struct ParsedArguments
{
    Invocation invocation;
    QString error; // a usage error, or empty
};

// `arguments` includes the program name; `programFolder` is where QL_T36.ini is looked for.
ParsedArguments ParseArguments(const QStringList &arguments, const QString &programFolder);

// Made from the definitions of the commands and options.
QString HelpText();

} // namespace cli
