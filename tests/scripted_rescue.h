#pragma once
// A master rescued from a scripted drive as the command line does it: Rescue::Reader
// writing a partial file and its map in a folder of its own.
#include "archive/rescue_reader.h"

#include <QStringList>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

struct ScriptedRescue
{
    Rescue::Stop stop = Rescue::Stop::Done;
    Rescue::Map map; ///< as saved when the rescue ended
    QString problem;
    DWORD driveError = NO_ERROR;
    bool ran = false;

    /// Rescues @p drive with @p settings (its files are set here), logging to @p log.
    ScriptedRescue(HANDLE drive, TapeLog &log, Rescue::Reader::Settings settings)
    {
        QTemporaryDir dir;
        settings.partialPath = QFile::encodeName(dir.filePath(QStringLiteral("m.tap.partial")));
        settings.mapPath = Rescue::mapPath(settings.partialPath);
        const int fd = ::open(settings.partialPath.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (!dir.isValid() || fd < 0)
            return;
        {
            Rescue::Reader reader(drive, fd, Rescue::Map(), log, settings);
            ran = reader.start();
            if (ran) {
                stop = reader.run();
                ran = reader.finish();
            }
            map = reader.map();
            problem = reader.problem();
            driveError = reader.driveError();
        }
        ::close(fd);
    }

    /// What the master holds, position by position: R read good, B flagged with data, E
    /// flagged without, U not tried, M a tape mark; "|" where the data ends.
    QString kept() const
    {
        QStringList out;
        for (const Rescue::Run &run : map.runs())
            for (std::uint64_t i = 0; i < qMax<std::uint64_t>(run.count, 1); ++i)
                out << QChar::fromLatin1("RBEUM|"[int(run.state)]); // in State's order
        return out.join(QLatin1Char(' '));
    }
};
