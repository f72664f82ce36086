#!/bin/sh
# Runs one fuzzer for a bounded time on a fresh copy of its seeds, so that its
# finds never touch the tree:
#   run-fuzzer.sh FUZZER WORK SECONDS SEED_FOLDER... [-- LIBFUZZER_OPTION...]
# A dictionary beside this script (fuzz/NAME.dict) is used when there is one,
# and so are the libFuzzer options of fuzz/NAME.options (words on one line, for
# example -malloc_limit_mb=512 for a reader that promises a size bound); the
# options after "--" come last and win. Fails on any crash, leak, time-out or
# sanitizer report; the last lines of the output are libFuzzer's final counts
# (executions, coverage).
set -eu
fuzzer=$1 work=$2 seconds=$3
shift 3
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  if [ -d "$1" ]; then cp "$1"/* "$work/corpus/" 2>/dev/null || true; fi
  shift
done
if [ $# -gt 0 ]; then shift; fi
name=$(basename "$fuzzer" | sed 's/^quillane_fuzz_//')
here=$(dirname "$0")
extra=""
if [ -f "$here/$name.dict" ]; then extra="-dict=$here/$name.dict"; fi
if [ -f "$here/$name.options" ]; then extra="$extra $(cat "$here/$name.options")"; fi
# The words of $extra are separate options.
# shellcheck disable=SC2086
exec "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=30 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" $extra "$@" "$work/corpus"
