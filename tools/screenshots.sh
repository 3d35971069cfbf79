#!/usr/bin/env bash
# Screenshots of the real program under Xvfb, reading fresh groups of tests/data/articles and
# tests/data/charsets from the project's INN (tools/inn.sh start):
#
#   tools/screenshots.sh [BUILD_DIR] [OUT_PREFIX]
#
# BUILD_DIR (default build) holds the quillo program, reader_dlg_inn_test and
# reader_dlg_charset_inn_test, built with QUILLO_BUILD_UI=ON. Each INN test registers "localhost"
# and chooses a fresh group; its quillo.ini and quillo.mdb go into an empty base directory beside
# the start page, and the program is started there. Mouse clicks (xdotool) then select the
# group, press "更新" and choose articles; ImageMagick's import takes the window:
#   OUT_PREFIX-main.png      the group's threaded header tree after "更新"
#   OUT_PREFIX-japanese.png  an ISO-2022-JP article in the view
#   OUT_PREFIX-html.png      the HTML part of a multipart/alternative article
#   OUT_PREFIX-utf8.png      a UTF-8 Japanese article (UTF-8 encoded words in the tree)
#   OUT_PREFIX-eucjp.png     an EUC-JP article
#   OUT_PREFIX-latin1.png    an ISO-8859-1 article
# Needs xvfb-run, xdotool and import (packages xvfb, xdotool, imagemagick). Clicks are at fixed
# places of the fixed-size main window.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

if [ "${1:-}" = --inner ]; then
    base=$2
    out=$3
    kind=${4:-articles}
    cd "$base"
    quillo &
    pid=$!
    trap 'kill "$pid" 2>/dev/null || true' EXIT
    wid=$(xdotool search --sync --onlyvisible --name '^Quillo Version' | head -1)
    sleep 4 # the start page
    click() {
        xdotool mousemove --window "$wid" "$1" "$2" click 1
        sleep "${3:-1}"
    }
    # Places in the window: the group is the last item of the expanded server/group tree, the
    # header tree's rows are 20 pixels apart.
    click 135 109  # the group
    click 205 13 4 # 更新
    xdotool mousemove --window "$wid" 630 540
    sleep 1
    if [ "$kind" = charsets ]; then
        click 330 76 3 # article 1, UTF-8
        import -window "$wid" "$out-utf8.png"
        click 330 116 3 # article 3, EUC-JP
        import -window "$wid" "$out-eucjp.png"
        click 330 136 3 # article 4, ISO-8859-1
        import -window "$wid" "$out-latin1.png"
        exit 0
    fi
    import -window "$wid" "$out-main.png"
    click 330 96 3 # article 2, Japanese
    import -window "$wid" "$out-japanese.png"
    click 330 136 3 # article 4, multipart/alternative
    import -window "$wid" "$out-html.png"
    exit 0
fi

build=$(cd "${1:-$root/build}" && pwd)
out=${2:-/tmp/quillo-shot}
for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || {
        echo "screenshots.sh: $tool is missing" >&2
        exit 1
    }
done
"$here/inn.sh" status >/dev/null || {
    echo "screenshots.sh: INN does not answer on 127.0.0.1:119 (tools/inn.sh start)" >&2
    exit 1
}

# Qt WebEngine refuses to start as root with its sandbox.
export QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi

work=$(mktemp -d /tmp/quillo-shots.XXXXXX)
trap 'rm -rf "$work"' EXIT
# The tests' verdicts do not matter here, only the registrations they leave behind.
for kind in articles charsets; do
    test=reader_dlg_inn_test
    [ "$kind" = charsets ] && test=reader_dlg_charset_inn_test
    QUILLO_INN_KEEP_BASE="$work/kept-$kind" QT_QPA_PLATFORM=offscreen \
        QUILLO_TEST_DATA="$root/tests/data" "$build/tests/app/$test" >"$work/test-$kind.log" 2>&1 ||
        true
    [ -f "$work/kept-$kind/quillo.ini" ] || {
        echo "screenshots.sh: $test left no registration; see its output:" >&2
        tail -20 "$work/test-$kind.log" >&2
        exit 1
    }
    mkdir "$work/base-$kind"
    cp "$root/resources/quillomb.htm" "$work/kept-$kind/quillo.ini" "$work/kept-$kind/quillo.mdb" \
        "$work/base-$kind/"
    PATH="$build:$PATH" xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --inner "$work/base-$kind" \
        "$out" "$kind" >"$work/quillo-$kind.log" 2>&1
done
ls -l "$out"-*.png
