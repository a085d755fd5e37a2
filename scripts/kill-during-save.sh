#!/usr/bin/env bash
# Kills a program with SIGKILL while it saves the device list, ROUNDS times, and checks after each
# kill that the list loads (through the store, and through xlrd when Python has it) holding
# exactly the devices of the save before or of the one being written.
#
#   bash scripts/kill-during-save.sh [SAVE_LOOP_PROGRAM [ROUNDS [DEVICES]]]
#
# SAVE_LOOP_PROGRAM defaults to build/tests/database/kp_save_loop. Prints a line per failure and
# a summary; exits 1 on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

program=${1:-build/tests/database/kp_save_loop}
rounds=${2:-100}
devices=${3:-20000}
[ -x "$program" ] || { echo "no program $program (build the target kp_save_loop)" >&2; exit 2; }

with_xlrd=0
/usr/bin/python3 -c "import xlrd" 2>/dev/null && with_xlrd=1
# Prints the device list's rows as the store's check prints them (without its first line).
read_with_xlrd='
import sys, xlrd
sheet = xlrd.open_workbook(sys.argv[1]).sheet_by_name("sheet_1")
names = [str(v) for v in sheet.row_values(0)]
columns = [names.index(n) for n in ("ip", "port", "user_name", "password")]
for r in range(1, sheet.nrows):
    row = sheet.row_values(r)
    ip, port, user, password = (row[c] for c in columns)
    print("\t".join([ip, str(int(port)), user, password]))
'

work=$(mktemp -d)
loop_pid=
cleanup() {
  [ -n "$loop_pid" ] && kill -KILL "$loop_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
list="$work/list"
mkdir "$list"

failures=0 mid_save=0 contents_a=0 contents_b=0
fail() {
  echo "round $1: $2"
  failures=$((failures + 1))
}

for ((round = 1; round <= rounds; round++)); do
  : >"$work/out"
  "$program" run "$devices" "$list" >"$work/out" 2>"$work/err" &
  loop_pid=$!
  # The first save done: from here on the program saves all the time but for its short edits.
  save_ms=
  for ((wait = 0; wait < 3000; wait++)); do
    read -r word save_ms <"$work/out" 2>/dev/null
    [ "${word:-}" = ready ] && break
    save_ms=
    kill -0 "$loop_pid" 2>/dev/null || break
    sleep 0.01
  done
  if [ -z "$save_ms" ]; then
    kill -KILL "$loop_pid" 2>/dev/null
    wait "$loop_pid" 2>/dev/null
    loop_pid=
    fail "$round" "the program did not start its saves: $(head -c 300 "$work/err")"
    continue
  fi
  # A random moment within the next two saves.
  delay_us=$(((RANDOM * 32768 + RANDOM) % ((2 * save_ms + 1) * 1000)))
  sleep "$(printf '%d.%06d' $((delay_us / 1000000)) $((delay_us % 1000000)))"
  if ! kill -0 "$loop_pid" 2>/dev/null; then
    wait "$loop_pid" 2>/dev/null
    fail "$round" "the program stopped before the kill (exit $?): $(head -c 300 "$work/err")"
    loop_pid=
    continue
  fi
  kill -KILL "$loop_pid"
  wait "$loop_pid" 2>/dev/null
  loop_pid=
  # The store writes a temporary file beside the list and moves it over the list when done.
  compgen -G "$list/.*.saving" >/dev/null && mid_save=$((mid_save + 1))

  if ! "$program" check "$devices" "$list" >"$work/check" 2>"$work/err"; then
    fail "$round" "the store loads a wrong list: $(head -n 3 "$work/check" | tr '\n' ' ')$(head -c 300 "$work/err")"
    # The next round must start from a list it knows.
    rm -f "$list"/devicedatamanager.xls*
    continue
  fi
  case $(head -n 1 "$work/check") in
    A) contents_a=$((contents_a + 1)) ;;
    B) contents_b=$((contents_b + 1)) ;;
  esac
  if [ "$with_xlrd" = 1 ]; then
    if ! /usr/bin/python3 -c "$read_with_xlrd" "$list/devicedatamanager.xls" >"$work/xlrd" 2>"$work/err"; then
      fail "$round" "xlrd cannot read the list: $(tail -n 1 "$work/err")"
    elif ! tail -n +2 "$work/check" | cmp -s - "$work/xlrd"; then
      fail "$round" "xlrd reads other devices than the store"
    fi
  fi
done

xlrd_note="xlrd not installed: store only"
[ "$with_xlrd" = 1 ] && xlrd_note="checked by the store and xlrd"
echo "kill-during-save: $rounds rounds of $devices devices, $mid_save killed with a save's file open," \
  "list held content A/B $contents_a/$contents_b times ($xlrd_note): $failures failures"
[ "$failures" = 0 ]
