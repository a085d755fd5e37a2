#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite with ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/check-format.sh

BUILD_DIR=${BUILD_DIR:-build}
JOBS=${JOBS:-$(nproc)}
GENERATOR=()
command -v ninja >/dev/null 2>&1 && GENERATOR=(-G Ninja)
if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then GENERATOR=(); fi

cmake -S . -B "$BUILD_DIR" "${GENERATOR[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" --parallel "$JOBS"

# The workbook reader's fuzz target, built with clang and run briefly on its seed corpus.
FUZZ_DIR=${FUZZ_DIR:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
if [ "$FUZZ_SECONDS" -gt 0 ]; then
  cmake -S . -B "$FUZZ_DIR" "${GENERATOR[@]}" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKP_BUILD_FUZZERS=ON -DKP_BUILD_TESTS=OFF -DKP_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$FUZZ_DIR" --parallel "$JOBS" --target fuzz_xlsbook
  work=$(mktemp -d)
  cp fuzz/corpus/* "$work"/
  "$FUZZ_DIR/fuzz/fuzz_xlsbook" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -timeout=10 "$work" 2>&1 | tail -3
  rm -rf "$work"
fi

(cd "$BUILD_DIR" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$JOBS" --timeout 600)

# The layers without Qt cross-built for Windows and tested under wine (about 3 minutes from clean).
if [ "${WINDOWS_CHECK:-1}" != 0 ]; then
  JOBS="$JOBS" bash scripts/windows-check.sh
fi
