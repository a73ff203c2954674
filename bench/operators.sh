#!/usr/bin/env bash
# The picture-quality table and contact sheet of the operators beyond the
# classic one, for docs/operators.md.
#
#   bench/operators.sh [--build DIR] [--photos DIR] [--sheet OUT.png] [--keep DIR]
#
# Runs every operator with its defaults on each photograph of DIR (default
# tests/data/photos, or $LUMIVANE_PHOTOS) through lumivane_bench --operator (the library readers,
# as the tone-map job reads), beside pfstmo's reinhard02 and drago03 (pfsin |
# pfstmo_* | pfsgamma -g 2.2 | pfsout, on the photograph raised to 1e-4 by
# oiiotool, since they abort on values below zero) when they are installed,
# and scores each picture with the TMQI of ../shared/quality/tmqi.py (Debian's
# python3 with numpy, scipy, skimage and tifffile). Prints a Markdown table of
# Q per photograph and the means, and writes a contact sheet (ImageMagick
# montage): one row per photograph, one column per method.
# DIR for --build is the CMake build folder (default build); --keep keeps the
# pictures in DIR.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
photos="${LUMIVANE_PHOTOS:-$root/tests/data/photos}"
sheet="$root/docs/operators-contact-sheet.png"
keep=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build="$2"; shift ;;
    --photos) photos="$2"; shift ;;
    --sheet) sheet="$2"; shift ;;
    --keep) keep="$2"; shift ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench/operators.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

harness="$build/bench/lumivane_bench"
tmqi="$root/../shared/quality/tmqi.py"
[[ -f $tmqi ]] || tmqi="$(dirname "$photos")/quality/tmqi.py"
[[ -x $harness ]] || { echo "no $harness: build lumivane_bench first" >&2; exit 1; }
[[ -f $tmqi ]] || { echo "no tmqi.py beside $photos" >&2; exit 1; }

work="${keep:-$(mktemp -d)}"
mkdir -p "$work"
[[ -n $keep ]] || trap 'rm -rf "$work"' EXIT

operators=(reinhard02 drago03 filmic)
methods=("${operators[@]}")
peers=()
if command -v pfstmo_reinhard02 >/dev/null && command -v pfstmo_drago03 >/dev/null &&
   command -v pfsgamma >/dev/null && command -v oiiotool >/dev/null; then
  peers=(pfstmo_reinhard02 pfstmo_drago03)
  methods+=("${peers[@]}")
fi

declare -A score
names=()
for photo in "$photos"/*.exr; do
  name="$(basename "$photo" .exr)"
  names+=("$name")
  for op in "${operators[@]}"; do
    "$harness" --operator "$op" "$photo" "$work/$name-$op.png" 2>"$work/$name-$op.log"
  done
  if ((${#peers[@]})); then
    oiiotool "$photo" --clamp:min=1e-4 -o "$work/$name-clamped.exr"
    for peer in "${peers[@]}"; do
      pfsin "$work/$name-clamped.exr" 2>/dev/null | "$peer" | pfsgamma -g 2.2 |
        pfsout "$work/$name-$peer.png"
    done
  fi
  for method in "${methods[@]}"; do
    score[$name,$method]="$(/usr/bin/python3 "$tmqi" "$photo" "$work/$name-$method.png" |
      awk '{print $2}')"
  done
done

header="| photograph |"
rule="|---|"
for method in "${methods[@]}"; do header+=" $method |"; rule+="---:|"; done
echo "$header"
echo "$rule"
for name in "${names[@]}"; do
  line="| $name |"
  for method in "${methods[@]}"; do line+=" ${score[$name,$method]} |"; done
  echo "$line"
done
line="| **mean** |"
for method in "${methods[@]}"; do
  mean="$(for name in "${names[@]}"; do echo "${score[$name,$method]}"; done |
    awk '{s += $1} END {printf "%.4f", s / NR}')"
  line+=" **$mean** |"
done
echo "$line"

tiles=()
for name in "${names[@]}"; do
  for method in "${methods[@]}"; do
    tiles+=(-label "$name $method" "$work/$name-$method.png")
  done
done
font=()
# grep reads all of the list: with -q, convert could die of SIGPIPE and fail the pipe.
if convert -list font 2>/dev/null | grep "Font: DejaVu-Sans$" >/dev/null; then
  font=(-font DejaVu-Sans)
fi
montage "${font[@]}" "${tiles[@]}" -tile "${#methods[@]}x${#names[@]}" -geometry 224x112+2+2 \
  -pointsize 10 -depth 8 "$sheet"
echo "contact sheet: $sheet" >&2
