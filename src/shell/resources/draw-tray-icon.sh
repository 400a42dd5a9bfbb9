#!/usr/bin/env bash
# Redraws the tray icon (three linked devices on a blue disc) with
# ImageMagick; the PNG beside this script is its output, kept in the tree so
# that building needs no drawing tools.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 48x48 xc:none -fill '#1565c0' -draw 'circle 24,24 24,1' \
  -stroke white -strokewidth 3.5 \
  -draw 'line 24,25 13,14' -draw 'line 24,25 35,14' -draw 'line 24,25 24,38' \
  -strokewidth 2 -fill '#ffb300' \
  -draw 'circle 13,14 13,9' -draw 'circle 35,14 35,9' -draw 'circle 24,38 24,33' \
  -stroke none -fill white -draw 'circle 24,25 24,21' PNG32:yxnet-tray.png
# Windows loads its notification-area icon from an .ico of the same drawing.
convert yxnet-tray.png -define icon:auto-resize=48,32,16 yxnet-tray.ico
# The start page's favicon is the same drawing, small.
convert yxnet-tray.png -define icon:auto-resize=32,16 ../../../webroot/favicon.ico
