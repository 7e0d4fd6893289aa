#!/usr/bin/env bash
# Configures and builds into build/ (or $TOVK_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${TOVK_BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja "$@"
cmake --build "$BUILD_DIR"
