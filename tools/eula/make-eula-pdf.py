#!/usr/bin/env python3
"""Writes a plain-text licence as a small PDF (A4, Helvetica), with no
dependencies beyond Python itself: make-eula-pdf.py LICENSE.txt Eula.pdf"""
import sys
import textwrap

PAGE_W, PAGE_H = 595, 842
MARGIN, FONT_SIZE, LEADING = 56, 10, 13
WIDTH_CHARS = 92
LINES_PER_PAGE = (PAGE_H - 2 * MARGIN) // LEADING


def wrap(text):
    lines = []
    for paragraph in text.splitlines():
        lines.extend(textwrap.wrap(paragraph, WIDTH_CHARS) or [""])
    return lines


def escape(line):
    return line.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


def page_stream(lines):
    out = ["BT", f"/F1 {FONT_SIZE} Tf", f"{LEADING} TL", f"{MARGIN} {PAGE_H - MARGIN} Td"]
    out += [f"({escape(line)}) '" for line in lines]
    out.append("ET")
    return "\n".join(out).encode("latin-1", "replace")


def build(lines):
    pages = [lines[i:i + LINES_PER_PAGE] for i in range(0, len(lines), LINES_PER_PAGE)] or [[]]
    count = len(pages)
    # Objects: 1 catalog, 2 page tree, 3 font, then a page and its content per page.
    kids = " ".join(f"{4 + 2 * i} 0 R" for i in range(count))
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        f"<< /Type /Pages /Kids [{kids}] /Count {count} >>".encode(),
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
    ]
    for i, page in enumerate(pages):
        content = page_stream(page)
        objects.append(f"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 {PAGE_W} {PAGE_H}] "
                       f"/Resources << /Font << /F1 3 0 R >> >> /Contents {5 + 2 * i} 0 R >>"
                       .encode())
        objects.append(b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream")
    pdf = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, start=1):
        offsets.append(len(pdf))
        pdf += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(pdf)
    pdf += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    pdf += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    pdf += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(pdf)


def main():
    source, target = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        data = build(wrap(f.read()))
    with open(target + ".part", "wb") as f:
        f.write(data)
    import os
    os.replace(target + ".part", target)


if __name__ == "__main__":
    main()
