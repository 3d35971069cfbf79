#!/usr/bin/env bash
# Sets up and builds Quillo, then runs every test (unit, UI offscreen, and the news-server ones).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh"
build="${QUILLO_BUILD_DIR:-$here/build}"
cd "$build"
ctest --output-on-failure -j2 --timeout 600
