#!/usr/bin/env bash
# Runs the browser test of the administration pages: installs playwright-core
# from the lock file when it is missing, then node's test runner.
#   run.sh [BIN_DIR [ADMIN_WWW_DIR]]
set -euo pipefail
cd "$(dirname "$0")"
[ -n "${1:-}" ] && export TOVK_BIN_DIR="$1"
[ -n "${2:-}" ] && export TOVK_ADMIN_WWW="$2"
if [ ! -d node_modules/playwright-core ]; then
  npm ci --no-audit --no-fund --loglevel=error
fi
exec node --test --test-reporter=spec admin.test.mjs
