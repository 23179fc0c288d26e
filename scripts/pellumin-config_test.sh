#!/usr/bin/env bash
# pellumin-config without its sheet: the arguments, the refusal without a
# terminal, and --reload-only, which must
# reach the running hxhost of the configured settings file and leave alone
# one that reads another file. The sheet itself is driven in a terminal by
# config_ui/terminal/terminal_sheet_test.sh.
#
# Usage: pellumin-config_test.sh BUILD_DIR
set -uo pipefail
# shellcheck source=test-helpers.sh
. "$(dirname "$0")/test-helpers.sh"
build=$(cd "$1" && pwd)
bin=$build/bin
config=$bin/pellumin-config

work=$(mktemp -d "${TMPDIR:-/tmp}/pellumin-config-test.XXXXXX")
cleanup() {
  stop_started
  rm -rf "$work"
}
trap cleanup EXIT

# Two installations: ours, and another whose filter must not be signalled.
for name in ours other; do
  cat >"$work/$name.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Pellumin\\Filter]
"ControlFile"="$build/data/sample.lst"
REG
  TARNWICK_HKLM=$work/$name.reg "$bin/hxhost" --plugin "$bin/libtarnwick.so" --listen 127.0.0.1:0 \
    >/dev/null 2>"$work/$name.log" &
  pids+=($!)
  wait_for_line "$work/$name.log" "$HXHOST_PORT" >/dev/null ||
    { echo "FAIL: hxhost ($name) did not start: $(cat "$work/$name.log")"; exit 1; }
done
cat >"$work/defaults" <<CONF
TARNWICK_HKLM=$work/ours.reg
PELLUMIN_KEY='SOFTWARE\\Pellumin\\Filter'
CONF

# arguments | exit status | what the output must hold
cases=(
  "--bogus|2|unknown argument"
  "--settings|2|--settings needs a value"
  "--config $work/none|2|no configuration file"
  "--help|0|--reload-only"
  "--config $work/defaults|1|needs a terminal"
  "--config $work/defaults --reload-only|0|1 filter(s) asked to read $work/ours.reg again"
  "--config $work/defaults --reload-only --settings $work/none.reg|0|no running hxhost or tarnwick-squid reads"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r args want expect <<<"$entry"
  # shellcheck disable=SC2086
  "$config" $args </dev/null >"$work/out" 2>&1
  rc=$?
  check "'$args': exit $want" "$([ "$rc" = "$want" ]; echo $?)" "exit $rc: $(cat "$work/out")"
  check "'$args': says '$expect'" "$(grep -qF -- "$expect" "$work/out"; echo $?)" "$(cat "$work/out")"
done
wait_for_line "$work/ours.log" '/reloading the settings/p' >/dev/null
check "--reload-only: our hxhost reloaded" "$(grep -q 'reloading the settings' "$work/ours.log"; echo $?)"
check "--reload-only: the other hxhost left alone" \
  "$(! grep -q 'reloading the settings' "$work/other.log"; echo $?)"

echo "pellumin-config: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
