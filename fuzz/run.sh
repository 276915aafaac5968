#!/usr/bin/env bash
# Runs one fuzz target of build-fuzz/fuzz (made by `make fuzz`) for SECONDS as a single job:
#   fuzz/run.sh snippet 600
# New inputs go to build-fuzz/corpus/TARGET (the seeds in fuzz/corpus/TARGET stay as they
# are), a crashing input to build-fuzz/artifacts/TARGET/, the job's output to
# build-fuzz/logs/TARGET/fuzz-0.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?target: class_source markup class_file base64 snippet}
seconds=${2:-600}
out="$root/build-fuzz"
mkdir -p "$out/corpus/$target" "$out/artifacts/$target" "$out/logs/$target"
cd "$out/logs/$target"
export UBSAN_OPTIONS=print_stacktrace=1
# A snippet may build texts up to the 2 GiB limit of one string, and joining two of them holds
# both and the result: more than 4 GiB with the sanitizers' own memory, and what it asked for.
"$out/fuzz/fuzz_$target" "$out/corpus/$target" "$root/fuzz/corpus/$target" \
  -jobs=1 -workers=1 -max_total_time="$seconds" -timeout=20 -rss_limit_mb=8192 \
  -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$out/artifacts/$target/"
grep -E "^stat::|ERROR|SUMMARY|Test unit written" fuzz-0.log || true
