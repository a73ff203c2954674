#!/bin/sh
# Builds the whole scdoc source of a manual page: the program's generated
# sections (its format and operator tables) where the source has @GENERATED@.
#   manual-page.sh PROGRAM SOURCE OUTPUT
set -e
program="$1" source="$2" output="$3"
"$program" __manual > "$output.sections"
sed -e "/^@GENERATED@\$/{r $output.sections" -e 'd' -e '}' "$source" > "$output"
rm -f "$output.sections"
