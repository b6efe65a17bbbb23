#pragma once

#include "run/Outcome.h"

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Everything the tool knows about its commands and options, one definition each: the parser,
// the help text, the per-device action and the report are all read from here. A new command or
// option is one more entry in these tables.
namespace cli {

struct Invocation;
class DeviceJob;

// A command line that cannot run; thrown while it is read and turned into the usage error.
struct UsageError
{
    QString text;
};
[[noreturn]] void Fail(const QString &text);

// What the window's address fields take.
inline constexpr qsizetype AddressFieldLength = 15;

// A value as the window would send it, or a usage error naming it by `name`: empty once
// trimmed (the window would send nothing), longer than `maxLength`, or holding a control
// character, which on the wire would end the command early and start another.
QByteArray RequiredValue(const QString &value, const QString &name, qsizetype maxLength);
// An IPv4 address, as set-addresses and a plan take it (a usage error otherwise): four decimal
// numbers 0-255 within the window's field, blanks around it aside. It goes out in plain dotted
// decimal, leading zeros dropped, since a device may read "010" as octal.
QByteArray AddressValue(const QString &value, const QString &name);
// A MAC address: twelve hexadecimal digits, or six pairs of them joined by "-" or ":". It goes
// out as the twelve digits in upper case.
QByteArray MacValue(const QString &value, const QString &name);
// The same forms for what a device reported: nothing when it is no address.
std::optional<QString> NormalAddress(const QString &text);
std::optional<QString> NormalMac(const QString &text);

struct OptionDef
{
    enum class Group { Devices, General };

    QStringList names; // the short name (if any) first, the long one last: { "j", "jobs" }
    QString valueName; // "N", "FILE"; empty for a flag
    QString help; // with the option's limits and default
    // Takes what was given (nothing for a flag, each value otherwise) into the invocation.
    std::function<void(Invocation &, const QStringList &values)> apply;
    Group group = Group::General;

    QString LongName() const { return names.constLast(); }
    // "-j, --jobs N"
    QString Synopsis() const;
};

// One value a command reports for each device: its key in the JSON document (null when the
// device did not give it) and its columns in CSV.
struct ResultField
{
    QString name;
    QString jsonHelp; // its JSON form as the help describes it
    std::function<QJsonValue(const Outcome &)> json;
    QStringList csvColumns;
    std::function<QStringList(const Outcome &)> csv;
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
    QString help;
    Devices devices = Devices::Given;
    int connectTimeoutMs = DefaultConnectTimeoutMs;
    // Looks for devices: an address without one is no failure, and only those that answered
    // (gave their version) are listed.
    bool search = false;
    // Its fields have CSV columns, so --csv goes with it.
    bool csv = false;
    // The human report is one table at the end rather than a line per device.
    bool table = false;
    // Sets values on its devices: an interrupt says what it left each device as.
    bool sets = false;
    // Reads the command's values (as many as `arguments`) into the invocation, after the
    // options; throws UsageError.
    std::function<void(Invocation &, const QStringList &values)> prepare;
    // Lays out the steps of one device's part of the run.
    std::function<void(DeviceJob &)> plan;
    QList<const ResultField *> fields;
    // The report's text for a device that succeeded.
    std::function<QString(const Outcome &)> reportText;
};

// In the order --help lists them.
const QList<CommandDef> &Commands();
const QList<OptionDef> &GlobalOptions();
const CommandDef *FindCommand(const QString &name);

} // namespace cli
