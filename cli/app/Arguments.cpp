#include "app/Arguments.h"

#include "app/GlobalOptions.h"
#include "app/Help.h"
#include "commands/Commands.h"

#include <QCommandLineParser>

#include <algorithm>
#include <optional>

namespace cli {

namespace {

// Every option the parser knows: the global ones, then each command's own (an option that
// several commands take is declared alike by each, and known once).
struct KnownOption
{
    const OptionDef *definition;
    QCommandLineOption option;
    QStringList commands; // those it goes with; empty for a global option
};

QList<KnownOption> KnownOptions(const std::vector<std::shared_ptr<Command>> &commands)
{
    QList<KnownOption> known;
    const auto option = [](const OptionDef &definition) {
        return QCommandLineOption(definition.names, definition.help, definition.valueName);
    };
    for (const OptionDef &definition : GlobalOptions())
        known.append(KnownOption{ &definition, option(definition), {} });
    for (const std::shared_ptr<Command> &command : commands) {
        for (const OptionDef &definition : command->Definition().options) {
            auto same = std::find_if(known.begin(), known.end(), [&](const KnownOption &k) {
                return k.definition->names == definition.names;
            });
            if (same == known.end())
                same = known.insert(known.end(),
                                    KnownOption{ &definition, option(definition), {} });
            Q_ASSERT_X(!same->commands.isEmpty() || same->definition == &definition, "KnownOptions",
                       "a command's own option shares a global option's name");
            same->commands.append(command->Definition().name);
        }
    }
    return known;
}

Target Checked(const std::optional<Target> &target, const QString &error)
{
    if (!target)
        Fail(error);
    return *target;
}

void ResolveTargets(Invocation &invocation, const CommandDef &command, const QString &folder)
{
    QString error;
    for (const QString &text : std::as_const(invocation.deviceTexts)) {
        const std::optional<Target> target = ParseTarget(text, &error);
        invocation.targets.append(Checked(target, QStringLiteral("-d: ") + error));
    }
    if (!invocation.devicesFile.isNull()) {
        int signalNumber = 0;
        const auto listed = ReadTargetsFile(invocation.devicesFile, &error, &signalNumber);
        if (signalNumber != 0) {
            // The run ends as interrupted, with no device to contact.
            invocation.signalNumber = signalNumber;
            invocation.targets.clear();
            return;
        }
        if (!listed)
            Fail(error);
        invocation.targets += *listed;
    }
    if (invocation.targets.isEmpty())
        invocation.targets.append(Checked(SettingsTarget(folder, &error), error));
    for (qsizetype i = 0; i < invocation.targets.size(); ++i) {
        // Two sessions on one device would interleave their commands.
        if (invocation.targets.indexOf(invocation.targets[i]) != i)
            Fail(QStringLiteral("%1 is given twice").arg(invocation.targets[i].Label()));
    }
    if (command.devices == CommandDef::Devices::One && invocation.targets.size() != 1)
        Fail(QStringLiteral("%1 sets one device at a time, %2 given")
                     .arg(command.name)
                     .arg(invocation.targets.size()));
}

Invocation Parse(const QStringList &arguments, const QString &programFolder)
{
    const std::vector<std::shared_ptr<Command>> commands = MakeCommands();
    const QList<KnownOption> known = KnownOptions(commands);
    QCommandLineParser parser;
    for (const KnownOption &option : known)
        parser.addOption(option.option);
    // Not in --help: it makes the documents that list what --help lists.
    const QCommandLineOption helpFormat(QStringLiteral("help-format"), QString(),
                                        QStringLiteral("FORMAT"));
    parser.addOption(helpFormat);
    if (!parser.parse(arguments))
        Fail(parser.errorText());

    Invocation invocation;
    // Help (or the version) whatever else is given, even if it is wrong.
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        invocation.help = parser.isSet(QStringLiteral("help"));
        invocation.version = !invocation.help;
        return invocation;
    }
    if (parser.isSet(helpFormat)) {
        invocation.helpFormat = parser.value(helpFormat);
        if (!HelpFormats().contains(invocation.helpFormat))
            Fail(QStringLiteral("--help-format wants %1, not \"%2\"")
                         .arg(HelpFormats().join(QStringLiteral(", ")), invocation.helpFormat));
        return invocation;
    }
    const auto apply = [&](const OptionDef &definition, const QCommandLineOption &option) {
        if (parser.isSet(option) && definition.apply)
            definition.apply(invocation, parser.values(option));
    };
    for (const KnownOption &option : known) {
        if (option.commands.isEmpty())
            apply(*option.definition, option.option);
    }

    QStringList values = parser.positionalArguments();
    if (values.isEmpty())
        Fail(QStringLiteral("no command given"));
    invocation.commandName = values.takeFirst();
    const auto found = std::find_if(commands.begin(), commands.end(), [&](const auto &command) {
        return command->Definition().name == invocation.commandName;
    });
    if (found == commands.end())
        Fail(QStringLiteral("unknown command \"%1\"").arg(invocation.commandName));
    Command &command = **found;
    const CommandDef &definition = command.Definition();
    if (values.size() != definition.arguments.size())
        Fail(QStringLiteral("%1 takes %2 value(s), %3 given")
                     .arg(definition.name)
                     .arg(definition.arguments.size())
                     .arg(values.size()));
    for (const KnownOption &option : known) {
        if (option.commands.isEmpty())
            continue;
        if (!option.commands.contains(definition.name)) {
            if (parser.isSet(option.option))
                Fail(QStringLiteral("--%1 goes with %2 only")
                             .arg(option.definition->LongName(),
                                  option.commands.join(QStringLiteral(", "))));
            continue;
        }
        // The command's own declaration: its values go into the command.
        const auto own = std::find_if(
                definition.options.begin(), definition.options.end(),
                [&](const OptionDef &each) { return each.names == option.definition->names; });
        apply(*own, option.option);
    }

    invocation.command = *found;
    invocation.job.connectTimeoutMs = definition.connectTimeoutMs;
    invocation.job.sets = definition.sets;
    invocation.search = definition.search;
    const bool devicesGiven = !invocation.deviceTexts.isEmpty() || !invocation.devicesFile.isNull();
    if (definition.devices == CommandDef::Devices::Range && devicesGiven)
        Fail(QStringLiteral("%1 takes a range, not devices").arg(definition.name));
    if (definition.devices == CommandDef::Devices::File && devicesGiven)
        Fail(QStringLiteral("%1 takes its devices from %2, not from -d or --devices")
                     .arg(definition.name, definition.arguments.constFirst()));
    if (invocation.devicesFile == QLatin1String("-") && values.contains(QStringLiteral("-")))
        Fail(QStringLiteral("standard input is read once: --devices and %1 both name it")
                     .arg(definition.arguments.join(QLatin1Char(' '))));
    command.Prepare(invocation, values);
    const bool ownDevices = definition.devices == CommandDef::Devices::Range
            || definition.devices == CommandDef::Devices::File || invocation.search;
    if (!ownDevices)
        ResolveTargets(invocation, definition, programFolder);
    if (invocation.connectTimeoutMs > 0)
        invocation.job.connectTimeoutMs = invocation.connectTimeoutMs;

    // One thing on stdout.
    if (int(invocation.json) + int(invocation.csv) + int(invocation.events) > 1)
        Fail(QStringLiteral("--json, --csv and --events go one at a time"));
    if (invocation.csv && !definition.csv) {
        QStringList reading;
        for (const std::shared_ptr<Command> &each : commands) {
            if (each->Definition().csv)
                reading.append(each->Definition().name);
        }
        Fail(QStringLiteral("--csv goes with %1 only").arg(reading.join(QStringLiteral(", "))));
    }
    return invocation;
}

} // namespace

ParsedArguments ParseArguments(const QStringList &arguments, const QString &programFolder)
{
    try {
        return ParsedArguments{ Parse(arguments, programFolder), QString() };
    } catch (const UsageError &error) {
        return ParsedArguments{ Invocation(), error.text };
    }
}

} // namespace cli
