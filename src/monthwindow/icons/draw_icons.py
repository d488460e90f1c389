#!/usr/bin/env python3
"""Draws Kelvor's icon: a small window holding the two month charts (light-blue bars with
light-red bars over them), in colours of the standard 16-colour palette.

Writes month-window.svg (32-unit grid) and, through ImageMagick, month-window-16.png and month-window-32.png
as 4-bit palette images. Run from this folder: ./draw_icons.py
"""
import subprocess

BLACK, NAVY, WHITE = (0, 0, 0), (0, 0, 128), (255, 255, 255)
BLUE, RED = (0, 0, 255), (255, 0, 0)

# (colour, left, top, right, bottom), inclusive pixel bounds, painted in order.
ICON_32 = [
    (BLACK, 1, 2, 30, 29),   # frame
    (NAVY, 2, 3, 29, 7),     # title bar
    (WHITE, 2, 8, 29, 28),   # client area
    (BLUE, 4, 10, 26, 11), (RED, 4, 10, 9, 11),
    (BLUE, 4, 13, 20, 14), (RED, 4, 13, 6, 14),
    (BLUE, 4, 16, 24, 17), (RED, 4, 16, 12, 17),
    (BLUE, 4, 21, 17, 22), (RED, 4, 21, 8, 22),
    (BLUE, 4, 24, 27, 25), (RED, 4, 24, 14, 25),
]
ICON_16 = [
    (BLACK, 0, 1, 15, 14),
    (NAVY, 1, 2, 14, 3),
    (WHITE, 1, 4, 14, 13),
    (BLUE, 2, 5, 13, 5), (RED, 2, 5, 4, 5),
    (BLUE, 2, 7, 10, 7), (RED, 2, 7, 3, 7),
    (BLUE, 2, 10, 8, 10), (RED, 2, 10, 3, 10),
    (BLUE, 2, 12, 12, 12), (RED, 2, 12, 6, 12),
]


def pam(size, rects):
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for colour, left, top, right, bottom in rects:
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                pixels[y][x] = colour + (255,)
    header = (f"P7\nWIDTH {size}\nHEIGHT {size}\nDEPTH 4\nMAXVAL 255\n"
              "TUPLTYPE RGB_ALPHA\nENDHDR\n").encode()
    return header + bytes(v for row in pixels for p in row for v in p)


def svg(size, rects):
    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" '
             f'viewBox="0 0 {size} {size}" shape-rendering="crispEdges">']
    for (r, g, b), left, top, right, bottom in rects:
        parts.append(f'  <rect x="{left}" y="{top}" width="{right - left + 1}" '
                     f'height="{bottom - top + 1}" fill="#{r:02x}{g:02x}{b:02x}"/>')
    parts.append('</svg>\n')
    return '\n'.join(parts)


for size, rects in ((16, ICON_16), (32, ICON_32)):
    subprocess.run(['convert', 'pam:-', '-define', 'png:bit-depth=4', '-define',
                    'png:color-type=3', '-strip', f'PNG8:month-window-{size}.png'],
                   input=pam(size, rects), check=True)
with open('month-window.svg', 'w') as out:
    out.write(svg(32, ICON_32))
