#include "archive/library_changer.h"

#include "platform/posix/device_access.h"
#include "platform/st/scsi_channel.h"
#include "platform/st/scsi_inquiry.h"

#include <QFile>

#include <cstring>

namespace Library {

using ScsiChanger::Element;
using ScsiChanger::ElementType;

namespace {

constexpr unsigned kQuickTimeoutMs = 60 * 1000;
// A robot moving a cartridge or scanning every slot of a large library takes minutes.
constexpr unsigned kRobotTimeoutMs = 30 * 60 * 1000;
constexpr std::size_t kFirstAnswer = 64 * 1024;
constexpr std::size_t kLargestAnswer = 0xFFFFFF;

QString senseText(const ScsiChannel::Outcome &outcome)
{
    if (outcome.error != 0)
        return QString::fromLocal8Bit(std::strerror(outcome.error));
    if (outcome.transportFailed)
        return QStringLiteral("the command did not reach the changer");
    return QStringLiteral("sense key %1, ASC %2h, ASCQ %3h")
        .arg(outcome.senseKey)
        .arg(outcome.asc, 2, 16, QLatin1Char('0'))
        .arg(outcome.ascq, 2, 16, QLatin1Char('0'));
}

QString elementLine(const Inventory &inventory, const QString &name, const Element &e)
{
    QString line = QStringLiteral("%1 (element %2): %3")
                       .arg(name)
                       .arg(e.address)
                       .arg(e.full ? QStringLiteral("full") : QStringLiteral("empty"));
    if (e.full) {
        line += e.barcode.empty()
            ? QStringLiteral(", no barcode")
            : QStringLiteral(", barcode %1").arg(QString::fromStdString(e.barcode));
    }
    if (e.full && ScsiChanger::isCleaning(e))
        line += QStringLiteral(", cleaning cartridge");
    if (e.full && e.sourceValid && e.type == ElementType::DataTransfer)
        line += QStringLiteral(", from ") + inventory.placeName(e.source);
    if (!e.serial.empty())
        line += QStringLiteral(", serial %1").arg(QString::fromStdString(e.serial));
    if (e.exception) {
        line += QStringLiteral(", abnormal (ASC %1h, ASCQ %2h)")
                    .arg(e.asc, 2, 16, QLatin1Char('0'))
                    .arg(e.ascq, 2, 16, QLatin1Char('0'));
    }
    return line;
}

} // namespace

int Inventory::slotNumber(std::uint16_t address) const
{
    for (std::size_t i = 0; i < storage.size(); ++i) {
        if (storage[i].address == address)
            return int(i) + 1;
    }
    for (std::size_t i = 0; i < importExports.size(); ++i) {
        if (importExports[i].address == address)
            return int(storage.size() + i) + 1;
    }
    return -1;
}

const ScsiChanger::Element *Inventory::slot(int number) const
{
    const int stored = int(storage.size());
    if (number >= 1 && number <= stored)
        return &storage[std::size_t(number - 1)];
    if (number > stored && number <= stored + int(importExports.size()))
        return &importExports[std::size_t(number - stored - 1)];
    return nullptr;
}

int Inventory::driveNumber(std::uint16_t address) const
{
    for (std::size_t i = 0; i < drives.size(); ++i) {
        if (drives[i].address == address)
            return int(i);
    }
    return -1;
}

QString Inventory::placeName(std::uint16_t address) const
{
    const int slot = slotNumber(address);
    if (slot > int(storage.size()))
        return QStringLiteral("import/export slot %1").arg(slot);
    if (slot > 0)
        return QStringLiteral("slot %1").arg(slot);
    const int drive = driveNumber(address);
    if (drive >= 0)
        return QStringLiteral("drive %1").arg(drive);
    return QStringLiteral("element %1").arg(address);
}

QStringList inventoryLines(const Inventory &inventory, const QString &path)
{
    const auto count = [](std::size_t n, const char *one, const char *many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    QStringList lines;
    lines << QStringLiteral("Changer %1: %2, %3, %4")
                 .arg(path, count(inventory.drives.size(), "drive", "drives"),
                     count(inventory.storage.size(), "slot", "slots"),
                     count(inventory.importExports.size(), "import/export slot",
                         "import/export storage"));
    for (const auto *kind : { &inventory.drives, &inventory.storage, &inventory.importExports }) {
        for (const Element &e : *kind) {
            QString name = inventory.placeName(e.address);
            name[0] = name[0].toUpper();
            lines << elementLine(inventory, name, e);
        }
    }
    return lines;
}

Changer::~Changer()
{
    ScsiChannel::close(m_fd);
}

bool Changer::open(const QString &path, QString &problem)
{
    m_path = path;
    m_fd = ScsiChannel::open(QFile::encodeName(path).toStdString());
    if (m_fd >= 0)
        return true;
    const int error = -m_fd;
    problem = QStringLiteral("cannot open the changer %1: %2")
                  .arg(path, QString::fromLocal8Bit(std::strerror(error)));
    if (error == EACCES || error == EPERM)
        problem += deviceAccessHint(path, QStringLiteral("changer"));
    return false;
}

bool Changer::run(const unsigned char *command, std::size_t length,
    std::vector<unsigned char> *answer, unsigned timeoutMs, const QString &what, QString &problem)
{
    const auto direction
        = answer ? ScsiChannel::Direction::FromDevice : ScsiChannel::Direction::None;
    unsigned char *data = answer ? answer->data() : nullptr;
    const std::size_t size = answer ? answer->size() : 0;
    ScsiChannel::Outcome outcome
        = ScsiChannel::send(m_fd, command, length, direction, data, size, timeoutMs);
    // The changer driver's node may refuse SG_IO to a user without raw I/O rights;
    // the generic node of the same device takes it with read and write access.
    if (outcome.error != 0 && !m_triedGeneric) {
        m_triedGeneric = true;
        const std::string generic
            = ScsiChannel::genericNodeOfChanger(QFile::encodeName(m_path).toStdString());
        const int fd = generic.empty() ? -1 : ScsiChannel::open(generic);
        if (fd >= 0) {
            ScsiChannel::close(m_fd);
            m_fd = fd;
            outcome = ScsiChannel::send(m_fd, command, length, direction, data, size, timeoutMs);
        }
    }
    if (!outcome.ok()) {
        problem
            = QStringLiteral("the changer %1 refused %2: %3").arg(m_path, what, senseText(outcome));
        return false;
    }
    if (answer)
        answer->resize(outcome.transferred);
    return true;
}

bool Changer::initialize(QString &problem)
{
    const auto command = ScsiChanger::initializeElementStatus();
    return run(command.data(), command.size(), nullptr, kRobotTimeoutMs,
        QStringLiteral("INITIALIZE ELEMENT STATUS"), problem);
}

bool Changer::readType(ElementType type, std::vector<Element> &elements, QString &problem)
{
    // Barcodes, and the drives' identifiers, where the changer knows them; a changer
    // without a barcode reader refuses the volume tags and is asked again without.
    bool deviceIds = type == ElementType::DataTransfer;
    bool volumeTags = true;
    std::size_t size = kFirstAnswer;
    for (;;) {
        std::vector<unsigned char> answer(size, 0);
        const auto command = ScsiChanger::readElementStatus(
            type, 0, 0xFFFF, volumeTags, deviceIds, std::uint32_t(size));
        QString refusal;
        if (!run(command.data(), command.size(), &answer, kQuickTimeoutMs,
                QStringLiteral("READ ELEMENT STATUS"), refusal)) {
            if (deviceIds || volumeTags) {
                if (deviceIds)
                    deviceIds = false;
                else
                    volumeTags = false;
                continue;
            }
            problem = refusal;
            return false;
        }
        const std::size_t whole = ScsiChanger::elementStatusLength(answer.data(), answer.size());
        if (whole > answer.size() && answer.size() == size && size < kLargestAnswer) {
            size = std::min(whole, kLargestAnswer);
            continue;
        }
        if (!ScsiChanger::parseElementStatus(answer.data(), answer.size(), elements)) {
            problem = QStringLiteral("the changer %1 sent an element status that cannot be read")
                          .arg(m_path);
            return false;
        }
        return true;
    }
}

bool Changer::readInventory(Inventory &inventory, QString &problem)
{
    // Read again into the same inventory (after putting cartridges back), the
    // elements replace what it held instead of following it.
    inventory = Inventory();
    std::vector<unsigned char> page(255, 0);
    const auto sense = ScsiChanger::modeSenseAddressAssignment(std::uint8_t(page.size()));
    QString ignored; // changers without the page still report their elements
    inventory.haveAssignment = run(sense.data(), sense.size(), &page, kQuickTimeoutMs,
                                   QStringLiteral("MODE SENSE"), ignored)
        && ScsiChanger::parseAddressAssignment(page.data(), page.size(), inventory.assignment);
    // One element type at a time: some changers lay out an all-types answer wrongly.
    return readType(ElementType::Transport, inventory.transports, problem)
        && readType(ElementType::Storage, inventory.storage, problem)
        && readType(ElementType::ImportExport, inventory.importExports, problem)
        && readType(ElementType::DataTransfer, inventory.drives, problem);
}

bool Changer::move(
    std::uint16_t source, std::uint16_t destination, std::uint16_t transport, QString &problem)
{
    const auto command = ScsiChanger::moveMedium(transport, source, destination);
    return run(command.data(), command.size(), nullptr, kRobotTimeoutMs,
        QStringLiteral("MOVE MEDIUM"), problem);
}

QString Changer::identity()
{
    std::vector<unsigned char> standard(96, 0), page(255, 0);
    const auto ask = ScsiInquiry::command(false, std::uint8_t(standard.size()));
    const auto askSerial = ScsiInquiry::command(true, std::uint8_t(page.size()));
    QString ignored; // a changer that does not answer is known by its node instead
    std::string vendor, product, revision, serial;
    if (!run(ask.data(), ask.size(), &standard, kQuickTimeoutMs, QStringLiteral("INQUIRY"), ignored)
        || !ScsiInquiry::parseStandard(standard.data(), standard.size(), vendor, product, revision)
        || !run(askSerial.data(), askSerial.size(), &page, kQuickTimeoutMs,
            QStringLiteral("INQUIRY"), ignored)
        || !ScsiInquiry::parseSerialPage(page.data(), page.size(), serial) || serial.empty())
        return QString();
    return QString::fromStdString(vendor + ' ' + product + ' ' + serial);
}

} // namespace Library
