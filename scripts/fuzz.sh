#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang (ASan + UBSan) and runs each for a bounded
# time, then prints executions and crashes per harness. Not part of CI.
#   scripts/fuzz.sh [SECONDS] [HARNESS...]     SECONDS per harness, default 300; all harnesses
#                                               when none is named
# The corpus grows across runs in $VELQUIST_FUZZ_BUILD_DIR/corpus (default build-fuzz); inputs
# that crash are kept in build-fuzz/artifacts/HARNESS/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
shift || true
all=(natural_page paid_page decipher http_text settings)
usage() {
  echo "usage: $0 [SECONDS] [HARNESS...]   SECONDS >= 1; harnesses: ${all[*]}" >&2
  exit 2
}
# libFuzzer reads a time of 0 as "no limit".
case $seconds in '' | *[!0-9]* | 0*) usage ;; esac
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=("${all[@]}")
for name in "${harnesses[@]}"; do
  [[ " ${all[*]} " == *" $name "* ]] || usage
done

bash scripts/setup.sh --fuzz

dir=${VELQUIST_FUZZ_BUILD_DIR:-build-fuzz}
jobs=${VELQUIST_JOBS:-$(nproc)}
cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DVELQUIST_BUILD_FUZZ=ON -DVELQUIST_BUILD_TESTS=OFF \
  -DVELQUIST_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$jobs" --target fuzzers

generated="$dir/seeds-generated"
mkdir -p "$generated/natural_page" "$generated/paid_page"
"$dir/fuzz/fuzz_seed_pages" "$generated/natural_page" "$generated/paid_page"

symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
[ -x "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH=$symbolizer
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

# Pages are larger than the other inputs; the limit still leaves room for blocks that never end.
max_len() {
  case $1 in
    natural_page | paid_page) echo 65536 ;;
    *) echo 4096 ;;
  esac
}

dict() {
  case $1 in
    natural_page | paid_page) echo fuzz/page.dict ;;
    http_text) echo fuzz/http_text.dict ;;
    settings) echo fuzz/settings.dict ;;
    *) echo "" ;;
  esac
}

summary=()
failed=0
for name in "${harnesses[@]}"; do
  binary="$dir/fuzz/${name}_fuzz"
  corpus="$dir/corpus/$name"
  artifacts="$dir/artifacts/$name"
  log="$dir/logs/$name.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  seeds=("fuzz/seeds/$name")
  [ -d "$generated/$name" ] && seeds+=("$generated/$name")
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len "$name")"
           -print_final_stats=1 -print_funcs=0 -artifact_prefix="$artifacts/")
  d=$(dict "$name")
  [ -n "$d" ] && options+=(-dict="$d")

  # Scratch files of the settings harness, in memory where possible; removed after each harness.
  scratch=$(mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/velquist-fuzz.XXXXXX")
  export VELQUIST_FUZZ_TMP=$scratch

  echo "== $name: ${seconds} s"
  # One process that keeps fuzzing after a crash, so the count covers the whole time; each
  # crashing input is saved under artifacts/.
  before=$(find "$artifacts" -type f | wc -l)
  status=0
  "$binary" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 "${options[@]}" \
    "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
  after=$(find "$artifacts" -type f | wc -l)
  rm -rf "$scratch"

  # Fork mode prints "#RUNS: cov: ... exec/s: ... oom/timeout/crash: O/T/C time: ..." lines.
  last=$(grep -E '^#[0-9]+: cov:' "$log" | tail -n 1 || true)
  execs=$(sed -nE 's/^#([0-9]+):.*/\1/p' <<<"$last")
  otc=$(sed -nE 's/.*oom\/timeout\/crash: ([0-9]+\/[0-9]+\/[0-9]+).*/\1/p' <<<"$last")
  execs=${execs:-0}
  otc=${otc:-0/0/0}
  new=$((after - before))
  line=$(printf '%-13s executions %10s  oom/timeout/crash %-9s new crash files %d  corpus %d  (exit %d)' \
    "$name" "$execs" "$otc" "$new" "$(find "$corpus" -type f | wc -l)" "$status")
  echo "$line"
  summary+=("$line")
  if [ "$new" -gt 0 ] || [ "$otc" != "0/0/0" ] || [ "$status" -ne 0 ]; then
    failed=1
    echo "   log: $log"
    find "$artifacts" -type f | head -n 5 | sed 's/^/   input: /'
  fi
done

echo
echo "== fuzzing summary (${seconds} s each)"
printf '%s\n' "${summary[@]}"
exit $failed
