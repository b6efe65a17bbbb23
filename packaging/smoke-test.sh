#!/usr/bin/env bash
# Smoke test of the Debian packages ql-t36, ql-t36-cli and ql-t36-ansible. From a configured and
# built tree it builds them and checks their control fields, contents, hardening and lintian (any
# error or warning fails); installs, upgrades, removes and purges them in scratch dpkg roots (an
# edited settings file must survive, also from the single 2.0.0 package, settings in /opt, and
# 2.0.1 package); unpacks them into one scratch root, aims the unpacked settings at a closed
# loopback port, and only then starts the programs: the command-line tool's manual page and bash
# completion must be what it makes of its definitions (the simulator's page must agree with its
# --help), the completion must work, the tool must stay up (offscreen, and on Xvfb with
# xdotool when there) and end with status 0 on SIGTERM, SIGINT and SIGHUP, the command-line tool
# must fail with one line against that port, and ansible-doc must read the collection's modules.
#
# Usage: packaging/smoke-test.sh <build-dir> [--expect-simulator]
#
# Nothing here starts a program with settings that aim anywhere but 127.0.0.1. The unpacked
# settings link leads to the real /etc, so it is replaced before anything starts.
set -euo pipefail

usage() {
    echo "usage: $0 <build-dir> [--expect-simulator]" >&2
    exit 2
}

[ $# -ge 1 ] || usage
build=$(realpath "$1")
shift
expect_simulator=0
for argument in "$@"; do
    case "$argument" in
        --expect-simulator) expect_simulator=1 ;;
        *) usage ;;
    esac
done

title='[QL-T36] IP Address <Version 2.00>'
title_pattern='^\[QL-T36\] IP Address <Version 2\.00>$'
app=usr/lib/ql-t36
conf=etc/ql-t36
here=$(dirname "$(realpath "$0")")

step() { printf '\n== %s\n' "$*"; }
ok() { printf '   ok: %s\n' "$*"; }
note() { printf '   note: %s\n' "$*"; }
fail() {
    printf '   FAIL: %s\n' "$*" >&2
    exit 1
}

for command in cpack dpkg-deb dpkg readelf file lintian man gzip; do
    command -v "$command" > /dev/null || fail "'$command' is missing (scripts/deps.sh package)"
done
command -v dpkg-shlibdeps > /dev/null || fail "'dpkg-shlibdeps' is missing (scripts/deps.sh package)"
[ -f /usr/share/bash-completion/bash_completion ] \
    || fail "bash-completion is missing (scripts/deps.sh package)"
[ -f "$build/CPackConfig.cmake" ] || fail "$build is not a configured build tree"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ql-t36-smoke.XXXXXX")
source "$here/../scripts/lib/session.sh"
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2> /dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
    session_cleanup
    rm -rf "$scratch"
}
trap cleanup EXIT

# Running, and not a zombie waiting to be reaped.
alive() {
    local state
    state=$(sed 's/^.*) //' "/proc/$1/stat" 2> /dev/null | cut -c1) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

# Sends a signal and expects the process to end by itself with status 0 within 10 s.
end_with_signal() {
    local pid=$1 signal=$2 label=$3 status
    kill -"$signal" "$pid"
    for _ in $(seq 100); do
        alive "$pid" || break
        sleep 0.1
    done
    if alive "$pid"; then
        kill -KILL "$pid"
        wait "$pid" 2> /dev/null || true
        fail "$label still running 10 s after SIG$signal"
    fi
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "$label ended with status $status after SIG$signal"
    ok "$label ended with status 0 after SIG$signal"
}

# The process must come up and stay up for a while (no crash, no missing plugin or library).
stays_up() {
    local pid=$1 label=$2 log=$3
    for _ in $(seq 30); do
        alive "$pid" || {
            sed 's/^/   | /' "$log" >&2
            fail "$label ended on its own"
        }
        sleep 0.1
    done
    ok "$label is up after 3 s"
}

# Refuses to go on unless the settings file the executable in $1 will read aims at loopback.
assert_loopback_settings() {
    local executable ini
    executable=$(realpath "$1")
    ini="$(dirname "$executable")/QL_T36.ini"
    case "$executable" in
        "$root"/*) ;;
        *) fail "$1 resolves to $executable, outside the scratch root: not started" ;;
    esac
    [ -f "$ini" ] && [ ! -L "$ini" ] || fail "$ini is not a plain file of the scratch root: not started"
    tr -d '\r' < "$ini" | grep -qx 'ADR=127\.0\.0\.1' \
        || fail "$ini does not aim at 127.0.0.1: not started"
    [ "$(tr -d '\r' < "$ini" | grep -ci '^[[:blank:]]*adr')" -eq 1 ] \
        || fail "$ini holds more than one address: not started"
}

step "Building the packages"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" > "$scratch/cpack.log" 2>&1 || {
    sed 's/^/   | /' "$scratch/cpack.log" >&2
    fail "cpack failed"
}
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
packages=(ql-t36 ql-t36-cli ql-t36-ansible)
declare -A deb
for package in "${packages[@]}"; do
    deb[$package]=$(ls "$scratch/out/${package}_${version}_"*.deb 2> /dev/null) || fail "no $package $version package"
    ok "$(basename "${deb[$package]}"), $(stat -c %s "${deb[$package]}") bytes"
done
[ "$(ls "$scratch"/out/*.deb | wc -l)" -eq 3 ] || fail "more than three packages: $(ls "$scratch/out")"

step "Control fields"
fields() { dpkg-deb -f "${deb[$1]}" "$2"; }
names_in() { fields "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/[ (].*//' | tr '\n' ' '; }
for package in "${packages[@]}"; do
    dpkg-deb -f "${deb[$package]}" Package Architecture Depends Recommends Breaks Replaces | sed 's/^/   /'
done
[[ " $(names_in ql-t36) " == *" libqt6widgets6 "* ]] \
    && fields ql-t36 Depends | grep -qF "ql-t36-cli (= $version)" \
    && [ "$(fields ql-t36 Recommends)" = fonts-ipafont-gothic ] \
    || fail "ql-t36 does not depend on Qt Widgets and ql-t36-cli $version, or recommend a CJK font"
ok "ql-t36: Qt 6 (Widgets too), ql-t36-cli (= $version); recommends a CJK font"
[[ " $(names_in ql-t36-cli) " == *" libqt6core6 "* && " $(names_in ql-t36-cli) " == *" libqt6network6 "* ]] \
    && ! grep -Eq '(^| )(libqt6(gui|widgets|opengl|dbus)|libx|libgl|libegl|libwayland|libfont|libfreetype)' <<< "$(names_in ql-t36-cli)" \
    || fail "ql-t36-cli depends on '$(names_in ql-t36-cli)', not Qt Core and Network alone"
[ "$(fields ql-t36-cli Breaks)/$(fields ql-t36-cli Replaces)" = "ql-t36 (<< 2.1.0~)/ql-t36 (<< 2.1.0~)" ] \
    || fail "ql-t36-cli does not break and replace ql-t36 (<< 2.1.0~)"
ok "ql-t36-cli: Qt Core and Network, no display library; Breaks and Replaces ql-t36 (<< 2.1.0~)"
[ "$(fields ql-t36-ansible Architecture)/$(fields ql-t36-ansible Depends)" \
    = "all/ansible-core (>= 2.14), ql-t36-cli (>= $version)" ] || fail "ql-t36-ansible's architecture or dependencies"
ok "ql-t36-ansible: architecture all, depends on ansible-core and ql-t36-cli"
control_file() { dpkg-deb --ctrl-tarfile "${deb[$1]}" | tar -xOf - "./$2" 2> /dev/null || true; }
[ "$(control_file ql-t36-cli conffiles)$(control_file ql-t36 conffiles)$(control_file ql-t36-ansible conffiles)" \
    = "/$conf/QL_T36.ini" ] || fail "/$conf/QL_T36.ini is not ql-t36-cli's conffile alone"
ok "conffiles: /$conf/QL_T36.ini, in ql-t36-cli only"
for script in preinst postinst prerm postrm; do
    control_file ql-t36 "$script" \
        | grep -q "^dpkg-maintscript-helper mv_conffile /opt/ql-t36/QL_T36.ini /$conf/QL_T36.ini " \
        || fail "ql-t36's $script does not move the 2.0.0 settings file"
done
ok "ql-t36's preinst, postinst, prerm, postrm move /opt/ql-t36/QL_T36.ini to /$conf/QL_T36.ini"

step "Contents"
collection=usr/share/ansible/collections/ansible_collections/qlt36/fleet
declare -A expected=(
    [ql-t36]="$app/ql-t36 usr/bin/ql-t36 usr/share/man/man1/ql-t36.1.gz
        usr/share/applications/ql-t36.desktop usr/share/icons/hicolor/scalable/apps/ql-t36.svg"
    [ql-t36-cli]="$app/ql-t36-cli usr/bin/ql-t36-cli $app/QL_T36.ini $conf/QL_T36.ini
        usr/lib/tmpfiles.d/ql-t36-cli.conf usr/share/man/man1/ql-t36-cli.1.gz
        usr/share/bash-completion/completions/ql-t36-cli"
    [ql-t36-ansible]="$collection/galaxy.yml $collection/README.md $collection/meta/runtime.yml
        $collection/plugins/doc_fragments/common.py $collection/plugins/module_utils/runner.py
        $collection/plugins/modules/info.py $collection/plugins/modules/addresses.py
        $collection/plugins/modules/firmware.py $collection/playbooks/rollout.yml
        usr/share/lintian/overrides/ql-t36-ansible"
)
for size in 16 32 48 64 128 256; do
    expected[ql-t36]+=" usr/share/icons/hicolor/${size}x${size}/apps/ql-t36.png"
done
if dpkg-deb -c "${deb[ql-t36]}" | grep -q "/$app/ql-t36-sim\$" || [ "$expect_simulator" -eq 1 ]; then
    expected[ql-t36]+=" $app/ql-t36-sim usr/bin/ql-t36-sim usr/share/man/man1/ql-t36-sim.1.gz"
fi
root="$scratch/root"
for package in "${packages[@]}"; do
    expected[$package]+=" usr/share/doc/$package/copyright usr/share/doc/$package/changelog.gz"
    mkdir -p "$scratch/alone/$package"
    dpkg-deb -x "${deb[$package]}" "$scratch/alone/$package"
    dpkg-deb -x "${deb[$package]}" "$root"
    read -r -a paths <<< "$(tr '\n' ' ' <<< "${expected[$package]}")"
    for path in "${paths[@]}"; do
        [ -e "$scratch/alone/$package/$path" ] || [ -L "$scratch/alone/$package/$path" ] \
            || fail "$package lacks /$path"
    done
    unexpected=$(cd "$scratch/alone/$package" && find . \( -type f -o -type l \) | sed 's|^\./||' \
        | sort | grep -vxF -f <(printf '%s\n' "${paths[@]}") || true)
    [ -z "$unexpected" ] || fail "unexpected files in $package: $unexpected"
    ok "$package: its ${#paths[@]} paths, nothing else"
done
if command -v ansible-doc > /dev/null; then
    for module in info addresses firmware; do
        ANSIBLE_COLLECTIONS_PATH="$root/usr/share/ansible/collections" ansible-doc -t module \
            "qlt36.fleet.$module" 2>&1 | grep -q '^EXAMPLES:' || fail "ansible-doc cannot read qlt36.fleet.$module"
    done
    ok "ansible-doc reads qlt36.fleet.info, addresses and firmware from the unpacked collection"
fi

# The ini the engineer gets: the documented defaults, in the format the tool reads.
tr -d '\r' < "$root/$conf/QL_T36.ini" | grep -v '^[[:blank:]]*;' | grep -v '^[[:blank:]]*$' \
    > "$scratch/ini-settings"
printf '[LAN]\nADR=192.168.0.1\nPORT=2000\n' | diff -u - "$scratch/ini-settings" > /dev/null \
    || fail "the packaged QL_T36.ini does not hold exactly [LAN] ADR=192.168.0.1 PORT=2000"
ok "QL_T36.ini: [LAN] ADR=192.168.0.1 PORT=2000, everything else a ';' comment"

[ "$(readlink "$root/$app/QL_T36.ini")" = "/$conf/QL_T36.ini" ] \
    || fail "/$app/QL_T36.ini is not a link to /$conf/QL_T36.ini"
ok "/$app/QL_T36.ini -> /$conf/QL_T36.ini"
programs=()
for program in ql-t36 ql-t36-cli ql-t36-sim; do
    [ -e "$root/$app/$program" ] || continue
    programs+=("$program")
    [ -f "$root/$app/$program" ] && [ -x "$root/$app/$program" ] \
        || fail "/$app/$program is not an executable file"
    # Relative, so inside the unpacked tree it leads to the unpacked executable.
    [ "$(readlink "$root/usr/bin/$program")" = "../lib/ql-t36/$program" ] \
        && [ "$(realpath "$root/usr/bin/$program")" = "$root/$app/$program" ] \
        || fail "/usr/bin/$program is not a relative link to /$app/$program"
    if readelf -d "$root/$app/$program" | grep -Eq 'R(UN)?PATH'; then
        fail "/$app/$program carries a run path: $(readelf -d "$root/$app/$program" | grep -E 'R(UN)?PATH')"
    fi
    ok "/$app/$program: executable, no run path, launcher /usr/bin/$program -> $(readlink "$root/usr/bin/$program")"
done
for package in "${packages[@]}"; do
    head -n1 "$root/usr/share/doc/$package/copyright" \
        | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
        || fail "the copyright of $package is not in the machine-readable format"
    changelog_version=$(gzip -dc "$root/usr/share/doc/$package/changelog.gz" | head -n1 \
        | sed -n 's/^ql-t36 (\([^)]*\)).*/\1/p')
    [ "$changelog_version" = "$version" ] \
        || fail "the changelog's newest entry is '$changelog_version', the packages are $version: add an entry to packaging/changelog"
done
ok "copyright (machine-readable), changelog.gz (newest entry $changelog_version) in each package"
for size in 16 32 48 64 128 256; do
    file -b "$root/usr/share/icons/hicolor/${size}x${size}/apps/ql-t36.png" \
        | grep -q "PNG image data, $size x $size," || fail "the ${size}x${size} icon is not a ${size}x${size} PNG"
done
ok "icons: PNG 16..256 of their stated sizes, SVG"
if command -v desktop-file-validate > /dev/null; then
    desktop-file-validate "$root/usr/share/applications/ql-t36.desktop" || fail "desktop entry invalid"
    ok "desktop entry valid (desktop-file-validate)"
else
    note "desktop-file-validate not installed (desktop-file-utils): desktop entry not validated"
fi

step "Hardening"
for program in "${programs[@]}"; do
    binary="$root/$app/$program"
    header=$(readelf -hW "$binary")
    dynamic=$(readelf -dW "$binary")
    grep -Eq 'Type: +DYN' <<< "$header" && grep -q 'Flags:.* PIE' <<< "$dynamic" \
        || fail "/$app/$program is not a position-independent executable"
    grep -Eq '\(BIND_NOW\)|Flags:.* NOW' <<< "$dynamic" || fail "/$app/$program is not bound now"
    readelf -lW "$binary" | grep -q GNU_RELRO || fail "/$app/$program has no RELRO segment"
    symbols=$(readelf --dyn-syms -W "$binary")
    grep -q '__stack_chk_fail' <<< "$symbols" || fail "/$app/$program has no stack protector"
    fortified=$({ grep -oE '\b__[a-z0-9_]+_chk\b' <<< "$symbols" || true; } | sort -u | tr '\n' ' ')
    sections=$(readelf -SW "$binary")
    ! grep -Eq ' \.(comment|symtab|debug_[a-z]+) ' <<< "$sections" \
        || fail "/$app/$program is not stripped: $(grep -Eo ' \.(comment|symtab|debug_[a-z]+) ' <<< "$sections" | tr -d '\n')"
    ok "/$app/$program: PIE, BIND_NOW, RELRO, stack protector, stripped (no .comment); fortified: ${fortified:-none called}"
done
# Listed only: it also reports what needs no fortifying (memcpy of a size known only at run time)
# and what this Debian release does not turn on (stack clash protection, control flow integrity).
if command -v hardening-check > /dev/null; then
    { hardening-check "${programs[@]/#/$root/$app/}" || true; } | sed 's/^/   | /'
fi

step "lintian"
# Errors and warnings fail; information, pedantic and experimental tags are listed.
status=0
lintian --fail-on error,warning --display-info --pedantic --display-experimental "${deb[@]}" \
    > "$scratch/lintian.log" 2>&1 || status=$?
{ grep -v 'running with root privileges is not recommended' "$scratch/lintian.log" || true; } \
    | sed 's/^/   | /'
[ "$status" -eq 0 ] || fail "lintian found errors or warnings (status $status)"
ok "lintian on the three: $(grep -c '^E: ' "$scratch/lintian.log" || true) errors, $(grep -c '^W: ' "$scratch/lintian.log" || true) warnings, $(grep -c '^[IPX]: ' "$scratch/lintian.log" || true) information, pedantic or experimental tags"

# A closed loopback port: nothing is connected until the first command anyway, but the tool's
# settings must not name anything that could answer.
port=""
for candidate in $(seq 47036 47099); do
    if ! timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$candidate" 2> /dev/null; then
        port=$candidate
        break
    fi
done
[ -n "$port" ] || fail "no closed loopback port found"

step "Settings of the unpacked tool pointed at 127.0.0.1:$port"
# The packaged link leads to the real /etc: the unpacked programs get a file of their own.
rm "$root/$app/QL_T36.ini"
printf '; Smoke test: loopback only.\r\n[LAN]\r\nADR=127.0.0.1\r\nPORT=%s\r\n' "$port" \
    > "$root/$app/QL_T36.ini"
assert_loopback_settings "$root/$app/ql-t36"
ok "/$app/QL_T36.ini (a plain file now) -> 127.0.0.1:$port"

step "Manual pages"
for program in "${programs[@]}"; do
    page="$root/usr/share/man/man1/$program.1.gz"
    MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" > "$scratch/$program.man" 2> "$scratch/$program.man-warnings" \
        || fail "man -l $program.1.gz failed"
    [ ! -s "$scratch/$program.man-warnings" ] || {
        sed 's/^/   | /' "$scratch/$program.man-warnings" >&2
        fail "man -l $program.1.gz warns"
    }
    for section in NAME SYNOPSIS DESCRIPTION; do
        grep -qx "$section" "$scratch/$program.man" || fail "$program(1) has no $section section"
    done
    ok "man -l $program.1.gz: $(wc -l < "$scratch/$program.man") lines, no warnings"
done
assert_loopback_settings "$root/$app/ql-t36-cli"
# Made from the program's own definitions: what it makes, it has.
cmp -s <(gzip -dc "$root/usr/share/man/man1/ql-t36-cli.1.gz") \
    <(timeout 10 "$root/$app/ql-t36-cli" --help-format=man < /dev/null) \
    || fail "ql-t36-cli(1) is not what ql-t36-cli --help-format=man makes: run scripts/make-docs.sh"
ok "ql-t36-cli(1) is what the packaged ql-t36-cli makes of its commands and options"
if [ -e "$root/$app/ql-t36-sim" ]; then
    "$here/check-manual.sh" "$root/usr/share/man/man1/ql-t36-sim.1.gz" "$root/$app/ql-t36-sim" --help \
        || fail "ql-t36-sim(1) and ql-t36-sim --help differ: update docs/man/ql-t36-sim.1"
fi

step "Bash completion"
assert_loopback_settings "$root/$app/ql-t36-cli"
cmp -s "$root/usr/share/bash-completion/completions/ql-t36-cli" \
    <(timeout 10 "$root/$app/ql-t36-cli" --help-format=bash < /dev/null) \
    || fail "the completion is not what ql-t36-cli --help-format=bash makes: run scripts/make-docs.sh"
ok "the completion is what the packaged ql-t36-cli makes of its commands and options"
mkdir "$scratch/completion"
touch "$scratch/completion/plant.txt" "$scratch/completion/firmware.bin"
completion_case() {
    local want=$1 line="$root/$app/ql-t36-cli $2" got
    got=$(cd "$scratch/completion" && LINE=$line bash --norc --noprofile -c '
        source /usr/share/bash-completion/bash_completion
        source "$0"
        read -r -a COMP_WORDS <<< "$LINE"
        [[ $LINE == *" " ]] && COMP_WORDS+=("")
        COMP_LINE=$LINE COMP_POINT=${#LINE} COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _ql_t36_cli "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        ((${#COMPREPLY[@]} == 0)) || printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' \
        "$root/usr/share/bash-completion/completions/ql-t36-cli")
    [ "$got" = "$want" ] || fail "completing 'ql-t36-cli $2' gave '$got', not '$want'"
    ok "ql-t36-cli $2<TAB>: ${got:-nothing}"
}
completion_case "addresses apply flash inventory mac scan set-addresses set-mac version " ""
completion_case "--verify-delay --verify-version --version " "--ver"
completion_case "set-addresses set-mac " "-j 4 set"
completion_case "firmware.bin plant.txt " "-d 127.0.0.1 flash "
completion_case "plant.txt " "--devices p"
completion_case "" "--device "
completion_case "" "version "

step "Install, upgrade and purge in scratch dpkg roots"
# The programs are never started from these roots. The maintainer scripts run without a chroot
# (a scratch root has no shell), with DPKG_ROOT naming the root as dpkg sets it.
# --auto-deconfigure, as apt gives it: ql-t36-cli breaks the single package of 2.0.x.
dpkg_base=(dpkg --log="$scratch/dpkg-history.log" --force-depends --force-script-chrootless
    --auto-deconfigure)
if [ "$(id -u)" -ne 0 ]; then
    dpkg_base+=(--force-not-root)
fi
new_root() {
    mkdir -p "$1/var/lib/dpkg/info" "$1/var/lib/dpkg/updates"
    touch "$1/var/lib/dpkg/status" "$1/var/lib/dpkg/available"
}
in_root() {
    local target=$1
    shift
    "${dpkg_base[@]}" --root="$target" "$@" >> "$scratch/dpkg.log" 2>&1 || {
        sed 's/^/   | /' "$scratch/dpkg.log" >&2
        fail "dpkg $* failed in a scratch root"
    }
}
# As apt installs them: every package unpacked, then each configured after what it depends on
# (the scratch roots lack the libraries, so dpkg is told to go on without them and would not
# order the packages by itself).
install_all() {
    local target=$1
    shift
    in_root "$target" --unpack "$@"
    in_root "$target" --configure ql-t36-cli
    in_root "$target" --configure --pending
}
installed_version() { dpkg-query --admindir="$1/var/lib/dpkg" -W -f='${Version}' "${2:-ql-t36}"; }
# Those in use: a package that gave a conffile up may keep it listed as obsolete (dpkg's purge of
# that package leaves a file another package owns alone).
conffiles_of() {
    dpkg-query --admindir="$1/var/lib/dpkg" -W -f='${Conffiles}' "$2" | awk '$NF != "obsolete" { print $1 }'
}
packaged_ini="$scratch/packaged-QL_T36.ini"
cp "$root/$conf/QL_T36.ini" "$packaged_ini"
# ansible-core is not in a scratch root: the dependency is forced, and the collection is files.
new_debs=("${deb[ql-t36-cli]}" "${deb[ql-t36]}" "${deb[ql-t36-ansible]}")

# Upgrade = the same packages with a higher version.
upgrade_debs=()
for package in "${packages[@]}"; do
    dpkg-deb -R "${deb[$package]}" "$scratch/upgrade-$package"
    sed -i 's/^Version: .*/&+smoke1/; s/(= '"$version"')/(= '"$version"'+smoke1)/' \
        "$scratch/upgrade-$package/DEBIAN/control"
    dpkg-deb --root-owner-group -b "$scratch/upgrade-$package" "$scratch/upgrade-$package.deb" > /dev/null
    upgrade_debs+=("$scratch/upgrade-$package.deb")
done

# The single package of 2.0.1, rebuilt from these: the windows, the simulator and the
# command-line tool in one, its settings a conffile in /etc, the maintainer scripts ql-t36 has.
single() {
    local tree=$1
    dpkg-deb -R "${deb[ql-t36]}" "$tree"
    dpkg-deb -x "${deb[ql-t36-cli]}" "$tree"
    rm -rf "${tree:?}/usr/lib/tmpfiles.d" "${tree:?}/usr/share/doc/ql-t36-cli"
    sed -i -E 's/^Version: .*/Version: 2.0.1/; /^Depends:/{s/ql-t36-cli \([^)]*\)(, )?//; s/, $//}' \
        "$tree/DEBIAN/control"
    echo "/$conf/QL_T36.ini" > "$tree/DEBIAN/conffiles"
}
md5sums_of() {
    (cd "$1" && find . -type f ! -path './DEBIAN/*' -printf '%P\n' | sort | xargs md5sum) > "$1/DEBIAN/md5sums"
}
single "$scratch/single-2.0.1" && md5sums_of "$scratch/single-2.0.1"
dpkg-deb --root-owner-group -b "$scratch/single-2.0.1" "$scratch/single-2.0.1.deb" > /dev/null

# The 2.0.0 package in the layout it had: everything in /opt/ql-t36, the settings file a conffile
# there, relative launchers, no maintainer scripts, pages or docs.
old="$scratch/old"
single "$old"
rm -f "$old"/DEBIAN/{preinst,postinst,prerm,postrm}
mkdir -p "$old/opt/ql-t36"
for program in "${programs[@]}"; do
    mv "$old/$app/$program" "$old/opt/ql-t36/"
    ln -sfn "../../opt/ql-t36/$program" "$old/usr/bin/$program"
done
mv "$old/$conf/QL_T36.ini" "$old/opt/ql-t36/"
rm -rf "${old:?}/usr/lib" "${old:?}/etc" "${old:?}/usr/share/man" "${old:?}/usr/share/doc" "${old:?}/usr/share/bash-completion"
echo /opt/ql-t36/QL_T36.ini > "$old/DEBIAN/conffiles"
sed -i 's/^Version: .*/Version: 2.0.0/' "$old/DEBIAN/control"
md5sums_of "$old"
dpkg-deb --root-owner-group -b "$old" "$scratch/old.deb" > /dev/null

# The command-line tool alone, as on a jump host: no window, no simulator, and the lock folder.
alone="$scratch/root-cli"
new_root "$alone"
in_root "$alone" -i "${deb[ql-t36-cli]}"
[ -x "$alone/$app/ql-t36-cli" ] && [ ! -e "$alone/$app/ql-t36" ] && [ ! -e "$alone/usr/share/applications" ] \
    || fail "ql-t36-cli alone did not install the command-line tool alone"
[ "$(stat -c %a "$alone/run/lock/ql-t36" 2> /dev/null)" = 1777 ] \
    || fail "ql-t36-cli did not make /run/lock/ql-t36 with mode 1777"
ok "ql-t36-cli alone: the command-line tool and its settings, /run/lock/ql-t36 made with mode 1777"

# A fresh install of the three, an upgrade with an edited file, removal and purge.
fresh="$scratch/root-fresh"
new_root "$fresh"
install_all "$fresh" "${new_debs[@]}"
[ "$(conffiles_of "$fresh" ql-t36-cli)" = "/$conf/QL_T36.ini" ] && [ -z "$(conffiles_of "$fresh" ql-t36)" ] \
    || fail "dpkg did not record /$conf/QL_T36.ini as ql-t36-cli's conffile"
[ "$(readlink "$fresh/$app/QL_T36.ini")" = "/$conf/QL_T36.ini" ] \
    && cmp -s "$fresh/$conf/QL_T36.ini" "$packaged_ini" || fail "the installed settings are not in /$conf"
[ -f "$fresh/$collection/plugins/modules/firmware.py" ] || fail "the collection is not installed"
ok "installed the three at $(installed_version "$fresh"); /$conf/QL_T36.ini is ql-t36-cli's conffile"
sed -i 's/^ADR=.*/ADR=127.0.0.1/' "$fresh/$conf/QL_T36.ini"
install_all "$fresh" "${upgrade_debs[@]}"
[ "$(installed_version "$fresh")" = "$version+smoke1" ] || fail "the upgrade did not happen"
tr -d '\r' < "$fresh/$conf/QL_T36.ini" | grep -qx 'ADR=127\.0\.0\.1' \
    || fail "the upgrade replaced the edited QL_T36.ini"
ok "upgraded to $version+smoke1: the edited /$conf/QL_T36.ini was kept"
in_root "$fresh" -r ql-t36-ansible ql-t36 ql-t36-cli
[ -f "$fresh/$conf/QL_T36.ini" ] && [ ! -e "$fresh/$app" ] && [ ! -L "$fresh/usr/bin/ql-t36" ] \
    && [ ! -e "$fresh/usr/share/ansible" ] || fail "remove did not keep only the settings file"
in_root "$fresh" -P ql-t36-ansible ql-t36 ql-t36-cli
[ ! -e "$fresh/$conf" ] || fail "purge left /$conf behind: $(ls -A "$fresh/$conf")"
ok "remove keeps /$conf/QL_T36.ini, purge deletes it and /$conf"

# From the single package of 2.0.1 with edited settings: ql-t36-cli takes the file over, whichever
# of the two is unpacked first.
for order in "ql-t36-cli ql-t36" "ql-t36 ql-t36-cli"; do
    read -r first second <<< "$order"
    from="$scratch/root-from-2.0.1-$first-first"
    new_root "$from"
    in_root "$from" -i "$scratch/single-2.0.1.deb"
    sed -i 's/^ADR=.*/ADR=127.0.0.3/' "$from/$conf/QL_T36.ini"
    install_all "$from" "${deb[$first]}" "${deb[$second]}" "${deb[ql-t36-ansible]}"
    [ "$(installed_version "$from")" = "$version" ] && [ -x "$from/$app/ql-t36-cli" ] && [ -x "$from/$app/ql-t36" ] \
        && tr -d '\r' < "$from/$conf/QL_T36.ini" | grep -qx 'ADR=127\.0\.0\.3' \
        && [ "$(conffiles_of "$from" ql-t36-cli)/$(conffiles_of "$from" ql-t36)" = "/$conf/QL_T36.ini/" ] \
        || fail "the upgrade from 2.0.1 ($first first) lost a program or the edited settings, or left them ql-t36's"
    in_root "$from" -P ql-t36
    [ -f "$from/$conf/QL_T36.ini" ] && [ -x "$from/$app/ql-t36-cli" ] \
        || fail "purging ql-t36 took the command-line tool's files"
    in_root "$from" -P ql-t36-ansible ql-t36-cli
    [ ! -e "$from/$conf" ] || fail "purge after the upgrade from 2.0.1 left /$conf behind"
done
ok "from 2.0.1 with edited settings, whichever package is unpacked first: kept, now ql-t36-cli's conffile; purging ql-t36 leaves them, purging ql-t36-cli deletes them"

# From 2.0.0, once with the settings edited in /opt and once untouched.
for edited in yes no; do
    from="$scratch/root-from-2.0.0-$edited"
    new_root "$from"
    in_root "$from" -i "$scratch/old.deb"
    [ "$(installed_version "$from")" = 2.0.0 ] && [ -f "$from/opt/ql-t36/QL_T36.ini" ] \
        || fail "the 2.0.0 package did not install"
    if [ "$edited" = yes ]; then
        sed -i 's/^ADR=.*/ADR=127.0.0.2/' "$from/opt/ql-t36/QL_T36.ini"
    fi
    install_all "$from" "${new_debs[@]}"
    [ "$(installed_version "$from")" = "$version" ] || fail "the upgrade from 2.0.0 did not happen"
    [ ! -e "$from/opt/ql-t36" ] || fail "the upgrade from 2.0.0 left /opt/ql-t36: $(ls -A "$from/opt/ql-t36")"
    [ "$(readlink "$from/usr/bin/ql-t36")" = ../lib/ql-t36/ql-t36 ] \
        && [ "$(readlink "$from/$app/QL_T36.ini")" = "/$conf/QL_T36.ini" ] \
        || fail "the upgrade from 2.0.0 did not lay out the new links"
    if [ "$edited" = yes ]; then
        tr -d '\r' < "$from/$conf/QL_T36.ini" | grep -qx 'ADR=127\.0\.0\.2' \
            || fail "the edited settings did not move from /opt/ql-t36 to /$conf"
        cmp -s "$from/$conf/QL_T36.ini.dpkg-new" "$packaged_ini" \
            || fail "the packaged settings are not beside the moved file as QL_T36.ini.dpkg-new"
        ok "from 2.0.0 with edited settings: moved to /$conf/QL_T36.ini, the packaged file beside it as .dpkg-new, /opt/ql-t36 gone"
    else
        cmp -s "$from/$conf/QL_T36.ini" "$packaged_ini" && [ ! -e "$from/$conf/QL_T36.ini.dpkg-new" ] \
            || fail "unedited settings from 2.0.0 were not replaced by the packaged file"
        ok "from 2.0.0 with untouched settings: /$conf/QL_T36.ini is the packaged file, /opt/ql-t36 gone"
    fi
    in_root "$from" -P ql-t36-ansible ql-t36 ql-t36-cli
    [ ! -e "$from/$conf" ] && [ ! -e "$from/opt/ql-t36" ] \
        || fail "purge after the upgrade from 2.0.0 left settings behind"
done
ok "purge after an upgrade from 2.0.0 leaves no settings behind"

step "Installed tool on the offscreen platform"
# A background job of a script starts with SIGINT ignored, and the tool leaves ignored signals
# alone; --default-signal gives it the start a terminal or a session would.
for signal in TERM INT HUP; do
    assert_loopback_settings "$root/$app/ql-t36"
    log="$scratch/offscreen-$signal.log"
    QT_QPA_PLATFORM=offscreen env --default-signal=TERM,INT,HUP "$root/$app/ql-t36" > "$log" 2>&1 &
    pid=$!
    pids+=("$pid")
    stays_up "$pid" "ql-t36 (offscreen)" "$log"
    end_with_signal "$pid" "$signal" "ql-t36 (offscreen)"
done

step "Installed tool through the launcher on a virtual display"
if command -v Xvfb > /dev/null && command -v xdotool > /dev/null; then
    start_display 1024x768x24 || fail "Xvfb did not start"
    display=$DISPLAY

    assert_loopback_settings "$root/usr/bin/ql-t36"
    log="$scratch/xvfb-tool.log"
    env -u QT_QPA_PLATFORM DISPLAY="$display" "$root/usr/bin/ql-t36" > "$log" 2>&1 &
    pid=$!
    pids+=("$pid")
    # The job is env for a moment, before it executes the launcher.
    for _ in $(seq 50); do
        started=$(readlink "/proc/$pid/exe" || true)
        [ "$started" = "$root/$app/ql-t36" ] && break
        sleep 0.1
    done
    [ "$started" = "$root/$app/ql-t36" ] || fail "the launcher started '$started'"
    ok "the launcher runs /$app/ql-t36 of the unpacked tree (so it reads that folder's QL_T36.ini)"
    window=$(DISPLAY="$display" timeout 20 xdotool search --sync --onlyvisible --name "$title_pattern" \
        | head -n1) || true
    [ -n "$window" ] || {
        sed 's/^/   | /' "$log" >&2
        fail "no visible window titled '$title' within 20 s"
    }
    shown=$(DISPLAY="$display" xdotool getwindowname "$window")
    [ "$shown" = "$title" ] || fail "main window title is '$shown'"
    ok "main window shown, title '$shown'"
    stays_up "$pid" "ql-t36 (Xvfb)" "$log"
    end_with_signal "$pid" TERM "ql-t36 (Xvfb)"
    session_cleanup
else
    note "Xvfb or xdotool not installed: the window title was not checked on a display"
fi

step "Installed command-line tool"
assert_loopback_settings "$root/usr/bin/ql-t36-cli"
status=0
timeout 10 "$root/usr/bin/ql-t36-cli" --help > "$scratch/cli-help.txt" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "ql-t36-cli --help ended with status $status"
grep -q '^Usage: ql-t36-cli ' "$scratch/cli-help.txt" || fail "ql-t36-cli --help printed no usage"
ok "ql-t36-cli --help through the launcher"
status=0
timeout 10 "$root/usr/bin/ql-t36-cli" -d "127.0.0.1:$port" version \
    > "$scratch/cli-out.txt" 2> "$scratch/cli-err.txt" || status=$?
sed 's/^/   | /' "$scratch/cli-out.txt" "$scratch/cli-err.txt"
[ "$status" -eq 1 ] || fail "ql-t36-cli against the closed port 127.0.0.1:$port ended with status $status"
[ "$(wc -l < "$scratch/cli-err.txt")" -eq 1 ] \
    && grep -q "^127\.0\.0\.1:$port .*Code = 10061" "$scratch/cli-err.txt" \
    || fail "ql-t36-cli did not report the refused connection in one line"
ok "ql-t36-cli against the closed port: status 1, one line naming the device and Code = 10061"

step "Installed simulator"
if [ -e "$root/$app/ql-t36-sim" ]; then
    status=0
    timeout 10 "$root/usr/bin/ql-t36-sim" --help > "$scratch/sim-help.txt" 2>&1 || status=$?
    sed 's/^/   | /' "$scratch/sim-help.txt" | head -n 20
    [ "$status" -eq 0 ] || fail "ql-t36-sim --help ended with status $status"
    [ -s "$scratch/sim-help.txt" ] || fail "ql-t36-sim --help printed nothing"
    ok "ql-t36-sim --help through the launcher"
elif [ "$expect_simulator" -eq 1 ]; then
    fail "the package has no simulator"
else
    note "this build has no simulator target: not in the package"
fi

printf '\nPackage smoke test passed: %s\n' "$(cd "$scratch/out" && ls -- *.deb | tr '\n' ' ')"
