#!/bin/sh
# Renders the PNG icons from their SVG sources (ImageMagick). Drawn large, then averaged down
# with a box filter so that edges on the pixel grid stay sharp.
set -e
cd "$(dirname "$0")"
convert -background none -density 3072 kelvor.svg -filter box -resize 32x32 -strip png32:kelvor-32.png
convert -background none -density 576 kelvor-16.svg -filter box -resize 16x16 -strip png32:kelvor-16.png
