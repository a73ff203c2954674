#!/usr/bin/env bash
# Whole-job times and peak memory of every operator on one file, beside the
# classic operator, pfstmo_durand02 and (optionally) an older build, for
# docs/performance.md.
#
#   bench/operator-speed.sh [--baseline CLI] [--runs N] CLI INPUT.hdr
#
# Each row: the median wall time of N runs (default 5) after one untimed
# warm-up that also gives the peak resident memory (/usr/bin/time -v). Outputs
# go beside INPUT (put it in tmpfs). Prints a Markdown table.
set -euo pipefail

baseline=""
runs=5
while [[ $# -gt 2 ]]; do
  case "$1" in
    --baseline) baseline="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    *) echo "bench/operator-speed.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[[ $# -eq 2 ]] || { sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 2; }
cli="$1"
input="$2"
dir="$(dirname "$input")"

# Median seconds of `runs` timed runs of a shell command; the peak MB of a warm-up.
measure() {
  local label="$1" command="$2" times=() peak start end
  rm -f "$dir"/out.*
  peak=$( { /usr/bin/time -v bash -c "$command" >/dev/null 2>/dev/null; } 2>&1 |
    awk '/Maximum resident/ {printf "%.0f", $6 / 1024}')
  for ((i = 0; i < runs; i++)); do
    rm -f "$dir"/out.*
    start=$EPOCHREALTIME
    bash -c "$command" >/dev/null 2>&1
    end=$EPOCHREALTIME
    times+=("$(echo "$end - $start" | bc -l)")
  done
  median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')
  printf '| %s | %.3f | %s |\n' "$label" "$median" "$peak"
}

echo "| Job | Median (s) | Peak memory (MB) |"
echo "|---|---:|---:|"
if [[ -n $baseline ]]; then
  measure "classic, before (baseline build)" "'$baseline' tonemap -q '$input' '$dir/out.tif'"
fi
measure "classic" "'$cli' tonemap -q '$input' '$dir/out.tif'"
for op in reinhard02 drago03 filmic durand02; do
  measure "$op" "'$cli' tonemap -q --operator $op '$input' '$dir/out.tif'"
done
if [[ -n $baseline ]]; then
  measure "Radiance -> PFM, before" "'$baseline' convert -q '$input' '$dir/out.pfm'"
  measure "Radiance -> PFM" "'$cli' convert -q '$input' '$dir/out.pfm'"
  measure "Radiance -> 96-bit TIFF, before" "'$baseline' convert -q '$input' '$dir/out.tif'"
  measure "Radiance -> 96-bit TIFF" "'$cli' convert -q '$input' '$dir/out.tif'"
fi
if command -v pfstmo_durand02 >/dev/null; then
  runs=1 measure "pfsin \\| pfstmo_durand02 \\| pfsout (1 run)" \
    "pfsin '$input' | pfstmo_durand02 | pfsout '$dir/out.png'"
fi
