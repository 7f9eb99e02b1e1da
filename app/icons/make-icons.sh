#!/usr/bin/env bash
# Draws the program's icon (a scanning beam over a device) in the three sizes
# Windows asks for and packs them into quillscan.ico. Run by hand after a
# change; the .ico is kept in the tree so that builds need no image tools.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for s in 16 32 48; do
  k=$(echo "$s / 16" | bc -l)
  p() { printf '%.1f' "$(echo "$1 * $k" | bc -l)"; }
  convert -size ${s}x${s} xc:none \
    -fill '#1f5f8b' -stroke '#0d3550' -strokewidth "$(p 0.8)" \
    -draw "roundrectangle $(p 0.5),$(p 0.5) $(p 15.5),$(p 15.5) $(p 3),$(p 3)" \
    -fill none -stroke white -strokewidth "$(p 1.4)" \
    -draw "arc $(p 1.5),$(p 1.5) $(p 14.5),$(p 14.5) 200 340" \
    -draw "arc $(p 4.2),$(p 4.2) $(p 11.8),$(p 11.8) 205 335" \
    -stroke none -fill '#ffd24a' \
    -draw "roundrectangle $(p 4),$(p 10) $(p 12),$(p 14) $(p 1),$(p 1)" \
    -fill '#1f5f8b' -draw "rectangle $(p 5.5),$(p 11.5) $(p 6.5),$(p 12.5)" \
    -draw "rectangle $(p 7.5),$(p 11.5) $(p 8.5),$(p 12.5)" \
    PNG32:"$tmp/icon$s.png"
done
convert "$tmp/icon16.png" "$tmp/icon32.png" "$tmp/icon48.png" quillscan.ico
