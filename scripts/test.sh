#!/usr/bin/env bash
# Installs what is missing, builds, and runs every check (headless, loopback only):
#   0. the formatting of every C++ file (the project's .clang-format);
#   1. the test suite (Debug, warnings as errors);
#   2. the same suite under AddressSanitizer, UBSan and leak checking;
#   3. each fuzz target for a short time (QLT36_FUZZ_SECONDS, default 20);
#   4. the soak run and the benchmarks, built optimised as users get them (preset release; they
#      print figures; the soak fails on growth);
#   5. the Ansible collection (scripts/ansible-test.sh): ansible-doc, ansible-lint, the collection
#      build, ansible-test units and integration against loopback simulators; then its benchmark,
#      a play over three sites of 32 simulators against the command-line tool alone;
#   6. the Debian packages: built, checked by lintian, installed, upgraded (also from the single
#      2.0.0 and 2.0.1 packages) and purged in scratch roots, unpacked and started against
#      loopback;
#   7. the Windows lane (scripts/windows.sh): cross-built, every suite and the portable ZIP's
#      smoke test under Wine, the ZIP, the download benchmark under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh test fuzz package ansible
step() { printf '\n==== %s ====\n' "$*"; }

step "Formatting"
scripts/format-check.sh

step "Test suite"
cmake --workflow --preset dev

step "Test suite under sanitizers"
cmake --workflow --preset asan

step "Fuzzing"
QLT36_FUZZ_SECONDS="${QLT36_FUZZ_SECONDS:-20}" cmake --workflow --preset fuzz

step "Soak and benchmark"
cmake --preset release
cmake --build --preset release --target soak bench_download bench_fleet ql-t36-cli ql-t36-sim
QT_QPA_PLATFORM=offscreen build/release/bench/soak
QT_QPA_PLATFORM=offscreen build/release/bench/bench_download
build/release/bench/bench_fleet

step "Ansible collection"
scripts/ansible-test.sh
bench/ansible_sites.py

step "Debian packages"
cmake --workflow --preset package

step "Windows"
scripts/windows.sh

step "All checks passed"
