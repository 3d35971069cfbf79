#!/usr/bin/env bash
# Sets up and builds Quillo, then starts it with its data directory as the current directory:
# the program keeps its settings, databases and article caches in the directory it starts in.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh"

# A news server to read from at once: when nothing answers on 127.0.0.1:119, the project's own
# INN is started with demo groups of Japanese and English articles (register "localhost").
if ! "$here/tools/inn.sh" status >/dev/null 2>&1; then
    "$here/tools/inn.sh" demo || echo "Could not start the demo news server; see above." >&2
fi

data="${QUILLO_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/quillo}"
mkdir -p "$data"
[ -e "$data/quillomb.htm" ] || cp "$here/resources/quillomb.htm" "$data/quillomb.htm"

# Qt WebEngine will not start as root with its sandbox on.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
cd "$data"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting under Xvfb (see README)." >&2
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "${QUILLO_BUILD_DIR:-$here/build}/quillo"
fi
exec "${QUILLO_BUILD_DIR:-$here/build}/quillo"
