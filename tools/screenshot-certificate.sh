#!/usr/bin/env bash
# Screenshot of the question the program asks when a news server's certificate fails
# verification, taken from the real program under Xvfb against the project's INN with TLS
# (tools/inn.sh start):
#
#   tools/screenshot-certificate.sh [BUILD_DIR] [OUT_PNG]
#
# A base directory registers localhost with TLS on 563 and the test user, with a fresh group of
# quillo.private.* chosen. The program starts there without the test CA (QUILLO_TLS_CA_FILE
# unset), so INN's certificate does not verify; xdotool selects the group and presses "更新",
# and ImageMagick's import takes the screen with the question on it. Answered "いいえ" afterwards.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

if [ "${1:-}" = --inner ]; then
    cd "$2"
    quillo &
    pid=$!
    trap 'kill "$pid" 2>/dev/null || true' EXIT
    wid=$(xdotool search --sync --onlyvisible --name '^Quillo Version' | head -1)
    sleep 4 # the start page
    xdotool mousemove --window "$wid" 135 109 click 1 # the group, last in the server tree
    sleep 1
    xdotool mousemove --window "$wid" 205 13 click 1 # 更新
    sleep 4
    import -window root "$3"
    xdotool key Escape
    sleep 1
    exit 0
fi

build=$(cd "${1:-$root/build}" && pwd)
out=${2:-/tmp/quillo-certificate.png}
for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || {
        echo "screenshot-certificate.sh: $tool is missing" >&2
        exit 1
    }
done
"$here/inn.sh" status | grep -q "^TLS on 563" || {
    echo "screenshot-certificate.sh: INN does not serve TLS on 563 (tools/inn.sh start)" >&2
    exit 1
}

export QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
unset QUILLO_TLS_CA_FILE
export QUILLO_PASSWORD_STORE=file

work=$(mktemp -d /tmp/quillo-cert.XXXXXX)
trap 'rm -rf "$work"' EXIT
group=quillo.private.s$(date +%s)p$$
"$here/inn.sh" load --group "$group" "$root/tests/data/articles/01-plain-ascii.art" >/dev/null
base=$work/base
mkdir -m 700 "$base"
cp "$root/resources/quillomb.htm" "$base/"
printf '%s\n' "[NNTPREG10]" "Count=1" "Selected=1" "[ServerList]" "0=localhost" \
    "[localhost]" "Count=1" "[SELECTION]" "0=localhost,$group" "[NNTPCONN localhost]" \
    "Port=0" "Security=tls" "User=quillotest" "AllowPlainLogin=0" "TrustedCertificate=" \
    >"$base/quillo.ini"
(umask 077 && printf '%s\n' "[localhost]" "quillotest=quillo-test-pass" >"$base/quillo.pwd")
if ! PATH="$build:$PATH" xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --inner "$base" "$out" \
    >"$work/quillo.log" 2>&1; then
    tail -20 "$work/quillo.log" >&2
    exit 1
fi
ls -l "$out"
