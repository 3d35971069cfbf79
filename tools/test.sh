#!/usr/bin/env bash
# Sets up and builds Quillo, then runs every test (unit, UI offscreen, and the news-server ones),
# and the core's tests once more with the sanitizers.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh"
# The integration tests talk to the project's own INN 2 on 127.0.0.1:119 (installed, configured
# and started when needed).
"$here/tools/inn.sh" start
build="${QUILLO_BUILD_DIR:-$here/build}"
(cd "$build" && ctest --output-on-failure -j2 --timeout 600)
# The core's tests again, with AddressSanitizer and UndefinedBehaviorSanitizer.
"$here/tools/test-sanitizers.sh"
