#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing for the given purpose: "build" (compiler,
# CMake, Ninja, Qt 6), "run" (build + a virtual display, screenshot tools and a Japanese font),
# "test" (build + clang-format and man, which checks the manual pages), "fuzz" (clang with
# libFuzzer), "package" (dpkg tools, debhelper, lintian, man and bash-completion), "windows" (build
# + the MinGW-w64 cross compiler, Wine, a virtual display and xdotool for the Windows lane),
# "ansible" (ansible-core, ansible-lint and the pytest plugins ansible-test's unit tests use).
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev)
for purpose in "$@"; do
    case "$purpose" in
        build) ;;
        test) packages+=(clang-format man-db) ;;
        run) packages+=(xvfb xauth xdotool imagemagick fonts-ipafont-gothic) ;;
        fuzz) packages+=(clang libclang-rt-dev) ;;
        package) packages+=(dpkg-dev debhelper file xvfb xauth xdotool desktop-file-utils lintian
            man-db bash-completion) ;;
        windows) packages+=(g++-mingw-w64-x86-64-posix qt6-base-dev-tools wine64 xvfb xauth
            xdotool) ;;
        ansible) packages+=(ansible-core ansible-lint python3-pytest python3-pytest-forked
            python3-pytest-xdist) ;;
        *) echo "deps.sh: unknown purpose '$purpose'" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "deps.sh: need root or sudo to install ${missing[*]}" >&2; exit 1; }
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
