#include "archive/drive_words.h"

#include "platform/posix/device_access.h"

#include <QJsonArray>

namespace DriveWords {

namespace {

QString text(const std::string &value)
{
    return QString::fromStdString(value);
}

QJsonValue numberOrNull(std::int64_t value)
{
    return value < 0 ? QJsonValue() : QJsonValue(double(value));
}

QJsonValue textOrNull(const std::string &value)
{
    return value.empty() ? QJsonValue() : QJsonValue(text(value));
}

QString hex2(unsigned value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

QString counter(std::int64_t value)
{
    return value < 0 ? QStringLiteral("not given") : QString::number(value);
}

QString sizeText(std::uint32_t bytes)
{
    return bytes >= 1024 && bytes % 1024 == 0
        ? QStringLiteral("%1 bytes (%2 KiB)").arg(bytes).arg(bytes / 1024)
        : QStringLiteral("%1 bytes").arg(bytes);
}

QString limitsLine(const DriveFacts &facts)
{
    QString line = facts.limitsKnown ? QStringLiteral("block limits: records of %1 to %2")
                                           .arg(sizeText(facts.minBlock), sizeText(facts.maxBlock))
                                     : QStringLiteral("block limits: not known");
    if (facts.adapterMaxKb > 0) {
        line += QStringLiteral("; the adapter transfers at most %1 KiB at once")
                    .arg(facts.adapterMaxKb);
        if (facts.adapterHwMaxKb > facts.adapterMaxKb)
            line += QStringLiteral(" (its hardware up to %1 KiB)").arg(facts.adapterHwMaxKb);
    } else {
        line += QStringLiteral("; the adapter's largest transfer is not known");
    }
    return line;
}

QString modeLine(const DriveFacts &facts)
{
    if (!facts.modeKnown)
        return QStringLiteral("density and compression: not known");
    const QString density = facts.densityName.empty()
        ? QStringLiteral("density code 0x%1").arg(hex2(facts.density))
        : QStringLiteral("density %1 (code 0x%2)")
              .arg(text(facts.densityName), hex2(facts.density));
    const QString blocks = facts.blockLength == 0
        ? QStringLiteral("variable blocks")
        : QStringLiteral("fixed blocks of %1").arg(sizeText(facts.blockLength));
    const QString compression = facts.compression < 0 ? QStringLiteral("compression not known")
        : facts.compression                           ? QStringLiteral("compression on")
                                                      : QStringLiteral("compression off");
    return QStringLiteral("%1, %2, %3%4")
        .arg(density, blocks, compression,
            facts.writeProtected ? QStringLiteral(", write-protected") : QString());
}

QString countersLine(const ErrorCounterFacts &counters)
{
    if (!counters.known)
        return QStringLiteral("read error counters: not read (%1)").arg(text(counters.problem));
    return QStringLiteral("read error counters: %1 corrected (%2 at once, %3 with delay), %4 "
                          "re-reads, %5 uncorrected, %6 bytes processed")
        .arg(counter(counters.corrected), counter(counters.correctedFast),
            counter(counters.correctedDelayed), counter(counters.rereads),
            counter(counters.uncorrected), counter(counters.bytesProcessed));
}

QStringList cartridgeLines(const CartridgeFacts &cartridge)
{
    if (!cartridge.known)
        return { QStringLiteral("cartridge memory: not read (%1)").arg(text(cartridge.problem)) };
    const auto shown = [](const std::string &value) {
        return value.empty() ? QStringLiteral("not recorded") : text(value);
    };
    return { QStringLiteral("cartridge barcode: %1").arg(shown(cartridge.barcode)),
        QStringLiteral("cartridge serial number: %1, made by %2 on %3")
            .arg(shown(cartridge.mediumSerial), shown(cartridge.manufacturer),
                shown(cartridge.manufactureDate)),
        QStringLiteral("cartridge loads: %1")
            .arg(cartridge.loadCount < 0 ? QStringLiteral("not recorded")
                                         : QString::number(cartridge.loadCount)) };
}

} // namespace

QString alertNames(const TapeAlertFacts &alerts)
{
    QStringList names;
    for (const std::string &name : alerts.names)
        names << text(name);
    return names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", "));
}

QString senseText(const SenseFacts &sense)
{
    return QStringLiteral("%1, %2 (%3/%4)")
        .arg(text(sense.keyName), text(sense.ascName), hex2(sense.asc), hex2(sense.ascq));
}

QString actionName(SenseAction action)
{
    switch (action) {
    case SenseAction::None:
        return QStringLiteral("none");
    case SenseAction::Filemark:
        return QStringLiteral("filemark");
    case SenseAction::EndOfData:
        return QStringLiteral("end-of-data");
    case SenseAction::EndOfMedium:
        return QStringLiteral("end-of-medium");
    case SenseAction::MediumError:
        return QStringLiteral("medium-error");
    case SenseAction::HardwareError:
        return QStringLiteral("hardware-error");
    case SenseAction::WrongFormat:
        return QStringLiteral("wrong-format");
    case SenseAction::NotReady:
        return QStringLiteral("not-ready");
    case SenseAction::PositionLost:
        return QStringLiteral("position-lost");
    case SenseAction::CleaningRequested:
        return QStringLiteral("cleaning-requested");
    case SenseAction::IllegalRequest:
        return QStringLiteral("illegal-request");
    case SenseAction::Other:
        break;
    }
    return QStringLiteral("other");
}

QString accessText(const DriveFacts &facts)
{
    QString why = text(facts.access);
    if (!facts.genericNode.empty())
        why += deviceAccessHint(text(facts.genericNode));
    return why;
}

QStringList describe(const DriveFacts &facts)
{
    QStringList lines;
    if (!facts.access.empty()) {
        lines << QStringLiteral("the drive's own pages cannot be read: %1").arg(accessText(facts));
        return lines;
    }
    lines << limitsLine(facts) << modeLine(facts);
    lines << (facts.alerts.known
            ? QStringLiteral("TapeAlert: %1 (reading them has cleared them)")
                  .arg(alertNames(facts.alerts))
            : QStringLiteral("TapeAlert: not read (%1)").arg(text(facts.alerts.problem)));
    lines << countersLine(facts.counters) << cartridgeLines(facts.cartridge);
    return lines;
}

QJsonObject alertsJson(const TapeAlertFacts &alerts)
{
    if (!alerts.known)
        return { { QStringLiteral("problem"), text(alerts.problem) } };
    QJsonArray flags;
    QJsonArray names;
    for (int flag = 1; flag <= 64; ++flag) {
        if (alerts.has(flag))
            flags.append(flag);
    }
    for (const std::string &name : alerts.names)
        names.append(text(name));
    return { { QStringLiteral("flags"), flags }, { QStringLiteral("names"), names },
        { QStringLiteral("cleanNow"), alerts.cleanNow },
        { QStringLiteral("tapeAtRisk"), alerts.tapeAtRisk } };
}

QJsonObject countersJson(const ErrorCounterFacts &counters)
{
    if (!counters.known)
        return { { QStringLiteral("problem"), text(counters.problem) } };
    return { { QStringLiteral("correctedWithoutDelay"), numberOrNull(counters.correctedFast) },
        { QStringLiteral("correctedWithDelay"), numberOrNull(counters.correctedDelayed) },
        { QStringLiteral("rereads"), numberOrNull(counters.rereads) },
        { QStringLiteral("corrected"), numberOrNull(counters.corrected) },
        { QStringLiteral("uncorrected"), numberOrNull(counters.uncorrected) },
        { QStringLiteral("bytesProcessed"), numberOrNull(counters.bytesProcessed) } };
}

QJsonObject senseJson(const ReadFailureFacts &failure)
{
    QJsonObject json { { QStringLiteral("positionBefore"), numberOrNull(failure.positionBefore) },
        { QStringLiteral("positionAfter"), numberOrNull(failure.positionAfter) },
        { QStringLiteral("problem"), textOrNull(failure.problem) } };
    const SenseFacts &sense = failure.sense;
    if (!sense.present)
        return json;
    json.insert(QStringLiteral("senseKey"), int(sense.key));
    json.insert(QStringLiteral("senseKeyName"), text(sense.keyName));
    json.insert(QStringLiteral("asc"), int(sense.asc));
    json.insert(QStringLiteral("ascq"), int(sense.ascq));
    json.insert(QStringLiteral("ascName"), text(sense.ascName));
    json.insert(QStringLiteral("meaning"), actionName(sense.action));
    json.insert(QStringLiteral("advice"), textOrNull(sense.advice));
    json.insert(QStringLiteral("information"),
        sense.informationValid ? QJsonValue(double(sense.information)) : QJsonValue());
    json.insert(QStringLiteral("filemark"), sense.filemark);
    json.insert(QStringLiteral("endOfMedium"), sense.endOfMedium);
    json.insert(QStringLiteral("incorrectLength"), sense.incorrectLength);
    return json;
}

QJsonObject factsJson(const DriveFacts &facts)
{
    QJsonObject json { { QStringLiteral("genericNode"), textOrNull(facts.genericNode) },
        { QStringLiteral("access"),
            facts.access.empty() ? QJsonValue() : QJsonValue(accessText(facts)) } };
    if (!facts.access.empty())
        return json;
    json.insert(QStringLiteral("maxBlock"),
        facts.limitsKnown ? QJsonValue(double(facts.maxBlock)) : QJsonValue());
    json.insert(QStringLiteral("minBlock"),
        facts.limitsKnown ? QJsonValue(double(facts.minBlock)) : QJsonValue());
    json.insert(QStringLiteral("adapterMaxKb"), numberOrNull(facts.adapterMaxKb));
    json.insert(QStringLiteral("adapterHwMaxKb"), numberOrNull(facts.adapterHwMaxKb));
    if (facts.modeKnown) {
        json.insert(QStringLiteral("densityCode"), int(facts.density));
        json.insert(QStringLiteral("density"), textOrNull(facts.densityName));
        json.insert(QStringLiteral("driveBlockLength"), double(facts.blockLength));
        json.insert(QStringLiteral("compression"),
            facts.compression < 0 ? QJsonValue() : QJsonValue(facts.compression == 1));
    }
    const CartridgeFacts &cartridge = facts.cartridge;
    json.insert(QStringLiteral("cartridge"),
        cartridge.known
            ? QJsonObject { { QStringLiteral("barcode"), textOrNull(cartridge.barcode) },
                { QStringLiteral("mediumSerial"), textOrNull(cartridge.mediumSerial) },
                { QStringLiteral("manufacturer"), textOrNull(cartridge.manufacturer) },
                { QStringLiteral("manufactureDate"), textOrNull(cartridge.manufactureDate) },
                { QStringLiteral("loadCount"), numberOrNull(cartridge.loadCount) } }
            : QJsonObject { { QStringLiteral("problem"), text(cartridge.problem) } });
    return json;
}

} // namespace DriveWords
