#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the run command need.
# Skips apt entirely when everything is already there. --windows adds what
# scripts/windows-check.sh needs.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
  librttr-dev nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libx11-dev xvfb xauth x11-utils imagemagick
  fonts-wqy-microhei
  qttranslations5-l10n
  clang libclang-rt-14-dev clang-format
  python3 python3-xlrd python3-olefile
  libreoffice-calc-nogui gnumeric
  # The ONVIF backend of the camera library.
  libcurl4-openssl-dev libpugixml-dev libssl-dev
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  # The ONVIF tests: a network namespace of their own, the simulator's RTSP server and the
  # independent counterparts run against it.
  iproute2 util-linux python3-gi gir1.2-gst-rtsp-server-1.0
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad ffmpeg onvif-tools wsdd
)
# npm's onvif client runs on node; Debian's npm brings node when no node is installed yet.
command -v npm >/dev/null 2>&1 || PACKAGES+=(npm)

# The Windows cross build and its test run (scripts/windows-check.sh).
if [ "${1:-}" = "--windows" ]; then
  PACKAGES+=(g++-mingw-w64-x86-64-posix wine wine64)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The pinned npm client of the ONVIF tests (tests/onvif/package-lock.json), into tests/onvif/node_modules.
onvif_dir="$(dirname "$0")/../tests/onvif"
if [ ! -f "$onvif_dir/node_modules/onvif/package.json" ]; then
  (cd "$onvif_dir" && npm ci --no-audit --no-fund --loglevel=error)
fi
