#!/bin/sh
# Starts an installed Quillo in its data directory: the program keeps its settings, databases
# and article caches in the directory it starts in, and shows the start page found there.
set -e
data="${QUILLO_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/quillo}"
mkdir -p "$data"
# Absolute, since the program is started after the change of directory below.
here=$(cd "$(dirname "$0")" && pwd)
page="$here/../share/quillo/quillomb.htm"
if [ ! -e "$data/quillomb.htm" ] && [ -e "$page" ]; then
    cp "$page" "$data/quillomb.htm"
fi
# Qt WebEngine will not start as root with its sandbox on.
if [ "$(id -u)" -eq 0 ]; then
    QTWEBENGINE_DISABLE_SANDBOX=1
    export QTWEBENGINE_DISABLE_SANDBOX
fi
cd "$data"
exec "$here/quillo" "$@"
