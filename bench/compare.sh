#!/usr/bin/env bash
# Whole-job timings of lumivane-cli beside the peer tools and the I/O floor.
#
#   bench/compare.sh [--install-peers] [--build DIR] [--photo NAME [--photo-only]] [WIDTH HEIGHT] [RUNS]
#
# Generates a synthetic Radiance file (WIDTH x HEIGHT, default 8192 x 4096, rows
# in the per-component run-length form) with lumivane_bench --make-hdr, turns
# it into a 96-bit float TIFF and a PFM with lumivane-cli convert, and times,
# RUNS times each (default 3), the tone-mapping and conversion jobs of
# lumivane-cli and the same work done by the peers that are installed:
# luminance-hdr-cli --tmo reinhard02, pfsin | pfstmo_reinhard02 | pfsout,
# oiiotool and ImageMagick convert. The I/O floor reads the input with cat and
# writes an output of the job's size with dd. Prints a Markdown table of the
# medians, the ratio of lumivane-cli's median to each row's, and the peak
# resident memory (/usr/bin/time -v, of an untimed first run).
#
# --photo NAME adds a block of rows on a real photograph, NAME.exr from
# ../shared/photos (for example dawn): tiled to WIDTH x HEIGHT with oiiotool and
# written as Radiance both by oiiotool and by ImageMagick, it is tone-mapped and
# converted beside luminance-hdr-cli, ImageMagick and the I/O floor, with a row
# for LUMIVANE_THREADS=1. --photo-only leaves out the synthetic scene.
#
# --install-peers offers to apt-get install the missing peers (luminance-hdr,
# pfstools, pfstmo, openimageio-tools, imagemagick, time); never used in CI.
# DIR is the CMake build folder (default: build-perf, else build).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
install_peers=0
build=""
photo=""
photo_only=0
positional=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --install-peers) install_peers=1 ;;
    --build) build="$2"; shift ;;
    --photo) photo="$2"; shift ;;
    --photo-only) photo_only=1 ;;
    -h|--help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) positional+=("$1") ;;
  esac
  shift
done
width=8192 height=4096 runs=3
case ${#positional[@]} in
  0) ;;
  1) runs=${positional[0]} ;;
  2) width=${positional[0]} height=${positional[1]} ;;
  3) width=${positional[0]} height=${positional[1]} runs=${positional[2]} ;;
  *) echo "usage: $0 [--install-peers] [--build DIR] [WIDTH HEIGHT] [RUNS]" >&2; exit 2 ;;
esac

if [[ -z "$build" ]]; then
  for candidate in "$root/build-perf" "$root/build"; do
    [[ -x "$candidate/bin/lumivane-cli" && -x "$candidate/bench/lumivane_bench" ]] && { build="$candidate"; break; }
  done
fi
cli="$build/bin/lumivane-cli"
generator="$build/bench/lumivane_bench"
if [[ ! -x "$cli" || ! -x "$generator" ]]; then
  echo "lumivane-cli and lumivane_bench not found; build a Release tree first:" >&2
  echo "  cmake -S $root -B $root/build-perf -G Ninja -DCMAKE_BUILD_TYPE=Release && ninja -C $root/build-perf" >&2
  exit 1
fi

have() { command -v "$1" >/dev/null 2>&1; }

# ImageMagick's own binary: a `convert` earlier on PATH may be a wrapper whose
# start-up would be timed as ImageMagick's.
magick=convert
for candidate in /usr/bin/convert-im6.q16 /usr/bin/convert; do
  [[ -x "$candidate" ]] && { magick=$candidate; break; }
done

if [[ $install_peers == 1 ]]; then
  missing=()
  have luminance-hdr-cli || missing+=(luminance-hdr)
  have pfsin || missing+=(pfstools)
  # pfstmo_reinhard02 comes in a package of its own.
  have pfstmo_reinhard02 || missing+=(pfstmo)
  have oiiotool || missing+=(openimageio-tools)
  have convert || missing+=(imagemagick)
  [[ -x /usr/bin/time ]] || missing+=(time)
  if [[ ${#missing[@]} -gt 0 ]]; then
    read -r -p "apt-get install ${missing[*]}? [y/N] " answer
    if [[ "$answer" == [yY]* ]]; then
      apt-get install -y --no-install-recommends "${missing[@]}"
    fi
  fi
fi
if [[ ! -x /usr/bin/time ]]; then
  echo "/usr/bin/time (package time) is needed for the peak memory" >&2
  exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/lumivane-compare.XXXXXX")"
trap 'rm -rf "$work"' EXIT

if [[ $photo_only == 0 ]]; then
echo "Generating ${width} x ${height} inputs in $work ..." >&2
"$generator" --make-hdr "$width" "$height" "$work/in.hdr"
"$cli" convert -q "$work/in.hdr" "$work/in.tif"
"$cli" convert -q "$work/in.hdr" "$work/in.pfm"
fi

pixels=$((width * height))
rgb_bytes=$((pixels * 3 + 308))
tiff96_bytes=$((pixels * 12 + 308))
pfm_bytes=$((pixels * 12))

# Every run starts with no output file: replacing one would free its pages
# inside the timed job (6 ms for 100 MB in tmpfs here, serial whatever the
# thread count), a cost of the earlier run, not of the tool.
clear_outputs() { rm -f "$work"/out.* "$work"/peer.* "$work/floor.out"; }

# The untimed first run: prints the peak resident memory in kilobytes.
peak_once() {
  clear_outputs
  /usr/bin/time -v -o "$work/time.txt" bash -c "$1" >/dev/null 2>&1 || true
  awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt"
}

# One timed run: prints seconds, or nan when it failed; the command's output
# is dropped. It runs from this shell, timed by bash's clock: no time, date or
# second shell process is started inside the timing (some 5 ms here, which
# would blur the ratios of short jobs, the thread counts' above all).
time_once() {
  local start end
  clear_outputs
  start=$EPOCHREALTIME
  if ! eval "$1" >/dev/null 2>"$work/stderr.txt"; then
    echo "failed: $1" >&2
    cat "$work/stderr.txt" >&2
    echo "nan"
    return
  fi
  end=$EPOCHREALTIME
  echo "$end - $start" | bc -l
}

median() { sort -g | awk '{a[NR]=$1} END {if (NR % 2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

rows=()
lumivane_median=""
# measure TASK TOOL COMMAND: RUNS timed runs after one untimed run that
# gives the peak memory.
measure() {
  local task="$1" tool="$2" command="$3"
  local times=() peak t
  peak=$(peak_once "$command")
  for ((i = 0; i < runs; ++i)); do
    t=$(time_once "$command")
    times+=("$t")
  done
  local m
  m=$(printf '%s\n' "${times[@]}" | median)
  local label=${tool//|/\\|}
  if [[ " ${times[*]} " == *" nan "* ]]; then
    rows+=("| $task | $label | failed | - | - |")
    echo "  $task / $tool: failed" >&2
    return
  fi
  if [[ "$tool" == lumivane-cli* ]]; then lumivane_median=$m; fi
  local ratio="1"
  if [[ "$tool" != lumivane-cli* ]]; then
    ratio=$(awk -v a="$lumivane_median" -v b="$m" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "-" }')
  fi
  rows+=("| $task | $label | $(printf '%.3f' "$m") | $ratio | $(awk -v k="$peak" 'BEGIN { printf "%.0f", k / 1024 }') |")
  echo "  $task / $tool: median $m s" >&2
}

floor() {
  local task="$1" input="$2" bytes="$3"
  measure "$task" "I/O floor (cat + dd)" \
    "cat '$input' > /dev/null && dd if=/dev/zero of='$work/floor.out' bs=4M count=$bytes iflag=count_bytes status=none"
}

# The pixel data (the last `bytes` bytes; TIFF headers carry the time of day)
# written with one thread and with the default count.
check_threads() {
  local label="$1" command="$2" output="$3" bytes="$4"
  LUMIVANE_THREADS=1 bash -c "$command" >/dev/null
  tail -c "$bytes" "$output" > "$work/one-thread.out"
  bash -c "$command" >/dev/null
  if tail -c "$bytes" "$output" | cmp -s - "$work/one-thread.out"; then
    identical+=("$label: identical")
  else
    identical+=("$label: DIFFERENT")
  fi
}
identical=()

if [[ $photo_only == 0 ]]; then  # the synthetic scene
for input in hdr pfm tif; do
  in="$work/in.$input"
  case $input in hdr) name="Radiance" ;; pfm) name="PFM" ;; tif) name="TIFF 96-bit" ;; esac
  task="$name -> 24-bit TIFF (k = 1/1.2)"
  command="'$cli' tonemap -q --contrast 1.2 '$in' '$work/out.tif'"
  measure "$task" "lumivane-cli tonemap" "$command"
  check_threads "tonemap $name" "$command" "$work/out.tif" $((pixels * 3))
  if have luminance-hdr-cli; then
    measure "$task" "luminance-hdr-cli --tmo reinhard02" \
      "QT_QPA_PLATFORM=offscreen luminance-hdr-cli -l '$in' --tmo reinhard02 -o '$work/peer.tif'"
  fi
  if have pfstmo_reinhard02; then
    measure "$task" "pfsin | pfstmo_reinhard02 | pfsout" \
      "pfsin '$in' | pfstmo_reinhard02 | pfsout '$work/peer.tif'"
  fi
  floor "$task" "$in" "$rgb_bytes"
done

# The library readers, on files of today's tools: OpenEXR (half, ZIP) and a
# deflate-compressed float TIFF, both made by oiiotool from the same scene.
if have oiiotool; then
  oiiotool "$work/in.tif" -d half --compression zip -o "$work/in.exr"
  oiiotool "$work/in.tif" -d float -o "$work/in-zip.tif"
  for input in exr zip; do
    case $input in exr) in="$work/in.exr"; name="OpenEXR (half, ZIP)" ;; zip) in="$work/in-zip.tif"; name="TIFF float, deflate" ;; esac
    task="$name -> 24-bit TIFF (k = 1/1.2)"
    command="'$cli' tonemap -q --contrast 1.2 '$in' '$work/out.tif'"
    measure "$task" "lumivane-cli tonemap" "$command"
    check_threads "tonemap $name" "$command" "$work/out.tif" $((pixels * 3))
    if have luminance-hdr-cli; then
      measure "$task" "luminance-hdr-cli --tmo reinhard02" \
        "QT_QPA_PLATFORM=offscreen luminance-hdr-cli -l '$in' --tmo reinhard02 -o '$work/peer.tif'"
    fi
    if have pfstmo_reinhard02; then
      measure "$task" "pfsin | pfstmo_reinhard02 | pfsout" \
        "pfsin '$in' | pfstmo_reinhard02 | pfsout '$work/peer.tif'"
    fi
    floor "$task" "$in" "$rgb_bytes"
  done
fi

convert_case() {
  local from="$1" to="$2" bytes="$3" name="$4"
  local in="$work/in.$from" out="$work/out.$to"
  local task="$name"
  measure "$task" "lumivane-cli convert" "'$cli' convert -q '$in' '$out'"
  check_threads "convert $name" "'$cli' convert -q '$in' '$out'" "$out" $((pixels * 12))
  if have oiiotool; then
    measure "$task" "oiiotool" "oiiotool '$in' -d float -o '$work/peer.$to'"
  fi
  if have "$magick"; then
    # convert reports libtiff's complaint about tag 317 (Predictor) with an
    # error status but writes the whole file; a file of the full size counts.
    measure "$task" "ImageMagick convert" \
      "rm -f '$work/peer.$to'; '$magick' -quiet '$in' -define quantum:format=floating-point -depth 32 '$work/peer.$to' 2>/dev/null; [[ \$(stat -c %s '$work/peer.$to') -ge $bytes ]]"
  fi
  floor "$task" "$in" "$bytes"
}
convert_case hdr tif "$tiff96_bytes" "Radiance -> TIFF 96-bit"
convert_case hdr pfm "$pfm_bytes" "Radiance -> PFM"
convert_case pfm tif "$tiff96_bytes" "PFM -> TIFF 96-bit"
convert_case tif pfm "$pfm_bytes" "TIFF 96-bit -> PFM"

# The outputs written through libraries, beside the peers writing the same
# kind of file from the same input (the peers clamp to 8 bits, they do not
# tone-map).
# Whether ImageMagick has a coder for this format: Debian's has none for
# OpenEXR and then writes Radiance bytes under the .exr name.
magick_knows() {
  have "$magick" && "$magick" -list format 2>/dev/null | grep -qiE "^ *$1\*? "
}
output_case() {
  local task="$1" verb="$2" to="$3" peer_args="$4"
  measure "$task" "lumivane-cli $verb" "'$cli' $verb -q '$work/in.hdr' '$work/out.$to'"
  if have oiiotool; then
    measure "$task" "oiiotool" "oiiotool '$work/in.hdr' $peer_args -o '$work/peer.$to'"
  fi
  if magick_knows "$to"; then
    measure "$task" "ImageMagick convert" "'$magick' -quiet '$work/in.hdr' '$work/peer.$to'"
  fi
}
output_case "Radiance -> PNG" tonemap png ""
output_case "Radiance -> OpenEXR (float, ZIP)" convert exr "-d float --compression zip"

fi  # the synthetic scene

# --- The library formats on a real photograph -------------------------------
# A photograph from ../shared/photos (else samples/city.exr) repeated by oiiotool
# to WIDTH x HEIGHT, as OpenEXR (half, ZIP: what cameras and renderers write) and
# as oiiotool's default float TIFF (deflate): the field's compressed inputs read
# through OpenEXR and libtiff, and the PNG and OpenEXR outputs, beside oiiotool
# and ImageMagick doing the same reading and writing (they clamp to 8 bits for
# the 8-bit outputs, they do not tone-map). ImageMagick rows appear only for the
# formats its build reads (Debian's has no OpenEXR coder).
library_photo_rows() {
  have oiiotool || return 0
  local photo="" candidate
  for candidate in "$root"/../shared/photos/*.exr "$root/samples/city.exr"; do
    [[ -f "$candidate" ]] && { photo="$candidate"; break; }
  done
  [[ -n "$photo" ]] || return 0
  local size pw ph
  size=$(oiiotool --info "$photo" | sed -n 's/.* : *\([0-9]*\) x *\([0-9]*\),.*/\1 \2/p')
  read -r pw ph <<<"$size"
  local across=$(((width + pw - 1) / pw)) down=$(((height + ph - 1) / ph))
  local dups=() i
  for ((i = 1; i < across; ++i)); do dups+=(--dup); done
  local row=("${dups[@]}" --mosaic "${across}x1")
  dups=()
  for ((i = 1; i < down; ++i)); do dups+=(--dup); done
  oiiotool "$photo" "${row[@]}" "${dups[@]}" --mosaic "1x${down}" --cut "${width}x${height}+0+0" \
    -d half --compression zip -o "$work/photo.exr"
  oiiotool "$work/photo.exr" -d float -o "$work/photo-zip.tif"

  local in name task kind
  for in in "$work/photo.exr" "$work/photo-zip.tif"; do
    case $in in *.exr) name="Photo OpenEXR (half, ZIP)" ;; *) name="Photo TIFF float, deflate" ;; esac
    task="$name -> 24-bit TIFF (k = 1/1.2)"
    measure "$task" "lumivane-cli tonemap" "'$cli' tonemap -q --contrast 1.2 '$in' '$work/out.tif'"
    check_threads "tonemap $name" "'$cli' tonemap -q --contrast 1.2 '$in' '$work/out.tif'" \
      "$work/out.tif" $((pixels * 3))
    measure "$task" "oiiotool" "oiiotool '$in' -d uint8 -o '$work/peer.tif'"
    kind=${in##*.}
    [[ $kind == tif ]] && kind=tiff
    if magick_knows "$kind"; then
      measure "$task" "ImageMagick convert" "'$magick' -quiet '$in' -depth 8 '$work/peer.tif'"
    fi
    floor "$task" "$in" "$rgb_bytes"
  done

  task="Photo OpenEXR (half, ZIP) -> PNG"
  measure "$task" "lumivane-cli tonemap" "'$cli' tonemap -q '$work/photo.exr' '$work/out.png'"
  check_threads "tonemap $task" "'$cli' tonemap -q '$work/photo.exr' '$work/out.png'" \
    "$work/out.png" "$(stat -c %s "$work/out.png")"
  measure "$task" "oiiotool" "oiiotool '$work/photo.exr' -d uint8 -o '$work/peer.png'"
  task="Photo TIFF float, deflate -> PNG"
  measure "$task" "lumivane-cli tonemap" "'$cli' tonemap -q '$work/photo-zip.tif' '$work/out.png'"
  measure "$task" "oiiotool" "oiiotool '$work/photo-zip.tif' -d uint8 -o '$work/peer.png'"
  if magick_knows tiff; then
    measure "$task" "ImageMagick convert" "'$magick' -quiet '$work/photo-zip.tif' '$work/peer.png'"
  fi

  task="Photo OpenEXR (half, ZIP) -> OpenEXR (float, ZIP)"
  measure "$task" "lumivane-cli convert" "'$cli' convert -q --float '$work/photo.exr' '$work/out.exr'"
  measure "$task" "oiiotool" \
    "oiiotool '$work/photo.exr' -d float --compression zip -o '$work/peer.exr'"
  task="Photo TIFF float, deflate -> OpenEXR (float, ZIP)"
  measure "$task" "lumivane-cli convert" "'$cli' convert -q '$work/photo-zip.tif' '$work/out.exr'"
  measure "$task" "oiiotool" \
    "oiiotool '$work/photo-zip.tif' -d float --compression zip -o '$work/peer.exr'"
}
library_photo_rows
# --- end of the photograph rows ----------------------------------------------

# ---- A real photograph (--photo NAME), tiled, beside the peers. ----
# Rows of their own after the synthetic scene's; the ratios compare within
# this run only, since the machine's speed drifts between runs.
photo_rows() {
  local source="$root/../shared/photos/$photo.exr"
  [[ -f "$source" ]] || { echo "no photograph $source" >&2; exit 1; }
  have oiiotool || { echo "--photo needs oiiotool" >&2; exit 1; }
  echo "Tiling $photo to ${width} x ${height} in $work ..." >&2
  local tile_w tile_h
  read -r tile_w tile_h < <(oiiotool --info "$source" | sed -nE '1s/.*: *([0-9]+) x *([0-9]+).*/\1 \2/p')
  local across=$(((width + tile_w - 1) / tile_w)) down=$(((height + tile_h - 1) / tile_h))
  oiiotool $(printf "$source %.0s" $(seq "$across")) --mosaic "${across}x1" -o "$work/photo-row.exr"
  oiiotool $(printf "$work/photo-row.exr %.0s" $(seq "$down")) --mosaic "1x${down}" \
    --cut "${width}x${height}+0+0" --origin +0+0 --fullpixels -d float -o "$work/photo.exr"
  oiiotool "$work/photo.exr" -o "$work/photo-oiio.hdr"
  # This ImageMagick reads no OpenEXR: it rewrites oiiotool's Radiance file.
  if have "$magick"; then
    "$magick" -quiet "$work/photo-oiio.hdr" "$work/photo-im.hdr" 2>/dev/null || rm -f "$work/photo-im.hdr"
  fi
  rm -f "$work/photo-row.exr"
  local in writer
  for writer in oiio im; do
    in="$work/photo-$writer.hdr"
    [[ -f "$in" ]] || continue
    local name="Photograph ($photo, Radiance by $([[ $writer == oiio ]] && echo oiiotool || echo ImageMagick))"
    local task="$name -> 24-bit TIFF (k = 1/1.2)"
    local command="'$cli' tonemap -q --contrast 1.2 '$in' '$work/out.tif'"
    measure "$task" "lumivane-cli tonemap" "$command"
    check_threads "tonemap $name" "$command" "$work/out.tif" $((pixels * 3))
    measure "$task" "LUMIVANE_THREADS=1 lumivane-cli tonemap" "LUMIVANE_THREADS=1 $command"
    if have luminance-hdr-cli; then
      measure "$task" "luminance-hdr-cli --tmo reinhard02" \
        "QT_QPA_PLATFORM=offscreen luminance-hdr-cli -l '$in' --tmo reinhard02 -o '$work/peer.tif'"
    fi
    floor "$task" "$in" "$rgb_bytes"
    local to bytes
    for to in tif pfm; do
      [[ $to == tif ]] && bytes=$tiff96_bytes || bytes=$pfm_bytes
      task="$name -> $([[ $to == tif ]] && echo "TIFF 96-bit" || echo PFM)"
      command="'$cli' convert -q '$in' '$work/out.$to'"
      measure "$task" "lumivane-cli convert" "$command"
      check_threads "convert $name to $to" "$command" "$work/out.$to" $((pixels * 12))
      measure "$task" "LUMIVANE_THREADS=1 lumivane-cli convert" "LUMIVANE_THREADS=1 $command"
      if have "$magick"; then
        measure "$task" "ImageMagick convert" \
          "rm -f '$work/peer.$to'; '$magick' -quiet '$in' -define quantum:format=floating-point -depth 32 '$work/peer.$to' 2>/dev/null; [[ \$(stat -c %s '$work/peer.$to') -ge $bytes ]]"
      fi
      floor "$task" "$in" "$bytes"
    done
  done
}
[[ -n "$photo" ]] && photo_rows
# ---- end of the photograph's rows ----

model=$(lscpu | awk -F': *' '/Model name/ {print $2; exit}')
sizes=$(stat -c '%n %s' "$work"/in.hdr "$work"/in.tif "$work"/in.pfm "$work"/photo-*.hdr 2>/dev/null | awk '{sub(".*/", "", $1); printf "%s%s %.0f MB", sep, $1, $2 / 1048576; sep = ", "}' || true)
echo
echo "Machine: $(nproc) threads, $model. Command: \`bench/compare.sh $width $height $runs\`."
scenes="synthetic scene"
[[ $photo_only == 1 ]] && scenes="photograph $photo, tiled"
[[ -n "$photo" && $photo_only == 0 ]] && scenes+=" and photograph $photo, tiled"
echo "Inputs: ${width} x ${height} $scenes ($sizes). Median of $runs runs after one warm-up,"
echo "files in $(df -P "$work" | awk 'NR == 2 {print $1}') (page cache warm)."
echo "\"LUMIVANE ÷ this\": lumivane-cli's median divided by this row's (below 1: LUMIVANE is faster)."
echo
echo "| Task | Tool | Median (s) | LUMIVANE ÷ this | Peak memory (MB) |"
echo "|---|---|---:|---:|---:|"
printf '%s\n' "${rows[@]}"
echo
echo "Output with LUMIVANE_THREADS=1 against the default thread count: $(IFS=';'; echo "${identical[*]}" | sed 's/;/; /g')."
