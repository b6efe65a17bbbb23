// The README's list of commands and options, and the bash completion: made from the
// definitions, as --help is.

#include "app/GlobalOptions.h"
#include "app/Help.h"
#include "commands/Commands.h"

namespace cli {

namespace {

constexpr qsizetype ReadmeWidth = 100;

// Markdown that starts a block: a continuation line must not start with it.
bool StartsBlock(const QString &word)
{
    static const QString marks = QStringLiteral("#-+*>|=");
    return !word.isEmpty() && (marks.contains(word.front()) || word.front().isDigit());
}

// One item of a Markdown list, `indent` deep, wrapped to the README's width.
QString Item(const QString &indent, const QString &text)
{
    QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList lines;
    QStringList line;
    const QString continued = indent + QStringLiteral("  ");
    const auto width = [&](const QStringList &parts) {
        return (lines.isEmpty() ? indent.size() + 2 : continued.size())
                + parts.join(QLatin1Char(' ')).size();
    };
    for (const QString &word : std::as_const(words)) {
        if (line.isEmpty() || width(line + QStringList{ word }) <= ReadmeWidth) {
            line.append(word);
            continue;
        }
        // Carried over with the word before it, so that the next line is no block of its own.
        QStringList next{ word };
        while (StartsBlock(next.constFirst()) && line.size() > 1)
            next.prepend(line.takeLast());
        lines.append(line.join(QLatin1Char(' ')));
        line = next;
    }
    lines.append(line.join(QLatin1Char(' ')));
    return indent + QStringLiteral("- ") + lines.join(QLatin1Char('\n') + continued)
            + QLatin1Char('\n');
}

QString OptionItem(const QString &indent, const OptionDef &option)
{
    return Item(indent, QLatin1Char('`') + option.Synopsis() + QStringLiteral("`: ") + option.help);
}

// The words of a bash `case` pattern: "-j | --jobs".
QString Pattern(const QStringList &words)
{
    return words.join(QStringLiteral(" | "));
}

QStringList Spelled(const OptionDef &option)
{
    QStringList names;
    for (const QString &name : option.names)
        names.append((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    return names;
}

} // namespace

QString MarkdownList()
{
    QString text = QStringLiteral("Commands:\n\n");
    for (const std::shared_ptr<Command> &command : MakeCommands()) {
        const CommandDef &definition = command->Definition();
        const QString usage =
                (QStringList{ definition.name } + definition.arguments).join(QLatin1Char(' '));
        text += Item(QString(), QLatin1Char('`') + usage + QStringLiteral("`: ") + definition.help);
        for (const OptionDef &option : definition.options)
            text += OptionItem(QStringLiteral("  "), option);
    }
    text += QStringLiteral("\nOptions:\n\n");
    for (const OptionDef &option : GlobalOptions())
        text += OptionItem(QString(), option);
    return text;
}

QString BashCompletion()
{
    const std::vector<std::shared_ptr<Command>> commands = MakeCommands();
    QStringList names;
    QList<OptionDef> options = GlobalOptions();
    QStringList fileCommands;
    for (const std::shared_ptr<Command> &command : commands) {
        const CommandDef &definition = command->Definition();
        names.append(definition.name);
        options += definition.options;
        if (definition.arguments.contains(QLatin1String("FILE"))
            || definition.arguments.contains(QLatin1String("IMAGE")))
            fileCommands.append(definition.name);
    }
    QStringList all;
    QStringList files;
    QStringList valued;
    for (const OptionDef &option : std::as_const(options)) {
        for (const QString &spelled : Spelled(option)) {
            if (all.contains(spelled))
                continue;
            all.append(spelled);
            if (option.TakesFile())
                files.append(spelled);
            else if (!option.valueName.isEmpty())
                valued.append(spelled);
        }
    }
    return QStringLiteral(
                   "# bash completion for ql-t36-cli                              "
                   "-*- shell-script -*-\n"
                   "#\n"
                   "# Made from the command definitions by scripts/make-docs.sh "
                   "(ql-t36-cli --help-format=bash):\n"
                   "# change those in cli/, not this file. Values named FILE or IMAGE complete "
                   "as file names,\n"
                   "# others (addresses, numbers, texts) not at all.\n"
                   "\n"
                   "_ql_t36_cli()\n"
                   "{\n"
                   "    local cur prev words cword split\n"
                   "    _init_completion -s || return\n"
                   "\n"
                   "    local commands=\"%1\"\n"
                   "    local options=\"%2\"\n"
                   "\n"
                   "    case $prev in\n"
                   "        %3)\n"
                   "            _filedir\n"
                   "            return\n"
                   "            ;;\n"
                   "        %4)\n"
                   "            return\n"
                   "            ;;\n"
                   "    esac\n"
                   "\n"
                   "    if [[ $cur == -* ]]; then\n"
                   "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
                   "        return\n"
                   "    fi\n"
                   "\n"
                   "    # The command is the first word that is neither an option nor an "
                   "option's value.\n"
                   "    local i command=\"\"\n"
                   "    for ((i = 1; i < cword; i++)); do\n"
                   "        case ${words[i]} in\n"
                   "            %3 | %4)\n"
                   "                ((i++))\n"
                   "                ;;\n"
                   "            -*) ;;\n"
                   "            *)\n"
                   "                if [[ -z $command ]]; then\n"
                   "                    command=${words[i]}\n"
                   "                fi\n"
                   "                ;;\n"
                   "        esac\n"
                   "    done\n"
                   "    case $command in\n"
                   "        \"\")\n"
                   "            COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
                   "            ;;\n"
                   "        %5)\n"
                   "            _filedir\n"
                   "            ;;\n"
                   "    esac\n"
                   "} &&\n"
                   "    complete -F _ql_t36_cli ql-t36-cli\n")
            .arg(names.join(QLatin1Char(' ')), all.join(QLatin1Char(' ')), Pattern(files),
                 Pattern(valued), Pattern(fileCommands));
}

} // namespace cli
