#!/usr/bin/env bash
# Renders the hicolor PNG icons from the SVG (needs rsvg-convert, Debian package
# librsvg2-bin). The PNGs are kept in the repository, so a build needs no renderer.
set -euo pipefail
cd "$(dirname "$0")/hicolor"
id=io.github.quillmarsh.Quillmarsh
for size in 16 24 32 48 64 128 256 512; do
  mkdir -p "${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" "scalable/apps/$id.svg" -o "${size}x${size}/apps/$id.png"
done
