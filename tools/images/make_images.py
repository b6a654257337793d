#!/usr/bin/python3
"""Draws every compiled-in picture of Tarnwick and writes resources/images.qrc.

Usage (from anywhere):  /usr/bin/python3 tools/images/make_images.py [--root DIR]
                        /usr/bin/python3 tools/images/make_images.py --icons DIR
(--icons writes only the desktop icons, as DIR/hicolor/..., and leaves the source tree alone.)

Needs Debian's python3-pil only; no fonts or other files are read, and a rerun writes the same
bytes. Each picture is drawn at the size of the widget that shows it, once per scale set:
base size x 1.0, 1.25 and 1.5, truncated like the program's own geometry. Labels show pictures
unscaled and border-image buttons stretch theirs, so drawing at the widget size keeps both sharp.
"""

import argparse
import functools
import os
import sys

from PIL import Image, ImageChops

sys.dont_write_bytecode = True  # keep the source tree free of __pycache__
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import chrome  # noqa: E402
import icons  # noqa: E402
import pictures  # noqa: E402
from chrome import BLUE, RED  # noqa: E402

SCALE_SETS = (("100", 1.0), ("125", 1.25), ("150", 1.5))
# The About dialog takes its title strip from folders named after the screen density.
TITLE_STRIP_SETS = (("96-DPI", 1.0), ("125-DPI", 1.25), ("144-DPI", 1.5))

P = functools.partial


def _title_buttons():
    table = {}
    for name, glyph in (("Close", "close"), ("Maximize", "max"), ("Minimize", "min")):
        for suffix, state in (("", "normal"), ("Hover", "hover"), ("Pressed", "pressed")):
            painter = P(chrome.title_button, glyph=glyph, state=state)
            table["img_Title%s%s.png" % (name, suffix)] = ((43, 27), painter)
    return table


def _menu_buttons():
    # Normal, hover, then the pressed picture(s); Help's pressed picture has two spellings
    # because the sets name it differently.
    rows = (("menu", "img_MenuButton.png", "img_MenuButtonH.png", "img_MenuButtonP.png"),
            ("back", "img_Back.png", "img_BackHover.png", "img_BackDisable.png"),
            ("home", "img_Home.png", "img_HomeHover.png", "img_HomeDisabled.png"),
            ("help", "img_Help.png", "img_HelpHover.png", "img_HelpDisabler.png",
             "img_HelpDisable.png"),
            ("about", "img_About.png", "img_AboutHover.png", "img_AboutDisable.png"))
    table = {}
    for glyph, normal, hover, *pressed in rows:
        table[normal] = ((20, 20), P(chrome.menu_button, glyph=glyph, state="normal"))
        table[hover] = ((20, 20), P(chrome.menu_button, glyph=glyph, state="hover"))
        for name in pressed:
            table[name] = ((20, 20), P(chrome.menu_button, glyph=glyph, state="pressed"))
    return table


def _main_window():
    border = P(chrome.solid, colour=(172, 176, 182))
    button = P(chrome.push_button)
    tile = P(pictures.option_tile)
    return {
        "img_titleLogo.png": ((16, 16), pictures.title_logo),
        "img_MenuSeperator.png": ((1, 20), P(chrome.solid, colour=(196, 198, 202))),
        "img_CompanyLogo.png": ((72, 26), pictures.company_logo),
        # Both spellings of the border lines are looked up, depending on the set.
        "test_1.png": ((1167, 1), border),
        "Test_1.png": ((1167, 1), border),
        "test_2.png": ((1, 620), border),
        "Test_2.png": ((1, 620), border),
        "Devider.png": ((878, 1), P(chrome.solid, colour=(226, 228, 231))),
        "Drive.png": ((128, 128), pictures.drive),
        "Not_connected.png": ((104, 195), pictures.not_connected),
        "Connected.gif": ((145, 139), pictures.connected_frames),
        "img_NextButton.png": ((117, 32), P(button, fill=BLUE)),
        "img_NextDisable.png": ((117, 32), P(button, fill=(172, 178, 186))),
        "img_Stop.png": ((117, 32), P(button, fill=RED)),
        "img_Browse.png": ((117, 32), P(button, fill=(248, 249, 250), border=(180, 184, 190))),
        "img_CreateImageH.png": ((240, 240), P(tile, kind="create", highlighted=True)),
        "img_CreateImageN.png": ((240, 240), P(tile, kind="create", highlighted=False)),
        "img_EraseImageH.png": ((240, 240), P(tile, kind="load", highlighted=True)),
        "img_EraseImageN.png": ((240, 240), P(tile, kind="load", highlighted=False)),
        "img_SelectCheckBox.png": ((16, 16), P(chrome.check_box, checked=True)),
        "img_UnSelectCheckBox.png": ((16, 16), P(chrome.check_box, checked=False)),
    }


def _dialogs():
    button = P(chrome.push_button, radius=3)
    table = {
        "RegisteraNormal.png": ((88, 25), P(chrome.gradient_button, top=(252, 252, 252),
                                            bottom=(232, 234, 237), border=(170, 174, 180))),
        "Registerb-Hot.png": ((88, 25), P(chrome.gradient_button, top=(222, 238, 255),
                                          bottom=(196, 222, 250), border=BLUE)),
        "Help.png": ((66, 66), P(chrome.dialog_icon, glyph="?")),
        "info.png": ((67, 67), P(chrome.dialog_icon, glyph="i")),
        "img_Dot.png": ((200, 1), chrome.dotted),
        "img_Line.png": ((600, 1), P(chrome.solid, colour=(208, 210, 214))),
        "img_BigButtonActive.png": ((160, 26), P(button, fill=(232, 243, 255), border=BLUE)),
        "img_MediumButton.png": ((83, 26), P(button, fill=(252, 252, 252), border=(176, 180, 186))),
    }
    # Each set uses one of these names; all three exist in every set, drawn at that set's size.
    for name in ("img_VelmoraAboutPixmap.png", "img_VelmoraAboutPixmap100.png",
                 "img_VelmoraAboutPixmap128.png"):
        table[name] = ((215, 340), pictures.about_art)
    return table


def picture_table():
    """name -> ((base width, base height), painter(w, h, s))"""
    table = {}
    for part in (_title_buttons(), _menu_buttons(), _main_window(), _dialogs()):
        table.update(part)
    return table


def scaled(base, s):
    # Exact for 1.0, 1.25 and 1.5, and truncated toward zero as the widgets are.
    return int(base * s)


def save_png(image, path):
    if image.mode == "RGBA" and image.getchannel("A").getextrema() == (255, 255):
        image = image.convert("RGB")
    image.save(path, optimize=True)


def save_gif(frames, path, duration_ms=110):
    # One shared palette keeps the frames from flickering against each other.
    strip = Image.new("RGB", (frames[0].width, frames[0].height * len(frames)))
    for i, frame in enumerate(frames):
        strip.paste(frame, (0, i * frame.height))
    palette = strip.quantize(colors=255, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    indexed = [f.quantize(palette=palette, dither=Image.Dither.NONE) for f in frames]
    # The palette lookup is approximate and puts the page white on a near-white
    # entry, which shows as a grey square on the white page: pin white pixels to
    # the palette's whitest entry.
    entries = palette.getpalette()[:255 * 3]
    whitest = max(range(255), key=lambda i: sum(entries[3 * i:3 * i + 3]))
    white = Image.new("RGB", frames[0].size, (255, 255, 255))
    for frame, image in zip(frames, indexed):
        exact = ImageChops.difference(frame, white).convert("L").point(lambda v: 255 if v == 0 else 0)
        image.paste(whitest, (0, 0, frame.width, frame.height), exact)
    indexed[0].save(path, save_all=True, append_images=indexed[1:], duration=duration_ms, loop=0,
                    disposal=1, optimize=False)


def render(name, size, painter, s, folder):
    w, h = scaled(size[0], s), scaled(size[1], s)
    result = painter(w, h, s)
    frames = result if isinstance(result, list) else [result]
    if any(f.size != (w, h) for f in frames):
        raise RuntimeError("%s drawn at %s, wanted %dx%d" % (name, frames[0].size, w, h))
    path = os.path.join(folder, name)
    if name.endswith(".gif"):
        save_gif(frames, path)
    else:
        save_png(result, path)


def write_set(resources, folder, s, table):
    """Writes one folder of pictures and returns their resource paths. The folder belongs to
    this script: pictures no longer in the table are removed so the folder matches the .qrc."""
    out = os.path.join(resources, "images", folder)
    os.makedirs(out, exist_ok=True)
    for stale in set(os.listdir(out)) - set(table):
        os.remove(os.path.join(out, stale))
    for name in sorted(table):
        size, painter = table[name]
        render(name, size, painter, s, out)
    return ["images/%s/%s" % (folder, name) for name in sorted(table)]


def write_qrc(resources, files):
    lines = ['<!DOCTYPE RCC><RCC version="1.0">', '<qresource prefix="/">']
    lines += ["    <file>%s</file>" % f for f in files]
    lines += ["</qresource>", "</RCC>", ""]
    with open(os.path.join(resources, "images.qrc"), "w", encoding="utf-8", newline="\n") as out:
        out.write("\n".join(lines))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.normpath(os.path.join(here, "..", "..")),
                        help="source tree root (default: this script's tree)")
    parser.add_argument("--icons", metavar="DIR", help="write the desktop icons below DIR only")
    args = parser.parse_args()
    if args.icons:
        count = icons.write_theme(args.icons, save_png)
        print("wrote %d icons below %s" % (count, os.path.join(args.icons, "hicolor")))
        return
    resources = os.path.join(args.root, "resources")
    files = []
    for folder, s in SCALE_SETS:
        files += write_set(resources, folder, s, picture_table())
    # Sized like the spacer the About dialog makes, (15 + 16) x 25 units: empty, it only keeps
    # the title centred across the dialog.
    strip = {"img_BlankTitle.png": ((31, 25), chrome.blank)}
    for folder, s in TITLE_STRIP_SETS:
        files += write_set(resources, folder, s, strip)
    write_qrc(resources, files)
    print("wrote %d pictures and %s" % (len(files), os.path.join(resources, "images.qrc")))


if __name__ == "__main__":
    main()
