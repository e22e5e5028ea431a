#!/usr/bin/env bash
# Runs davfp's benchmarks and prints one summary table: workload, ours, baseline, ratio, target, pass or miss.
# Usage: bench/run.sh BUILD_DIR [WORKLOAD...] (default: every workload). RUNS (default 5) sets how many runs
# each median is taken over. Detail goes to BUILD_DIR/bench/detail.log, the table also to
# BUILD_DIR/bench/summary.md (Markdown, for the README). Exits 1 when a workload could not run at all.
set -uo pipefail
build=${1:?usage: bench/run.sh BUILD_DIR [WORKLOAD...]}
shift
bench="$build/bench/davfp-bench"
workloads=("$@")
((${#workloads[@]})) || workloads=(parse listing changes transfer state concurrency recursive-get mount)
runs=${RUNS:-5}

rows="$build/bench/rows.tsv"
detail="$build/bench/detail.log"
summary="$build/bench/summary.md"
: >"$rows"
: >"$detail"
for workload in "${workloads[@]}"; do
  echo "bench: $workload" >&2
  start=$SECONDS
  if ! "$bench" "$workload" "$runs" >>"$rows" 2> >(tee -a "$detail" >&2); then
    printf '%s\tfailed\t-\t-\t-\tmiss\n' "$workload" >>"$rows"
  fi
  echo "bench: $workload took $((SECONDS - start)) s" >&2
done

header=$'workload\tours\tbaseline\tratio\ttarget\tresult'
{
  echo
  cpu=$(sed -n "s/^model name[[:space:]]*: //p" /proc/cpuinfo | head -1)
  echo "davfp benchmarks: medians of $runs runs; $(nproc) cores ($cpu), $(free -g | awk "/^Mem:/{print \$2}") GiB; $(date -u +%Y-%m-%dT%H:%MZ)"
  # Aligned columns, two spaces apart.
  { echo "$header"; cat "$rows"; } | awk -F '\t' '
    { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > width[i]) width[i] = length($i) } fields[NR] = NF }
    END { for (r = 1; r <= NR; r++) { line = ""
            for (i = 1; i <= fields[r]; i++) line = line sprintf(i < fields[r] ? "%-" width[i] "s  " : "%s", cell[r, i])
            print line } }'
} >&2
{
  echo "| ${header//$'\t'/ | } |"
  echo "|---|---|---|---|---|---|"
  sed -e 's/\t/ | /g' -e 's/^/| /' -e 's/$/ |/' "$rows"
} >"$summary"
# The exit status says whether every workload ran; the table says which targets were met.
! grep -q $'\tfailed\t' "$rows"
