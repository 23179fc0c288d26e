# Source this file (". cmake/wine-env.sh") to run the cross-compiled Windows
# test programs under Wine. It installs nothing. It finds a Wine that really
# starts here, creates its prefix once, starts a persistent wineserver and
# exports:
#
#   WINE                the command that runs a Windows program ("$WINE" x.exe)
#   WINEPREFIX          ${XDG_CACHE_HOME:-$HOME/.cache}/pellumin-wine-<arch>
#   WINEDEBUG           -all
#   PELLUMIN_WINE_ARCH  i686 or x86_64: which kind of .exe "$WINE" can run
#   PELLUMIN_WINESERVER the wineserver binary ("$PELLUMIN_WINESERVER" -k ends it)
#
# and defines the shell function pellumin_wine_stop (ends the wineserver and
# the Xvfb started here). When nothing works it exports none of these, prints
# why, and returns 1. Either way it also exports
#
#   PELLUMIN_WINE_WHY   why the choices before the one taken (or all of them)
#                       were not taken, one "arch: reason" a line
#
# so that a test run can say why it skipped the 32-bit tests.
#
# Choices, in order:
#   i686    32-bit Wine (package wine32:i386), only where the kernel runs
#           32-bit (i386) programs itself.
#   x86_64  64-bit Wine (package wine64). Runs x86_64 .exe files only, so the
#           tests then come from a second cross build with
#           x86_64-w64-mingw32-g++-posix (package g++-mingw-w64-x86-64-posix).
#
# Kernels built with IA32 emulation but with it switched off (found on some VM
# sandboxes) refuse every 32-bit ELF program with "Exec format error", and the
# 32-bit code segment faults too, so neither Wine's 32-bit loader nor its
# "experimental wow64 mode" can start a 32-bit .exe. qemu-i386 (qemu-user-static
# registered through binfmt_misc) does start them, but in tests each Windows
# process took about a minute of CPU to start, Wine's helper processes crashed
# under it and wineboot timed out, so it is not used here: a binfmt entry that
# sends i386 programs to qemu counts as "no 32-bit support".
#
# Settings read:
#   PELLUMIN_WINE_WANT=auto|i686|x86_64  restrict the choice (default auto)
#   PELLUMIN_WINE_XVFB=1                 start Xvfb and export DISPLAY when
#                                        DISPLAY is empty (default: headless)

pellumin_wine_stop() {
    if [ -n "${PELLUMIN_WINESERVER:-}" ] && [ -n "${WINEPREFIX:-}" ]; then
        "$PELLUMIN_WINESERVER" -k >/dev/null 2>&1 || :
    fi
    if [ -n "${PELLUMIN_XVFB_PID:-}" ]; then
        kill "$PELLUMIN_XVFB_PID" 2>/dev/null || :
        unset PELLUMIN_XVFB_PID
    fi
}

# Whether the kernel runs 32-bit programs itself: scripts/kernel-runs-i386.sh
# (which also counts a binfmt_misc entry that hands i386 programs to an
# emulator as "no": then a working 32-bit loader proves nothing). Prints its
# reason when not; when the script cannot be found, says yes and leaves it to
# the loader's own check.
_pw_self=${BASH_SOURCE:-}
[ -n "$_pw_self" ] || _pw_self=cmake/wine-env.sh
_pw_scripts=$(cd "$(dirname "$_pw_self")/../scripts" 2>/dev/null && pwd) || _pw_scripts=""
_pw_kernel_runs_i386() {
    [ -n "$_pw_scripts" ] && [ -f "$_pw_scripts/kernel-runs-i386.sh" ] || return 0
    bash "$_pw_scripts/kernel-runs-i386.sh"
}

_pw_first_exe() {
    for _pw_c in "$@"; do
        case "$_pw_c" in
            /*) [ -x "$_pw_c" ] && { echo "$_pw_c"; return 0; } ;;
            *) _pw_p=$(command -v "$_pw_c" 2>/dev/null) && [ -n "$_pw_p" ] && { echo "$_pw_p"; return 0; } ;;
        esac
    done
    return 1
}

_pw_setup() {
    _pw_want=${PELLUMIN_WINE_WANT:-auto}
    case "$_pw_want" in
        auto|i686|x86_64) ;;
        *) echo "wine-env: PELLUMIN_WINE_WANT must be auto, i686 or x86_64 (not \"$_pw_want\")" >&2
           return 1 ;;
    esac
    _pw_why=""
    _pw_loader=""
    _pw_arch=""
    _pw_server=""

    # --- i686: Wine's 32-bit loader, run by the kernel itself ---------------
    if [ "$_pw_want" = auto ] || [ "$_pw_want" = i686 ]; then
        _pw_l32=$(_pw_first_exe /usr/lib/wine/wine) || _pw_l32=""
        if [ -z "$_pw_l32" ]; then
            _pw_why="$_pw_why
  i686: no 32-bit Wine loader (packages: wine wine32:i386, after dpkg --add-architecture i386)"
        elif ! _pw_out=$(_pw_kernel_runs_i386 2>&1); then
            _pw_why="$_pw_why
  i686: $_pw_out"
        elif ! _pw_out=$("$_pw_l32" --version 2>&1); then
            _pw_why="$_pw_why
  i686: the kernel cannot run 32-bit programs: $_pw_l32 --version says \"${_pw_out##*: }\""
        else
            _pw_loader=$_pw_l32
            _pw_arch=i686
            _pw_server=$(_pw_first_exe /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver32 wineserver) || _pw_server=""
        fi
    fi

    # --- x86_64: Wine's 64-bit loader ---------------------------------------
    if [ -z "$_pw_arch" ] && { [ "$_pw_want" = auto ] || [ "$_pw_want" = x86_64 ]; }; then
        # /usr/bin/wine prefers the 32-bit loader when wine32 is installed,
        # so name the 64-bit loader directly.
        _pw_l64=$(_pw_first_exe /usr/lib/wine/wine64 wine64) || _pw_l64=""
        if [ -z "$_pw_l64" ]; then
            _pw_why="$_pw_why
  x86_64: no 64-bit Wine loader (package: wine64)"
        elif ! _pw_out=$("$_pw_l64" --version 2>&1); then
            _pw_why="$_pw_why
  x86_64: $_pw_l64 does not start (${_pw_out:-failed})"
        else
            _pw_loader=$_pw_l64
            _pw_arch=x86_64
            _pw_server=$(_pw_first_exe /usr/lib/wine/wineserver64 wineserver64 wineserver) || _pw_server=""
            if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
                echo "wine-env: note: the x86_64 test build needs x86_64-w64-mingw32-g++-posix (package: g++-mingw-w64-x86-64-posix)" >&2
            fi
            if _pw_out=$(_pw_kernel_runs_i386 2>&1); [ -n "$_pw_out" ] && [ -z "${_pw_out##*emulator*}" ]; then
                echo "wine-env: note: binfmt_misc sends i386 programs to qemu; creating a new prefix then runs 32-bit helpers under qemu and takes minutes" >&2
            fi
        fi
    fi

    PELLUMIN_WINE_WHY=$(printf '%s\n' "$_pw_why" | sed '/^$/d; s/^  //')
    export PELLUMIN_WINE_WHY
    if [ -z "$_pw_arch" ]; then
        echo "wine-env: no Wine that can run Windows programs here:$_pw_why" >&2
        return 1
    fi
    if [ -z "$_pw_server" ]; then
        echo "wine-env: found $_pw_loader but no wineserver binary beside it" >&2
        return 1
    fi

    _pw_prefix="${XDG_CACHE_HOME:-$HOME/.cache}/pellumin-wine-$_pw_arch"
    case "$_pw_arch" in i686) _pw_winearch=win32 ;; *) _pw_winearch=win64 ;; esac

    # --- optional Xvfb -------------------------------------------------------
    if [ "${PELLUMIN_WINE_XVFB:-0}" = 1 ] && [ -z "${DISPLAY:-}" ]; then
        if command -v Xvfb >/dev/null 2>&1; then
            _pw_n=90
            while [ -e "/tmp/.X$_pw_n-lock" ] || [ -e "/tmp/.X11-unix/X$_pw_n" ]; do
                _pw_n=$((_pw_n + 1))
            done
            Xvfb ":$_pw_n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
            PELLUMIN_XVFB_PID=$!
            _pw_i=0
            while [ ! -e "/tmp/.X11-unix/X$_pw_n" ] && [ $_pw_i -lt 50 ]; do
                sleep 0.1; _pw_i=$((_pw_i + 1))
            done
            if [ -e "/tmp/.X11-unix/X$_pw_n" ]; then
                export DISPLAY=":$_pw_n" PELLUMIN_XVFB_PID
            else
                echo "wine-env: Xvfb did not start; staying headless" >&2
                kill "$PELLUMIN_XVFB_PID" 2>/dev/null || :
                unset PELLUMIN_XVFB_PID
            fi
        else
            echo "wine-env: PELLUMIN_WINE_XVFB=1 but Xvfb is missing (package: xvfb); staying headless" >&2
        fi
    fi

    # --- prefix, created once (serialised with flock when available) --------
    mkdir -p "$(dirname "$_pw_prefix")" || return 1
    if [ ! -f "$_pw_prefix/system.reg" ]; then
        echo "wine-env: creating Wine prefix $_pw_prefix (about 15 s)" >&2
        _pw_boot="WINEPREFIX=\"\$1\" WINEARCH=$_pw_winearch WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' \"\$2\" wineboot -i && WINEPREFIX=\"\$1\" \"\$3\" -w"
        if command -v flock >/dev/null 2>&1; then
            flock "$_pw_prefix.lock" sh -c "[ -f \"\$1/system.reg\" ] || { $_pw_boot; }" sh \
                "$_pw_prefix" "$_pw_loader" "$_pw_server" </dev/null >/dev/null 2>&1
        else
            sh -c "$_pw_boot" sh "$_pw_prefix" "$_pw_loader" "$_pw_server" </dev/null >/dev/null 2>&1
        fi
        if [ ! -f "$_pw_prefix/system.reg" ]; then
            echo "wine-env: wineboot could not create $_pw_prefix" >&2
            return 1
        fi
    fi

    # --- persistent wineserver and a check that a program really runs -------
    # The first program also starts Wine's services (services.exe, ...), which
    # then live as long as the wineserver and keep the output they inherited:
    # start them here with output to a file, never to a pipe (a pipe would
    # make "$(...)" or ctest wait for them).
    WINEPREFIX=$_pw_prefix "$_pw_server" -p </dev/null >/dev/null 2>&1 || :   # 2 = already running
    _pw_log=$(mktemp "${TMPDIR:-/tmp}/pellumin-wine-env.XXXXXX") || return 1
    if ! WINEPREFIX=$_pw_prefix WINEDEBUG=-all "$_pw_loader" cmd /c exit 0 </dev/null >"$_pw_log" 2>&1; then
        echo "wine-env: $_pw_loader cmd /c exit failed in $_pw_prefix: $(cat "$_pw_log")" >&2
        rm -f "$_pw_log"
        WINEPREFIX=$_pw_prefix "$_pw_server" -k >/dev/null 2>&1 || :
        return 1
    fi
    rm -f "$_pw_log"

    export WINE="$_pw_loader"
    export WINEPREFIX="$_pw_prefix"
    export WINEDEBUG=-all
    export PELLUMIN_WINE_ARCH="$_pw_arch"
    export PELLUMIN_WINESERVER="$_pw_server"
    echo "wine-env: WINE=$WINE PELLUMIN_WINE_ARCH=$PELLUMIN_WINE_ARCH WINEPREFIX=$WINEPREFIX" >&2
    return 0
}

if _pw_setup; then
    _pw_rc=0
else
    _pw_rc=1
    if [ -n "${PELLUMIN_XVFB_PID:-}" ]; then
        kill "$PELLUMIN_XVFB_PID" 2>/dev/null || :
        unset PELLUMIN_XVFB_PID
    fi
fi
unset _pw_self _pw_scripts _pw_want _pw_why _pw_loader _pw_arch _pw_server _pw_l32 _pw_l64 _pw_out \
      _pw_prefix _pw_winearch _pw_n _pw_i _pw_boot _pw_f _pw_c _pw_p _pw_log
unset -f _pw_setup _pw_first_exe _pw_kernel_runs_i386
# "return" ends a sourced script; the fallback keeps an accidental run quiet.
# shellcheck disable=SC2317
return "$_pw_rc" 2>/dev/null || exit "$_pw_rc"
