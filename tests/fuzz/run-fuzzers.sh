#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# on a scratch copy of its seed corpus (the committed corpus never grows by
# itself). Fails on any crash, leak, time-out or sanitizer report and names
# the reproducer.
#
#   tests/fuzz/run-fuzzers.sh [target ...]
#
#   FUZZ_SECONDS    seconds per target (default 20)
#   FUZZ_JOBS       targets run side by side (default 2, at most the cores)
#   FUZZ_BUILD_DIR  the clang build tree (default build-fuzz in the checkout)
#   FUZZ_ARTIFACTS  where reproducers and logs are kept (default
#                   $FUZZ_BUILD_DIR/fuzz-artifacts)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SECONDS_EACH="${FUZZ_SECONDS:-20}"
BUILD="${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
ARTIFACTS="${FUZZ_ARTIFACTS:-$BUILD/fuzz-artifacts}"
CORES="$(nproc 2>/dev/null || echo 1)"
JOBS="${FUZZ_JOBS:-2}"
[ "$JOBS" -gt "$CORES" ] && JOBS="$CORES"
[ "$JOBS" -lt 1 ] && JOBS=1

ALL_TARGETS=(fuzz_request_header fuzz_request_reader fuzz_percent_decode fuzz_base64
             fuzz_access_file fuzz_ssi fuzz_regedit fuzz_admin_request)
if [ $# -gt 0 ]; then TARGETS=("$@"); else TARGETS=("${ALL_TARGETS[@]}"); fi

# The compiler and its fuzzing and sanitizer runtimes.
need=()
command -v clang++-14 >/dev/null 2>&1 || need+=(clang-14)
for p in libfuzzer-14-dev libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  echo "run-fuzzers: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${need[@]}"
fi
# The project's own build dependencies come from its install script.
if ! command -v cmake >/dev/null 2>&1 || ! command -v ninja >/dev/null 2>&1; then
  bash "$ROOT/scripts/install-deps.sh"
fi

echo "run-fuzzers: building ${TARGETS[*]} in $BUILD"
# (The compiler is chosen when the tree is first configured; a tree made
# with another one is refused by tests/fuzz/CMakeLists.txt.)
mkdir -p "$BUILD"
CC=clang-14 CXX=clang++-14 cmake -S "$ROOT" -B "$BUILD" -G Ninja \
  -DTOVK_FUZZ=ON -DBUILD_TESTING=OFF >"$BUILD/fuzz-configure.log" 2>&1 ||
  { cat "$BUILD/fuzz-configure.log"; exit 1; }
ninja -C "$BUILD" -j"$CORES" "${TARGETS[@]}"

# Scratch space in memory where there is some: the targets rewrite a file
# for every input.
SCRATCH_BASE=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && SCRATCH_BASE=/dev/shm
WORK="$(mktemp -d "$SCRATCH_BASE/tovk-fuzz.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$ARTIFACTS"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

# Runs one target; its result line goes to $WORK/<target>.result.
run_one() {
  local target="$1"
  local bin="$BUILD/fuzz/$target"
  local corpus="$WORK/$target/corpus"
  local log="$ARTIFACTS/$target.log"
  mkdir -p "$corpus" "$WORK/$target/tmp" "$ARTIFACTS/$target"
  rm -f "$ARTIFACTS/$target"/crash-* "$ARTIFACTS/$target"/leak-* "$ARTIFACTS/$target"/timeout-* \
        "$ARTIFACTS/$target"/oom-* "$ARTIFACTS/$target"/slow-unit-*
  if [ -d "$ROOT/tests/fuzz/corpus/$target" ]; then
    cp -r "$ROOT/tests/fuzz/corpus/$target/." "$corpus/"
  fi
  local rc=0
  TMPDIR="$WORK/$target/tmp" timeout --kill-after=30 $((SECONDS_EACH + 120)) \
    "$bin" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$ARTIFACTS/$target/" "$corpus" >"$log" 2>&1 || rc=$?
  local execs
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  local reproducer
  reproducer="$(ls "$ARTIFACTS/$target"/crash-* "$ARTIFACTS/$target"/leak-* \
                   "$ARTIFACTS/$target"/timeout-* "$ARTIFACTS/$target"/oom-* 2>/dev/null | head -1 || true)"
  local verdict=ok
  if [ "$rc" -ne 0 ] || [ -n "$reproducer" ] ||
     grep -qE "ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|invariant broken" "$log"; then
    verdict=FAILED
  fi
  echo "$target $verdict ${execs:-?} $rc ${reproducer:--}" >"$WORK/$target.result"
}

echo "run-fuzzers: ${SECONDS_EACH}s per target, $JOBS at a time"
running=0
for target in "${TARGETS[@]}"; do
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait || true

failed=0
total=0
printf '%-22s %-7s %12s\n' target result executions
for target in "${TARGETS[@]}"; do
  if [ ! -f "$WORK/$target.result" ]; then
    printf '%-22s %-7s %12s\n' "$target" FAILED "?"
    failed=$((failed + 1))
    continue
  fi
  read -r name verdict execs rc reproducer <"$WORK/$target.result"
  printf '%-22s %-7s %12s\n' "$name" "$verdict" "$execs"
  [[ "$execs" =~ ^[0-9]+$ ]] && total=$((total + execs))
  if [ "$verdict" != ok ]; then
    failed=$((failed + 1))
    echo "  exit status $rc; log: $ARTIFACTS/$name.log"
    [ "$reproducer" != "-" ] && echo "  reproducer: $reproducer (run: $BUILD/fuzz/$name $reproducer)"
    grep -m 5 -E "ERROR: |runtime error:|invariant broken|SUMMARY:" "$ARTIFACTS/$name.log" | sed 's/^/  /' || true
  fi
done
echo "run-fuzzers: $total executions in ${#TARGETS[@]} targets, $failed failed"
[ "$failed" -eq 0 ]
