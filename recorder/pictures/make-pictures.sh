#!/bin/sh
# Draws the recorder's picture buttons and panel backgrounds (ImageMagick). Run it here after changing a drawing;
# the JPEG files it writes are the ones the form descriptions embed.
set -e
cd "$(dirname "$0")"
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

# button FILE WIDTH HEIGHT TOP BOTTOM TEXT ICON-DRAW-ARGS...
# A rounded, vertically shaded face with a light rim, an icon at the left and the text beside it.
button() {
  file=$1 w=$2 h=$3 top=$4 bottom=$5 text=$6
  shift 6
  convert -size "${w}x${h}" "gradient:${top}-${bottom}" \
    \( -size "${w}x${h}" xc:none -fill none -stroke '#d8e4ef' -strokewidth 2 \
       -draw "roundrectangle 1,1 $((w - 2)),$((h - 2)) 8,8" \) -composite \
    -stroke none "$@" \
    -font "$FONT" -pointsize $((h * 2 / 7)) -fill white -stroke none \
    -gravity West -annotate +$((h + 6))+0 "$text" \
    -quality 92 "$file"
}

# Top row, 179 x 49: switch to the record panel, to the play panel, exit.
button record.jpg 179 49 '#4a6a8a' '#1e2e3e' 'Record' \
  -fill '#e03030' -draw 'circle 25,24 25,11'
button play.jpg 179 49 '#4a6a8a' '#1e2e3e' 'Play' \
  -fill '#40d040' -draw 'polygon 14,10 14,38 40,24'
button exit.jpg 179 49 '#8a4a4a' '#3e1e1e' 'Exit' \
  -stroke '#ffd0d0' -strokewidth 6 -draw 'line 14,12 36,36' -draw 'line 36,12 14,36' -stroke none

# Record panel, 138 x 42.
button new.jpg 138 42 '#5a7a5a' '#243824' 'New file' \
  -fill white -draw 'polygon 10,6 26,6 32,12 32,36 10,36' -fill '#a0a0a0' -draw 'polygon 26,6 26,12 32,12'
button videosetup.jpg 138 42 '#5a6a7a' '#222e3a' 'Video setup' \
  -fill '#d0d0d0' -draw 'roundrectangle 6,13 27,31 3,3' -draw 'polygon 27,18 35,13 35,31 27,26' \
  -fill '#303030' -draw 'circle 16,22 16,18'
button codecsetup.jpg 138 42 '#5a6a7a' '#222e3a' 'Codec setup' \
  -fill '#e0c050' -draw 'circle 20,21 20,8' -fill '#222e3a' -draw 'circle 20,21 20,16' \
  -fill '#e0c050' -draw 'rectangle 18,5 22,37' -draw 'rectangle 4,19 36,23'
button capture.jpg 138 42 '#7a5a5a' '#3a2020' 'Capture' \
  -fill '#ff3030' -draw 'circle 20,21 20,9'
button stop.jpg 138 42 '#6a6a6a' '#2a2a2a' 'Stop' \
  -fill '#f0f0f0' -draw 'rectangle 9,10 31,32'

# Play panel, 138 x 42.
button open.jpg 138 42 '#5a7a5a' '#243824' 'Open file' \
  -fill '#f0c040' -draw 'polygon 5,12 15,12 18,15 34,15 34,34 5,34' -fill '#ffe080' -draw 'polygon 9,19 38,19 34,34 5,34'
button playfile.jpg 138 42 '#4a7a5a' '#1e3a24' 'Play' \
  -fill '#50e050' -draw 'polygon 10,8 10,34 33,21'
button stopplay.jpg 138 42 '#6a6a6a' '#2a2a2a' 'Stop' \
  -fill '#f0f0f0' -draw 'rectangle 9,10 31,32'

# Panel backgrounds, 527 x 314: a recessed screen where the video goes (the capture window or the paint box at
# 11, 9 / 11, 10, 352 x 288), a column for the buttons and the labels, and the panel's name.
background() {
  file=$1 title=$2 accent=$3
  convert -size 527x314 'gradient:#3c4650-#1c2228' \
    -fill '#101418' -draw 'roundrectangle 5,3 369,303 6,6' \
    -fill none -stroke '#5a6a7a' -strokewidth 2 -draw 'roundrectangle 5,3 369,303 6,6' \
    -stroke none -fill black -draw 'rectangle 11,9 362,297' \
    -fill '#26303a' -draw 'roundrectangle 376,244 522,308 6,6' \
    -font "$FONT" -pointsize 11 -fill "$accent" -gravity SouthEast -annotate +10+4 "$title" \
    -quality 90 "$file"
}
background recordback.jpg 'RECORD' '#ff8080'
background playback.jpg 'PLAY' '#80ff80'
