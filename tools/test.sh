#!/usr/bin/env bash
# Sets up and builds Quillo, then runs every test (unit, UI offscreen, and the news-server ones).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh"
# The integration tests talk to the project's own INN 2 on 127.0.0.1:119 (installed, configured
# and started when needed).
"$here/tools/inn.sh" start
build="${QUILLO_BUILD_DIR:-$here/build}"
cd "$build"
ctest --output-on-failure -j2 --timeout 600
