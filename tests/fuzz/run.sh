#!/usr/bin/env bash
# Runs the cmd_get fuzzer.
#
#   run.sh FUZZER 0          every seed in tests/fuzz/corpus once
#   run.sh FUZZER SECONDS    fuzz for SECONDS, starting from the seeds
#
# New inputs go to a working corpus beside the fuzzer ($FUZZ_WORK_DIR, by
# default <fuzzer's dir>/work), never into the committed seeds. A crash,
# a sanitizer report, a leak or a failed check stops the run with a non-zero
# status and leaves the input as crash-*, leak-* or timeout-* in the working
# directory. libFuzzer's closing lines report the number of executions.
set -euo pipefail

fuzzer=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
work=${FUZZ_WORK_DIR:-$(dirname "$fuzzer")/work}
mkdir -p "$work/corpus"

# The interpreter keeps its own objects until exit; a leak is reported only
# for memory that nothing can reach any more, which is what a lost reference
# leaves behind.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/lsan.supp:print_suppressions=0}

options=(-dict="$here/cmd_get.dict" -max_len=4096 -timeout=10 -rss_limit_mb=2048
         -artifact_prefix="$work/" -print_final_stats=1)

if [ "$seconds" -eq 0 ]; then
  exec "$fuzzer" "${options[@]}" -runs=0 "$here/corpus"
fi
exec "$fuzzer" "${options[@]}" -max_total_time="$seconds" "$work/corpus" "$here/corpus"
