#!/usr/bin/env bash
# Installs the native build's packages when they are missing (Debian 12, as root).
# Usage: scripts/ensure-deps.sh [--windows]   (--windows adds MinGW-w64 and Wine)
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/sqlite3.h ] || need+=(libsqlite3-dev)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -d /usr/src/googletest ] || need+=(googletest)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
if [ "${1:-}" = "--windows" ]; then
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64)
  command -v wine >/dev/null || need+=(wine wine64)
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "installing missing packages: ${need[*]}"
  if [ "$(id -u)" != 0 ]; then
    echo "error: these packages are missing and installing them needs root: ${need[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi
