#!/usr/bin/env bash
# Runs the server on the demo configuration, in this terminal, on port 8080.
# Installs the Debian packages and builds first. Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
BUILD_DIR=${TOVK_BUILD_DIR:-build}
BIN="$PWD/$BUILD_DIR/bin"
DEMO="$PWD/$BUILD_DIR/demo"

# Everything the demo writes stays in build/demo: its registry, its unit
# file and its logs.
export TOVK_REGISTRY="$DEMO/registry.db"
export TOVK_UNIT_DIR="$DEMO/units"
export TOVK_RUN_DIR="$DEMO/run"
mkdir -p "$TOVK_UNIT_DIR" "$TOVK_RUN_DIR" "$DEMO/logs"

"$BIN/tovkreg" import "$DEMO/demo.reg"
rm -f "$TOVK_UNIT_DIR/tovk.service"
"$BIN/tovksrv" /I

echo "Serving http://localhost:8080/ (Ctrl-C stops the server)"
echo "  protected pages: user demo, password demo; administration /admin/: user admin, password admin"
echo "  logs: $DEMO/logs"
exec "$BIN/tovksc" run tovk
