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

# The fuzz targets (the workbook reader, the record store on a device-list file, and the ONVIF
# backend's SOAP and WS-Discovery readers), built with clang and run briefly on their seed
# corpora; FUZZ_SECONDS is shared between them.
FUZZ_DIR=${FUZZ_DIR:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
if [ "$FUZZ_SECONDS" -gt 0 ]; then
  cmake -S . -B "$FUZZ_DIR" "${GENERATOR[@]}" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKP_BUILD_FUZZERS=ON -DKP_BUILD_TESTS=OFF -DKP_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$FUZZ_DIR" --parallel "$JOBS" --target fuzz_xlsbook fuzz_device_list fuzz_onvif
  reader_seconds=$(( (FUZZ_SECONDS + 2) / 3 ))
  store_seconds=$(( (FUZZ_SECONDS - reader_seconds + 1) / 2 ))
  onvif_seconds=$(( FUZZ_SECONDS - reader_seconds - store_seconds ))
  for target in "fuzz_xlsbook:$reader_seconds:corpus" "fuzz_device_list:$store_seconds:corpus" \
                "fuzz_onvif:$onvif_seconds:corpus_onvif"; do
    name=${target%%:*} rest=${target#*:}
    seconds=${rest%%:*} corpus=${rest#*:}
    [ "$seconds" -gt 0 ] || continue
    work=$(mktemp -d)
    cp "fuzz/$corpus"/* "$work"/
    "$FUZZ_DIR/fuzz/$name" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 "$work" 2>&1 | tail -3
    rm -rf "$work"
  done
fi

(cd "$BUILD_DIR" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$JOBS" --timeout 600)

# The thread-heavy tests again under ThreadSanitizer: the device operations, the camera library
# stand-in, and the widgets' hand-overs between threads (dispatch, the local list, the job queue,
# discovery). Only their programs are built. TSAN_CHECK=0 skips the step.
if [ "${TSAN_CHECK:-1}" != 0 ]; then
  TSAN_DIR=${TSAN_DIR:-build-tsan}
  TSAN_GENERATOR=()
  command -v ninja >/dev/null 2>&1 && [ ! -f "$TSAN_DIR/CMakeCache.txt" ] && TSAN_GENERATOR=(-G Ninja)
  cmake -S . -B "$TSAN_DIR" "${TSAN_GENERATOR[@]}" -DKP_SANITIZE=thread -DKP_BUILD_BENCHMARKS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$TSAN_DIR" --parallel "$JOBS" --target kp_factory_tests kp_rudavado_tests kp_ui_tests
  for dir in factory rudavado ui; do
    filter=()
    [ "$dir" = ui ] && filter=(-R '^(DispatchTest|RowReporter|LocalListTest|UiJobQueue|DiscoveryHandOff|LanDiscoveryTest)\.')
    (cd "$TSAN_DIR/tests/$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$JOBS" \
      --timeout 600 "${filter[@]}")
  done
fi

# The layers without Qt cross-built for Windows and tested under wine (about 3 minutes from clean).
if [ "${WINDOWS_CHECK:-1}" != 0 ]; then
  JOBS="$JOBS" bash scripts/windows-check.sh
fi
