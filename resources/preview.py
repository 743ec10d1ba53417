#!/usr/bin/env python3
"""Writes preview.png: every glyph and image at 2x (the @2x PNGs), each on a light
and on a dark tile, with its index, plus the application icon sizes."""
import glob, os
from PIL import Image, ImageDraw, ImageFont

here = os.path.dirname(os.path.abspath(__file__))
os.chdir(here)

def font(size, bold=False):
    name = 'DejaVuSans-Bold.ttf' if bold else 'DejaVuSans.ttf'
    for d in ('/usr/share/fonts/truetype/dejavu', '/usr/share/fonts/dejavu'):
        p = os.path.join(d, name)
        if os.path.exists(p):
            return ImageFont.truetype(p, size)
    return ImageFont.load_default()

LIGHT, DARK, INK, BG = (246, 247, 249), (43, 47, 54), (39, 49, 61), (255, 255, 255)
CELL_W, CELL_H, COLS, PAD = 96, 62, 8, 12
small, big = font(11), font(14, True)

def section(title, folder):
    names = sorted(p for p in glob.glob(folder + '/[0-9][0-9]@2x.png'))
    rows = (len(names) + COLS - 1) // COLS
    img = Image.new('RGBA', (COLS * CELL_W + 2 * PAD, 28 + rows * CELL_H), BG)
    d = ImageDraw.Draw(img)
    d.text((PAD, 6), title, font=big, fill=INK)
    for n, p in enumerate(names):
        x, y = PAD + (n % COLS) * CELL_W, 28 + (n // COLS) * CELL_H
        pic = Image.open(p).convert('RGBA')
        one = Image.open(p.replace('@2x', '')).convert('RGBA')
        d.rectangle([x, y, x + 40, y + 40], fill=LIGHT)
        d.rectangle([x + 42, y, x + 82, y + 40], fill=DARK)
        img.alpha_composite(pic, (x + 4, y + 4))
        img.alpha_composite(pic, (x + 46, y + 4))
        d.rectangle([x, y + 42, x + 18, y + 60], fill=LIGHT)
        img.alpha_composite(one, (x + 1, y + 43))
        d.text((x + 24, y + 44), os.path.basename(p)[:2], font=small, fill=INK)
    return img

parts = [section('glyphs/NN  (2x on light and dark, 1x at the left)', 'glyphs'),
         section('images/NN  (2x on light and dark, 1x at the left)', 'images')]
sizes = [16, 32, 48, 64, 128, 256]
app = Image.new('RGBA', (COLS * CELL_W + 2 * PAD, 28 + 256 + 24), BG)
d = ImageDraw.Draw(app)
d.text((PAD, 6), 'app/quiverbox-N.png  (16, 32, 48, 64, 128, 256)', font=big, fill=INK)
x = PAD
for s in sizes:
    icon = Image.open('app/quiverbox-%d.png' % s).convert('RGBA')
    d.rectangle([x - 2, 28, x + s + 2, 28 + s + 4], fill=LIGHT)
    app.alpha_composite(icon, (x, 30))
    d.text((x, 28 + s + 6), str(s), font=small, fill=INK)
    x += s + 14
parts.append(app)

sheet = Image.new('RGBA', (parts[0].width, sum(p.height for p in parts) + PAD), BG)
y = 0
for p in parts:
    sheet.alpha_composite(p, (0, y))
    y += p.height
sheet.convert('RGB').save('preview.png', optimize=True)
print('preview.png', sheet.size)
