#!/usr/bin/env bash
# Screenshots of posting under Xvfb, taken by the posting test against the project's INN
# (tools/inn.sh start) while it drives the real windows:
#
#   tools/post-screenshots.sh [BUILD_DIR] [OUT_PREFIX]
#
#   OUT_PREFIX-compose.png  the compose window of a Japanese reply, its quote and an added line
#   OUT_PREFIX-reply.png    the main window after "更新", a reply to that reply selected in the
#                           header tree under its parents and shown in the article view
# BUILD_DIR (default build) holds tests/post/post_inn_test. Needs xvfb-run (package xvfb).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-/tmp/quillo-post}

command -v xvfb-run >/dev/null || {
    echo "post-screenshots.sh: xvfb-run is missing" >&2
    exit 1
}
"$here/inn.sh" status >/dev/null || {
    echo "post-screenshots.sh: INN does not answer on 127.0.0.1:119 (tools/inn.sh start)" >&2
    exit 1
}

export QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
# Qt WebEngine refuses to start as root with its sandbox.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
QT_QPA_PLATFORM=xcb QUILLO_TEST_DATA="$root/tests/data" QUILLO_SHOT_PREFIX="$out" \
    xvfb-run -a -s "-screen 0 1280x1024x24" "$build/tests/post/post_inn_test"
ls -l "$out"-compose.png "$out"-reply.png
