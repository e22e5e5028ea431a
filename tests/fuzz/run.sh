#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for SECONDS (default 60).
# Usage: tests/fuzz/run.sh [SECONDS] [TARGET...]   (TARGET: propfind_parser state_file ...)
#
# Each target starts from a fresh working copy of its seed corpus (tests/fuzz/corpus/TARGET), so the committed
# corpus never grows by itself; what a run found stays in build-fuzz/corpus/TARGET until the next run. A crash,
# a broken invariant, a leak, a timeout or running out of memory fails the run; the input is kept as
# build-fuzz/artifacts/TARGET-crash-... and the command to reproduce it is printed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$top/build-fuzz
seconds=${1:-60}
shift || true
[[ $seconds =~ ^[0-9]+$ ]] || { echo "usage: $0 [SECONDS] [TARGET...]" >&2; exit 2; }

# target:dictionary
all=(propfind_parser:xml state_file:json request_url:url)
selected=()
if (($#)); then
  for name in "$@"; do
    found=""
    for entry in "${all[@]}"; do [[ ${entry%%:*} == "$name" ]] && selected+=("$entry") && found=1; done
    [[ -n $found ]] || { echo "fuzz: no target $name" >&2; exit 2; }
  done
else
  selected=("${all[@]}")
fi

if [ ! -f "$build/build.ninja" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja "${launcher[@]}" -DDAVFP_FUZZ=ON -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target fuzz_targets -j "$(nproc)"

mkdir -p "$build/artifacts" "$build/logs"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
summary=()
for entry in "${selected[@]}"; do
  target=${entry%%:*}
  dict=$here/dict/${entry#*:}.dict
  work=$build/corpus/$target
  log=$build/logs/$target.log
  rm -rf "$work"
  mkdir -p "$work"
  cp "$here/corpus/$target"/* "$work/"
  echo "fuzz: $target for ${seconds}s"
  status=0
  "$build/tests/fuzz/fuzz_$target" "$work" -dict="$dict" -max_total_time="$seconds" -timeout=30 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1 ||
    status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
  summary+=("$(printf '%-16s %10s runs %8s execs/s  %s' "$target" "${runs:-?}" "${rate:-?}" "${cov:-}")")
  if ((status != 0)); then
    failed+=("$target")
    tail -n 60 "$log" >&2
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    echo "fuzz: $target failed (status $status); log: $log" >&2
    [ -z "$artifact" ] || echo "fuzz: reproduce with $build/tests/fuzz/fuzz_$target $artifact" >&2
  fi
done

printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
