"""Pictures: the Tarnwick mark, the option tiles, the drive, the connection pictures, About art.

Every function takes the target size in pixels (w, h) and the scale s and returns a PIL image of
exactly w x h (Connected.gif: a list of frames).
"""

import math

from canvas import CLEAR, Canvas, bezier_points, draw_word, mix, word_width
from chrome import BLUE, INK, RED, WHITE

BLACK = (0, 0, 0)
GREEN = (46, 204, 113)
LED_OFF = (60, 66, 76)


def draw_reel(c, cx, cy, r, colour, hole=CLEAR, edge=False):
    """The Tarnwick mark: a tape reel with three windows. hole=CLEAR cuts real holes.

    edge draws the wound-tape edge, which only muddles the small marks. It is chosen per
    picture, never by the size in pixels, so that a picture is one drawing in every scale set.
    """
    c.circle(cx, cy, r, colour)
    if edge:
        c.ring(cx, cy, r * 0.80, r * 0.06, hole)
    for a in (math.radians(d) for d in (-90, 30, 150)):
        c.circle(cx + r * 0.44 * math.cos(a), cy + r * 0.44 * math.sin(a), r * 0.21, hole)
    c.circle(cx, cy, r * 0.09, hole)


def company_logo(w, h, s):
    c = Canvas(w, h)
    k = h / 26
    r = 9.5 * k
    cx, cy = 1 * k + r, 12 * k
    c.rect(cx, cy + r - 1.6 * k, w, cy + r, BLUE)  # the tape leaving the reel underlines the name
    draw_reel(c, cx, cy, r, BLUE)
    cap = 8.6 * k
    gap = 0.22
    x = cx + r + 2.5 * k
    room = w - x - 1 * k
    while word_width("Tarnwick", cap, gap) > room:
        cap -= 0.1 * k
    draw_word(c, "Tarnwick", x, cy + r - 4.2 * k, cap, 1.25 * k, INK, gap)
    return c.result()


def title_logo(w, h, s):
    c = Canvas(w, h)
    r = min(w, h) / 2 - 0.5
    draw_reel(c, w / 2, h / 2, r, BLUE)
    return c.result()


# --- option tiles ----------------------------------------------------------------------------

def _tile_colours(highlighted):
    if highlighted:
        return {"card": (236, 245, 255), "border": BLUE, "ink": BLUE}
    return {"card": WHITE, "border": (214, 216, 220), "ink": (158, 163, 170)}


def _badge(c, k, card, ink, kind):
    cx, cy = 174 * k, 168 * k
    c.circle(cx, cy, 20 * k, card)
    c.circle(cx, cy, 16 * k, mix(ink, BLACK, 0.12))
    if kind == "plus":
        c.rect(cx - 7.5 * k, cy - 1.6 * k, cx + 7.5 * k, cy + 1.6 * k, WHITE)
        c.rect(cx - 1.6 * k, cy - 7.5 * k, cx + 1.6 * k, cy + 7.5 * k, WHITE)
    else:
        c.stroke([(cx, cy + 8 * k), (cx, cy - 7 * k)], 3.2 * k, WHITE)
        c.stroke([(cx - 6.5 * k, cy - 1 * k), (cx, cy - 7.5 * k), (cx + 6.5 * k, cy - 1 * k)],
                 3.2 * k, WHITE)


def _cartridge(c, k, col):
    ink, light, pale = col["ink"], mix(col["ink"], WHITE, 0.40), mix(col["ink"], WHITE, 0.62)
    c.rrect(62 * k, 64 * k, 178 * k, 174 * k, 11 * k, ink)
    c.rrect(75 * k, 77 * k, 165 * k, 110 * k, 4 * k, WHITE)
    c.rrect(86 * k, 87 * k, 144 * k, 91 * k, 2 * k, pale)
    c.rrect(86 * k, 96 * k, 126 * k, 100 * k, 2 * k, pale)
    c.rrect(84 * k, 122 * k, 156 * k, 160 * k, 8 * k, WHITE)
    for x in (104, 136):
        c.circle(x * k, 141 * k, 11.5 * k, light)
        c.circle(x * k, 141 * k, 4 * k, WHITE)
    c.rect(104 * k, 150.5 * k, 136 * k, 152.5 * k, light)


def _file(c, k, col):
    ink, light = col["ink"], mix(col["ink"], WHITE, 0.45)
    c.rrect(72 * k, 54 * k, 168 * k, 184 * k, 9 * k, ink)
    c.polygon([(138 * k, 50 * k), (172 * k, 50 * k), (172 * k, 84 * k)], col["card"])
    c.polygon([(138 * k, 54 * k), (168 * k, 84 * k), (146 * k, 84 * k), (138 * k, 76 * k)], light)
    cx, cy = 120 * k, 124 * k
    c.circle(cx, cy, 27 * k, WHITE)
    c.ring(cx, cy, 17 * k, 1.6 * k, light)
    c.circle(cx, cy, 7 * k, ink)
    c.circle(cx, cy, 2.8 * k, WHITE)
    c.rrect(92 * k, 164 * k, 136 * k, 168 * k, 2 * k, light)


def option_tile(w, h, s, kind, highlighted):
    """kind: 'create' (tape cartridge) or 'load' (image file)."""
    c = Canvas(w, h)
    k = w / 240
    col = _tile_colours(highlighted)
    bw = max(1, round(2 * s)) if highlighted else max(1, round(s))
    c.framed_rrect(0, 0, w, h, 14 * k, col["border"], col["card"], bw)
    if kind == "create":
        _cartridge(c, k, col)
        _badge(c, k, col["card"], col["ink"], "plus")
    else:
        _file(c, k, col)
        _badge(c, k, col["card"], col["ink"], "up")
    if highlighted:  # selection mark in the corner
        c.circle(214 * k, 26 * k, 11 * k, BLUE)
        tick = [(209 * k, 26.5 * k), (212.8 * k, 30.2 * k), (219.5 * k, 22.3 * k)]
        c.stroke(tick, 2.6 * k, WHITE)
    else:
        c.ring(214 * k, 26 * k, 10.2 * k, 1.6 * k, (206, 209, 214))
    return c.result()


# --- the drive -------------------------------------------------------------------------------

def draw_drive(c, cx, cy, k, led, glow=True):
    """A tape drive seen from the front, 112 x 66 units around (cx, cy)."""
    def X(v):
        return cx + v * k

    def Y(v):
        return cy + v * k

    shadow = Canvas(c.w, c.h)
    shadow.ellipse(X(0), Y(34), 60 * k, 4 * k, (0, 0, 0, 34))
    c.overlay(shadow)
    for x in (-46, 34):
        c.rrect(X(x), Y(28), X(x + 12), Y(34), 1.5 * k, (112, 118, 128))
    c.polygon([(X(-49), Y(-31)), (X(49), Y(-31)), (X(56), Y(-22)), (X(-56), Y(-22))],
              (206, 211, 218))
    c.polygon([(X(-48.3), Y(-30)), (X(48.3), Y(-30)), (X(54), Y(-22.5)), (X(-54), Y(-22.5))],
              (236, 239, 243))
    c.rrect(X(-56), Y(-23), X(56), Y(31), 5 * k, (150, 157, 167))
    c.vgradient(X(-56) + 1, Y(-23) + 1, X(56) - 1, Y(31) - 1, 5 * k - 1, (252, 252, 253),
                (213, 218, 225))
    c.rrect(X(-42), Y(-12), X(42), Y(0), 3 * k, (50, 56, 66))
    c.rrect(X(-31), Y(-9.5), X(31), Y(-4.5), 1.5 * k, BLUE)
    c.rect(X(-40), Y(-1.6), X(40), Y(-0.6), (96, 104, 116))
    c.rect(X(-50), Y(11), X(50), Y(11) + max(1, round(k)), (205, 210, 217))
    draw_reel(c, X(-44), Y(21), 4.5 * k, BLUE, (232, 235, 240))
    c.rrect(X(22), Y(17), X(35), Y(25), 2 * k, (196, 202, 210))
    c.polygon([(X(25.7), Y(22)), (X(31.3), Y(22)), (X(28.5), Y(19))], (92, 100, 112))
    if glow:
        c.circle(X(44), Y(21), 4.2 * k, mix(led, WHITE, 0.6))
    c.circle(X(44), Y(21), 2.6 * k, led)


def drive(w, h, s):
    c = Canvas(w, h)
    k = w / 128
    draw_drive(c, w / 2, 66 * k, k, GREEN)
    return c.result()


def not_connected(w, h, s):
    c = Canvas(w, h)
    k = w / 104
    cable = bezier_points((60 * k, 50 * k), (60 * k, 96 * k), (52 * k, 84 * k), (52 * k, 110 * k))
    c.stroke(cable, 4 * k, (88, 94, 104))
    draw_drive(c, w / 2, 38 * k, 0.8 * k, LED_OFF, glow=False)
    c.rrect(40 * k, 106 * k, 64 * k, 126 * k, 3.5 * k, (96, 103, 114))
    for x in (45, 56):
        c.rrect(x * k, 125 * k, (x + 3) * k, 136 * k, 1 * k, (160, 166, 175))
    c.circle(52 * k, 149 * k, 11.5 * k, RED)
    for d in (-1, 1):
        c.stroke([(47.5 * k, (149 - 4.5 * d) * k), (56.5 * k, (149 + 4.5 * d) * k)], 2.4 * k, WHITE)
    # The page writes "Tape drive disconnected." over the lower part of this
    # label, so the picture ends above it.
    return c.result()


def connected_frames(w, h, s, count=10):
    """Frames of the drive at work: a wave runs along a row of dots and the LED flickers."""
    k = w / 145
    frames = []
    for f in range(count):
        c = Canvas(w, h, WHITE)
        lit = f % 4 < 2
        draw_drive(c, w / 2, 54 * k, 1.05 * k, GREEN if lit else mix(GREEN, LED_OFF, 0.55), lit)
        for j in range(5):
            phase = ((f - 2 * j) % count) / count  # 0 = the wave's crest is at this dot
            t = max(0.0, 1 - phase * 2.5)
            colour = mix((214, 222, 232), BLUE, t)
            c.circle(w / 2 + (j - 2) * 17 * k, 118 * k, (3.4 + 1.2 * t) * k, colour)
        frames.append(c.result().convert("RGB"))
    return frames


# --- About dialog ----------------------------------------------------------------------------

def about_art(w, h, s):
    c = Canvas(w, h)
    k = min(w / 215, h / 340)
    c.vgradient(0, 0, w, h, 0, (40, 152, 255), (12, 82, 176))
    cx, cy, r = w / 2, 128 * k, 52 * k
    rings = Canvas(w, h)
    for rr, a in ((72, 60), (92, 40), (114, 24)):
        rings.ring(cx, cy, rr * k, 1.2 * k, (255, 255, 255, a))
    c.overlay(rings)
    mark = Canvas(w, h)
    mark.rect(cx, cy + r - 6 * k, w, cy + r, WHITE)
    draw_reel(mark, cx, cy, r, WHITE, edge=True)
    c.overlay(mark)
    cap, gap = 21 * k, 0.26
    x = (w - word_width("Tarnwick", cap, gap)) / 2
    draw_word(c, "Tarnwick", x, 246 * k, cap, 2.6 * k, WHITE, gap)
    rule = Canvas(w, h)
    thick = max(1, round(1.5 * k))
    rule.rect(cx - 18 * k, 266 * k, cx + 18 * k, 266 * k + thick, (255, 255, 255, 150))
    c.overlay(rule)
    return c.result()
