"""Supersampled drawing surface and the Tarnwick lettering.

Everything is drawn at SS times the target size and reduced once at the end, which gives
antialiased edges without relying on a particular Pillow build's antialiasing. Coordinates passed
to Canvas are in target pixels (floats allowed); (0, 0) is the top-left corner of the top-left
pixel, so a 1-pixel line at row y is rect(x0, y, x1, y + 1).
"""

import math

from PIL import Image, ImageDraw

SS = 4
CLEAR = (0, 0, 0, 0)


def rgba(colour):
    return colour if len(colour) == 4 else tuple(colour) + (255,)


def mix(a, b, t):
    """Colour a blended toward b by t (0..1)."""
    return tuple(round(x + (y - x) * t) for x, y in zip(rgba(a), rgba(b)))


def arc_points(cx, cy, rx, ry, deg0, deg1, steps=None):
    """Points along an ellipse arc; angles in degrees, y axis pointing down (90 = bottom)."""
    if steps is None:
        steps = max(8, int(abs(deg1 - deg0) / 6))
    pts = []
    for i in range(steps + 1):
        a = math.radians(deg0 + (deg1 - deg0) * i / steps)
        pts.append((cx + rx * math.cos(a), cy + ry * math.sin(a)))
    return pts


def bezier_points(p0, p1, p2, p3, steps=24):
    """Points along the cubic Bezier curve p0..p3 (p1, p2 are the control points)."""
    pts = []
    for i in range(steps + 1):
        t = i / steps
        a, b, c, d = (1 - t) ** 3, 3 * t * (1 - t) ** 2, 3 * t * t * (1 - t), t ** 3
        pts.append(tuple(a * u + b * v + c * x + d * y for u, v, x, y in zip(p0, p1, p2, p3)))
    return pts


class Canvas:
    """Pillow writes colours as given, without blending over what is there: opaque shapes stack
    as expected, a CLEAR fill cuts a hole, and translucent parts go on a canvas of their own
    that is then overlay()ed."""

    def __init__(self, w, h, bg=CLEAR):
        self.w, self.h = w, h
        self.im = Image.new("RGBA", (w * SS, h * SS), rgba(bg))
        self.d = ImageDraw.Draw(self.im)

    # Pillow's boxes include both end pixels; ours exclude the far edge.
    @staticmethod
    def _box(x0, y0, x1, y1):
        return [round(x0 * SS), round(y0 * SS), round(x1 * SS) - 1, round(y1 * SS) - 1]

    def rect(self, x0, y0, x1, y1, fill):
        self.d.rectangle(self._box(x0, y0, x1, y1), fill=rgba(fill))

    def rrect(self, x0, y0, x1, y1, r, fill):
        if r <= 0:
            self.rect(x0, y0, x1, y1, fill)
            return
        self.d.rounded_rectangle(self._box(x0, y0, x1, y1), radius=round(r * SS), fill=rgba(fill))

    def framed_rrect(self, x0, y0, x1, y1, r, border, fill, bw):
        """Rounded box with a border of bw pixels lying inside the box."""
        self.rrect(x0, y0, x1, y1, r, border)
        self.rrect(x0 + bw, y0 + bw, x1 - bw, y1 - bw, max(0, r - bw), fill)

    def ellipse(self, cx, cy, rx, ry, fill):
        self.d.ellipse(self._box(cx - rx, cy - ry, cx + rx, cy + ry), fill=rgba(fill))

    def circle(self, cx, cy, r, fill):
        self.ellipse(cx, cy, r, r, fill)

    def ring(self, cx, cy, r, width, colour):
        """Circle outline of the given width centred on radius r."""
        ro = r + width / 2
        self.d.ellipse(self._box(cx - ro, cy - ro, cx + ro, cy + ro), outline=rgba(colour),
                       width=max(1, round(width * SS)))

    def polygon(self, pts, fill):
        self.d.polygon([(x * SS, y * SS) for x, y in pts], fill=rgba(fill))

    def stroke(self, pts, width, colour, closed=False, caps=True):
        """Polyline with round joins (and round caps unless caps is False)."""
        p = [(x * SS, y * SS) for x, y in pts]
        if closed:
            p.append(p[0])
        w = width * SS
        self.d.line(p, fill=rgba(colour), width=max(1, round(w)), joint="curve")
        if caps:
            r = w / 2
            for x, y in (p[0], p[-1]):
                self.d.ellipse([x - r, y - r, x + r, y + r], fill=rgba(colour))

    def vgradient(self, x0, y0, x1, y1, r, top, bottom):
        """Rounded box filled with a vertical gradient from top to bottom colour."""
        box = self._box(x0, y0, x1, y1)
        bw, bh = box[2] - box[0] + 1, box[3] - box[1] + 1
        ramp = Image.linear_gradient("L").resize((bw, bh), Image.Resampling.BILINEAR)
        fill = Image.composite(Image.new("RGBA", (bw, bh), rgba(bottom)),
                               Image.new("RGBA", (bw, bh), rgba(top)), ramp)
        mask = Image.new("L", (bw, bh), 0)
        ImageDraw.Draw(mask).rounded_rectangle([0, 0, bw - 1, bh - 1], radius=round(r * SS),
                                               fill=255)
        self.im.paste(fill, (box[0], box[1]), mask)

    def overlay(self, other):
        """Composite another canvas of the same size on top (for translucent parts)."""
        self.im.alpha_composite(other.im)

    def result(self):
        # BOX is an exact area average for an integer reduction: no ringing around thin lines.
        return self.im.resize((self.w, self.h), Image.Resampling.BOX)


# Lettering for the product name, drawn from strokes so that no font file is needed and the
# output is the same on every machine. Units: cap height 1.0, y down, baseline at 1.0.
XH = 0.70


def _glyph(ch):
    top = 1 - XH
    if ch == "T":
        return 0.62, [[(0, 0), (0.62, 0)], [(0.31, 0), (0.31, 1)]], []
    if ch == "a":
        bowl = arc_points(0.27, 1 - XH / 2, 0.27, XH / 2, 0, 360, 48)
        return 0.54, [bowl, [(0.54, top), (0.54, 1)]], []
    if ch == "r":
        return 0.36, [[(0, top), (0, 1)], arc_points(0.36, top + 0.36, 0.36, 0.36, 180, 270)], []
    if ch == "n":
        arch = arc_points(0.27, top + 0.27, 0.27, 0.27, 180, 360) + [(0.54, 1)]
        return 0.54, [[(0, top), (0, 1)], arch], []
    if ch == "w":
        return 0.80, [[(0, top), (0.2, 1), (0.4, top + 0.12), (0.6, 1), (0.8, top)]], []
    if ch == "i":
        return 0.0, [[(0, top), (0, 1)]], [(0, top - 0.2)]
    if ch == "c":
        return 0.50, [arc_points(0.30, 1 - XH / 2, 0.30, XH / 2, -50, -310)], []
    if ch == "k":
        return 0.48, [[(0, 0), (0, 1)], [(0.48, top), (0, 0.76)], [(0.15, 0.66), (0.5, 1)]], []
    raise ValueError("no glyph for %r" % ch)


def word_width(text, cap, gap):
    return sum(_glyph(c)[0] for c in text) * cap + gap * cap * (len(text) - 1)


def draw_word(canvas, text, x, baseline, cap, weight, colour, gap=0.30):
    """Draws text with its left edge at x; weight is the stroke width in pixels."""
    for ch in text:
        w, strokes, dots = _glyph(ch)
        for s in strokes:
            pts = [(x + px * cap, baseline - cap + py * cap) for px, py in s]
            canvas.stroke(pts, weight, colour)
        for px, py in dots:
            canvas.circle(x + px * cap, baseline - cap + py * cap, weight * 0.62, colour)
        x += (w + gap) * cap
