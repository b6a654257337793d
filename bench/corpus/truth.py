"""Where each file of an archive lies on a tape, and whether an image holds it
whole: the ground truth of the corpus (bench/corpus/build writes it, and
bench/corpus/score reads it)."""
import io
import struct
import subprocess
import zipfile

COMPRESSORS = {  # name: (compress a file to stdout, decompress stdin to stdout)
    "gz": (["gzip", "-n", "-9", "-c"], ["gzip", "-dc"]),
    "bz2": (["bzip2", "-9", "-c"], ["bzip2", "-dc"]),
    "xz": (["xz", "-6", "-c"], ["xz", "-dc"]),
    "lz": (["lzip", "-6", "-c"], ["lzip", "-dc"]),
    "zst": (["zstd", "-q", "-19", "-c"], ["zstd", "-qdc"]),
    "lz4": (["lz4", "-q", "-9", "-c"], ["lz4", "-qdc"]),
    "Z": (["compress", "-c", "-f"], ["uncompress", "-c"]),
    "lzma": (["xz", "--format=lzma", "-c"], ["xz", "--format=lzma", "-dc"]),
    "lzo": (["lzop", "-c", "--no-name", "--no-mode"], ["lzop", "-dc"]),
}



def decompress_prefix(comp, data):
    """How many bytes a decoder gives from the first len(data) bytes of a stream."""
    p = subprocess.run(COMPRESSORS[comp][1], input=data, capture_output=True)
    return p.stdout


# Bytes of a member's header before its name, for the formats that store it as it is.
NAME_OFFSET = {"newc": 110, "crc": 110, "sv4cpio": 110, "odc": 76, "cpio": 76, "afio": 76,
               "bin": 26, "bcpio": 26, "zip-store": 30}


def header_start(fmt, archive_bytes, name_at):
    """Where the header that holds the name found at name_at starts."""
    kind = fmt.split(".")[0].split("-")[-1] if fmt != "zip-store" else fmt
    if kind in NAME_OFFSET:
        return max(0, name_at - NAME_OFFSET[kind])
    # tar: the name opens a 512-byte header, or lies in an extended header's
    # data, which its own header precedes
    return name_at if name_at % 512 == 0 else max(0, name_at // 512 * 512 - 512)


def member_ranges(fmt, archive_bytes, files):
    """For each file: (start, end) of the bytes in the tape file that it needs
    (its header and its data), or None when it cannot be placed."""
    ranges = {}
    if fmt.startswith("zip") and fmt != "zip-store":
        z = zipfile.ZipFile(io.BytesIO(archive_bytes))
        infos = sorted(z.infolist(), key=lambda i: i.header_offset)
        ends = [i.header_offset for i in infos[1:]] + [len(archive_bytes) - 22]
        for info, end in zip(infos, ends):
            ranges[info.filename] = (info.header_offset, end)
        return ranges
    if fmt == "mtf":
        # names are stored in parts (UTF-16); each file's data is unique (it starts
        # with its own path) and its FILE block lies in the logical block before it
        for path, data in files:
            at = archive_bytes.find(data) if data else -1
            ranges[path] = (max(0, at - 1024), at + len(data)) if at >= 0 else None
        return ranges
    for path, data in files:
        # the header holds the name; the data follows it unchanged
        name_at = archive_bytes.find(path.encode())
        if name_at < 0:
            ranges[path] = None
            continue
        start = header_start(fmt, archive_bytes, name_at)
        at = archive_bytes.find(data, name_at) if data else -1
        if at >= 0:
            ranges[path] = (start, at + len(data))
        else:  # empty, or a hard link whose data another name carries: its header
            ranges[path] = (start, name_at + 512)
    return ranges


def parse_tap(path):
    """Tape files of a .tap: each a list of (data offset in the tape file, length, error)."""
    with open(path, "rb") as f:
        raw = f.read()
    files, cur, pos, offset = [], [], 0, 0
    while pos + 4 <= len(raw):
        (word,) = struct.unpack_from("<I", raw, pos)
        if word == 0:
            files.append(cur)
            cur, offset, pos = [], 0, pos + 4
            continue
        if word == 0xFFFFFFFF:
            break
        length = word & 0x0FFFFFFF
        if pos + 8 + length + (length & 1) > len(raw):
            break  # a cut record is not read
        cur.append((offset, length, bool(word & 0x80000000)))
        offset += length
        pos += 8 + length + (length & 1)
    if cur:
        files.append(cur)
    return files


def spoil_unreadable(tap, rng):
    """An unreadable record holds what a drive returns for one, not the data
    written: bytes that match nothing, so that a file built from them is wrong."""
    with open(tap, "r+b") as f:
        raw = bytearray(f.read())
        pos = 0
        while pos + 4 <= len(raw):
            (word,) = struct.unpack_from("<I", raw, pos)
            if word in (0, 0xFFFFFFFF):
                pos += 4
                continue
            length = word & 0x0FFFFFFF
            if word & 0x80000000:
                raw[pos + 4: pos + 4 + length] = rng.randbytes(length)
            pos += 8 + length + (length & 1)
        f.seek(0)
        f.write(raw)


def file_state(rng_, tape_records):
    """intact / damaged / absent for bytes [start, end) of one tape file."""
    if tape_records is None:
        return "absent"
    if rng_ is None:
        return "damaged" if any(e for _, _, e in tape_records) else "intact"
    start, end = rng_
    held = sum(l for _, l, _ in tape_records)
    if start >= held:
        return "absent"
    if end > held:
        return "damaged"
    for off, length, err in tape_records:
        if err and off < end and off + length > start:
            return "damaged"
    return "intact"


def states(fmt, data, kept, files, recs):
    """intact / damaged / absent for each file of one tape file (the archive
    `data`, of which the tape holds the first `kept` bytes), given the records
    of it that an image holds (None: none)."""
    if recs is None:
        return {p: "absent" for p, _ in files}
    if fmt == "labelled":  # the tape file is the file
        return {p: file_state((0, len(c)), recs) for p, c in files}
    offset = 32768 if fmt.startswith("amanda-") else 0
    inner_fmt = fmt.split("-", 1)[1] if offset else fmt
    comp = inner_fmt.rsplit(".", 1)[1] if "." in inner_fmt else None
    stream = data[offset:]
    held = sum(l for _, l, _ in recs)
    if comp:
        plain = subprocess.run(COMPRESSORS[comp][1], input=stream, capture_output=True).stdout
        ranges = member_ranges(inner_fmt, plain, files)
        first_bad = min([o for o, _, e in recs if e] + [held, kept]) - offset
        usable = None if first_bad >= len(stream) else \
            len(decompress_prefix(comp, stream[:max(0, first_bad)]))
        out = {}
        for p, _ in files:
            r = ranges.get(p)
            if usable is None:
                out[p] = "intact"
            elif r is not None and r[1] <= usable:
                out[p] = "intact"
            elif held <= offset or (r is not None and r[0] >= usable and held < kept):
                out[p] = "absent"  # the image ends before its bytes
            else:
                out[p] = "damaged"
        return out
    ranges = member_ranges(inner_fmt, stream, files)
    recs = [(o, min(l, kept - o), e) for o, l, e in recs if o < kept]
    out = {}
    for p, content in files:
        r = ranges.get(p)
        if r is not None:
            r = (r[0] + offset, r[1] + offset)
            if r[1] > kept:  # the archive ends inside it
                out[p] = "damaged" if r[0] < min(held, kept) else "absent"
                continue
        out[p] = file_state(r, recs)
    return out
