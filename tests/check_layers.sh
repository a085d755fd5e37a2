#!/bin/sh
# Layer checks on the built binaries.
#   check_layers.sh exports LIBRARY        the camera library exports only its C API and controls
#   check_layers.sh qt-free BINARY...      none of these programs loads Qt
set -u
mode=$1
shift
status=0
case "$mode" in
  exports)
    extra=$(nm -D --defined-only "$1" | awk '{print $3}' | grep -Ev '^(KpLPRClient_|KPLPRClient_|RuDAVADO_)')
    if [ -n "$extra" ]; then
      echo "$1 exports more than its C interface:"
      echo "$extra"
      status=1
    fi
    ;;
  qt-free)
    for binary in "$@"; do
      if readelf -d "$binary" | grep NEEDED | grep -q 'libQt'; then
        echo "$binary links Qt:"
        readelf -d "$binary" | grep NEEDED | grep 'libQt'
        status=1
      fi
    done
    ;;
  *)
    echo "unknown mode $mode"
    status=2
    ;;
esac
exit $status
