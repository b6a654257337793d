#pragma once
/**
 * @file
 * A map of scanner/core, the library that the scanner's window, its command
 * line, its tests and its fuzzer share, in the order a scan runs. This header
 * declares nothing; it says where each stage lives.
 *
 * 1. Facts about the image (image_facts, tap_image, record_layout,
 *    record_padding.cpp): the trailer of a .tape image or the walk of a .tap
 *    file's records, and where the bytes the tape held lie in the file.
 *    body_stream reads those bytes back to back as one stream; every offset
 *    after this stage is a stream offset.
 * 2. Finding starts (signatures, carver): the carver reads the stream in large
 *    pieces and asks signatures whether an archive (tar, cpio, zip, compressed,
 *    a dump volume) may start at each place; what no reader claims becomes a
 *    raw region.
 * 3. Decoding (decoder, decoded_source, region_source): a compressed stream is
 *    decoded here, a piece at a time, so its end is known to the byte; the
 *    region source feeds libarchive with a bound on what it may hold.
 * 4. Reading archives (archive_stream, archive_reader, dump_volume, zip_end.cpp,
 *    cpio_resume.cpp): libarchive over a stretch of the stream lists an
 *    archive's entries and says where it ends, which is where the carver looks
 *    next; after damage, a cpio is taken up again at its next header. A dump
 *    is read by its own headers (dump_restore), its volumes joined.
 * 5. Extracting (extractor, archive_restore, dump_restore, restore_folder, shown_name):
 *    the chosen entries and raw regions written below one folder, never
 *    through a link and never over an existing file.
 * 6. Reporting (scan_result, report, command_line): what was found, as the
 *    window shows it and as --list prints it.
 *
 * Only the first stage knows the image's format; the others see the stream.
 */
