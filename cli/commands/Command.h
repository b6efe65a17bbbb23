#pragma once

#include "commands/Option.h"
#include "io/Targets.h"
#include "report/CommandReport.h"
#include "run/DeviceJob.h"
#include "run/Fleet.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// A command of the tool: its definition (what the parser, --help and the documents read), and,
// once its values are read, the plan of each device's part and what it adds to the report. One
// command family a file: Read, Set, Flash, Inventory, Apply, Scan; Commands.cpp lists them.
// A command may use run/ (jobs and their steps), report/ (the fields it reports) and io/, never
// app/; nothing below it knows a command.
namespace cli {

class Command;

// The command line, checked in full before any device is contacted: whatever is wrong with it
// is a usage error, never a half-done run.
struct Invocation
{
    QString commandName; // as typed: "version", "set-mac", ...
    std::shared_ptr<Command> command;
    QList<Target> targets;
    JobSettings job;
    FleetSettings fleet;
    bool json = false;
    bool csv = false;
    bool events = false;
    bool trace = false;
    QString logPath; // --log: the trace goes there too
    // Looks for devices (scan, inventory --scan): see CommandDef::search.
    bool search = false;
    bool help = false;
    bool version = false;
    QString helpFormat; // the hidden --help-format: a document made from the definitions

    // The devices as given, resolved once the command is known.
    QStringList deviceTexts;
    QString devicesFile;
    int connectTimeoutMs = 0; // --connect-timeout; 0: the command's own
    // A termination signal that came while the command line was read (a blocking read of a
    // pipe it names).
    int signalNumber = 0;
};

struct CommandDef
{
    // Where the devices of a run come from.
    enum class Devices {
        Given, // -d, --devices or QL_T36.ini
        One, // the same, and exactly one of them
        Range, // the command's own argument
        File, // listed in the command's own file
    };

    QString name;
    QStringList arguments; // the values after the command, by name: "IMAGE"
    QList<OptionDef> options; // those that go with this command only
    QString help; // its entry in --help
    QString manual; // its entry in the manual page, in roff
    Devices devices = Devices::Given;
    int connectTimeoutMs = core::DeviceLink::DefaultConnectTimeoutMs;
    // Looks for devices: an address without one is no failure, and only those that answered
    // (gave their version) are listed.
    bool search = false;
    // Its fields have CSV columns, so --csv goes with it.
    bool csv = false;
    // The human report is one table at the end rather than a line per device.
    bool table = false;
    // Sets values on its devices: an interrupt says what it left each device as.
    bool sets = false;
    QList<const ResultField *> fields;
};

// A command as one run uses it. Made afresh for each command line: its options and values are
// read into it.
class Command : public CommandReport
{
public:
    const CommandDef &Definition() const { return m_definition; }

    // Reads the command's values (as many as its arguments) after its options; throws
    // UsageError.
    virtual void Prepare(Invocation &invocation, const QStringList &values)
    {
        Q_UNUSED(invocation);
        Q_UNUSED(values);
    }
    // Lays out the steps of one device's part of the run.
    virtual void Plan(DeviceJob &job) const = 0;

    const QList<const ResultField *> &Fields() const override { return m_definition.fields; }
    bool Table() const override { return m_definition.table; }

protected:
    Command() = default;

    CommandDef m_definition;
};

} // namespace cli
