#!/usr/bin/env bash
# Renders the PNG icons of the hicolor theme from the SVG (librsvg2-bin); run after changing the SVG and
# commit the PNGs. tests/packaging checks that they are still what the SVG gives.
set -euo pipefail
cd "$(dirname "$0")"
for size in 48 256; do
  rsvg-convert -w "$size" -h "$size" it.qen.Training.svg -o "it.qen.Training-$size.png"
done
