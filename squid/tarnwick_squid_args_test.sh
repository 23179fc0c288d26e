#!/bin/sh
# tarnwick-squid's command line: each line of the table gives an exit status
# and the first line it prints (help on standard output, a refusal on
# standard error). The lines that pass the reading start without settings,
# say so, answer by the failure mode and end with their (empty) input.
#
# usage: tarnwick_squid_args_test.sh PATH-TO-tarnwick-squid
set -u

HELPER=${1:?usage: $0 PATH-TO-tarnwick-squid}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pellumin-squid-args.XXXXXX") || exit 1
trap 'rm -rf "$WORK"' EXIT
TARNWICK_HKLM="$WORK/none.reg"
export TARNWICK_HKLM
FAILURES=0

fail() { printf "FAIL: %s\n" "$*"; FAILURES=$((FAILURES + 1)); }

# check STATUS FIRST-LINE ARGS...
check() {
  want_status=$1 want_line=$2
  shift 2
  "$HELPER" "$@" </dev/null >"$WORK/out" 2>"$WORK/err"
  status=$?
  first=$(cat "$WORK/out" "$WORK/err" | head -n 1)
  if [ "$status" = "$want_status" ] && [ "$first" = "$want_line" ]; then
    printf "ok: [%s]\n" "$*"
  else
    fail "[$*]: exit $status [$first], wanted $want_status [$want_line]"
  fi
}

U='Usage: tarnwick-squid --redirect URL [--key KEY] [--log FILE] [--threads N]'
P='tarnwick-squid:'
check 0 "$U" --help
check 0 "$U" -h
check 0 "$U" --help=x
check 0 "$U" --redirect http://b/ --help
check 2 "$P unknown argument '--bogus'" --bogus --help
check 2 "$P unknown argument '-h=1'" -h=1
check 2 "$P unknown argument 'stray'" --redirect http://b/ stray
check 2 "$P unknown argument '--'" --redirect http://b/ --
check 2 "$P --redirect URL is required (the block page)"
check 2 "$P --redirect URL is required (the block page)" --threads 3
check 2 "$P --redirect needs a value" --redirect
check 2 "$P --key needs a value" --redirect http://b/ --key
check 2 "$P --redirect needs a URL" --redirect ''
check 2 "$P --redirect needs a URL" --redirect=
check 2 "$P --threads must be 1 to 64, not '0'" --redirect http://b/ --threads 0
check 2 "$P --threads must be 1 to 64, not '65'" --redirect http://b/ --threads=65
check 2 "$P --threads must be 1 to 64, not 'x'" --redirect http://b/ --threads x
check 2 "$P --max-line must be 256 to 1048576, not '255'" --redirect http://b/ --max-line 255
check 2 "$P --channel-id must be auto, on or off, not 'maybe'" --redirect http://b/ --channel-id maybe
check 2 "$P --protocol must be rewrite or acl, not 'icap'" --redirect http://b/ --protocol icap
check 2 "$P --on-failure must be deny or allow, not 'exit'" --redirect http://b/ --on-failure exit
check 2 "$P --redirect URL is required (the block page)" --protocol rewrite
check 2 "$P --on-failure needs a value" --protocol acl --on-failure
# Accepted: the helper goes on to load the filter, which fails here; it
# stays up, answers by the failure mode and ends with its input.
# accepted WANT-ANSWER ARGS...
accepted() {
  want=$1
  shift
  printf '5 http://a.example/\n' | "$HELPER" "$@" >"$WORK/out" 2>"$WORK/err"
  status=$?
  if [ "$status" = 0 ] && grep -q "^$P cannot start: " "$WORK/err" &&
    [ "$(cat "$WORK/out")" = "$want" ]; then
    echo "ok: accepted [$*]"
  else
    fail "accepted [$*]: exit $status [$(cat "$WORK/out")] $(cat "$WORK/err")"
  fi
}
accepted '5 OK status=302 url="http://b/?c=unavailable"' --redirect=http://b/?c=%c \
  --channel-id=on --threads 2 --max-line 256 --key K --log "$WORK/l.log"
accepted '5 ERR' --redirect http://b/ --on-failure allow
accepted '5 OK message="the filter is unavailable" log="unavailable"' --protocol acl
accepted '5 ERR' --protocol=acl --on-failure=allow

[ "$FAILURES" = 0 ] || { echo "$FAILURES failed"; exit 1; }
echo "all passed"
