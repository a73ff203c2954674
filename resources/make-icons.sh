#!/usr/bin/env bash
# Redraws the program icon with ImageMagick: a dusk sky whose bright sun is
# pressed by a tone curve into the visible range. Writes lumivane.png
# (256 x 256) and lumivane-32.png next to this script.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

# The tone curve, a cubic from the dark corner to the bright one, drawn as a
# chain of round dots (this ImageMagick closes open stroked paths).
curve=$(awk 'BEGIN {
  for (i = 0; i <= 160; i++) {
    t = i / 160; u = 1 - t
    x = u*u*u*36 + 3*u*u*t*130 + 3*u*t*t*126 + t*t*t*220
    y = u*u*u*214 + 3*u*u*t*214 + 3*u*t*t*44 + t*t*t*44
    printf "circle %.1f,%.1f %.1f,%.1f ", x, y, x + 6, y
  }
}')

convert -size 256x256 gradient:'#1b2a6b'-'#f08a24' \
  \( -size 256x256 xc:none -fill '#fff4b0' -draw 'circle 128,150 128,96' -blur 0x10 \) \
  -compose over -composite \
  -fill '#ffe25a' -stroke '#fff8d8' -strokewidth 4 -draw 'circle 128,150 128,108' \
  -fill '#241a3a' -stroke none -draw 'rectangle 0,186 255,255' \
  -fill white -stroke none -draw "$curve" \
  -fill none -stroke '#1b2a6b' -strokewidth 6 -draw 'roundrectangle 14,14 241,241 38,38' \
  \( -size 256x256 xc:black -fill white -draw 'roundrectangle 12,12 243,243 40,40' \) \
  -alpha off -compose copy_opacity -composite -depth 8 \
  lumivane.png

convert lumivane.png -filter Lanczos -resize 32x32 -depth 8 lumivane-32.png
