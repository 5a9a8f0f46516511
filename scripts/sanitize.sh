#!/usr/bin/env bash
# Sanitizer runs of the test suite, each in its own build tree:
#   asan  AddressSanitizer + UndefinedBehaviorSanitizer, every test (the programs the tests start
#         are built the same way);
#   tsan  ThreadSanitizer, the engine's query-run tests.
# Usage: scripts/sanitize.sh [asan] [tsan]     (both when none is named)
# A finding fails the run; the reports are printed at the end, also those of child programs.
set -euo pipefail
cd "$(dirname "$0")/.."

base=${VELQUIST_BUILD_DIR:-build}
asan_dir=${VELQUIST_ASAN_BUILD_DIR:-$base-asan}
tsan_dir=${VELQUIST_TSAN_BUILD_DIR:-$base-tsan}
jobs=${VELQUIST_JOBS:-$(nproc)}
root=$(pwd)

modes=("$@")
[ ${#modes[@]} -eq 0 ] && modes=(asan tsan)

# The run functions are called in "||" lists, where errexit does not apply: each step that must
# not fail is checked by hand.

# -O1 keeps the instrumented tests quick without hiding the stack frames of a report.
configure() {
  local dir=$1 sanitize=$2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DVELQUIST_SANITIZE="$sanitize" -DVELQUIST_BUILD_BENCH=OFF -DVELQUIST_BUILD_TESTS=ON >/dev/null
}

# Sanitizer reports go to files, one per process, so a finding in a program a test started is
# seen even when that test only looks at the exit code.
fresh_logs() {
  rm -rf "$1" && mkdir -p "$1"
}

report_logs() {
  local logs=$1
  if compgen -G "$logs/*" >/dev/null; then
    echo "== sanitizer reports in $logs:"
    for f in "$logs"/*; do
      echo "---- $f"
      cat "$f"
    done
    return 1
  fi
  return 0
}

seconds() { date +%s; }

run_asan() {
  local t0 logs status=0
  t0=$(seconds)
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer build ($asan_dir)"
  configure "$asan_dir" "address,undefined" || return 1
  cmake --build "$asan_dir" -j"$jobs" || return 1
  local built=$(($(seconds) - t0))

  logs="$root/$asan_dir/sanitizer-logs"
  fresh_logs "$logs" || return 1
  # A finding aborts (exit 134), so it cannot pass for the command line's own exit 1. Leaks are
  # findings too. UBSan inside ASan ignores log_path: its reports stay on stderr.
  export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$logs/asan"
  export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"
  ctest --test-dir "$asan_dir" --output-on-failure -j"$jobs" --timeout 900 || status=$?
  unset ASAN_OPTIONS UBSAN_OPTIONS
  report_logs "$logs" || status=1
  echo "== asan+ubsan: build ${built} s, total $(($(seconds) - t0)) s"
  return $status
}

run_tsan() {
  local t0 logs status=0
  t0=$(seconds)
  echo "== ThreadSanitizer build of engine_tests ($tsan_dir)"
  configure "$tsan_dir" "thread" || return 1
  cmake --build "$tsan_dir" -j"$jobs" --target engine_tests || return 1
  local built=$(($(seconds) - t0))

  logs="$root/$tsan_dir/sanitizer-logs"
  fresh_logs "$logs" || return 1
  export TSAN_OPTIONS="halt_on_error=1:abort_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp:log_path=$logs/tsan"
  # Only the engine's tests are built here; the pattern picks its query-run suites.
  ctest --test-dir "$tsan_dir" --output-on-failure -j"$jobs" --timeout 900 --no-tests=error -R '^QueryRun' \
    || status=$?
  unset TSAN_OPTIONS
  report_logs "$logs" || status=1
  echo "== tsan: build ${built} s, total $(($(seconds) - t0)) s"
  return $status
}

overall=0
for mode in "${modes[@]}"; do
  case $mode in
    asan) run_asan || overall=1 ;;
    tsan) run_tsan || overall=1 ;;
    *) echo "usage: $0 [asan] [tsan]" >&2; exit 2 ;;
  esac
done
exit $overall
