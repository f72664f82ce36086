#!/bin/sh
# Runs one fuzzer for a bounded time on a fresh copy of its seeds, so that its
# finds never touch the tree:
#   run-fuzzer.sh FUZZER WORK SECONDS SEED_FOLDER... [-- LIBFUZZER_OPTION...]
# A dictionary beside the fuzzer's source (fuzz/NAME.dict) is used when there
# is one. Fails on any crash, leak, time-out or sanitizer report; the last
# lines of the output are libFuzzer's final counts (executions, coverage).
set -eu
fuzzer=$1 work=$2 seconds=$3
shift 3
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  if [ -d "$1" ]; then cp "$1"/* "$work/corpus/" 2>/dev/null || true; fi
  shift
done
[ $# -gt 0 ] && shift
name=$(basename "$fuzzer" | sed 's/^quillane_fuzz_//')
dict=$(dirname "$0")/$name.dict
set -- "$@" -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=30 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/"
[ -f "$dict" ] && set -- "$@" -dict="$dict"
exec "$fuzzer" "$@" "$work/corpus"
