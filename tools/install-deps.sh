#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
# Usage: tools/install-deps.sh [base|demo|gui|test|fuzz]...
set -euo pipefail

base=(g++ cmake ninja-build make pkg-config zlib1g-dev libsqlite3-dev libjpeg-dev
      libgtest-dev libbenchmark-dev)
demo=(libfltk1.3-dev)
gui=(xvfb fonts-dejavu-core)
# libFuzzer and the sanitizer runtimes: libclang-rt-dev where the distribution has it (Debian
# 12), else the versioned package.
clang_rt=libclang-rt-dev
if ! apt-cache show "$clang_rt" >/dev/null 2>&1; then clang_rt=libclang-rt-14-dev; fi
fuzz=(clang "$clang_rt")

want=("${base[@]}")
for group in "$@"; do
    case "$group" in
        base) ;;
        demo) want+=("${demo[@]}") ;;
        gui) want+=("${demo[@]}" "${gui[@]}") ;;
        test) want+=("${demo[@]}" "${gui[@]}") ;;
        fuzz) want+=("${fuzz[@]}") ;;
        *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
    esac
done

missing=()
for pkg in "${want[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
        echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
