"""Draws the window skins and the program icon into res/ (run with Debian's python3 and python3-pil)."""
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

FONT_DIR = "/usr/share/fonts/truetype/dejavu/"
RES_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res")

# Faces sit under a title row 7 dialog units (11 pixels) high.
FACE_TOP = 11
# A closed drop-down list is one line of the dialog font high, whatever its template height.
COMBO_CLOSED_HEIGHT = 21

GROUND_ROWS = [(0x25,) * 3, (0x25,) * 3, (0x4A,) * 3, (0x3E,) * 3, (0x33,) * 3, (0x2A,) * 3]
FRAME = (0xE6, 0xE5, 0x42)
LABEL = (0xEA, 0xE9, 0x44)
WHITE = (0xFF, 0xFF, 0xFF)
BLACK = (0x00, 0x00, 0x00)
FACE_GREY = (0x80, 0x80, 0x80)
EDGE_DARK = (0x40, 0x40, 0x40)
RULE_LIGHT = (0x81, 0x90, 0xA5)
RULE_DARK = (0x43, 0x55, 0x6C)
LOGO_TOP = (0xF2, 0xEE, 0x3A)
LOGO_BOTTOM = (0x1E, 0x4E, 0xC8)
RULE_STEPS = 8
LOGO_STEPS = 16

# Control rectangles in window pixels, in template order: (name, kind, x, y, width, height, caption).
MAIN_CONTROLS = [
    ("IDC_MESSAGE", "edit", 15, 163, 294, 55, ""),
    ("IDC_FROM", "edit", 227, 36, 84, 21, ""),
    ("IDC_CALLBACK", "edit", 227, 62, 84, 21, ""),
    ("IDC_PHONE", "edit", 227, 88, 84, 21, ""),
    ("IDC_SEND", "button", 225, 254, 84, 24, "Send Message"),
    ("IDC_CHAR_COUNT", "edit", 263, 224, 33, 21, ""),
    ("IDC_CARRIER", "combo", 227, 114, 84, 115, ""),
    ("IDC_CLEAR", "button", 15, 223, 69, 24, "Clear"),
    ("IDC_CONTACTS", "list", 15, 36, 122, 72, "Sample list box"),
    ("IDC_REMOVE", "button", 74, 112, 63, 24, "Remove"),
    ("IDC_ADD", "button", 15, 112, 53, 24, "Add"),
]
ADD_CONTACT_CONTROLS = [
    ("IDOK", "default", 12, 109, 75, 23, "OK"),
    ("IDCANCEL", "button", 102, 109, 75, 23, "Cancel"),
    ("IDC_CONTACT_NAME", "edit", 65, 26, 114, 23, ""),
    ("IDC_CONTACT_NUMBER", "edit", 65, 52, 113, 23, ""),
    ("IDC_CONTACT_CARRIER", "combo", 65, 80, 84, 115, ""),
]
ABOUT_CONTROLS = [
    ("IDOK", "default", 114, 185, 75, 23, "OK"),
]

# Field labels: (text, control whose left edge and middle they line up with).
MAIN_LABELS = [
    ("from", "IDC_FROM"),
    ("callback #", "IDC_CALLBACK"),
    ("phone #", "IDC_PHONE"),
    ("carrier", "IDC_CARRIER"),
    ("characters", "IDC_CHAR_COUNT"),
]
ADD_CONTACT_LABELS = [
    ("name", "IDC_CONTACT_NAME"),
    ("phone #", "IDC_CONTACT_NUMBER"),
    ("carrier", "IDC_CONTACT_CARRIER"),
]
# Headings in face pixels: (text, x, baseline, rule end x).
MAIN_HEADINGS = [
    ("contacts", 15, 19, 136),
    ("details", 150, 19, 310),
    ("message", 15, 146, 308),
]

CREDITS = [
    ("author", "The mervasTX developers"),
    ("email", "mervastx@example.com"),
    ("url", "www.example.com/mervastx"),
]
VERSION_MARK = "v.06"


def font(name, size):
    return ImageFont.truetype(FONT_DIR + name, size)


HEADING_FONT = font("DejaVuSans-Bold.ttf", 12)
LABEL_FONT = font("DejaVuSans-BoldOblique.ttf", 11)
CAPTION_FONT = font("DejaVuSansCondensed.ttf", 11)
LIST_FONT = font("DejaVuSans.ttf", 11)
TITLE_FONT = font("DejaVuSans-Bold.ttf", 10)
LOGO_FONT = font("DejaVuSansCondensed-BoldOblique.ttf", 32)
NAME_FONT = font("DejaVuSans-BoldOblique.ttf", 18)
VERSION_FONT = font("DejaVuSans-Bold.ttf", 9)
CREDIT_LABEL_FONT = font("DejaVuSans-BoldOblique.ttf", 10)
CREDIT_FONT = font("DejaVuSansCondensed.ttf", 10)


def blend(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def steps(a, b, count):
    return [blend(a, b, i / (count - 1)) for i in range(count)]


RULE_COLOURS = steps(RULE_LIGHT, RULE_DARK, RULE_STEPS)
LOGO_COLOURS = steps(LOGO_TOP, LOGO_BOTTOM, LOGO_STEPS)


def ground(width, height, window_top):
    """Ribbed ground whose grooves continue across the window, whatever row the bitmap starts at."""
    image = Image.new("RGB", (width, height))
    draw = ImageDraw.Draw(image)
    for y in range(height):
        draw.line([(0, y), (width - 1, y)], fill=GROUND_ROWS[(window_top + y) % len(GROUND_ROWS)])
    return image


def frame(image, top=False, left=False, right=False, bottom=False):
    draw = ImageDraw.Draw(image)
    w, h = image.size
    if top:
        draw.line([(0, 0), (w - 1, 0)], fill=FRAME)
    if bottom:
        draw.line([(0, h - 1), (w - 1, h - 1)], fill=FRAME)
    if left:
        draw.line([(0, 0), (0, h - 1)], fill=FRAME)
    if right:
        draw.line([(w - 1, 0), (w - 1, h - 1)], fill=FRAME)


def rule(draw, x0, x1, y, height=2):
    """Blue-grey rule fading from light to dark in a few fixed steps."""
    span = max(1, x1 - x0 + 1)
    for x in range(x0, x1 + 1):
        colour = RULE_COLOURS[min(RULE_STEPS - 1, (x - x0) * RULE_STEPS // span)]
        draw.line([(x, y), (x, y + height - 1)], fill=colour)


def ink_box(draw, text, fnt):
    return draw.textbbox((0, 0), text, font=fnt, anchor="ls")


def heading(draw, text, x, baseline, rule_end):
    draw.text((x, baseline), text, font=HEADING_FONT, fill=WHITE, anchor="ls")
    right = x + ink_box(draw, text, HEADING_FONT)[2]
    rule(draw, right + 5, rule_end, baseline - 5)


def face_rect(control):
    """A control's rectangle in face pixels, inclusive; drop-downs only as tall as when closed."""
    _, kind, x, y, w, h, _ = control
    if kind == "combo":
        h = COMBO_CLOSED_HEIGHT
    return x, y - FACE_TOP, x + w - 1, y - FACE_TOP + h - 1


def sunken_box(draw, x0, y0, x1, y1):
    draw.rectangle([x0, y0, x1, y1], fill=WHITE)
    draw.line([(x0, y0), (x1, y0)], fill=EDGE_DARK)
    draw.line([(x0, y0), (x0, y1)], fill=EDGE_DARK)
    draw.line([(x1, y0 + 1), (x1, y1)], fill=FACE_GREY)
    draw.line([(x0 + 1, y1), (x1, y1)], fill=FACE_GREY)


def button_face(draw, x0, y0, x1, y1):
    draw.rectangle([x0, y0, x1, y1], fill=FACE_GREY, outline=BLACK)
    draw.rectangle([x0 + 1, y0 + 1, x1 - 1, y1 - 1], outline=WHITE)


def centred_text(draw, text, fnt, x0, y0, x1, y1, fill):
    left, top, right, bottom = draw.textbbox((0, 0), text, font=fnt, anchor="ls")
    # Centre on the letters' body so captions with and without descenders sit alike.
    body_top = draw.textbbox((0, 0), "Ax", font=fnt, anchor="ls")[1]
    x = (x0 + x1 + 1 - (right - left)) // 2 - left
    y = (y0 + y1 + 1 - body_top) // 2
    draw.text((x, y), text, font=fnt, fill=fill, anchor="ls")


def focus_rect(draw, x0, y0, x1, y1):
    for x in range(x0, x1 + 1):
        for y in (y0, y1):
            if (x + y) % 2 == 0:
                draw.point((x, y), fill=BLACK)
    for y in range(y0 + 1, y1):
        for x in (x0, x1):
            if (x + y) % 2 == 0:
                draw.point((x, y), fill=BLACK)


def down_arrow(draw, cx, top, half_width, fill):
    for row in range(half_width + 1):
        draw.line([(cx - half_width + row, top + row), (cx + half_width - row, top + row)], fill=fill)


def paint_control(draw, control):
    kind, caption = control[1], control[6]
    x0, y0, x1, y1 = face_rect(control)
    if kind in ("edit", "list", "combo"):
        sunken_box(draw, x0, y0, x1, y1)
    if kind == "list":
        draw.text((x0 + 4, y0 + 14), caption, font=LIST_FONT, fill=BLACK, anchor="ls")
    elif kind == "combo":
        bx0 = x1 - 17
        button_face(draw, bx0, y0 + 1, x1 - 1, y1 - 1)
        down_arrow(draw, (bx0 + x1) // 2, (y0 + y1) // 2 - 1, 3, BLACK)
    elif kind in ("button", "default"):
        button_face(draw, x0, y0, x1, y1)
        centred_text(draw, caption, CAPTION_FONT, x0, y0, x1, y1, BLACK)
        if kind == "default":
            focus_rect(draw, x0 + 3, y0 + 3, x1 - 3, y1 - 3)


def label(draw, text, control):
    x0, y0, _, y1 = face_rect(control)
    width = ink_box(draw, text, LABEL_FONT)[2]
    body_top = ink_box(draw, "x", LABEL_FONT)[1]
    draw.text((x0 - 4 - width, (y0 + y1 + 1 - body_top) // 2), text, font=LABEL_FONT, fill=LABEL, anchor="ls")


def logo(image, x, baseline):
    """The name's stem in large italics, shaded from yellow at the top into blue at the bottom."""
    draw = ImageDraw.Draw(image)
    text = "mervas"
    box = ink_box(draw, text, LOGO_FONT)
    mask = Image.new("L", image.size, 0)
    ImageDraw.Draw(mask).text((x, baseline), text, font=LOGO_FONT, fill=255, anchor="ls")
    shadow = Image.new("L", image.size, 0)
    ImageDraw.Draw(shadow).text((x + 2, baseline + 2), text, font=LOGO_FONT, fill=255, anchor="ls")
    image.paste(BLACK, None, shadow)
    top, height = baseline + box[1], box[3] - box[1]
    shade = Image.new("RGB", image.size)
    shade_draw = ImageDraw.Draw(shade)
    for y in range(image.size[1]):
        t = min(max((y - top) / max(1, height - 1), 0.0), 1.0)
        shade_draw.line([(0, y), (image.size[0] - 1, y)], fill=LOGO_COLOURS[round(t * (LOGO_STEPS - 1))])
    image.paste(shade, None, mask)
    return x + box[2], baseline


def paint_controls(image, controls, labels):
    draw = ImageDraw.Draw(image)
    by_name = {c[0]: c for c in controls}
    for control in controls:
        paint_control(draw, control)
    for text, name in labels:
        label(draw, text, by_name[name])


def main_skin():
    image = ground(326, 277, FACE_TOP)
    draw = ImageDraw.Draw(image)
    for text, x, baseline, rule_end in MAIN_HEADINGS:
        heading(draw, text, x, baseline, rule_end)
    paint_controls(image, MAIN_CONTROLS, MAIN_LABELS)
    logo(image, 7, 265)
    frame(image, left=True, right=True, bottom=True)
    return image


def add_contact_skin():
    image = ground(192, 137, FACE_TOP)
    paint_controls(image, ADD_CONTACT_CONTROLS, ADD_CONTACT_LABELS)
    frame(image, left=True, right=True, bottom=True)
    return image


def about_skin():
    image = ground(201, 212, FACE_TOP)
    draw = ImageDraw.Draw(image)
    width = ink_box(draw, "mervas", LOGO_FONT)[2]
    right, baseline = logo(image, (image.size[0] - width) // 2, 46)
    draw.text((right - 2, baseline + 10), VERSION_MARK, font=VERSION_FONT, fill=LABEL, anchor="rs")
    centred_text(draw, "mervasTX", NAME_FONT, 0, 62, 200, 84, WHITE)
    rule(draw, 14, 186, 92, height=1)
    label_right = 46
    for row, (name, value) in enumerate(CREDITS):
        baseline = 114 + row * 17
        width = ink_box(draw, name, CREDIT_LABEL_FONT)[2]
        draw.text((label_right - width, baseline), name, font=CREDIT_LABEL_FONT, fill=LABEL, anchor="ls")
        draw.text((label_right + 6, baseline), value, font=CREDIT_FONT, fill=WHITE, anchor="ls")
    paint_controls(image, ABOUT_CONTROLS, [])
    frame(image, left=True, right=True, bottom=True)
    return image


def title_strip(width, text, last_in_row):
    image = ground(width, 12, 0)
    draw = ImageDraw.Draw(image)
    draw.text((6, 9), text, font=TITLE_FONT, fill=WHITE, anchor="ls")
    end = width - 2 if last_in_row else width - 1
    rule(draw, 6 + ink_box(draw, text, TITLE_FONT)[2] + 6, end, 5)
    frame(image, top=True, left=True, bottom=True, right=last_in_row)
    return image


def minimize_glyph():
    image = ground(11, 12, 0)
    draw = ImageDraw.Draw(image)
    draw.rectangle([1, 1, 10, 2], fill=BLACK)
    down_arrow(draw, 5, 5, 3, WHITE)
    frame(image, top=True, left=True, bottom=True)
    return image


def close_glyph():
    image = ground(12, 12, 0)
    draw = ImageDraw.Draw(image)
    for i in range(6):
        for x, y in ((3 + i, 3 + i), (8 - i, 3 + i)):
            draw.point((x, y), fill=WHITE)
            draw.point((x + (1 if x < 6 else -1), y), fill=WHITE)
    frame(image, top=True, left=True, right=True, bottom=True)
    return image


# Palette: the exact colours the look depends on first, the rest of the antialiased blends after.
KEY_COLOURS = sorted(set(GROUND_ROWS + [FRAME, LABEL, WHITE, BLACK, FACE_GREY, EDGE_DARK]
                         + RULE_COLOURS + LOGO_COLOURS))


def shared_palette(images):
    atlas = Image.new("RGB", (max(i.size[0] for i in images), sum(i.size[1] for i in images)))
    y = 0
    for image in images:
        atlas.paste(image, (0, y))
        y += image.size[1]
    spare = 256 - len(KEY_COLOURS)
    reduced = atlas.quantize(colors=spare, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    flat = reduced.getpalette()[: spare * 3]
    extra = sorted({tuple(flat[i:i + 3]) for i in range(0, len(flat), 3)} - set(KEY_COLOURS))
    palette = KEY_COLOURS + extra
    return palette + [BLACK] * (256 - len(palette))


def nearest_indices(image, palette):
    cache = {}
    indices = []
    for colour in image.getdata():
        index = cache.get(colour)
        if index is None:
            index = min(range(len(palette)),
                        key=lambda i: sum((colour[c] - palette[i][c]) ** 2 for c in range(3)))
            cache[colour] = index
        indices.append(index)
    return indices


def bmp_bytes(width, height, indices, palette):
    stride = (width + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytes(indices[y * width:(y + 1) * width])
        rows.append(row + b"\0" * (stride - width))
    pixels = b"".join(rows)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 0, 0, 0, 0)
    return header + info + table + pixels


VGA = [(0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
       (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
       (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
       (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF)]

# Pixel lettering for the icon: the small name stem across the top and the big initials in the oval.
SMALL_GLYPHS = {
    "m": ["XXXX.", "X.X.X", "X.X.X", "X.X.X", "X.X.X"],
    "e": ["XXX", "X.X", "XXX", "X..", "XXX"],
    "r": ["XXX", "X..", "X..", "X..", "X.."],
    "v": ["X.X", "X.X", "X.X", "X.X", ".X."],
    "a": ["XXX", "..X", "XXX", "X.X", "XXX"],
    "s": ["XXX", "X..", "XXX", "..X", "XXX"],
}
BIG_GLYPHS = {
    "T": ["XXXXXXXX", "XXXXXXXX", "...XX...", "...XX...", "...XX...", "...XX...", "...XX...", "...XX..."],
    "X": ["XX....XX", "XXX..XXX", ".XXXXXX.", "..XXXX..", "..XXXX..", ".XXXXXX.", "XXX..XXX", "XX....XX"],
}
ICON_BLACK, ICON_BLUE, ICON_YELLOW, ICON_WHITE = 0, 12, 11, 15


def stamp(pixels, glyphs, text, x, y, colour):
    """Writes the glyphs one column apart; returns the cells it set."""
    cells = set()
    for ch in text:
        rows = glyphs[ch]
        for dy, row in enumerate(rows):
            for dx, bit in enumerate(row):
                if bit == "X":
                    pixels[y + dy][x + dx] = colour
                    cells.add((x + dx, y + dy))
        x += len(rows[0]) + 1
    return cells


def text_width(glyphs, text):
    return sum(len(glyphs[ch][0]) for ch in text) + len(text) - 1


def icon_pixels():
    """32 x 32 VGA colour indices, None where transparent."""
    pixels = [[None] * 32 for _ in range(32)]
    cx, cy, rx, ry = 16.0, 19.0, 15.0, 10.0
    # Rim from the outside in: black, yellow, black, then the white face.
    rings = [(0.0, ICON_BLACK), (1.0, ICON_YELLOW), (2.4, ICON_BLACK), (3.4, ICON_WHITE)]
    for y in range(32):
        for x in range(32):
            for inset, colour in rings:
                dx, dy = (x + 0.5 - cx) / (rx - inset), (y + 0.5 - cy) / (ry - inset)
                if dx * dx + dy * dy <= 1.0:
                    pixels[y][x] = colour
    stem = "mervas"
    letters = stamp(pixels, SMALL_GLYPHS, stem, (32 - text_width(SMALL_GLYPHS, stem)) // 2, 2, ICON_YELLOW)
    for x, y in {(x + dx, y + dy) for x, y in letters for dx in (-1, 0, 1) for dy in (-1, 0, 1)} - letters:
        pixels[y][x] = ICON_BLACK
    stamp(pixels, BIG_GLYPHS, "TX", (32 - text_width(BIG_GLYPHS, "TX")) // 2, 15, ICON_BLUE)
    return pixels


def ico_bytes():
    xor = bytearray()
    mask = bytearray()
    for row in reversed(icon_pixels()):
        colours = [ICON_BLACK if c is None else c for c in row]
        for x in range(0, 32, 2):
            xor.append(colours[x] << 4 | colours[x + 1])
        bits = 0
        for c in row:
            bits = bits << 1 | (c is None)
        mask += struct.pack(">I", bits)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA)
    info = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = info + table + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 22)
    return directory + image


def main(out_dir=RES_DIR):
    main_face = main_skin()
    images = {
        "main_skin.bmp": main_face,
        "about_badge.bmp": main_face.crop((0, 239, 134, 277)),
        "minimize.bmp": minimize_glyph(),
        "close.bmp": close_glyph(),
        "main_title.bmp": title_strip(303, "mervasTX", last_in_row=False),
        "add_contact_skin.bmp": add_contact_skin(),
        "add_contact_title.bmp": title_strip(192, "add contact", last_in_row=True),
        "about_skin.bmp": about_skin(),
        "about_title.bmp": title_strip(201, "about mervasTX", last_in_row=True),
    }
    palette = shared_palette(list(images.values()))
    os.makedirs(out_dir, exist_ok=True)
    for name, image in images.items():
        width, height = image.size
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(bmp_bytes(width, height, nearest_indices(image, palette), palette))
    with open(os.path.join(out_dir, "mervasTX.ico"), "wb") as f:
        f.write(ico_bytes())


if __name__ == "__main__":
    main(*sys.argv[1:])
