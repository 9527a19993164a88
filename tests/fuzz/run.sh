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
# directory; its log is in last-run.log there. The closing statistics report
# the number of executions.
set -euo pipefail

fuzzer=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
work=${FUZZ_WORK_DIR:-$(dirname "$fuzzer")/work}
mkdir -p "$work/corpus"

# LeakSanitizer needs no suppressions here: the interpreter is never
# finalised, so everything it keeps is still reachable, and a leak report
# means memory that nothing can reach any more, which is what a lost
# reference leaves behind.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

options=(-dict="$here/cmd_get.dict" -max_len=4096 -timeout=10 -rss_limit_mb=2048
         -artifact_prefix="$work/" -print_final_stats=1)

if [ "$seconds" -eq 0 ]; then
  runs=(-runs=0 "$here/corpus")
else
  runs=(-max_total_time="$seconds" "$work/corpus" "$here/corpus")
fi

# libFuzzer reports every new input; its log is kept, and shown only when the
# run fails. The closing statistics are printed either way.
log="$work/last-run.log"
status=0
"$fuzzer" "${options[@]}" "${runs[@]}" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  cat "$log"
else
  grep -E '^(INFO: +[0-9]+ files found|Done [0-9]+ runs|stat::)' "$log" || true
fi
exit "$status"
