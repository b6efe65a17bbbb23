#!/usr/bin/env bash
# Compares a program's --help with its manual page written by hand (the simulator's), both ways:
# every option that one names, the other must name too. Prints what differs, so that whoever adds
# an option sees at once that the page needs it (or that the page names one the program dropped).
# The command-line tool's page is made from its definitions instead: scripts/make-docs.sh.
#
# Usage: packaging/check-manual.sh PAGE COMMAND [ARGUMENT...]
#   PAGE     the manual page (roff source, as in docs/man)
#   COMMAND  the command line that prints the help, e.g. build/dev/sim/ql-t36-sim --help
#
# The options are every -x and --long-name that the help mentions, and the options in the page's
# tags: an option must have an entry in the page, not a mere mention.
set -euo pipefail

[ $# -ge 2 ] || {
    echo "usage: $0 PAGE COMMAND [ARGUMENT...]" >&2
    exit 2
}
page=$1
shift
command -v man > /dev/null || {
    echo "check-manual: 'man' is missing (scripts/deps.sh test installs man-db)" >&2
    exit 2
}

# The option words of a text, one a line.
options_in() {
    grep -oE '(^|[][[:space:](,|=])--?[A-Za-z][A-Za-z0-9-]*' \
        | sed -E 's/^[^-]*//' | grep -E '^(-[A-Za-z]|--[A-Za-z][A-Za-z0-9-]+)$' | sort -u || true
}

help=$(timeout 10 "$@" < /dev/null) || {
    echo "check-manual: '$*' failed" >&2
    exit 1
}
# No line breaks in the rendered page, so no option is cut at a line end.
rendered=$(MANWIDTH=1000 LC_ALL=C man -l "$page" 2> /dev/null) || {
    echo "check-manual: man -l $page failed" >&2
    exit 1
}
[ -n "$rendered" ] || {
    echo "check-manual: man -l $page printed nothing" >&2
    exit 1
}

help_options=$(options_in <<< "$help")
# Tags are indented by 7, their text by more.
page_options=$(grep -E '^       -' <<< "$rendered" | options_in)

differences=0
compare() {
    local kind=$1 in_help=$2 in_page=$3 word
    while read -r word; do
        [ -n "$word" ] || continue
        printf '   %s %s: in --help, not in %s\n' "$kind" "$word" "$page"
        differences=$((differences + 1))
    done < <(comm -23 <(printf '%s\n' "$in_help") <(printf '%s\n' "$in_page"))
    while read -r word; do
        [ -n "$word" ] || continue
        printf '   %s %s: in %s, not in --help\n' "$kind" "$word" "$page"
        differences=$((differences + 1))
    done < <(comm -13 <(printf '%s\n' "$in_help") <(printf '%s\n' "$in_page"))
}
compare option "$help_options" "$page_options"

count() { grep -c . <<< "$1" || true; }
if [ "$differences" -gt 0 ]; then
    printf '   FAIL: %s --help and %s differ in %d place(s)\n' "$(basename "$1")" "$page" \
        "$differences"
    exit 1
fi
[ "$(count "$help_options")" -gt 0 ] || {
    echo "check-manual: no options found in '$*'" >&2
    exit 1
}
printf '   ok: %s --help and %s agree: %d options\n' "$(basename "$1")" \
    "$(basename "$page")" "$(count "$help_options")"
