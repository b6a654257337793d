"""Desktop icons: the two programs and the two file types, for the hicolor icon theme.

Each icon is a short list of shapes on a 256-unit square. The same list is drawn as PNG at every
size the desktop asks for and written as SVG for the scalable folder, so the two never differ.
"""

import math
import os

from canvas import Canvas, mix
from chrome import BLUE, INK, WHITE

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
UNITS = 256
PAGE_EDGE = (150, 156, 164)
PAGE_FOLD = (214, 218, 224)
LENS = (205, 230, 255)


def _reel(cx, cy, r, colour, hole):
    """The Tarnwick mark as shapes (pictures.draw_reel, with coloured instead of cut holes)."""
    shapes = [("circle", cx, cy, r, colour), ("ring", cx, cy, r * 0.80, r * 0.06, hole)]
    for a in (math.radians(d) for d in (-90, 30, 150)):
        shapes.append(("circle", cx + r * 0.44 * math.cos(a), cy + r * 0.44 * math.sin(a),
                       r * 0.21, hole))
    shapes.append(("circle", cx, cy, r * 0.09, hole))
    return shapes


def _bar(x0, y0, x1, y1, width, colour):
    """A straight bar of the given width from (x0, y0) to (x1, y1), as a polygon."""
    length = math.hypot(x1 - x0, y1 - y0)
    nx, ny = -(y1 - y0) / length * width / 2, (x1 - x0) / length * width / 2
    return ("polygon", [(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny),
                        (x0 - nx, y0 - ny)], colour)


def _page():
    """A sheet with a folded corner: the file-type icons' background."""
    outline = [(44, 12), (176, 12), (216, 52), (216, 244), (44, 244)]
    inner = [(52, 20), (172, 20), (208, 56), (208, 236), (52, 236)]
    return [("polygon", outline, PAGE_EDGE), ("polygon", inner, WHITE),
            ("polygon", [(172, 12), (172, 56), (216, 56)], PAGE_EDGE),
            ("polygon", [(176, 20), (176, 52), (208, 52)], PAGE_FOLD)]


def tarnwick():
    """The imager: the reel on a blue tile, its tape running off to the right."""
    return ([("rrect", 12, 12, 244, 244, 44, BLUE), ("rect", 118, 184, 226, 198, WHITE)]
            + _reel(118, 116, 82, WHITE, BLUE))


def quorlin():
    """The scanner: the reel on a dark tile under a magnifying glass."""
    return ([("rrect", 12, 12, 244, 244, 44, INK)] + _reel(106, 106, 70, WHITE, INK)
            + [_bar(178, 178, 228, 228, 22, BLUE), ("circle", 166, 166, 46, BLUE),
               ("circle", 166, 166, 33, LENS)])


def tape_image():
    """A .tape image: a sheet with the reel."""
    return _page() + _reel(130, 140, 56, BLUE, WHITE) + [("rrect", 84, 210, 176, 218, 4, PAGE_FOLD)]


def virtual_tape():
    """A .tap virtual tape: a sheet with a cartridge."""
    pale = mix(INK, WHITE, 0.45)
    return _page() + [("rrect", 70, 92, 190, 204, 14, INK), ("rrect", 84, 106, 176, 134, 5, WHITE),
                      ("rrect", 92, 148, 168, 190, 9, WHITE), ("circle", 111, 169, 13, pale),
                      ("circle", 149, 169, 13, pale), ("circle", 111, 169, 4.5, WHITE),
                      ("circle", 149, 169, 4.5, WHITE)]


# (theme folder, icon name) -> shapes. The names are the desktop files' and the MIME types'.
ICONS = {
    ("apps", "com.brisolde.tarnwick"): tarnwick,
    ("apps", "com.brisolde.quorlin"): quorlin,
    ("mimetypes", "application-x-tarnwick-tape"): tape_image,
    ("mimetypes", "application-x-simh-tape"): virtual_tape,
}


def draw_png(shapes, size):
    c = Canvas(size, size)
    k = size / UNITS
    for kind, *a in shapes:
        colour = a[-1]
        if kind == "rect":
            c.rect(a[0] * k, a[1] * k, a[2] * k, a[3] * k, colour)
        elif kind == "rrect":
            c.rrect(a[0] * k, a[1] * k, a[2] * k, a[3] * k, a[4] * k, colour)
        elif kind == "circle":
            c.circle(a[0] * k, a[1] * k, a[2] * k, colour)
        elif kind == "ring":
            c.ring(a[0] * k, a[1] * k, a[2] * k, a[3] * k, colour)
        else:
            c.polygon([(x * k, y * k) for x, y in a[0]], colour)
    return c.result()


def svg_text(shapes):
    def hexc(colour):
        return "#%02x%02x%02x" % tuple(colour[:3])

    def n(v):
        return ("%.2f" % v).rstrip("0").rstrip(".")

    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
           % (UNITS, UNITS, UNITS, UNITS)]
    for kind, *a in shapes:
        fill = hexc(a[-1])
        if kind in ("rect", "rrect"):
            r = a[4] if kind == "rrect" else 0
            out.append('<rect x="%s" y="%s" width="%s" height="%s" rx="%s" fill="%s"/>'
                       % (n(a[0]), n(a[1]), n(a[2] - a[0]), n(a[3] - a[1]), n(r), fill))
        elif kind == "circle":
            out.append('<circle cx="%s" cy="%s" r="%s" fill="%s"/>' % (n(a[0]), n(a[1]), n(a[2]), fill))
        elif kind == "ring":
            out.append('<circle cx="%s" cy="%s" r="%s" fill="none" stroke="%s" stroke-width="%s"/>'
                       % (n(a[0]), n(a[1]), n(a[2]), fill, n(a[3])))
        else:
            points = " ".join("%s,%s" % (n(x), n(y)) for x, y in a[0])
            out.append('<polygon points="%s" fill="%s"/>' % (points, fill))
    out.append("</svg>")
    return "\n".join(out) + "\n"


def write_theme(folder, save_png):
    """Writes folder/hicolor/<size>x<size>/<context>/<name>.png and the scalable SVGs."""
    written = 0
    for (context, name), painter in sorted(ICONS.items()):
        shapes = painter()
        for size in SIZES:
            out = os.path.join(folder, "hicolor", "%dx%d" % (size, size), context)
            os.makedirs(out, exist_ok=True)
            save_png(draw_png(shapes, size), os.path.join(out, name + ".png"))
            written += 1
        out = os.path.join(folder, "hicolor", "scalable", context)
        os.makedirs(out, exist_ok=True)
        with open(os.path.join(out, name + ".svg"), "w", encoding="utf-8", newline="\n") as svg:
            svg.write(svg_text(shapes))
        written += 1
    return written
