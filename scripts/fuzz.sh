#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, build folder build-fuzz) and runs them.
#   scripts/fuzz.sh TARGET SECONDS   runs one target for that long
#   scripts/fuzz.sh all SECONDS      runs every target in turn, SECONDS each
#   scripts/fuzz.sh list             names the targets
# Each run starts from the seeds in fuzz/corpus/TARGET (read, never written) and
# what earlier runs found (build-fuzz/corpus/TARGET). An input that fails is kept
# as build-fuzz/findings/TARGET/crash-* (or leak-, oom-, timeout-); rerun it with
# build-fuzz/fuzz_TARGET FILE. Exits non-zero when any target failed.
# QB_FUZZ_SEED=N fixes libFuzzer's random seed, so that a short run goes the same
# way every time (the test runs use it); without it every run tries new ways.
set -euo pipefail
source "$(dirname "$0")/common.sh"

targets() {
  local f
  for f in "$QB_ROOT"/fuzz/*.cpp; do basename "$f" .cpp; done
}

if [ $# -lt 1 ] || { [ "$1" != list ] && [ $# -lt 2 ]; }; then
  sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
if [ "$1" = list ]; then
  targets
  exit 0
fi
what="$1" seconds="$2"
if [ "$what" = all ]; then
  mapfile -t chosen < <(targets)
else
  [ -f "$QB_ROOT/fuzz/$what.cpp" ] || { echo "fuzz.sh: no target '$what' (try: scripts/fuzz.sh list)" >&2; exit 2; }
  chosen=("$what")
fi

qb_install_missing "${QB_FUZZ_PACKAGES[@]}"
export CC=clang-14 CXX=clang++-14
qb_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_FUZZ=ON \
  -DQB_BUILD_TESTS=OFF -DQB_BUILD_BENCH=OFF -DQB_BUILD_GUI=OFF

# The longest input each target is given.
max_len() {
  case "$1" in
    metadata) echo 4096 ;;
    highlight | settings | finder) echo 8192 ;;
    *) echo 65536 ;;
  esac
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
symbolizer="$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer || true)"
[ -n "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH="$symbolizer"
failed=()
for target in "${chosen[@]}"; do
  corpus="$QB_ROOT/build-fuzz/corpus/$target" findings="$QB_ROOT/build-fuzz/findings/$target"
  mkdir -p "$corpus" "$findings" "$QB_ROOT/fuzz/corpus/$target"
  echo "fuzz: $target for ${seconds}s"
  if ! "$QB_ROOT/build-fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
      -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$findings/" \
      ${QB_FUZZ_SEED:+-seed="$QB_FUZZ_SEED"} \
      "$corpus" "$QB_ROOT/fuzz/corpus/$target" >"$findings/log.txt" 2>&1; then
    failed+=("$target")
    grep -E "ERROR|check failed|SUMMARY|Test unit written" "$findings/log.txt" | head -20 >&2 || true
    echo "fuzz: $target FAILED (log: $findings/log.txt)" >&2
  else
    grep -E "stat::number_of_executed_units|cov:" "$findings/log.txt" | tail -2 | sed "s/^/fuzz: $target: /"
  fi
done
if [ ${#failed[@]} -eq 0 ]; then
  echo "fuzz: every target ran clean (${#chosen[@]} targets, ${seconds}s each)"
else
  echo "fuzz: failing targets: ${failed[*]}" >&2
  exit 1
fi
