#!/bin/sh
# Re-renders every PNG under resources/ from its SVG source, rewrites quiverbox.qrc
# and, when Python's PIL is present, the contact sheet preview.png.
# Needs rsvg-convert (Debian: apt-get install -y librsvg2-bin); preview needs python3-pil.
set -eu
cd "$(dirname "$0")"
command -v rsvg-convert >/dev/null || { echo "render.sh: rsvg-convert missing (apt-get install -y librsvg2-bin)" >&2; exit 1; }

for dir in glyphs images; do
  for svg in "$dir"/[0-9][0-9].svg; do
    base=${svg%.svg}
    rsvg-convert -w 16 -h 16 "$svg" -o "$base.png"
    rsvg-convert -w 32 -h 32 "$svg" -o "$base@2x.png"
  done
done

# application icon: the 16-unit drawing for the small sizes, the detailed one above
for size in 16 32; do
  rsvg-convert -w $size -h $size app/quiverbox-small.svg -o app/quiverbox-$size.png
done
for size in 48 64 128 256; do
  rsvg-convert -w $size -h $size app/quiverbox.svg -o app/quiverbox-$size.png
done

# resource file: every PNG under a stable alias (prefix "/", so ":/glyphs/03.png")
{
  echo '<!DOCTYPE RCC>'
  echo '<RCC version="1.0">'
  echo '  <qresource prefix="/">'
  for png in glyphs/*.png images/*.png app/*.png; do
    echo "    <file alias=\"$png\">$png</file>"
  done
  echo '  </qresource>'
  echo '</RCC>'
} > quiverbox.qrc

py=
for candidate in python3 /usr/bin/python3; do
  if command -v "$candidate" >/dev/null && "$candidate" -c 'import PIL' 2>/dev/null; then py=$candidate; break; fi
done
if [ -n "$py" ]; then
  "$py" preview.py
else
  echo "render.sh: python3 PIL missing, preview.png left as it was (apt-get install -y python3-pil)" >&2
fi
