#include "archive/drive_witness.h"

#include "archive/drive_words.h"
#include "archive/notices.h"
#include "platform/drive_report.h"
#include "platform/win32_tape.h"

namespace {

/// The drive's own word: its lines stand apart from the run's, which the tape alone decides.
void say(const QString &message)
{
    Archive::say(QStringLiteral("drive: ") + message);
}

QString blockText(quint64 block)
{
    return QStringLiteral("block %1").arg(block + 1);
}

} // namespace

DriveWitness::DriveWitness(HANDLE drive, bool keepRetrying)
    : m_drive(drive)
    , m_keepRetrying(keepRetrying)
{
}

DriveWitness::Advice DriveWitness::beforeRun()
{
    const DWORD error = QueryDriveFacts(m_drive, m_facts);
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_HANDLE) {
        const QString why = QStringLiteral("a virtual tape keeps no sense data, TapeAlert flags, "
                                           "error counters or cartridge memory");
        m_json.insert(QStringLiteral("problem"), why);
        return Advice::ReadAgain;
    }
    m_json = DriveWords::factsJson(m_facts);
    if (!m_facts.access.empty()) {
        say(QStringLiteral("the drive's sense data, TapeAlert and counters cannot be "
                           "read (%1); a failed read is only known as failed")
                .arg(DriveWords::accessText(m_facts)));
        return Advice::ReadAgain;
    }
    m_tells = true;
    // Reading the facts read TapeAlert, and so cleared it: these are the flags from before.
    m_json.insert(QStringLiteral("tapeAlertBefore"), DriveWords::alertsJson(m_facts.alerts));
    m_json.insert(QStringLiteral("countersBefore"), DriveWords::countersJson(m_facts.counters));
    if (m_facts.alerts.known && !m_facts.alerts.names.empty()) {
        say(QStringLiteral("TapeAlert before the run: %1")
                .arg(DriveWords::alertNames(m_facts.alerts)));
    }
    if (m_facts.adapterMaxKb > 0 && m_facts.limitsKnown
        && std::uint64_t(m_facts.adapterMaxKb) * 1024 < m_facts.maxBlock) {
        say(QStringLiteral("this adapter transfers at most %1 KiB at once, less than "
                           "the drive's largest record: a longer record cannot be "
                           "read whole through it")
                .arg(m_facts.adapterMaxKb));
    }
    if (m_facts.alerts.cleanNow) {
        m_stopText = QStringLiteral("the drive asks to be cleaned (TapeAlert: clean now): clean "
                                    "it with a cleaning cartridge, then read the tape");
        return Advice::StopRun;
    }
    return Advice::ReadAgain;
}

TapeAlertFacts DriveWitness::readAlerts(const QString &when, QJsonObject &into)
{
    TapeAlertFacts alerts;
    ErrorCounterFacts counters;
    QueryDriveAlerts(m_drive, alerts, counters);
    into.insert(QStringLiteral("tapeAlert"), DriveWords::alertsJson(alerts));
    into.insert(QStringLiteral("counters"), DriveWords::countersJson(counters));
    if (alerts.known && !alerts.names.empty())
        say(QStringLiteral("TapeAlert %1: %2").arg(when, DriveWords::alertNames(alerts)));
    return alerts;
}

void DriveWitness::recordLength(const ReadFailureFacts &failure, quint64 block)
{
    // A record longer than the read: its residue is negative, and gives its length.
    const SenseFacts &sense = failure.sense;
    if (!sense.incorrectLength || !sense.informationValid || sense.information >= 0)
        return;
    const qint64 length = qint64(failure.readLength) - sense.information;
    if (m_facts.adapterMaxKb > 0 && length > m_facts.adapterMaxKb * 1024) {
        say(QStringLiteral("%1 is a record of %2 bytes, longer than the %3 KiB this "
                           "adapter transfers at once: read the tape through an "
                           "adapter that takes records of that length")
                .arg(blockText(block))
                .arg(length)
                .arg(m_facts.adapterMaxKb));
    }
}

DriveWitness::Advice DriveWitness::afterFailedRead(DWORD error, quint64 block)
{
    if (!m_tells)
        return Advice::ReadAgain;
    if (block == m_lastBlock) {
        // Read again and failed again: its sense was taken at the first failure.
        QJsonObject again;
        return judge(readAlerts(QStringLiteral("after %1 again").arg(blockText(block)), again),
            SenseFacts(), block);
    }
    m_lastBlock = block;
    QJsonObject entry { { QStringLiteral("block"), double(block + 1) },
        { QStringLiteral("error"), double(error) } };
    ReadFailureFacts failure;
    QueryReadFailure(m_drive, block, failure);
    const QJsonObject sense = DriveWords::senseJson(failure);
    for (auto it = sense.begin(); it != sense.end(); ++it)
        entry.insert(it.key(), it.value());
    if (failure.sense.present) {
        QString line
            = QStringLiteral("%1: %2").arg(blockText(block), DriveWords::senseText(failure.sense));
        if (!failure.sense.advice.empty())
            line += QStringLiteral(": ") + QString::fromStdString(failure.sense.advice);
        say(line);
        recordLength(failure, block);
    } else {
        say(QStringLiteral("%1: the sense of the failed read is not known (%2)")
                .arg(blockText(block), QString::fromStdString(failure.problem)));
    }
    const TapeAlertFacts alerts
        = readAlerts(QStringLiteral("after %1").arg(blockText(block)), entry);
    m_failures.append(entry);
    return judge(alerts, failure.sense, block);
}

DriveWitness::Advice DriveWitness::judge(
    const TapeAlertFacts &alerts, const SenseFacts &sense, quint64 block)
{
    if (alerts.cleanNow || sense.action == SenseAction::CleaningRequested) {
        m_stopText = QStringLiteral("the drive asks to be cleaned after %1: clean it with a "
                                    "cleaning cartridge, then read the rest of the tape")
                         .arg(blockText(block));
        return Advice::StopRun;
    }
    if (sense.action == SenseAction::WrongFormat) {
        m_stopText = QStringLiteral("this drive cannot read this cartridge's format (%1); try a "
                                    "drive of its generation")
                         .arg(DriveWords::senseText(sense));
        return Advice::StopRun;
    }
    if (sense.action == SenseAction::NotReady) {
        m_stopText
            = QStringLiteral("the drive is no longer ready (%1)").arg(DriveWords::senseText(sense));
        return Advice::StopRun;
    }
    // A snapped tape (TapeAlert 14) cannot be read on: what was read is secured.
    if (alerts.has(14) && !m_keepRetrying) {
        m_stopText = QStringLiteral("the drive reports a snapped tape after %1 (TapeAlert: %2): "
                                    "reading stops to secure what was read; --keep-retrying "
                                    "reads on all the same")
                         .arg(blockText(block), DriveWords::alertNames(alerts));
        return Advice::StopRun;
    }
    if (alerts.tapeAtRisk && !m_keepRetrying) {
        say(QStringLiteral("the tape is at risk (TapeAlert: %1): %2 is not read again; "
                           "--keep-retrying reads it again all the same")
                .arg(DriveWords::alertNames(alerts), blockText(block)));
        return Advice::PassOn;
    }
    return Advice::ReadAgain;
}

void DriveWitness::atEnd()
{
    if (!m_tells)
        return;
    QJsonObject end;
    readAlerts(QStringLiteral("at the end of the run"), end);
    m_json.insert(QStringLiteral("tapeAlertAtEnd"), end.value(QStringLiteral("tapeAlert")));
    m_json.insert(QStringLiteral("countersAtEnd"), end.value(QStringLiteral("counters")));
}

QString DriveWitness::barcode() const
{
    return QString::fromStdString(m_facts.cartridge.barcode);
}

QJsonObject DriveWitness::json() const
{
    QJsonObject json = m_json;
    if (m_tells)
        json.insert(QStringLiteral("readFailures"), m_failures);
    if (!m_stopText.isEmpty())
        json.insert(QStringLiteral("stoppedBecause"), m_stopText);
    return json;
}

QString DriveWitness::barcodeInDrive()
{
    // Opened and closed again before the run opens it: st lets one program in at a time.
    const HANDLE drive = CreateFileW(L"//./Tape0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_ARCHIVE, nullptr);
    if (drive == INVALID_HANDLE_VALUE)
        return QString();
    CartridgeFacts cartridge;
    QueryCartridge(drive, cartridge);
    CloseHandle(drive);
    return QString::fromStdString(cartridge.barcode);
}

QString DriveWitness::masterName(const QString &barcode, const QDateTime &when)
{
    QString name;
    for (const QChar c : barcode) {
        const bool plain = (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-')
            || c == QLatin1Char('.');
        name += plain ? c : QLatin1Char('_');
    }
    if (name.startsWith(QLatin1Char('.')))
        name[0] = QLatin1Char('_'); // never a hidden file
    return name + when.toString(QStringLiteral("'_'yyyy-MM-dd'_'HH-mm-ss'.tap'"));
}
