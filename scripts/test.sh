#!/usr/bin/env bash
# The whole test suite from a fresh Debian 12 machine: packages, build, tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir "${TOVK_BUILD_DIR:-build}" --output-on-failure -j2 --timeout 600
