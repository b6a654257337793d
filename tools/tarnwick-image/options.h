#pragma once
/**
 * @file
 * The command line of tarnwick-image. File names are kept as the bytes they
 * were given in: a name that is not valid UTF-8 still names the same file.
 */
#include "archive/operator_fields.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct Options
{
    enum class Mode { Image, Inspect, DriveInfo, Help, Merge, Picture };
    enum class Format { Tape, Tap };

    Mode mode = Mode::Image;
    Format format = Format::Tape;
    QString blockSizeText; ///< an entry of the block-size list: "Auto" or a number
    bool yes = false; ///< answer the larger-block-size question with Yes
    bool eject = false;
    bool force = false; ///< replace an existing image once the new one is complete
    unsigned driveBlockSize = 0; ///< the drive's block size: 0 variable, else fixed blocks
    QByteArray output; ///< the image file, or empty with --folder
    QByteArray folder; ///< the folder the window's image name is built in
    QByteArray inspectPath;
    bool verify = false; ///< --inspect: check the checksum too
    int retries = 3; ///< --format tap: reads again after a read error
    int passes = 2; ///< --format tap: passes over the tape a run makes
    bool sync = true; ///< wait for the image to reach the disk before naming it
    bool checksum = true; ///< compute the image's SHA-256 for the run record
    quint64 bufferBytes = 256ull << 20; ///< --format tap: what may wait for the disk
    QList<QByteArray> mergeSources; ///< --merge: the masters, in order of preference
    QByteArray picturePath; ///< --map-picture: the SVG file to write
    QByteArray pictureMaster; ///< --map-picture: the master (or its map) to draw
    bool keepRetrying = false; ///< read a block again even when the drive says the tape is at risk
    OperatorFields::Given given; ///< --describe, --notes, --label-photo as given
    RunRecord::Operator operatorFields; ///< what they hold, once read (main())
    QByteArray labelPhoto; ///< the photo's bytes, once read
};

/// Fills @p options from @p arguments (argv as given, the program name first).
/// Returns an empty string when they make sense, else what is wrong, in one line.
QString parseOptions(const QList<QByteArray> &arguments, Options &options);

/// The --help text.
QString usageText();
