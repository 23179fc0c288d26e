#!/usr/bin/env bash
# The Debian packages as an administrator uses them, on this machine: build
# them (scripts/build-packages.sh, lintian), install them with apt-get, check
# the versions and the unit files (systemd-analyze verify), build a program
# against the installed engine through pkg-config and through
# find_package(Corvane), run the installed hxhost as its unit's ExecStart
# says (as user pellumin, with /etc/default/pellumin), update the lists from
# an archive of the UT1 lists served on a loopback port (and from broken
# ones), rotate the logs with logrotate -f while hxhost serves, run the Squid
# end-to-end test against the installed helper and parse the example Squid
# fragment with squid, then purge and check that no file of the packages is
# left.
#
# Usage: package_test.sh UT1_DIR [--keep-installed]
# Needs root (apt-get, a system user). Exits 77 (skipped) with the reason
# when the machine cannot: not root, no dpkg-buildpackage or debhelper.
# Environment: PACKAGE_DIR (default build/package).
set -uo pipefail
# shellcheck source=test-helpers.sh
. "$(dirname "$0")/test-helpers.sh"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
root=$(cd "$(dirname "$0")/.." && pwd)
ut1=${1:?usage: package_test.sh UT1_DIR}
keep=0
[ "${2:-}" = --keep-installed ] && keep=1
out=${PACKAGE_DIR:-$root/build/package}

skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "installing packages needs root"
command -v dpkg-buildpackage >/dev/null || skip "no dpkg-buildpackage (dpkg-dev)"
command -v dh >/dev/null || skip "no debhelper"

CHECK_VERBOSE=1
step() { printf '\n-- %s\n' "$*"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/pellumin-package-test.XXXXXX")
chmod 0755 "$work"
if [ ! -f "$ut1/gambling/domains" ]; then
  # A checkout without the shared lists beside it still tests the update,
  # on an archive made here in the same one-folder-per-category layout.
  echo "package_test: no UT1 lists in $ut1; the list update uses an archive made here in the same layout"
  ut1=$work/made-ut1
  made_category_lists "$ut1"
fi
cleanup() {
  stop_started
  rm -rf "$work"
}
trap cleanup EXIT
apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y "$@"
}
packages=(pellumin libcorvane1 libcorvane-dev)

step "build"
bash "$root/scripts/build-packages.sh" "$out" >"$work/build.out" 2>&1
check "dpkg-buildpackage and lintian" $? "$(tail -n 20 "$work/build.out")"
grep -E '^(W|E): |lintian:' "$work/build.out"
version=$(sed -n 's/^project(Pellumin VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
debs=()
for p in "${packages[@]}"; do debs+=("$out/${p}_${version}_$(dpkg --print-architecture).deb"); done
for deb in "${debs[@]}"; do
  [ -f "$deb" ] || { check "package $deb built" 1; echo "$passed passed, $failed failed"; exit 1; }
done

step "install"
apt_get install "${debs[@]}" >"$work/install.out" 2>&1
check "apt-get install ./*.deb" $? "$(tail -n 20 "$work/install.out")"
for p in "${packages[@]}"; do
  dpkg -L "$p" >>"$work/files"
  dpkg-query -W -f='${Conffiles}\n' "$p" | awk 'NF { print $1 }' >>"$work/files"
done

# command | what it prints
version_cases=(
  "corvane --version|corvane (Pellumin) $version"
  "hxhost --version|hxhost (Pellumin) $version"
  "tarnwick-squid --version|tarnwick-squid (Pellumin) $version"
  "pellumin-config --version|pellumin-config (Pellumin) $version"
  "pellumin-update-lists --version|pellumin-update-lists (Pellumin) $version"
)
for entry in "${version_cases[@]}"; do
  IFS='|' read -r command want <<<"$entry"
  got=$($command 2>&1)
  check "$command" "$([ "$got" = "$want" ]; echo $?)" "'$got', not '$want'"
done
for page in corvane hxhost tarnwick-squid pellumin-config pellumin-update-lists; do
  check "man page $page(1)" "$(man -w "$page" >/dev/null 2>&1; echo $?)"
done
check "libcorvane SONAME" \
  "$(readelf -d /usr/lib/*/libcorvane.so.1 | grep 'SONAME.*\[libcorvane.so.1\]' >/dev/null; echo $?)"
check "system user pellumin" "$(id pellumin >/dev/null 2>&1; echo $?)"
check "a list in force from the start" "$(corvane dump --check /var/lib/pellumin/lists/pellumin.lst >/dev/null; echo $?)"
check "bash completion of corvane" \
  "$(bash -c '. /usr/share/bash-completion/completions/corvane; COMP_WORDS=(corvane im); COMP_CWORD=1; _corvane; [ "${COMPREPLY[*]}" = import ]'; echo $?)"

step "systemd units"
if command -v systemd-analyze >/dev/null; then
  for unit in hxhost.service pellumin-update-lists.service pellumin-update-lists.timer; do
    systemd-analyze verify "/lib/systemd/system/$unit" >"$work/verify.out" 2>&1
    rc=$?
    # Only what is about our own units counts (a container's other units
    # may have faults of their own).
    grep -E "^/lib/systemd/system/(hxhost|pellumin)" "$work/verify.out" >"$work/verify.ours"
    check "systemd-analyze verify $unit" "$([ "$rc" -eq 0 ] || [ ! -s "$work/verify.ours" ]; echo $?)" \
      "$(cat "$work/verify.out")"
  done
else
  echo "skipped: systemd-analyze verify (no systemd-analyze)"
fi

step "a program built against the installed engine"
cp "$root/engine/c_caller_test.c" "$work/"
cc "$work/c_caller_test.c" $(pkg-config --cflags --libs corvane) -o "$work/pkgconfig_caller" \
  >"$work/cc.out" 2>&1
check "cc with pkg-config --cflags --libs corvane" $? "$(cat "$work/cc.out")"
cat >"$work/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.21)
project(corvane_consumer C)
find_package(Corvane 1 REQUIRED)
add_executable(cmake_caller c_caller_test.c)
target_link_libraries(cmake_caller PRIVATE Corvane::corvane)
EOF
(cmake -S "$work" -B "$work/cmake-build" -G Ninja && cmake --build "$work/cmake-build") \
  >"$work/cmake.out" 2>&1
check "cmake with find_package(Corvane)" $? "$(tail -n 20 "$work/cmake.out")"
for caller in "$work/pkgconfig_caller" "$work/cmake-build/cmake_caller"; do
  [ -x "$caller" ] || continue
  check "$(basename "$caller") runs against /usr/lib" \
    "$(ldd "$caller" | grep -E 'libcorvane.so.1 => /(usr/)?lib/' >/dev/null && (cd "$work" && "$caller" "$work/empty.lst") >/dev/null; echo $?)"
done

step "hxhost as the unit's ExecStart says"
# Deny Gambling and alert on Games, as an administrator does in the sheet.
cp -p /etc/pellumin/settings.reg "$work/settings.orig"
sed -i 's/^\(\[HKEY_LOCAL_MACHINE\\SOFTWARE\\Pellumin\\Filter\\Deny\]\)$/\1\n"GamblingState"=dword:00000001/;
        s/^\(\[HKEY_LOCAL_MACHINE\\SOFTWARE\\Pellumin\\Filter\\Alert\]\)$/\1\n"GamesState"=dword:00000001/' \
  /etc/pellumin/settings.reg
mkdir -p "$work/www"
echo "hello from the origin" >"$work/www/index.html"
python3 -u -m http.server --bind 127.0.0.1 0 --directory "$work/www" >"$work/origin.log" 2>&1 &
pids+=($!)
origin_port=$(wait_for_line "$work/origin.log" "$HTTP_SERVER_PORT")
# The unit's own command line, its variables from the unit's
# EnvironmentFile; only where it listens is changed (any free port), and
# the test hosts are sent to the local origin.
unit=/lib/systemd/system/hxhost.service
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
env_file=$(sed -n 's/^EnvironmentFile=-\{0,1\}//p' "$unit")
declare -A unit_env=()
while IFS= read -r line; do
  case "$line" in ''|'#'*) continue ;; esac
  value=${line#*=}
  case "$value" in \'*\'|\"*\") value=${value:1:${#value}-2} ;; esac
  unit_env[${line%%=*}]=$value
done <"$env_file"
unit_env[HXHOST_LISTEN]=127.0.0.1:0
unit_env[HXHOST_OPTIONS]="--resolve *=127.0.0.1"
argv=()
for word in $exec_start; do
  case "$word" in
    \$\{*\}) name=${word:2:${#word}-3}; argv+=("${unit_env[$name]:-}") ;;
    \$*) name=${word:1}; read -r -a split <<<"${unit_env[$name]:-}"; argv+=("${split[@]}") ;;
    *) argv+=("$word") ;;
  esac
done
unit_user=$(sed -n 's/^User=//p' "$unit")
env_args=()
for name in "${!unit_env[@]}"; do env_args+=("$name=${unit_env[$name]}"); done
echo "running as $unit_user: ${argv[*]}"
env -i PATH=/usr/bin:/bin "${env_args[@]}" \
  setpriv --reuid="$unit_user" --regid="$unit_user" --init-groups "${argv[@]}" \
  >"$work/hxhost.out" 2>"$work/hxhost.log" &
hxhost_pid=$!
pids+=("$hxhost_pid")
proxy_port=$(wait_for_line "$work/hxhost.log" "$HXHOST_PORT")
check "installed hxhost starts as user $unit_user" "$([ -n "$proxy_port" ]; echo $?)" "$(cat "$work/hxhost.log")"
gambling_host=$(grep -m1 -E '^[a-z0-9-]+\.[a-z]+$' "$ut1/gambling/domains")
games_host=$(grep -m1 -E '^[a-z0-9-]+\.[a-z]+$' "$ut1/games/domains")
through() {  # URL -> "denied" or the body
  curl -s --max-time 20 -x "127.0.0.1:$proxy_port" "$1" >"$work/page" 2>/dev/null
  if grep -q "Access Restricted" "$work/page"; then echo denied; else head -c 100 "$work/page"; fi
}
check "allowed through the installed hxhost" \
  "$([ "$(through "http://unlisted.test:$origin_port/")" = "hello from the origin" ]; echo $?)"

step "pellumin-update-lists"
mkdir -p "$work/src/blacklists" "$work/served"
cp -r "$ut1"/. "$work/src/blacklists/"
tar -C "$work/src" -czf "$work/served/ut1.tar.gz" blacklists
size=$(stat -c %s "$work/served/ut1.tar.gz")
head -c $((size / 2)) "$work/served/ut1.tar.gz" >"$work/served/cut.tar.gz"
{ head -c 10 "$work/served/ut1.tar.gz"; head -c 20000 /dev/urandom; } >"$work/served/corrupt.tar.gz"
python3 -u -m http.server --bind 127.0.0.1 0 --directory "$work/served" >"$work/lists-http.log" 2>&1 &
pids+=($!)
lists_port=$(wait_for_line "$work/lists-http.log" "$HTTP_SERVER_PORT")
list=/var/lib/pellumin/lists/pellumin.lst
cp -p "$list" "$work/list.before"
# name | source | the step that must fail
broken=(
  "404|http://127.0.0.1:$lists_port/missing.tar.gz|fetch failed"
  "cut halfway|http://127.0.0.1:$lists_port/cut.tar.gz|check failed"
  "corrupt|http://127.0.0.1:$lists_port/corrupt.tar.gz|check failed"
)
for entry in "${broken[@]}"; do
  IFS='|' read -r name src expect <<<"$entry"
  setpriv --reuid=pellumin --regid=pellumin --init-groups \
    pellumin-update-lists --source "$src" --no-reload >"$work/update.out" 2>&1
  rc=$?
  check "update from a $name archive fails in its step" \
    "$([ "$rc" = 1 ] && grep -q "$expect" "$work/update.out"; echo $?)" "exit $rc: $(cat "$work/update.out")"
  check "update from a $name archive: the list in force untouched" "$(cmp -s "$list" "$work/list.before"; echo $?)"
done
# As the update service runs it: the import as pellumin, the reload as root.
setpriv --reuid=pellumin --regid=pellumin --init-groups \
  pellumin-update-lists --source "http://127.0.0.1:$lists_port/ut1.tar.gz" --no-reload >"$work/update.out" 2>&1
check "update from the UT1 archive as pellumin" $? "$(cat "$work/update.out")"
pellumin-update-lists --reload-only >"$work/reload.out" 2>&1
check "reload as root reaches the installed hxhost" "$(grep -q '1 filter(s)' "$work/reload.out"; echo $?)" \
  "$(cat "$work/reload.out")"
# The reload's own lines: what is in force after it.
wait_for_line "$work/hxhost.log" '/reloading the settings/,${ /control list: .*records/p; }' >/dev/null
check "the UT1 gambling host $gambling_host denied after the update" \
  "$([ "$(through "http://$gambling_host:$origin_port/")" = denied ]; echo $?)" "$(tail -n 4 "$work/hxhost.log")"
check "the list before kept as .prev" "$(cmp -s "$list.prev" "$work/list.before"; echo $?)"

step "logrotate -f with hxhost serving"
alerts=/var/log/pellumin/alerts.log
# The plug-in's line for an alerted request names its host key, in capitals.
games_key=$(tr '[:lower:]' '[:upper:]' <<<"$games_host")
alert_lines() { cat "$@" 2>/dev/null | grep -cF "URL: $games_key "; }
through "http://$games_host:$origin_port/" >/dev/null
check "an alerted request logged to $alerts" "$([ "$(alert_lines "$alerts")" = 1 ]; echo $?)" \
  "$(cat "$alerts" 2>&1)"
# Requests go on during the rotation.
( for i in $(seq 1 400); do
    curl -s -o /dev/null --max-time 10 -x "127.0.0.1:$proxy_port" "http://$games_host:$origin_port/?load=$i"
  done ) &
load_pid=$!
pids+=("$load_pid")
sleep 1
logrotate -f -s "$work/logrotate.state" /etc/logrotate.d/pellumin >"$work/logrotate.out" 2>&1
check "logrotate -f /etc/logrotate.d/pellumin" $? "$(cat "$work/logrotate.out")"
wait "$load_pid"
rotated_lines=$(alert_lines "$alerts.1")
new_lines=$(alert_lines "$alerts")
through "http://$games_host:$origin_port/?after-rotation" >/dev/null
check "the rotated log holds the lines before" "$([ "$rotated_lines" -ge 1 ]; echo $?)"
check "hxhost reopened its log" "$(grep -q 'access log reopened' "$work/hxhost.log"; echo $?)"
check "the new log is written" "$([ "$(alert_lines "$alerts")" = $((new_lines + 1)) ]; echo $?)" \
  "$(alert_lines "$alerts") lines, $new_lines before the last request"
check "the old log is closed" \
  "$(! ls -l /proc/"$hxhost_pid"/fd 2>/dev/null | grep "$alerts.1" >/dev/null; echo $?)"
# The first request, the 400 of the load and the last: each once.
check "every request logged once, in one of the two" \
  "$([ "$(alert_lines "$alerts" "$alerts.1")" = 402 ]; echo $?)" \
  "$(alert_lines "$alerts" "$alerts.1") of 402"
# The Squid-format access log: every request once, across the rotation, as
# Squid writes them, and read by goaccess as a Squid log.
access=/var/log/pellumin/access.log
cat "$access.1" "$access" >"$work/access.all" 2>/dev/null
check "access log: every alerted request once" \
  "$([ "$(grep -c " GET http://$games_host:$origin_port/" "$work/access.all")" = 402 ]; echo $?)" \
  "$(grep -c " GET http://$games_host:$origin_port/" "$work/access.all") of 402"
check "access log: the denied request as TCP_DENIED/403" \
  "$(grep -q " TCP_DENIED/403 [0-9]* GET http://$gambling_host:$origin_port/ " "$work/access.all"; echo $?)"
check "access log: ten fields a line" "$(awk 'NF != 10 { exit 1 }' "$work/access.all"; echo $?)" \
  "$(awk 'NF != 10' "$work/access.all" | head -n 3)"
check "access log: the new file written after the rotation" \
  "$(grep -q 'after-rotation' "$access"; echo $?)"
if command -v goaccess >/dev/null; then
  # goaccess's description of Squid's native format.
  goaccess "$work/access.all" --log-format='%x.%^ %~%L %h %^/%s %b %m %U' --date-format=%s \
    --time-format=%s -o "$work/goaccess.json" >"$work/goaccess.out" 2>&1
  counts=$(python3 -c 'import json,sys; g=json.load(open(sys.argv[1]))["general"]; print(g["total_requests"], g["failed_requests"])' \
           "$work/goaccess.json" 2>/dev/null)
  check "goaccess reads the access log without a parse error" \
    "$([ "$counts" = "$(wc -l <"$work/access.all") 0" ]; echo $?)" "goaccess: '$counts'; $(tail -n 5 "$work/goaccess.out")"
else
  echo "skipped: goaccess (not installed)"
fi
kill "$hxhost_pid" 2>/dev/null
wait "$hxhost_pid" 2>/dev/null
cp -p "$work/settings.orig" /etc/pellumin/settings.reg

step "Squid"
if command -v squid >/dev/null || [ -x /usr/sbin/squid ]; then
  squid_bin=$(command -v squid || echo /usr/sbin/squid)
  # The Squid end-to-end test, with the installed helper (a copy: the test
  # finds its helpers by their path) and the installed sample list.
  mkdir -p "$work/installed/bin" "$work/installed/data"
  cp /usr/bin/tarnwick-squid "$work/installed/bin/tarnwick-squid"
  ln -s /usr/share/pellumin/sample.lst "$work/installed/data/sample.lst"
  bash "$root/squid/squid_e2e.sh" "$work/installed" --requests 500 >"$work/squid.out" 2>&1
  check "Squid end to end with the installed tarnwick-squid" $? "$(tail -n 15 "$work/squid.out")"
  # The example fragment as an administrator copies it to conf.d.
  cat >"$work/squid.conf" <<EOF
http_port 127.0.0.1:3999
include /usr/share/doc/pellumin/examples/pellumin-squid.conf
EOF
  "$squid_bin" -k parse -f "$work/squid.conf" >"$work/parse.out" 2>&1
  check "squid -k parse with the example fragment" \
    "$([ $? = 0 ] && ! grep -qiE 'FATAL|ERROR|WARNING' "$work/parse.out"; echo $?)" \
    "$(grep -iE 'FATAL|ERROR|WARNING' "$work/parse.out")"
else
  echo "skipped: the Squid checks (no squid)"
fi

if [ "$keep" = 1 ]; then
  echo "kept installed (--keep-installed)"
else
  step "purge"
  apt_get purge "${packages[@]}" >"$work/purge.out" 2>&1
  check "apt-get purge" $? "$(tail -n 10 "$work/purge.out")"
  left=()
  while IFS= read -r path; do
    [ -n "$path" ] || continue
    if [ -d "$path" ]; then
      case "$path" in
        */pellumin|*/pellumin/*|*/Corvane|*/libcorvane1|*/libcorvane-dev) ;;
        *) continue ;;  # a folder others share (/usr/bin, /etc/default, /lib)
      esac
    fi
    if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
  done < <(sort -u "$work/files")
  check "purge leaves no file of the packages" "$([ ${#left[@]} -eq 0 ]; echo $?)" "${left[*]}"
  check "purge takes the lists and the logs" \
    "$([ ! -e /var/lib/pellumin ] && [ ! -e /var/log/pellumin ] && [ ! -e /etc/pellumin ]; echo $?)"
fi

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
