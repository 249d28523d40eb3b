#!/usr/bin/python3
"""Draws every picture of Kavri's resource bundles into resources/images/.

Run by hand after changing a drawing, then commit the outputs:

    /usr/bin/python3 tools/make_images.py

Needs Pillow (Debian: python3-pil). Everything is drawn from code here, at a multiple of
the final size and scaled down, so the edges come out smooth at the small sizes.
"""

import math
import os
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.normpath(os.path.join(HERE, "..", "resources", "images"))

# The blues of the program's style sheet, so the pictures match the controls.
BLUE = (27, 137, 202)  # #1B89CA
BLUE_DARK = (16, 119, 181)  # #1077B5
BLUE_LIGHT = (92, 172, 238)  # #5CACEE
BLUE_MID = (79, 148, 205)  # #4F94CD
NAVY = (20, 46, 74)
LASER_RED = (229, 57, 53)
# What the settings window's background looks like on screen; the logo's soft edges are
# blended against it because a GIF has only on/off transparency.
WINDOW_BACK = (191, 191, 165)

FONT_CANDIDATES = {
    "logo": ["/usr/share/fonts/opentype/urw-base35/URWGothic-Demi.otf",
             "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"],
    "bold": ["/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"],
    "sans": ["/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"],
}


def font(kind, size):
    for path in FONT_CANDIDATES[kind]:
        if os.path.exists(path):
            return ImageFont.truetype(path, size)
    sys.exit("no font for %s; install fonts-dejavu-core" % kind)


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(len(a)))


def vertical_gradient(size, top, bottom):
    w, h = size
    column = Image.new("RGBA", (1, h))
    for y in range(h):
        column.putpixel((0, y), lerp(top, bottom, y / max(1, h - 1)) + (255,))
    return column.resize((w, h))


def mask_shape(size, draw_fn):
    mask = Image.new("L", size, 0)
    draw_fn(ImageDraw.Draw(mask))
    return mask


def paste_fill(img, fill, mask):
    """Composites a colour or an RGBA image through an 8-bit mask onto img (RGBA)."""
    if isinstance(fill, tuple):
        layer = Image.new("RGBA", img.size, fill if len(fill) == 4 else fill + (255,))
    else:
        layer = fill.copy()
    # Scale the layer's own alpha by the mask; the colours stay as they are, so soft edges
    # fade out instead of darkening.
    layer.putalpha(ImageChops.multiply(mask, layer.getchannel("A")))
    img.alpha_composite(layer)


def draw_mark(size):
    """The program's mark: a blue tile with a spotlight and a laser dot, drawn at `size`."""
    s = size
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    r = int(s * 0.22)
    tile = mask_shape((s, s), lambda d: d.rounded_rectangle((0, 0, s - 1, s - 1), r, fill=255))
    paste_fill(img, vertical_gradient((s, s), (64, 168, 235), (12, 98, 160)), tile)
    # A light rim along the top edge gives the tile some depth.
    rim = mask_shape((s, s), lambda d: d.rounded_rectangle((0, 0, s - 1, s - 1), r,
                                                           outline=255, width=max(1, s // 40)))
    paste_fill(img, (255, 255, 255, 70), rim)
    c = s / 2
    # Beam: the soft halo round the lit circle.
    glow = mask_shape((s, s), lambda d: d.ellipse((c - s * 0.36, c - s * 0.36,
                                                   c + s * 0.36, c + s * 0.36), fill=110))
    glow = glow.filter(ImageFilter.GaussianBlur(s * 0.04))
    glow = ImageChops.multiply(glow, tile)
    paste_fill(img, (255, 255, 255), glow)
    spot = mask_shape((s, s), lambda d: d.ellipse((c - s * 0.27, c - s * 0.27,
                                                   c + s * 0.27, c + s * 0.27), fill=255))
    paste_fill(img, vertical_gradient((s, s), (255, 255, 255), (222, 238, 250)), spot)
    dot = mask_shape((s, s), lambda d: d.ellipse((c - s * 0.085, c - s * 0.085,
                                                  c + s * 0.085, c + s * 0.085), fill=255))
    paste_fill(img, LASER_RED, dot)
    shine = mask_shape((s, s), lambda d: d.ellipse((c - s * 0.045, c - s * 0.055,
                                                    c - s * 0.005, c - s * 0.015), fill=150))
    paste_fill(img, (255, 255, 255), shine)
    return img


def downscale(img, size):
    return img.resize(size, Image.LANCZOS)


def to_palette_png(img, path):
    """Saves an RGBA picture as an indexed PNG, keeping per-index transparency."""
    img.quantize(colors=128, method=Image.Quantize.FASTOCTREE).save(path, optimize=True)


def make_logo():
    """1080 x 439 GIF (89a): the mark and the word mark, transparent round them."""
    k = 2
    w, h = 1080 * k, 439 * k
    img = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    mark_size = 330 * k
    img.alpha_composite(draw_mark(mark_size), (40 * k, (h - mark_size) // 2))
    d = ImageDraw.Draw(img)
    word = font("logo", 250 * k)
    x = 420 * k
    d.text((x, 222 * k), "Kavri", font=word, fill=NAVY + (255,), anchor="ls")
    tag = font("bold", 66 * k)
    tx = x + 8 * k
    for ch in "PRESENTER":
        d.text((tx, 330 * k), ch, font=tag, fill=BLUE_DARK + (255,), anchor="ls")
        tx += d.textlength(ch, font=tag) + 16 * k
    # An underline in the sheet's blue ties the two lines together.
    d.rounded_rectangle((x + 8 * k, 254 * k, x + 600 * k, 268 * k), 7 * k, fill=BLUE + (255,))
    img = downscale(img, (1080, 439))

    # GIF transparency is on/off: blend half-covered pixels with the window colour and make
    # the rest fully transparent.
    alpha = img.getchannel("A")
    flat = Image.new("RGB", img.size, WINDOW_BACK)
    flat.paste(img.convert("RGB"), (0, 0), alpha)
    pal = flat.quantize(colors=255, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    hole = alpha.point(lambda a: 255 if a < 24 else 0)
    pal.paste(255, (0, 0), hole)
    palette = pal.getpalette()[: 255 * 3] + list(WINDOW_BACK)
    pal.putpalette(palette)
    pal.save(os.path.join(OUT, "logo_new.JPG"), format="GIF", transparency=255, optimize=True)


def make_logo_min():
    to_size = 64
    img = downscale(draw_mark(to_size * 8), (to_size, to_size))
    img.save(os.path.join(OUT, "logo_min.png"), optimize=True)


def make_check_boxes():
    k = 8
    s = 52 * k
    pad = 3 * k
    box = (pad, pad, s - 1 - pad, s - 1 - pad)
    radius = 9 * k

    off = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    d = ImageDraw.Draw(off)
    d.rounded_rectangle(box, radius, fill=BLUE_MID + (255,))
    d.rounded_rectangle((box[0] + 4 * k, box[1] + 4 * k, box[2] - 4 * k, box[3] - 4 * k),
                        radius - 4 * k, fill=(255, 255, 255, 255))
    to_palette_png(downscale(off, (52, 52)), os.path.join(OUT, "checkbox_unchecked.png"))

    on = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    fill = mask_shape((s, s), lambda dd: dd.rounded_rectangle(box, radius, fill=255))
    paste_fill(on, vertical_gradient((s, s), BLUE, BLUE_DARK), fill)
    d = ImageDraw.Draw(on)
    tick = [(14 * k, 27 * k), (23 * k, 36 * k), (39 * k, 17 * k)]
    d.line(tick, fill=(255, 255, 255, 255), width=6 * k, joint="curve")
    for px, py in (tick[0], tick[2]):
        d.ellipse((px - 3 * k, py - 3 * k, px + 3 * k, py + 3 * k), fill=(255, 255, 255, 255))
    to_palette_png(downscale(on, (52, 52)), os.path.join(OUT, "checkbox_checked.png"))


def make_radios():
    k = 8
    s = 37 * k
    c = s / 2
    outer = 17.5 * k
    ring = 3 * k

    def base(border):
        img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
        d = ImageDraw.Draw(img)
        d.ellipse((c - outer, c - outer, c + outer, c + outer), fill=border + (255,))
        inner = outer - ring
        d.ellipse((c - inner, c - inner, c + inner, c + inner), fill=(255, 255, 255, 255))
        return img

    to_palette_png(downscale(base(BLUE_MID), (37, 37)), os.path.join(OUT, "radio_normal.png"))

    sel = base(BLUE)
    dot_r = 8.5 * k
    dot = mask_shape((s, s), lambda d: d.ellipse((c - dot_r, c - dot_r, c + dot_r, c + dot_r),
                                                 fill=255))
    paste_fill(sel, vertical_gradient((s, s), BLUE_LIGHT, BLUE_DARK), dot)
    to_palette_png(downscale(sel, (37, 37)), os.path.join(OUT, "radio_selected.png"))


def make_arrow(name, size, direction, color):
    """A small solid triangle. `direction` is where its point looks."""
    k = 16
    w, h = size
    img = Image.new("RGBA", (w * k, h * k), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    # Triangle 8 px across and 4 px deep. The flat side lies on a pixel edge and the slanted
    # sides run through pixel corners, so the arrow stays sharp at this size.
    if direction == "down":
        x, y = (w - 8) / 2, 2
        pts = [(x, y), (x + 8, y), (x + 4, y + 4)]
    elif direction == "up":
        x, y = (w - 8) / 2, h - 2
        pts = [(x, y), (x + 8, y), (x + 4, y - 4)]
    elif direction == "right":
        x, y = 2, (h - 8) / 2
        pts = [(x, y), (x, y + 8), (x + 4, y + 4)]
    else:
        x, y = w - 2, (h - 8) / 2
        pts = [(x, y), (x, y + 8), (x - 4, y + 4)]
    pts = [(px * k, py * k) for px, py in pts]
    d.polygon(pts, fill=color + (255,))
    downscale(img, (w, h)).save(os.path.join(OUT, name), optimize=True)


def make_arrows():
    make_arrow("array_down.png", (10, 9), "down", NAVY)
    make_arrow("add-line_vertical.png", (10, 9), "down", BLUE_DARK)
    make_arrow("sub-line_vertical.png", (10, 9), "up", BLUE_DARK)
    make_arrow("add-line_horizontal.png", (9, 10), "right", BLUE_DARK)
    make_arrow("sub-line_horizontal.png", (9, 10), "left", BLUE_DARK)


def desktop_icon(d, x, y, kind, k):
    """A 22 px desktop icon with a caption-like bar under it."""
    s = 22 * k
    if kind == "folder":
        d.rounded_rectangle((x, y + 3 * k, x + 9 * k, y + 8 * k), 2 * k, fill=(230, 170, 40))
        d.rounded_rectangle((x, y + 5 * k, x + s, y + s - 2 * k), 2 * k, fill=(252, 196, 62))
        d.rectangle((x + 1 * k, y + 8 * k, x + s - 1 * k, y + 9 * k), fill=(255, 222, 130))
    elif kind == "doc":
        d.polygon([(x + 4 * k, y), (x + 14 * k, y), (x + 18 * k, y + 4 * k),
                   (x + 18 * k, y + s), (x + 4 * k, y + s)], fill=(250, 250, 252))
        d.polygon([(x + 14 * k, y), (x + 18 * k, y + 4 * k), (x + 14 * k, y + 4 * k)],
                  fill=(190, 200, 215))
        for i, length in enumerate((10, 8, 10, 6)):
            yy = y + (8 + 3 * i) * k
            d.rectangle((x + 6 * k, yy, x + (6 + length) * k, yy + 1 * k), fill=(70, 120, 200))
    elif kind == "globe":
        d.ellipse((x + 1 * k, y + 1 * k, x + s - 1 * k, y + s - 1 * k), fill=(46, 170, 110))
        d.ellipse((x + 6 * k, y + 1 * k, x + s - 6 * k, y + s - 1 * k), outline=(210, 245, 225),
                  width=k)
        d.line((x + 1 * k, y + s / 2, x + s - 1 * k, y + s / 2), fill=(210, 245, 225), width=k)
        d.line((x + 3 * k, y + 6 * k, x + s - 3 * k, y + 6 * k), fill=(210, 245, 225), width=k)
        d.line((x + 3 * k, y + s - 6 * k, x + s - 3 * k, y + s - 6 * k), fill=(210, 245, 225),
               width=k)
    else:  # bin
        d.rectangle((x + 4 * k, y + 2 * k, x + 18 * k, y + 4 * k), fill=(215, 222, 232))
        d.polygon([(x + 5 * k, y + 5 * k), (x + 17 * k, y + 5 * k), (x + 16 * k, y + s),
                   (x + 6 * k, y + s)], fill=(195, 205, 220))
        for i in range(3):
            xx = x + (8 + 3 * i) * k
            d.rectangle((xx, y + 8 * k, xx + k, y + s - 3 * k), fill=(150, 165, 185))
    # Caption.
    d.rounded_rectangle((x - 1 * k, y + s + 3 * k, x + s + 1 * k, y + s + 5 * k), k,
                        fill=(235, 242, 255))


def make_preview():
    """300 x 200 JPEG: a blue desktop with icons, two windows and a task bar."""
    k = 4
    W, H = 300 * k, 200 * k
    img = vertical_gradient((W, H), (24, 92, 176), (8, 34, 92)).convert("RGB")
    d = ImageDraw.Draw(img, "RGBA")

    # Wallpaper: soft light bands sweeping across.
    for i, (amp, base, alpha) in enumerate(((26, 120, 46), (18, 150, 36), (30, 170, 28))):
        pts = []
        for x in range(0, W + 1, 8):
            t = x / W
            y = (base + amp * math.sin(2 * math.pi * (t * (1.1 + 0.3 * i) + 0.2 * i))) * k
            pts.append((x, y))
        d.polygon(pts + [(W, H), (0, H)], fill=(120, 190, 255, alpha))
    for cx, cy, r in ((270, 30, 26), (240, 58, 12), (40, 170, 18)):
        d.ellipse(((cx - r) * k, (cy - r) * k, (cx + r) * k, (cy + r) * k),
                  fill=(170, 215, 255, 34))

    # Desktop icons down the left.
    for i, kind in enumerate(("folder", "doc", "globe", "bin")):
        desktop_icon(d, 10 * k, (10 + 38 * i) * k, kind, k)

    # A photo viewer window at the back, top right.
    bx0, by0, bx1, by1 = 196, 14, 290, 84
    d.rectangle(((bx0 + 2) * k, (by0 + 3) * k, (bx1 + 2) * k, (by1 + 3) * k), fill=(0, 0, 20, 70))
    d.rectangle((bx0 * k, by0 * k, bx1 * k, by1 * k), fill=(238, 241, 245))
    d.rectangle((bx0 * k, by0 * k, bx1 * k, (by0 + 9) * k), fill=(60, 70, 86))
    photo = vertical_gradient(((bx1 - bx0 - 8) * k, (by1 - by0 - 17) * k), (250, 190, 110),
                              (240, 120, 90)).convert("RGB")
    pd = ImageDraw.Draw(photo)
    pw, ph = photo.size
    pd.ellipse((pw * 0.62, ph * 0.18, pw * 0.80, ph * 0.45), fill=(255, 240, 200))
    pd.polygon([(0, ph), (pw * 0.35, ph * 0.45), (pw * 0.6, ph * 0.75), (pw * 0.75, ph * 0.55),
                (pw, ph * 0.9), (pw, ph)], fill=(70, 60, 100))
    img.paste(photo, ((bx0 + 4) * k, (by0 + 13) * k))

    # The main window: a slide-like document with text lines and a chart, across the centre.
    x0, y0, x1, y1 = 56, 34, 246, 166
    d.rectangle(((x0 + 3) * k, (y0 + 4) * k, (x1 + 3) * k, (y1 + 4) * k), fill=(0, 0, 30, 90))
    d.rectangle((x0 * k, y0 * k, x1 * k, y1 * k), fill=(250, 251, 253))
    d.rectangle((x0 * k, y0 * k, x1 * k, (y0 + 12) * k), fill=BLUE)
    for i, col in enumerate(((255, 95, 87), (255, 189, 46), (40, 200, 64))):
        cx = (x1 - 8 - 8 * i) * k
        d.ellipse((cx - 2.5 * k, (y0 + 3.5) * k, cx + 2.5 * k, (y0 + 8.5) * k), fill=col)
    small = font("bold", 7 * k)
    d.text(((x0 + 5) * k, (y0 + 9.5) * k), "Quarterly review", font=small,
           fill=(255, 255, 255), anchor="ls")
    # Tool strip.
    d.rectangle((x0 * k, (y0 + 12) * k, x1 * k, (y0 + 20) * k), fill=(230, 236, 244))
    for i in range(7):
        tx = (x0 + 5 + 9 * i) * k
        d.rounded_rectangle((tx, (y0 + 14) * k, tx + 6 * k, (y0 + 18) * k), k,
                            fill=(150, 170, 200) if i % 3 else (90, 130, 190))

    head = font("bold", 12 * k)
    d.text(((x0 + 10) * k, (y0 + 36) * k), "Sales 2024", font=head, fill=NAVY, anchor="ls")
    d.rectangle(((x0 + 10) * k, (y0 + 39) * k, (x0 + 62) * k, (y0 + 40) * k), fill=BLUE)
    # Bullet lines run up to the chart, so the middle of the picture (where the preview
    # draws its effects) holds both text and bars.
    cx0, cy0, cx1, cy1 = 149, 58, 238, 150
    body = font("sans", 6 * k)
    lines = ["Sales up 18 % in 2023", "New markets: 4 regions", "Churn below 2 % a year",
             "Team grew to 42 people", "Next: product launch"]
    for i, text in enumerate(lines):
        yy = (y0 + 52 + 11 * i) * k
        d.ellipse(((x0 + 11) * k, yy - 3.2 * k, (x0 + 13.5) * k, yy - 0.7 * k), fill=BLUE)
        d.text(((x0 + 17) * k, yy), text, font=body, fill=(50, 60, 75), anchor="ls")
        end = x0 + 17 + d.textlength(text, font=body) / k
        assert end < cx0 - 1, "bullet line runs into the chart: %s" % text

    # Bar chart with its figures over the bars.
    d.rectangle((cx0 * k, cy0 * k, cx1 * k, cy1 * k), fill=(241, 245, 250))
    for gy in range(cy0 + 10, cy1, 16):
        d.line((cx0 * k, gy * k, cx1 * k, gy * k), fill=(205, 214, 226), width=k // 2)
    values = (38, 52, 46, 66, 60, 78)
    colours = ((70, 160, 230), (255, 150, 60), (70, 160, 230), (255, 150, 60),
               (70, 160, 230), (46, 190, 120))
    figure = font("bold", 5 * k)
    for i, (v, col) in enumerate(zip(values, colours)):
        bx = cx0 + 4 + 14 * i
        d.rectangle((bx * k, (cy1 - 6 - v) * k, (bx + 9) * k, (cy1 - 6) * k), fill=col)
        d.text(((bx + 4.5) * k, (cy1 - 8 - v) * k), str(v), font=figure, fill=(60, 70, 90),
               anchor="ms")
    d.line((cx0 * k, (cy1 - 6) * k, cx1 * k, (cy1 - 6) * k), fill=(90, 100, 120), width=k)
    # Trend line with markers above the figures.
    pts = [((cx0 + 8.5 + 14 * i) * k, (cy1 - 22 - v) * k) for i, v in enumerate(values)]
    d.line(pts, fill=(200, 40, 60), width=k, joint="curve")
    for px, py in pts:
        d.ellipse((px - 2 * k, py - 2 * k, px + 2 * k, py + 2 * k), fill=(255, 255, 255),
                  outline=(200, 40, 60), width=k)

    # Task bar with a start button, running programs and a clock.
    d.rectangle((0, 184 * k, W, H), fill=(10, 20, 40, 200))
    d.rounded_rectangle((4 * k, 187 * k, 14 * k, 197 * k), 2 * k, fill=BLUE_LIGHT)
    d.rectangle((8.5 * k, 189 * k, 9.5 * k, 195 * k), fill=(255, 255, 255))
    d.rectangle((6 * k, 191.5 * k, 12 * k, 192.5 * k), fill=(255, 255, 255))
    for i, col in enumerate(((252, 196, 62), BLUE, (46, 170, 110), (240, 120, 90))):
        tx = (22 + 14 * i) * k
        d.rounded_rectangle((tx, 188 * k, tx + 9 * k, 196 * k), 2 * k, fill=col)
        if i == 1:
            d.rectangle((tx, 197.5 * k, tx + 9 * k, 198.5 * k), fill=BLUE_LIGHT)
    d.text((292 * k, 195 * k), "10:24", font=font("sans", 7 * k), fill=(230, 238, 250),
           anchor="rs")

    img = img.resize((300, 200), Image.LANCZOS)
    img.save(os.path.join(OUT, "preview_normal.jpg"), quality=92, optimize=True,
             subsampling=0)


def main():
    os.makedirs(OUT, exist_ok=True)
    make_logo()
    make_logo_min()
    make_check_boxes()
    make_radios()
    make_arrows()
    make_preview()
    for name in sorted(os.listdir(OUT)):
        path = os.path.join(OUT, name)
        with Image.open(path) as im:
            print("%-26s %-4s %4d x %-4d %-5s %7d bytes" % (name, im.format, im.width,
                                                           im.height, im.mode,
                                                           os.path.getsize(path)))


if __name__ == "__main__":
    main()
