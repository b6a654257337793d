"""Window chrome: title-bar and menu-bar buttons, push buttons, check boxes, lines, dialog icons.

Every function takes the target size in pixels (w, h) and the scale s (1.0, 1.25, 1.5) and returns
a PIL image of exactly w x h.
"""

from canvas import CLEAR, Canvas, arc_points, mix

BLUE = (30, 144, 255)
BLUE_DARK = (18, 112, 214)
RED = (220, 53, 69)
INK = (64, 68, 74)
WHITE = (255, 255, 255)


def hairline(s):
    """Border width in whole pixels, so borders stay sharp at every scale."""
    return max(1, round(s))


def solid(w, h, s, colour):
    c = Canvas(w, h)
    c.rect(0, 0, w, h, colour)
    return c.result()


def dotted(w, h, s, colour=(175, 175, 175)):
    c = Canvas(w, h)
    step = 3 if s < 1.5 else 4
    for x in range(0, w, step):
        c.rect(x, 0, x + 1, h, colour)
    return c.result()


def blank(w, h, s):
    return Canvas(w, h).result()


# --- title bar -------------------------------------------------------------------------------

def title_button(w, h, s, glyph, state):
    """glyph: 'min', 'max' or 'close'; state: 'normal', 'hover' or 'pressed'."""
    c = Canvas(w, h)
    ink, bg = INK, CLEAR
    if state != "normal":
        if glyph == "close":
            bg = (232, 17, 35) if state == "hover" else (176, 14, 28)
            ink = WHITE
        else:
            bg = (229, 229, 229) if state == "hover" else (204, 204, 204)
        c.rrect(0, 0, w, h, 3 * s, bg)
    g = round(10 * s)
    t = hairline(s)
    x0, y0 = (w - g) // 2, (h - g) // 2
    if glyph == "min":
        y = y0 + g // 2
        c.rect(x0, y, x0 + g, y + t, ink)
    elif glyph == "max":
        c.rect(x0, y0, x0 + g, y0 + g, ink)
        c.rect(x0 + t, y0 + t, x0 + g - t, y0 + g - t, bg)
    else:
        lw = t * 1.2
        c.stroke([(x0, y0), (x0 + g, y0 + g)], lw, ink, caps=False)
        c.stroke([(x0 + g, y0), (x0, y0 + g)], lw, ink, caps=False)
    return c.result()


# --- menu bar --------------------------------------------------------------------------------

MENU_STATES = {
    # state: (background or None, glyph colour)
    "normal": (None, (78, 82, 88)),
    "hover": ((216, 216, 216), BLUE),
    "pressed": ((198, 198, 198), BLUE_DARK),
}


def _menu_glyph(c, k, glyph, ink):
    lw = 1.6 * k
    if glyph == "menu":
        t = round(1.7 * k)
        for yc in (6, 10, 14):
            y = round(yc * k - t / 2)
            c.rrect(round(4 * k), y, c.w - round(4 * k), y + t, t / 2, ink)
    elif glyph == "back":
        c.stroke([(15.5 * k, 10 * k), (4.8 * k, 10 * k)], lw, ink)
        c.stroke([(9.5 * k, 5.3 * k), (4.8 * k, 10 * k), (9.5 * k, 14.7 * k)], lw, ink)
    elif glyph == "home":
        c.stroke([(3.5 * k, 10 * k), (10 * k, 3.8 * k), (16.5 * k, 10 * k)], lw, ink)
        c.stroke([(5.6 * k, 8.5 * k), (5.6 * k, 16 * k), (14.4 * k, 16 * k), (14.4 * k, 8.5 * k)],
                 lw, ink)
        c.rect(8.6 * k, 11.5 * k, 11.4 * k, 16 * k, ink)
    elif glyph == "help":
        c.ring(10 * k, 10 * k, 7.6 * k, 1.4 * k, ink)
        hook = arc_points(10 * k, 7.9 * k, 2.4 * k, 2.4 * k, 180, 400)
        c.stroke(hook + [(10 * k, 11.6 * k)], 1.5 * k, ink)
        c.circle(10 * k, 14.3 * k, 1.0 * k, ink)
    elif glyph == "about":
        c.ring(10 * k, 10 * k, 7.6 * k, 1.4 * k, ink)
        c.circle(10 * k, 6.4 * k, 1.05 * k, ink)
        c.stroke([(10 * k, 9.2 * k), (10 * k, 14.2 * k)], 1.6 * k, ink)


def menu_button(w, h, s, glyph, state):
    c = Canvas(w, h)
    bg, ink = MENU_STATES[state]
    if bg:
        c.rrect(0, 0, w, h, 4 * s, bg)
    _menu_glyph(c, w / 20, glyph, ink)
    return c.result()


# --- push buttons and check boxes ------------------------------------------------------------

def push_button(w, h, s, fill, border=None, radius=4):
    c = Canvas(w, h)
    if border:
        c.framed_rrect(0, 0, w, h, radius * s, border, fill, hairline(s))
    else:
        c.rrect(0, 0, w, h, radius * s, fill)
    return c.result()


def gradient_button(w, h, s, top, bottom, border, radius=3):
    c = Canvas(w, h)
    bw = hairline(s)
    c.rrect(0, 0, w, h, radius * s, border)
    c.vgradient(bw, bw, w - bw, h - bw, radius * s - bw, top, bottom)
    return c.result()


def check_box(w, h, s, checked):
    c = Canvas(w, h)
    k = w / 16
    if checked:
        c.rrect(0, 0, w, h, 3 * k, BLUE)
        c.stroke([(3.8 * k, 8.4 * k), (6.7 * k, 11.2 * k), (12.2 * k, 5.0 * k)], 1.9 * k, WHITE)
    else:
        c.framed_rrect(0, 0, w, h, 3 * k, (138, 142, 148), WHITE, hairline(s))
    return c.result()


# --- dialog icons ----------------------------------------------------------------------------

def dialog_icon(w, h, s, glyph):
    """Round blue badge with a white '?' (questions) or 'i' (messages)."""
    c = Canvas(w, h)
    k = w / 66
    cx, cy = w / 2, h / 2
    c.circle(cx, cy, w / 2 - 1 * k, mix(BLUE, WHITE, 0.75))
    c.circle(cx, cy, w / 2 - 5 * k, BLUE)
    if glyph == "?":
        hook = arc_points(cx, cy - 6 * k, 8.5 * k, 8.5 * k, 180, 405)
        c.stroke(hook + [(cx, cy + 7 * k)], 5.5 * k, WHITE)
        c.circle(cx, cy + 15 * k, 3.4 * k, WHITE)
    else:
        c.circle(cx, cy - 13 * k, 3.8 * k, WHITE)
        c.stroke([(cx, cy - 3.5 * k), (cx, cy + 15 * k)], 6.5 * k, WHITE)
    return c.result()

