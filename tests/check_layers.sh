#!/bin/sh
# Layer checks on the built binaries.
#   check_layers.sh exports LIBRARY        the camera library exports only its C API and controls
#   check_layers.sh qt-free BINARY...      none of these programs loads Qt
#   check_layers.sh widgets CXX SOURCE_DIR FLAGS_DIR
#                                          no widget layer can include a header of a layer
#                                          above or beside it (FLAGS_DIR/<target>.flags: the
#                                          layer's -I and -D flags, one a line)
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
  widgets)
    cxx=$1 source_dir=$2 flags_dir=$3
    # Preprocesses stdin with the include path and definitions a layer's own sources compile with.
    preprocess() {
      flags_file=$flags_dir/$1.flags
      set --
      while IFS= read -r flag; do
        case "$flag" in -I | -D | '') ;; *) set -- "$@" "$flag" ;; esac
      done <"$flags_file"
      "$cxx" -std=c++17 -fPIC "$@" -E -x c++ -o /dev/null - 2>&1
    }
    headers_of() { find "$source_dir/$1" -maxdepth 1 -name '*.h' -exec basename {} \; | sort; }
    # Each layer: target, folder, and the layers it may include from.
    while read -r layer folder below; do
      if [ -z "$(headers_of "$folder")" ]; then
        echo "$layer: no headers in $folder; the layer list is out of date"
        status=1
      fi
      # Its own headers (and through them the layers below) must resolve, or the failures
      # expected next would prove nothing.
      if ! out=$(headers_of "$folder" | sed 's/.*/#include "&"/' | preprocess "$layer"); then
        echo "$layer cannot include its own headers:"
        echo "$out"
        status=1
      fi
      # A path through ".." reaches any folder, whatever the include path.
      if grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<][^">]*\.\./' \
        "$source_dir/$folder"/*.h "$source_dir/$folder"/*.cpp; then
        echo "$layer includes through a relative path"
        status=1
      fi
      for other in kp_chrome:app/chrome kp_lists:devicelist kp_panels:panels kp_video:video kp_app:app; do
        case " $layer $below " in *" ${other%%:*} "*) continue ;; esac
        for header in $(headers_of "${other#*:}"); do
          out=$(echo "#include \"$header\"" | preprocess "$layer")
          if ! echo "$out" | grep -q -e "$header: No such file" -e "'$header' file not found"; then
            echo "$layer can include $header of ${other%%:*}:"
            echo "$out"
            status=1
          fi
        done
      done
    done <<LAYERS
kp_chrome app/chrome
kp_lists devicelist kp_chrome
kp_panels panels kp_chrome kp_lists
kp_video video kp_chrome kp_lists
kp_app app kp_chrome kp_lists kp_panels kp_video
LAYERS
    ;;
  *)
    echo "unknown mode $mode"
    status=2
    ;;
esac
exit $status
