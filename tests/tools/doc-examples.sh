#!/usr/bin/env bash
# Runs every example command of README.md and of the manual pages on the
# bundled samples, so that the documentation cannot fall behind the program.
#   doc-examples.sh BIN_DIR SOURCE_DIR
# README: each line of a ```sh block that runs lumivane-cli. Manual pages: each
# indented line of their EXAMPLES section (scdoc's ++ joins lines). Exits 1
# naming every example that failed.
set -uo pipefail

bin="$(cd "$1" && pwd)"
src="$(cd "$2" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export PATH="$bin:$PATH"

# The files the examples name: the samples, and a folder of photographs.
setup() {
  rm -rf "$work/run" && mkdir -p "$work/run/photos" "$work/run/out" "$work/run/pfm"
  cp "$src/samples/dawn.hdr" "$src/samples/city.exr" "$work/run/"
  cp "$src/samples/dawn.hdr" "$work/run/photos/sunset.hdr"
  cp "$src/samples/dawn.hdr" "$work/run/photos/dawn.hdr"
}

readme_examples() {
  awk '/^```sh/ {on = 1; next} /^```/ {on = 0} on && /lumivane-cli/ && !/^(script|sudo)/' \
    "$src/README.md" | sed 's/[[:space:]]\{2,\}#.*$//'
}

# One example per indented block; the lines scdoc's ++ joins run in turn.
man_examples() {
  local page
  for page in "$src"/docs/man/*.scd; do
    awk '/^# EXAMPLES/ {on = 1; next} /^# / {on = 0}
         on && (/^\t/ || joined) {
           line = $0; sub(/^\t/, "", line); joined = sub(/\+\+$/, "", line)
           block = block (block == "" ? "" : " && ") line
           if (!joined) {print block; block = ""}
         }' "$page"
  done | sed 's/\\\*/*/g'
}

failed=0
count=0
while IFS= read -r example; do
  [[ -n "$example" ]] || continue
  count=$((count + 1))
  setup
  if ! (cd "$work/run" && bash -e -o pipefail -c "$example" >"$work/out.txt" 2>&1); then
    echo "FAILED: $example" >&2
    tail -5 "$work/out.txt" >&2
    failed=1
  fi
done < <(readme_examples; man_examples)

echo "$count examples run"
((count >= 10)) || { echo "too few examples found: the extraction is broken" >&2; exit 1; }
exit "$failed"
