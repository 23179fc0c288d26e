#!/bin/bash
# gui_test.sh BIN_DIR OUT_DIR -- runs config_ui_gui_tests.exe (the settings
# sheet of Tarnwick.dll, driven as a user would) under Wine, in a Wine
# virtual desktop on an Xvfb display of its own, in a Wine prefix of its
# own (OUT_DIR/gui-wine-prefix, made with DISPLAY already set: a prefix
# whose first process ran without a display cannot show windows for a
# while). The test asks for screenshots by writing NAME.req (the window's
# rectangle) into OUT_DIR/gui-shots; this script answers each with
# NAME.png (xwd of the screen, cut out with ImageMagick) and NAME.done.
# Exit 77 (ctest: skipped) when Xvfb, Wine, xwd or ImageMagick is missing.
# WINE names the Wine command (default wine); PELLUMIN_GUI_WINEDEBUG sets
# WINEDEBUG for the test (default -all), e.g. err+all,+dialog.
set -u
if [ $# -ne 2 ] || [ "$1" = --help ]; then
    echo "usage: gui_test.sh BIN_DIR OUT_DIR" >&2
    [ "${1:-}" = --help ] && exit 0
    exit 2
fi
bin=$(cd "$1" && pwd) || exit 2
mkdir -p "$2" && out=$(cd "$2" && pwd) || exit 2
wine_cmd=${WINE:-wine}

missing=""
for tool in xvfb-run Xvfb xwd convert "$wine_cmd"; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
if [ -n "$missing" ]; then
    echo "gui_test: skipped, not installed:$missing"
    exit 77
fi

if [ -z "${PELLUMIN_GUI_INSIDE_XVFB:-}" ]; then
    exec env PELLUMIN_GUI_INSIDE_XVFB=1 xvfb-run -a -s "-screen 0 800x600x24" \
        bash "$0" "$bin" "$out"
fi

export WINEPREFIX="$out/gui-wine-prefix"
export WINEDEBUG=${PELLUMIN_GUI_WINEDEBUG:--all}
unset WINESERVER
server=$(command -v wineserver)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "gui_test: making the Wine prefix $WINEPREFIX"
    "$wine_cmd" wineboot -i >/dev/null 2>&1
    "$server" -w
fi
# Every window opens inside one virtual desktop, which also acts as the
# window manager (without one, each window hide costs seconds).
"$wine_cmd" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"$wine_cmd" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1
# The dialogs ask for 8-point "MS Sans Serif". This Wine does not load the
# fonts of fonts-wine by itself, so the name fell back to DejaVu Sans
# (average width 6, label "Send allert ... accesed:" 270 px) and labels were
# cut. Wine's bitmap sserife.fon has the original's metrics (average width
# 5, height 13; that label 225 px): it goes into this test prefix's Fonts
# folder only, never into the product. PELLUMIN_WINE_FONTS names the folder
# holding it (default: where Debian's fonts-wine puts it).
wine_fonts=${PELLUMIN_WINE_FONTS:-/usr/share/wine/fonts}
if [ -f "$wine_fonts/sserife.fon" ]; then
    cp "$wine_fonts/sserife.fon" "$WINEPREFIX/drive_c/windows/Fonts/"
else
    echo "gui_test: $wine_fonts/sserife.fon missing (fonts-wine): labels in the screenshots may be cut"
fi

shots="$out/gui-shots"
rm -rf "$shots"
mkdir -p "$shots"
answer_shots() {
    while :; do
        for req in "$shots"/*.req; do
            [ -e "$req" ] || continue
            name=$(basename "$req" .req)
            read -r x y w h <"$req"
            if xwd -root -silent | convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage "png:$shots/$name.png"; then
                echo "gui_test: screenshot $shots/$name.png"
            fi
            rm -f "$req"
            : >"$shots/$name.done"
        done
        sleep 0.1
    done
}
answer_shots &
answerer=$!

cd "$bin" || exit 2
PELLUMIN_SHOT_DIR=$(winepath -w "$shots" 2>/dev/null || echo "Z:${shots//\//\\}") \
    "$wine_cmd" ./config_ui_gui_tests.exe --gtest_brief=1
rc=$?
kill "$answerer" 2>/dev/null
wait "$answerer" 2>/dev/null
"$server" -k 2>/dev/null
exit $rc
