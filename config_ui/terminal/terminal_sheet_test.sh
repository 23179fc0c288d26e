#!/usr/bin/env bash
# The settings sheet in a real terminal: tmux runs "hxhost --config KEY"
# with the real plug-in on an 80x24 screen, keys are sent as a user types
# them, the screen is read back with capture-pane, and the settings file
# (TARNWICK_HKLM) is compared with what the sheet must write:
#   - Cancel after edits on every page leaves the file byte for byte as it was;
#   - OK at once writes the General page's three values and nothing else;
#   - a row ticked and another renamed on the Deny tab (a third rename given
#     up with Esc), then OK, write the "Deny" subkey in full (54 values) and
#     the Deny page's two numbers;
#   - the Mail Settings dialog refuses a port of 0 with the range message
#     and keeps the focus, with the text selected, in the port field;
#   - a port typed in Mail Settings, the dialog's OK and the sheet's OK write
#     the "Mail" subkey, and the next opening shows the port again;
#   - without a terminal, or with a TERM no description exists for, one
#     line on standard error, nothing touched, exit 0.
#
# Usage: terminal_sheet_test.sh BUILD_DIR [--keep]
#   --keep leaves the work folder (screens, settings files) for a look.
# Exits 77 (ctest: skipped) with the reason when tmux or python3 is missing.
set -uo pipefail

usage() { echo "Usage: $0 BUILD_DIR [--keep]"; }
build=""
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep=1 ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *) [ -z "$build" ] || { usage >&2; exit 2; }; build=$1 ;;
  esac
  shift
done
[ -n "$build" ] || { usage >&2; exit 2; }
build=$(cd "$build" && pwd)
hxhost=$build/bin/hxhost
plugin=$build/bin/libtarnwick.so

skip() { echo "skipped: $*"; exit 77; }
command -v tmux >/dev/null || skip "tmux is not installed (scripts/setup-debian.sh --native installs it)"
command -v python3 >/dev/null || skip "python3 is not installed"
[ -x "$hxhost" ] && [ -f "$plugin" ] || { echo "FAIL: $hxhost or $plugin is not built"; exit 1; }
# A terminal description with Ctrl-PageDown/PageUp (kNXT5/kPRV5).
term=""
for t in tmux-256color xterm-256color; do
  infocmp -x "$t" 2>/dev/null | grep -q kNXT5 && { term=$t; break; }
done
[ -n "$term" ] || skip "no terminal description with Ctrl-PageDown (tmux-256color, xterm-256color)"

work=$(mktemp -d "${TMPDIR:-/tmp}/pellumin-terminal.XXXXXX") || exit 1
socket=$work/tmux.sock
sockets=()
cleanup() {
  local s
  for s in "${sockets[@]}"; do tmux -S "$s" kill-server 2>/dev/null; done
  if [ "$keep" = 1 ]; then echo "work folder: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# tmux needs a pseudo-terminal; a container without them cannot run this.
probe=$work/tmux-probe.sock
if ! why=$(tmux -S "$probe" -f /dev/null new-session -d -x 80 -y 24 'sleep 5' 2>&1); then
  skip "tmux cannot start a session here: ${why:-no reason given}"
fi
tmux -S "$probe" kill-server 2>/dev/null

failures=0
passed=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; passed=$((passed + 1)); }

KEY='SOFTWARE\Pellumin\Terminal'
SECTION='HKEY_LOCAL_MACHINE\SOFTWARE\Pellumin\Terminal'

# --- Driving the sheet ----------------------------------------------------------

screen() { tmux -S "$socket" capture-pane -p -t sheet; }

# launch NAME [TERM [REDIRECT]]: hxhost --config on its own 80x24 screen,
# settings file $work/NAME.reg, its standard error in $work/NAME.err.
launch() {
  local name=$1
  # A server of its own for each run: a new server on the socket of one
  # just stopped can fail to start.
  [ ${#sockets[@]} -gt 0 ] && tmux -S "$socket" kill-server 2>/dev/null
  socket=$work/tmux-$name.sock
  sockets+=("$socket")
  rm -f "$work/$name.exit"
  tmux -S "$socket" -f /dev/null new-session -d -s sheet -x 80 -y 24 \
    -e "TARNWICK_HKLM=$work/$name.reg" -e "LANG=C.UTF-8" \
    "TERM='${2:-$term}' '$hxhost' --plugin '$plugin' --config '$KEY' ${3:-} 2>'$work/$name.err'; echo \$? >'$work/$name.exit'; sleep 600"
}
# start_sheet NAME: launch, then wait for the sheet's caption.
start_sheet() {
  launch "$1" && wait_for "Pellumin Contol List Processing"
}

# wait_for TEXT: until the screen shows TEXT (10 s: the check may share the
# machine with a parallel test run).
wait_for() {
  local i
  for i in $(seq 1 100); do
    screen | grep -qF -- "$1" && return 0
    sleep 0.1
  done
  echo "screen without \"$1\":"; screen | sed 's/^/  | /'
  return 1
}
# wait_gone TEXT: until the screen no longer shows TEXT.
wait_gone() {
  local i
  for i in $(seq 1 100); do
    screen | grep -qF -- "$1" || return 0
    sleep 0.1
  done
  return 1
}

# keys KEY...: sent one at a time, as typed, each given time to be drawn.
keys() {
  local k
  for k in "$@"; do
    tmux -S "$socket" send-keys -t sheet "$k"
    sleep 0.15
  done
}
# type TEXT: literal characters.
type_text() { tmux -S "$socket" send-keys -t sheet -l "$1"; sleep 0.2; }

# wait_exit NAME: until hxhost has returned; prints its status.
wait_exit() {
  local i
  for i in $(seq 1 100); do
    [ -s "$work/$1.exit" ] && { cat "$work/$1.exit"; return 0; }
    sleep 0.1
  done
  echo "timeout"
}

# click ROW COL: a press and a release of the left button there (0-based),
# as the terminal reports them (X10 mouse encoding).
click() {
  local cb
  for cb in 32 35; do
    tmux -S "$socket" send-keys -t sheet -H 1b 5b 4d $(printf "%02x %02x %02x" "$cb" $(($2 + 33)) $(($1 + 33)))
  done
  sleep 0.2
}

# cancel_unchanged NAME WHAT: Esc (Cancel); hxhost must end with 0 and the
# settings file be byte for byte $work/NAME.before.
cancel_unchanged() {
  keys Escape
  local status
  status=$(wait_exit "$1")
  [ "$status" = 0 ] || fail "$1: hxhost --config ended with $status"
  cmp -s "$work/$1.before" "$work/$1.reg" || fail "$1: $2 wrote settings"
}

cursor() { tmux -S "$socket" display -p -t sheet '#{cursor_y} #{cursor_x}'; }

# The settings file as "[key]" and "key|name=data" lines, sorted, for
# comparing what changed.
regdump() {
  python3 - "$1" <<'EOF'
import sys
lines = open(sys.argv[1], encoding="ascii").read().replace("\r\n", "\n").split("\n")
key, out, i = None, [], 0
while i < len(lines):
    line = lines[i]
    while line.endswith("\\") and i + 1 < len(lines):
        i += 1
        line = line[:-1] + lines[i].strip()
    i += 1
    if line.startswith("[") and line.endswith("]"):
        key = line[1:-1].lower()
        out.append("[%s]" % key)
    elif line.startswith('"') and key is not None:
        out.append("%s|%s" % (key, line))
print("\n".join(sorted(out)))
EOF
}

seed_file() {
  # A main key with paths and numbers, a partial Deny subkey with a renamed
  # row, and an Alert subkey, with their parents as an export lists them.
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Pellumin]\r\n\r\n[%s]\r\n"ControlFile"="/var/lib/pellumin/control.lst"\r\n"SiteFile"="/var/lib/pellumin/site.txt"\r\n"DD"=dword:00000007\r\n"Log"=dword:00000001\r\n"Mail"=dword:00000001\r\n\r\n[%s\\Deny]\r\n"Gambling"="Betting"\r\n"GamblingState"=dword:00000001\r\n\r\n[%s\\Alert]\r\n"Games"="Games"\r\n"GamesState"=dword:00000001\r\n\r\n' \
    "$SECTION" "$SECTION" "$SECTION" >"$1"
}

# --- 1. Cancel after edits leaves the file byte for byte unchanged ----------------
seed_file "$work/cancel.reg"
cp "$work/cancel.reg" "$work/cancel.before"
if start_sheet cancel; then
  type_text "/tmp/edited"           # the error message edit has the focus, its text selected
  keys Tab Tab                       # the site file edit
  type_text "/elsewhere"
  keys M-2 Down Down Space           # Deny: tick the third row
  keys Tab Space                     # untick "Allow users to connect ..."
  keys C-NPage Tab Tab Space         # Alert: untick "Log the alert."
  keys C-NPage Space                 # Hours: tick the first row
  keys C-PPage C-PPage C-PPage       # back to General: the edits keep what was typed
  wait_for "[/elsewhere" || fail "cancel: the General page lost its edits on the way round"
  keys Escape
  status=$(wait_exit cancel)
  [ "$status" = 0 ] || fail "cancel: hxhost --config ended with $status"
  if cmp -s "$work/cancel.before" "$work/cancel.reg"; then
    ok "Cancel after edits on all four pages leaves the settings file byte for byte as it was"
  else
    fail "cancel: the settings file changed:"; diff "$work/cancel.before" "$work/cancel.reg" | sed 's/^/  /'
  fi
else
  fail "cancel: the sheet did not come up"
fi

# --- 2. OK at once writes the General page's three values only ----------------------
seed_file "$work/okfirst.reg"
regdump "$work/okfirst.reg" >"$work/okfirst.before"
if start_sheet okfirst; then
  screen >"$work/screen-general.txt"
  keys BTab BTab Space               # Shift-Tab from the first edit: Cancel, then OK; Space presses it
  status=$(wait_exit okfirst)
  [ "$status" = 0 ] || fail "ok at once: hxhost --config ended with $status"
  regdump "$work/okfirst.reg" >"$work/okfirst.after"
  # What may differ: the three General values, now all present.
  changed=$(diff "$work/okfirst.before" "$work/okfirst.after" | grep '^[<>]' | sed 's/^[<>] //' |
            grep -v -i -E "^hkey_local_machine\\\\software\\\\pellumin\\\\terminal\\|\"(ControlFile|SiteFile|ErrorMsg)\"=" || true)
  general=$(grep -c -i -E "^hkey_local_machine\\\\software\\\\pellumin\\\\terminal\\|\"(ControlFile|SiteFile|ErrorMsg)\"=" "$work/okfirst.after")
  if [ -z "$changed" ] && [ "$general" = 3 ] &&
     grep -qF '"ControlFile"="/var/lib/pellumin/control.lst"' "$work/okfirst.after" &&
     grep -qF '"ErrorMsg"=hex(1):3c,42,4f,44,59' "$work/okfirst.after"; then
    ok "OK at once writes ControlFile, SiteFile and ErrorMsg and nothing else"
  else
    fail "ok at once: unexpected changes:"; diff "$work/okfirst.before" "$work/okfirst.after" | sed 's/^/  /'
  fi
else
  fail "ok at once: the sheet did not come up"
fi

# --- 3. Deny: tick one row, rename another, OK --------------------------------------
rm -f "$work/deny.reg"
if start_sheet deny; then
  keys M-2                           # the list has the focus; nothing selected yet
  wait_for "[Deny]" || fail "deny: the Deny tab is not marked current"
  keys Down Down Space               # third row, "Chat": ticked
  wait_for "[x] Chat" || fail "deny: Space did not tick the selected row"
  screen >"$work/screen-deny.txt"
  keys Down F2                       # fourth row, "Criminal Skills": renamed in place
  type_text "Crime and Fraud"
  keys Enter
  wait_for "[x] Crime and Frau Criminal Skills" || fail "deny: the renamed row does not show its new name"
  keys Down F2                       # fifth row, "Cults": a rename given up with Esc
  type_text "Sects"
  keys Escape
  wait_for "[x] Cults          Cults" || fail "deny: Esc did not give up the rename"
  wait_for "[Deny]" || fail "deny: the Esc of the rename closed the sheet"
  keys Enter                         # OK
  status=$(wait_exit deny)
  [ "$status" = 0 ] || fail "deny: hxhost --config ended with $status"
  regdump "$work/deny.reg" >"$work/deny.after"
  python3 - "$work/deny.after" "$build" <<'EOF' && ok "Ticking and renaming on the Deny tab, then OK, writes the Deny subkey in full" || fail "deny: the Deny subkey is not as expected"
import re, sys
dump = open(sys.argv[1]).read().split("\n")
main = "hkey_local_machine\\software\\pellumin\\terminal"
deny = {}
other = []
for line in dump:
    if line.startswith(main + "\\deny|"):
        name, data = line[len(main) + 6:].split("=", 1)
        deny[name.strip('"')] = data
    elif "|" in line and not line.startswith(main + "|"):
        other.append(line)
# The category table: name and default state, in table order.
table = [("Alternative Journals", 0), ("Art & Culture", 0), ("Chat", 0), ("Criminal Skills", 1),
         ("Cults", 1), ("Dating", 0), ("Drugs", 1), ("Entertainment", 0), ("Extreme", 1),
         ("Gambling", 0), ("Games", 0), ("General News", 0), ("Hate Speech", 1), ("Humor", 0),
         ("Investing", 0), ("Job Search", 0), ("Lifestyle", 0), ("Non Essential", 0),
         ("On-Line Sales/Merchandising", 0), ("Opinion, Politics, & Religion", 0),
         ("Personal Pages", 0), ("Self Help", 0), ("Sex", 1), ("Sports", 0), ("Travel", 0),
         ("Usenet News", 0), ("Worthless", 1)]
expected = {}
for name, state in table:
    shown = "Crime and Fraud" if name == "Criminal Skills" else name
    if name == "Chat":
        state = 1
    expected[name] = '"%s"' % shown
    expected[name + "State"] = "dword:%08x" % state
ok = True
if deny != expected:
    ok = False
    for k in sorted(set(deny) | set(expected)):
        if deny.get(k) != expected.get(k):
            print("  %s: written %s, expected %s" % (k, deny.get(k), expected.get(k)))
if len(deny) != 54:
    ok = False
    print("  %d values in Deny, expected 54" % len(deny))
mains = sorted(l.split("|", 1)[1].split("=")[0] for l in dump if l.startswith(main + "|"))
if mains != sorted(['"ControlFile"', '"SiteFile"', '"ErrorMsg"', '"DD"', '"Personal"']):
    ok = False
    print("  main key values: %s" % mains)
if other:
    ok = False
    print("  other keys written: %s" % other)
sys.exit(0 if ok else 1)
EOF
else
  fail "deny: the sheet did not come up"
fi

# --- 4. Mail Settings refuses a port of 0 and keeps the focus in the port field ---------
seed_file "$work/mail.reg"
cp "$work/mail.reg" "$work/mail.before"
if start_sheet mail; then
  keys M-3
  screen >"$work/screen-alert.txt"
  keys Tab Tab Tab                    # past "E-mail alert." and "Log the alert." to Mail Settings
  keys Enter
  wait_for "Mail Settings " || fail "mail: the dialog did not open"
  wait_for "[administrator" || fail "mail: the recipient does not show its default"
  screen >"$work/screen-mail.txt"
  keys Tab Tab Tab                    # OK, Cancel, SMTP server, port
  type_text "0"
  keys Enter
  if wait_for "Please enter an integer between 1 and 32000." && screen | grep -qF -- "─ libtarnwick ─"; then
    ok "a port of 0 is refused with \"Please enter an integer between 1 and 32000.\" in a box captioned libtarnwick"
  else
    fail "mail: no range message for a port of 0"
  fi
  screen >"$work/screen-mail-refused.txt"
  keys Enter                          # the message box's OK
  wait_gone "Please enter" || fail "mail: the message box did not close"
  read -r row col < <(cursor)
  line=$(screen | sed -n "$((row + 1))p")
  field=${line:$((col - 1)):4}
  type_text "8"                       # the port's whole text is selected: typing replaces it
  wait_for "[8 " >/dev/null
  line_after=$(screen | sed -n "$((row + 1))p")
  field_after=${line_after:$((col - 1)):4}
  if [ "${field:0:2}" = "[0" ] && [ "${field_after:0:3}" = "[8 " ] &&
     ! screen | grep -qF "Please enter"; then
    ok "after the message the focus is in the port field with its text selected"
  else
    fail "mail: the focus is not back in the port field (cursor row $row col $col: \"$field\", after typing \"$field_after\")"
  fi
  keys Escape                         # closes the dialog without checking
  wait_for "[Alert]" || fail "mail: Esc did not close the dialog"
  if screen | grep -qF "Mail Settings " && ! screen | grep -qF "[Mail Settings"; then
    fail "mail: the dialog is still open"
  fi
  cancel_unchanged mail "the dialog or Cancel"
else
  fail "mail: the sheet did not come up"
fi

# --- 5. Mail Settings are stored on the sheet's OK and shown again ----------------------
seed_file "$work/mailok.reg"
open_mail_settings() {
  keys M-3 Tab Tab Tab Enter          # the Alert tab's Mail Settings button
  wait_for "[administrator"
}
if start_sheet mailok && open_mail_settings; then
  keys Tab Tab Tab                    # OK, Cancel, SMTP server, port
  type_text "2526"
  keys Enter                          # the dialog's OK
  wait_gone "[administrator" || fail "mailok: the dialog did not take OK"
  keys M-1 Enter                      # the sheet's OK, from the General tab
  status=$(wait_exit mailok)
  [ "$status" = 0 ] || fail "mailok: hxhost --config ended with $status"
  mail=$(regdump "$work/mailok.reg" | grep -i '\\mail|' | tr '\n' ' ')
  case "$mail" in
    *'"Port"=dword:000009de'*'"Rhythm"=dword:00000000'*'"Server"="localhost"'*'"To"="administrator"'*)
      ok "the dialog's OK and the sheet's OK write the Mail subkey ($mail)" ;;
    *) fail "mailok: the Mail subkey is not as expected: $mail" ;;
  esac
  cp "$work/mailok.reg" "$work/mailagain.reg"
  if start_sheet mailagain && open_mail_settings && wait_for "[2526"; then
    ok "the next opening of Mail Settings shows the stored port"
  else
    fail "mailok: the stored port is not shown again"
  fi
  keys Escape Escape
  wait_exit mailagain >/dev/null
else
  fail "mailok: the sheet or the dialog did not come up"
fi

# --- A settings file that does not parse: nothing lost, and the reason told -------------
printf 'REGEDIT4\r\n\r\n[%s]\r\n"Log"=dword:1\r\n"Broken\r\n' "$SECTION" >"$work/broken.reg"
cp "$work/broken.reg" "$work/broken.before"
if start_sheet broken; then
  wait_for "[C:\Windows\System32\qxcontrol" || fail "broken: the General page does not show the defaults"
  keys Enter                          # OK: the main key can be neither opened nor created
  if wait_for "Error saving settings to registry."; then
    keys Enter
    status=$(wait_exit broken)
    if [ "$status" = 0 ] && cmp -s "$work/broken.before" "$work/broken.reg" &&
       grep -q "could not be read or saved: .*broken.reg.*line 5" "$work/broken.err"; then
      ok "a settings file that does not parse: \"Error saving settings to registry.\", the file untouched, the line named"
    else
      fail "broken: status $status, stderr: $(cat "$work/broken.err")"
    fi
  else
    fail "broken: no \"Error saving settings to registry.\""
  fi
else
  fail "broken: the sheet did not come up"
fi

# --- Every page and dialog, for a look (kept with --keep) -------------------------------
seed_file "$work/tour.reg"
cp "$work/tour.reg" "$work/tour.before"
if start_sheet tour; then
  screen >"$work/tour-1-general.txt"
  # Apply is shown, and greyed (dim), as a property sheet shows it.
  if tmux -S "$socket" capture-pane -e -p -t sheet | grep -q $'\e\[2m\[  Apply   \]'; then
    ok "OK, Cancel and a greyed Apply"
  else
    fail "tour: Apply is not shown greyed"
  fi
  keys C-NPage; wait_for "[Deny]" && screen >"$work/tour-2-deny.txt"
  keys C-NPage; wait_for "[Alert]" && screen >"$work/tour-3-alert.txt"
  keys Tab Tab Tab Enter; wait_for "[administrator" && screen >"$work/tour-3-mail-settings.txt"
  keys Escape
  keys C-NPage; wait_for "[Busines Hours]" && screen >"$work/tour-4-hours.txt"
  keys Tab Enter                      # Define Hours: the message first
  wait_for "Sorry, functionality is not available yet." && screen >"$work/tour-5-hours-message.txt"
  keys Enter                          # then the Times dialog
  if wait_for "Wednsday"; then
    screen >"$work/tour-6-times.txt"
    ok "Define Hours shows the message, then the Times dialog with the seven days"
  else
    fail "tour: no Times dialog after the message"
  fi
  keys Escape
  keys M-4                            # Alt-4 on the current tab changes nothing
  keys M-1
  wait_for "[General]" || fail "tour: Alt-1 did not go back to the General tab"
  # The mouse: a click on the Deny tab, then on the Chat row ticks it.
  tab_col=$(screen | sed -n 2p | awk '{ print index($0, " Deny ") }')
  click 1 "$tab_col"
  if wait_for "[Deny]"; then
    chat_row=$(screen | grep -n "\[ \] Chat " | cut -d: -f1)
    click $((chat_row - 1)) 10
    wait_for "[x] Chat " && ok "a mouse click on a tab shows it, and on a row ticks the row" ||
      fail "tour: a click on the Chat row did not tick it"
  else
    fail "tour: a click on the Deny tab did not show it"
  fi
  # A larger terminal: the sheet is drawn again, centred (from row 3, column 10).
  tmux -S "$socket" resize-window -t sheet -x 100 -y 30 2>/dev/null ||
    tmux -S "$socket" resize-pane -t sheet -x 100 -y 30
  sleep 0.5
  if screen | sed -n 6p | grep -q '^          ┌─' && screen | grep -qF "Pellumin Contol List Processing"; then
    ok "after a resize to 100x30 the sheet is drawn again, centred"
  else
    fail "tour: the sheet was not redrawn centred after a resize:"; screen | sed 's/^/  | /'
  fi
  cancel_unchanged tour "the dialogs, the clicks or Cancel"
else
  fail "tour: the sheet did not come up"
fi

# --- 5. Without a terminal ------------------------------------------------------------------
seed_file "$work/none.reg"
cp "$work/none.reg" "$work/none.before"
TARNWICK_HKLM=$work/none.reg "$hxhost" --plugin "$plugin" --config "$KEY" </dev/null >"$work/none.out" 2>"$work/none.err"
status=$?
if [ "$status" = 0 ] && [ "$(wc -l <"$work/none.err")" = 1 ] && grep -q "not a terminal" "$work/none.err" &&
   [ ! -s "$work/none.out" ] && cmp -s "$work/none.before" "$work/none.reg"; then
  ok "without a terminal: one line on standard error, nothing written, exit 0"
else
  fail "no terminal: status $status, stderr: $(cat "$work/none.err"), stdout: $(cat "$work/none.out")"
fi
# Standard input a terminal, standard output a file.
seed_file "$work/piped.reg"
cp "$work/piped.reg" "$work/piped.before"
launch piped "$term" ">'$work/piped.out'"
status=$(wait_exit piped)
if [ "$status" = 0 ] && [ "$(wc -l <"$work/piped.err")" = 1 ] && grep -q "not a terminal" "$work/piped.err" &&
   [ ! -s "$work/piped.out" ] && cmp -s "$work/piped.before" "$work/piped.reg"; then
  ok "with standard output not a terminal: one line on standard error, nothing written, exit 0"
else
  fail "piped: status $status, stderr: $(cat "$work/piped.err" 2>/dev/null)"
fi
# A terminal whose TERM has no description.
launch unknown pellumin-no-such-terminal
status=$(wait_exit unknown)
if [ "$status" = 0 ] && [ ! -e "$work/unknown.reg" ] && [ "$(wc -l <"$work/unknown.err")" = 1 ] &&
   grep -q "no terminal description" "$work/unknown.err"; then
  ok "with an unknown TERM: one line on standard error, nothing written, exit 0"
else
  fail "unknown TERM: status $status, stderr: $(cat "$work/unknown.err" 2>/dev/null)"
fi

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
