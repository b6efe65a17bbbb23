#!/usr/bin/env bash
# Writes what is made from the command-line tool's definitions of its commands and options (with
# the prose beside them in cli/): its manual page docs/man/ql-t36-cli.1, the README's list of its
# commands and options (between the lines "<!-- commands:begin" and "<!-- commands:end") and
# its bash completion packaging/bash-completion/ql-t36-cli. Each comes from the built tool's
# hidden --help-format. The files are committed; after a change to a command or an option, run
# this and commit what it wrote.
#
# With --check nothing is written: it fails, naming each file that is not what the tool makes,
# or when the manual page does not render without warnings (CTest runs it as docs_cli).
#
# Usage: scripts/make-docs.sh [--check] [CLI]
#   CLI  the built ql-t36-cli (default build/dev/cli/ql-t36-cli)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

check=0
if [ "${1:-}" = --check ]; then
    check=1
    shift
fi
cli=${1:-$root/build/dev/cli/ql-t36-cli}
[ -x "$cli" ] || {
    echo "make-docs.sh: $cli is not built" >&2
    exit 2
}
page=$root/docs/man/ql-t36-cli.1
readme=$root/README.md
completion=$root/packaging/bash-completion/ql-t36-cli
begin='<!-- commands:begin'
end='<!-- commands:end'

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ql-t36-docs.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# The documents contact no device; like every run here, this one names a loopback one anyway.
document() {
    timeout 10 "$cli" --device 127.0.0.1 --help-format="$1" < /dev/null > "$scratch/$2" || {
        echo "make-docs.sh: $cli --help-format=$1 failed" >&2
        exit 1
    }
}
document man page
document bash completion
document markdown list

# The README with the list between its markers replaced.
[ "$(grep -c "^$begin" "$readme")" -eq 1 ] && [ "$(grep -c "^$end" "$readme")" -eq 1 ] || {
    echo "make-docs.sh: $readme needs one '$begin' line and one '$end' line after it" >&2
    exit 1
}
inside=0
while IFS= read -r line || [ -n "$line" ]; do
    case $line in
        "$begin"*)
            printf '%s\n' "$line"
            cat "$scratch/list"
            inside=1
            continue
            ;;
        "$end"*) inside=0 ;;
    esac
    [ "$inside" -eq 1 ] || printf '%s\n' "$line"
done < "$readme" > "$scratch/readme"

if [ "$check" -eq 0 ]; then
    cp "$scratch/page" "$page"
    cp "$scratch/completion" "$completion"
    cp "$scratch/readme" "$readme"
    echo "make-docs.sh: wrote ${page#"$root"/}, ${completion#"$root"/} and the list in README.md"
    exit 0
fi

stale=0
for pair in "page:$page" "completion:$completion" "readme:$readme"; do
    made=$scratch/${pair%%:*}
    file=${pair#*:}
    if ! cmp -s "$made" "$file"; then
        echo "make-docs.sh: ${file#"$root"/} is not what $(basename "$cli") makes:" >&2
        diff -u "$file" "$made" | head -n 20 >&2 || true
        stale=1
    fi
done
[ "$stale" -eq 0 ] || {
    echo "make-docs.sh: run scripts/make-docs.sh and commit what it writes" >&2
    exit 1
}
command -v man > /dev/null || {
    echo "make-docs.sh: 'man' is missing (scripts/deps.sh test installs man-db)" >&2
    exit 2
}
warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>&1 > /dev/null) || {
    echo "make-docs.sh: man -l ${page#"$root"/} failed" >&2
    exit 1
}
[ -z "$warnings" ] || {
    printf 'make-docs.sh: man -l %s warns:\n%s\n' "${page#"$root"/}" "$warnings" >&2
    exit 1
}
echo "make-docs.sh: ${page#"$root"/}, ${completion#"$root"/} and the list in README.md are current"
