#pragma once
/**
 * @file
 * The command line of tarnwick-image.
 */
#include <QString>
#include <QStringList>

struct Options
{
    enum class Mode { Image, Inspect, Help };

    Mode mode = Mode::Image;
    QString blockSizeText; ///< an entry of the block-size list: "Auto" or a number
    bool yes = false; ///< answer the larger-block-size question with Yes
    bool eject = false;
    bool force = false; ///< overwrite an existing image file
    unsigned driveBlockSize = 0; ///< the drive's block size: 0 variable, else fixed blocks
    QString output; ///< the image file, or empty with --folder
    QString folder; ///< the folder the window's image name is built in
    QString inspectPath;
};

/// Fills @p options from @p arguments (the program name first). Returns an
/// empty string when they make sense, else what is wrong, in one line.
QString parseOptions(const QStringList &arguments, Options &options);

/// The --help text.
QString usageText();
