#!/usr/bin/env bash
# pellumin-update-lists against real sources: archives made from the UT1
# lists, served by Python's http.server on a loopback port, and local files
# and folders. A running hxhost reads the same settings file and denies the
# Gambling category: after a good update a UT1 gambling host is denied
# through it (the new list is in force and hxhost was reloaded); after every
# broken source the command names the failed step, exits 1, and the list in
# force is the same file, byte for byte, with no work files left beside it.
#
# Usage: pellumin-update-lists_test.sh BUILD_DIR UT1_DIR
# Exits 77 (skipped) without python3 or curl; without the UT1 lists it
# uses an archive made here in their layout.
set -uo pipefail
# shellcheck source=test-helpers.sh
. "$(dirname "$0")/test-helpers.sh"
build=$(cd "$1" && pwd)
ut1=$2
bin=$build/bin
update=$bin/pellumin-update-lists

for tool in python3 curl; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/pellumin-update-test.XXXXXX")
if [ ! -f "$ut1/gambling/domains" ]; then
  # Without the shared lists beside the checkout: a small archive of the
  # same layout.
  echo "no UT1 lists in $ut1; the updates use an archive made here in the same layout"
  ut1=$work/made-ut1
  made_category_lists "$ut1"
fi
mounted=""
cleanup() {
  stop_started
  [ -z "$mounted" ] || umount "$mounted" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT


# --- The sources ---------------------------------------------------------
www=$work/www
mkdir -p "$www" "$work/src/blacklists" "$work/empty/docs"
cp -r "$ut1"/. "$work/src/blacklists/"
# A folder alias as the real archive has them, and one that points out of
# the archive: neither may be followed.
ln -s gambling "$work/src/blacklists/casino"
ln -s /etc "$work/src/blacklists/escape"
tar -C "$work/src" -czf "$www/good.tar.gz" blacklists
size=$(stat -c %s "$www/good.tar.gz")
head -c $((size / 2)) "$www/good.tar.gz" >"$www/cut.tar.gz"
# The right gzip header, then bytes that inflate to nothing sensible.
{ head -c 10 "$www/good.tar.gz"; head -c 20000 /dev/urandom; } >"$www/corrupt.tar.gz"
echo "not a category" >"$work/empty/docs/README"
tar -C "$work/empty" -czf "$www/nocategories.tar.gz" docs
printf 'plain text, not gzip\n' >"$www/plain.tar.gz"
# A tar of a file named with "..": GNU tar would strip it, but such an
# archive is refused before anything is unpacked.
mkdir -p "$work/dots/a"
echo x >"$work/dots/a/f"
tar -C "$work/dots" -czf "$www/dotdot.tar.gz" --transform 's,^a/f,a/../../outside,' a/f

python3 -u -m http.server --bind 127.0.0.1 0 --directory "$www" >"$work/http.log" 2>&1 &
pids+=($!)
port=""
port=$(wait_for_line "$work/http.log" "$HTTP_SERVER_PORT")
[ -n "$port" ] || { echo "FAIL: http.server did not start"; cat "$work/http.log"; exit 1; }
base=http://127.0.0.1:$port

# --- The installation: settings, list in force, a running hxhost ---------
lists=$work/lists
mkdir -p "$lists"
list=$lists/pellumin.lst
cp "$build/data/sample.lst" "$list"
settings=$work/settings.reg
cat >"$settings" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Pellumin\\Filter]
"ControlFile"="$list"
"Log"=dword:00000001
"Mail"=dword:00000000

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Pellumin\\Filter\\Deny]
"GamblingState"=dword:00000001
REG
defaults=$work/pellumin.default
cat >"$defaults" <<CONF
# As /etc/default/pellumin is read: systemd's format, not shell code.
TARNWICK_HKLM=$settings
PELLUMIN_KEY='SOFTWARE\\Pellumin\\Filter'
PELLUMIN_LIST=$list
LIST_SOURCE=$base/good.tar.gz
CATEGORIES=
CONF

TARNWICK_HKLM=$settings "$bin/hxhost" --plugin "$bin/libtarnwick.so" --listen 127.0.0.1:0 \
  --resolve '*=127.0.0.1' >"$work/hxhost.out" 2>"$work/hxhost.log" &
hxhost_pid=$!
pids+=("$hxhost_pid")
proxy_port=$(wait_for_line "$work/hxhost.log" "$HXHOST_PORT")
[ -n "$proxy_port" ] || { echo "FAIL: hxhost did not start"; cat "$work/hxhost.log"; exit 1; }

gambling_host=$(grep -m1 -E '^[a-z0-9-]+\.[a-z]+$' "$ut1/gambling/domains")
# "denied" when hxhost answers with the filter's page, else curl's status.
verdict_of() {
  local status
  status=$(curl -s -o "$work/page" -w '%{http_code}' --max-time 20 -x "127.0.0.1:$proxy_port" "http://$1/")
  if grep -q "Access Restricted" "$work/page" 2>/dev/null; then echo denied; else echo "status $status"; fi
}
reloads() { grep -c 'reloading the settings' "$work/hxhost.log"; }

# What is in force before: the sample list; the UT1 host is unknown to it.
verdict=$(verdict_of "$gambling_host")
check "before: $gambling_host not denied" "$([ "$verdict" != denied ]; echo $?)" "$verdict"

# --- Broken sources: the list in force stays -----------------------------
# name | arguments | the step its message must name
broken_cases=(
  "404|--source $base/missing.tar.gz|fetch failed"
  "no network|--source http://127.0.0.1:1/lists.tar.gz|fetch failed"
  "cut halfway|--source $base/cut.tar.gz|check failed: the archive is cut or corrupt"
  "corrupt|--source $base/corrupt.tar.gz|check failed: the archive is cut or corrupt"
  "not gzip|--source $base/plain.tar.gz|check failed: the archive is cut or corrupt"
  "no category folders|--source $base/nocategories.tar.gz|check failed: the source holds no category folders"
  "name with ..|--source $base/dotdot.tar.gz|check failed: the archive names a file outside"
  "local file missing|--source $work/nowhere.tar.gz|fetch failed: no such file or folder"
  "unknown category|--source $base/good.tar.gz --categories nosuchfolder|import failed"
)
cp -p "$list" "$work/in-force.copy"
inode=$(stat -c %i "$list")
before_reloads=$(reloads)
for entry in "${broken_cases[@]}"; do
  IFS='|' read -r name args expect <<<"$entry"
  # shellcheck disable=SC2086
  "$update" --config "$defaults" $args >"$work/out" 2>&1
  rc=$?
  check "$name: exit 1" "$([ "$rc" -eq 1 ]; echo $?)" "exit $rc: $(tail -n 2 "$work/out")"
  check "$name: names the step" "$(grep -qF -- "$expect" "$work/out"; echo $?)" "$(tail -n 2 "$work/out")"
  check "$name: says the list stays" "$(grep -q 'the list in force is unchanged' "$work/out"; echo $?)"
  check "$name: list untouched" "$(cmp -s "$list" "$work/in-force.copy" &&
                                  [ "$(stat -c %i "$list")" = "$inode" ]; echo $?)"
  check "$name: no work files left" "$([ -z "$(ls -A "$lists" | grep -vx pellumin.lst)" ]; echo $?)" \
        "$(ls -A "$lists" | tr '\n' ' ')"
done
check "broken sources: hxhost not reloaded" "$([ "$(reloads)" = "$before_reloads" ]; echo $?)"

# --- Bad arguments --------------------------------------------------------
# arguments | exit status
arg_cases=(
  "--categories a;b|2"
  "--source|2"
  "--list $lists/pellumin.txt|2"
  "--bogus|2"
  "--config $work/no-such-config|2"
)
for entry in "${arg_cases[@]}"; do
  IFS='|' read -r args want <<<"$entry"
  # shellcheck disable=SC2086
  "$update" --config "$defaults" $args >/dev/null 2>&1
  rc=$?
  check "arguments '$args': exit $want" "$([ "$rc" -eq "$want" ]; echo $?)" "exit $rc"
done

# --- A good archive over HTTP, from the configuration file ---------------
"$update" --config "$defaults" >"$work/out" 2>&1
rc=$?
check "good archive: exit 0" "$rc" "$(cat "$work/out")"
check "good archive: one line per step" \
  "$(for s in fetch check unpack import verify replace reload; do grep -q "^pellumin-update-lists: $s: " "$work/out" || exit 1; done; echo 0)" \
  "$(cat "$work/out")"
check "good archive: links left out" "$(grep -q 'left out 2 links' "$work/out"; echo $?)"
check "good archive: the old list kept as .prev" "$(cmp -s "$list.prev" "$work/in-force.copy"; echo $?)"
check "good archive: the new list checks" "$("$bin/corvane" dump --check "$list" >/dev/null 2>&1; echo $?)"
check "good archive: no work files left" \
  "$([ "$(ls -A "$lists" | sort | tr '\n' ' ')" = "pellumin.lst pellumin.lst.prev " ]; echo $?)" \
  "$(ls -A "$lists" | tr '\n' ' ')"
check "good archive: nothing written outside" "$([ ! -e "$work/outside" ] && [ ! -e "$lists/outside" ]; echo $?)"
# The reload's own lines: what is in force after it.
wait_for_line "$work/hxhost.log" '/reloading the settings/,${ /plug-in: .*/p; }' >/dev/null
check "good archive: hxhost reloaded once" "$([ "$(reloads)" = $((before_reloads + 1)) ]; echo $?)"
verdict=$(verdict_of "$gambling_host")
check "good archive: $gambling_host denied through hxhost" "$([ "$verdict" = denied ]; echo $?)" \
  "$verdict; $(tail -n 3 "$work/hxhost.log")"

# --- Local sources, one category, no reload ------------------------------
# name | source
local_cases=(
  "local archive|$www/good.tar.gz"
  "local folder|$work/src"
)
for entry in "${local_cases[@]}"; do
  IFS='|' read -r name src <<<"$entry"
  cp -p "$list" "$work/previous"
  "$update" --config "$defaults" --source "$src" --categories gambling --no-reload >"$work/out" 2>&1
  check "$name: exit 0" "$?" "$(cat "$work/out")"
  check "$name: .prev is the list before" "$(cmp -s "$list.prev" "$work/previous"; echo $?)"
  check "$name: only gambling imported" \
    "$("$bin/corvane" dump "$list" | grep -v '^#' | grep -qv 'Gambling' && echo 1 || echo 0)"
done
check "--no-reload: hxhost not reloaded" "$([ "$(reloads)" = $((before_reloads + 1)) ]; echo $?)"

# --- A full disk: the lists on a small file system -----------------------
# name | size of the file system | source | the step that must fail
full_cases=(
  "full disk while fetching|1m|$base/good.tar.gz|fetch failed: cannot write the archive"
  "full disk while unpacking|$((size / 1024 + 1024))k|$base/good.tar.gz|unpack failed"
  "full disk while importing|2m|$work/src|import failed"
)
if [ "$(id -u)" = 0 ] && mkdir -p "$work/small" && mount -t tmpfs -o size=1m tmpfs "$work/small" 2>/dev/null; then
  umount "$work/small"
  for entry in "${full_cases[@]}"; do
    IFS='|' read -r name fs_size src expect <<<"$entry"
    mount -t tmpfs -o "size=$fs_size" tmpfs "$work/small" || { check "$name: mount" 1; continue; }
    mounted=$work/small
    cp "$build/data/sample.lst" "$work/small/pellumin.lst"
    cp -p "$work/small/pellumin.lst" "$work/small.copy"
    "$update" --config "$defaults" --list "$work/small/pellumin.lst" --source "$src" --no-reload \
      >"$work/out" 2>&1
    rc=$?
    check "$name: exit 1" "$([ "$rc" -eq 1 ]; echo $?)" "exit $rc: $(tail -n 2 "$work/out")"
    check "$name: names the step" "$(grep -qF "$expect" "$work/out"; echo $?)" "$(tail -n 2 "$work/out")"
    check "$name: list untouched" "$(cmp -s "$work/small/pellumin.lst" "$work/small.copy"; echo $?)"
    check "$name: space given back" "$([ "$(ls -A "$work/small")" = pellumin.lst ]; echo $?)" \
          "$(ls -A "$work/small" | tr '\n' ' ')"
    umount "$work/small"
    mounted=""
  done
else
  echo "skipped: the full-disk cases (mounting a small tmpfs needs root)"
fi

echo "pellumin-update-lists: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
