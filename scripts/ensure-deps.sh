#!/usr/bin/env bash
# Installs the native build's packages when they are missing (Debian 12, as root).
# Usage: scripts/ensure-deps.sh [--windows] [--fuzz]
#   --windows adds MinGW-w64 and Wine; --fuzz adds clang and libFuzzer (tests/fuzz/run.sh).
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/sqlite3.h ] || need+=(libsqlite3-dev)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -d /usr/src/googletest ] || need+=(googletest)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
for option in "$@"; do
  case "$option" in
    --windows)
      command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64)
      command -v wine >/dev/null || need+=(wine wine64)
      ;;
    --fuzz)
      command -v clang++ >/dev/null || command -v clang++-14 >/dev/null || need+=(clang-14)
      compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null ||
        need+=(libclang-rt-14-dev)
      ;;
  esac
done

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
