#include "archive/record_keeper.h"

#include "archive/tape_log.h"
#include "platform/posix/native_file.h"

RecordKeeper::RecordKeeper(RunRecord::Record &record, const TapeLog &log,
    std::function<QByteArray()> imagePath, std::function<int()> imageFd)
    : m_record(record)
    , m_log(log)
    , m_imagePath(std::move(imagePath))
    , m_imageFd(std::move(imageFd))
{
}

void RecordKeeper::logged(bool mark)
{
    if (m_done)
        return;
    const bool problem = m_log.problems().size() != m_problemsWritten
        && (!m_sinceProblem.isValid() || m_sinceProblem.elapsed() >= kProblemIntervalMs);
    if (problem)
        m_sinceProblem.start();
    if (mark || problem || !m_sinceWritten.isValid() || m_sinceWritten.elapsed() >= kIntervalMs)
        write();
}

bool RecordKeeper::write()
{
    m_sinceWritten.start();
    RunRecord::Record interim = m_record;
    interim.ended = QDateTime::currentDateTime();
    m_log.fill(interim);
    m_problemsWritten = m_log.problems().size();
    interim.bytesWritten = NativeFile::size(m_imageFd());
    interim.verdict = RunRecord::Verdict::Unfinished;
    interim.verdictText = QStringLiteral("the run was still reading when this record was written; "
                                         "the image may hold less than the blocks counted here");
    interim.sha256.clear();
    const QByteArray image = m_imagePath();
    if (!RunRecord::writeBeside(image, interim))
        return false;
    m_written = RunRecord::recordPath(image);
    return true;
}

void RecordKeeper::finish(const QByteArray &finalPath)
{
    m_done = true;
    if (!m_written.isEmpty() && m_written != finalPath)
        NativeFile::removeFile(m_written);
    m_written.clear();
}
