#include "platform/st/sg_drive.h"

#include "platform/st/scsi_channel.h"
#include "platform/st/scsi_pages.h"
#include "platform/st/scsi_sense.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mtio.h>

namespace {

/// Enough for a medium error's sense; a record longer than this reads with ILI, as wanted.
constexpr std::uint32_t kSenseReadLength = 256 * 1024;

std::string errnoText(int error)
{
    return std::strerror(error);
}

} // namespace

SgDrive::SgDrive(StSystem &system, int stFd, std::string stPath)
    : m_system(system)
    , m_stFd(stFd)
    , m_stPath(std::move(stPath))
{
}

SgDrive::~SgDrive()
{
    if (m_genericFd >= 0)
        m_system.close(m_genericFd);
}

bool SgDrive::reach()
{
    if (m_tried)
        return m_genericFd >= 0;
    m_tried = true;
    m_genericNode = m_system.genericNodeFor(m_stPath);
    if (m_genericNode.empty()) {
        m_genericProblem
            = "the drive has no generic node (/dev/sgN): load the sg module (modprobe sg)";
        return false;
    }
    m_genericFd = m_system.open(m_genericNode.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_genericFd < 0)
        m_genericProblem = "cannot open " + m_genericNode + ": " + errnoText(errno);
    return m_genericFd >= 0;
}

bool SgDrive::command(const unsigned char *cdb, std::size_t cdbLength,
    std::vector<unsigned char> &data, std::vector<unsigned char> &sense)
{
    const bool generic = reach();
    const ScsiChannel::Outcome outcome
        = ScsiChannel::send([this](int fd, unsigned long request,
                                void *argument) { return m_system.ioctl(fd, request, argument); },
            generic ? m_genericFd : m_stFd, cdb, cdbLength,
            data.empty() ? ScsiChannel::Direction::None : ScsiChannel::Direction::FromDevice,
            data.data(), data.size(), 120000); // ms: a read that retries on a bad spot takes long
    if (outcome.error != 0) {
        sense.clear();
        // Without the generic node only a process with CAP_SYS_RAWIO reaches the drive.
        m_access = generic ? "SG_IO failed on " + m_genericNode + ": " + errnoText(outcome.error)
                           : m_genericProblem;
        errno = outcome.error;
        return false;
    }
    m_access.clear();
    sense = outcome.sense;
    data.resize(outcome.transferred);
    return outcome.infoOk;
}

bool SgDrive::ask(const unsigned char *cdb, std::size_t cdbLength, std::vector<unsigned char> &data,
    std::string &problem)
{
    std::vector<unsigned char> sense;
    if (command(cdb, cdbLength, data, sense))
        return true;
    if (!m_access.empty()) {
        problem = m_access;
    } else {
        const SenseFacts facts = ScsiSense::decode(sense.data(), sense.size());
        problem = facts.present && facts.action == SenseAction::IllegalRequest
            ? "the drive does not support it"
            : facts.present ? "the drive answered " + facts.keyName + ", " + facts.ascName
                            : "the drive did not answer";
    }
    return false;
}

void SgDrive::alerts(TapeAlertFacts &alerts)
{
    std::vector<unsigned char> page(512);
    const auto cdb = ScsiPages::logSenseCommand(0x2E, std::uint16_t(page.size()));
    alerts = TapeAlertFacts();
    if (ask(cdb.data(), cdb.size(), page, alerts.problem)
        && !ScsiPages::parseTapeAlert(page.data(), page.size(), alerts))
        alerts.problem = "the drive's answer is not a TapeAlert page";
}

void SgDrive::counters(ErrorCounterFacts &counters)
{
    std::vector<unsigned char> page(512);
    const auto cdb = ScsiPages::logSenseCommand(0x03, std::uint16_t(page.size()));
    counters = ErrorCounterFacts();
    if (ask(cdb.data(), cdb.size(), page, counters.problem)
        && !ScsiPages::parseErrorCounters(page.data(), page.size(), counters))
        counters.problem = "the drive's answer is not a read error counter page";
}

void SgDrive::facts(DriveFacts &facts)
{
    std::string problem;
    std::vector<unsigned char> answer(6);
    const auto limits = ScsiPages::blockLimitsCommand();
    if (ask(limits.data(), limits.size(), answer, problem))
        facts.limitsKnown = ScsiPages::parseBlockLimits(
            answer.data(), answer.size(), facts.maxBlock, facts.minBlock);
    facts.genericNode = m_genericNode;
    facts.access = m_access;
    m_system.adapterLimits(m_stPath, facts.adapterMaxKb, facts.adapterHwMaxKb);
    answer.assign(255, 0);
    const auto mode = ScsiPages::modeSenseCommand(0x0F, std::uint8_t(answer.size()));
    if (ask(mode.data(), mode.size(), answer, problem))
        ScsiPages::parseModeSense(answer.data(), answer.size(), facts);
    alerts(facts.alerts);
    counters(facts.counters);
    cartridge(facts.cartridge);
}

void SgDrive::cartridge(CartridgeFacts &cartridge)
{
    std::vector<unsigned char> answer(4096);
    const auto command = ScsiPages::readAttributeCommand(std::uint32_t(answer.size()));
    cartridge = CartridgeFacts();
    if (ask(command.data(), command.size(), answer, cartridge.problem)
        && !ScsiPages::parseAttributes(answer.data(), answer.size(), cartridge))
        cartridge.problem = "the drive's answer is not an attribute list";
}

bool SgDrive::readPosition(std::int64_t &block)
{
    std::vector<unsigned char> answer(20);
    std::vector<unsigned char> sense;
    const auto cdb = ScsiPages::readPositionCommand();
    return command(cdb.data(), cdb.size(), answer, sense)
        && ScsiPages::parseReadPosition(answer.data(), answer.size(), block);
}

void SgDrive::readFailure(std::uint64_t block, ReadFailureFacts &failure)
{
    failure = ReadFailureFacts();
    if (!readPosition(failure.positionBefore)) {
        failure.problem = m_access.empty() ? "the drive did not say where it stands" : m_access;
        return;
    }
    // LOCATE(10) to the record, READ it, and see where the drive stopped.
    const unsigned char locate[10] = { 0x2B, 0x00, 0x00, static_cast<unsigned char>(block >> 24),
        static_cast<unsigned char>(block >> 16), static_cast<unsigned char>(block >> 8),
        static_cast<unsigned char>(block), 0x00, 0x00, 0x00 };
    std::vector<unsigned char> none;
    std::vector<unsigned char> sense;
    if (!command(locate, sizeof locate, none, sense)) {
        // The sense of the LOCATE is not the read's: it only says why the record was not reached.
        const SenseFacts refused = ScsiSense::decode(sense.data(), sense.size());
        failure.problem = "the drive could not go back to the record"
            + (refused.present ? " (" + refused.keyName + ", " + refused.ascName + ")"
                               : std::string());
    } else {
        // No more than the adapter transfers at once, or SG_IO refuses the read itself.
        std::int64_t maxKb = -1, hwMaxKb = -1;
        m_system.adapterLimits(m_stPath, maxKb, hwMaxKb);
        failure.readLength = maxKb > 0 && std::uint64_t(maxKb) * 1024 < kSenseReadLength
            ? std::uint32_t(maxKb * 1024)
            : kSenseReadLength;
        std::vector<unsigned char> record(failure.readLength);
        const auto read = ScsiPages::readCommand(failure.readLength);
        const bool whole = command(read.data(), read.size(), record, sense);
        failure.sense = ScsiSense::decode(sense.data(), sense.size());
        failure.known = failure.sense.present;
        if (whole && !failure.sense.present)
            failure.problem = "the record read without error this time";
        else if (!failure.sense.present)
            failure.problem = m_access.empty() ? "the drive gave no sense data" : m_access;
        readPosition(failure.positionAfter);
    }
    // Back through st itself: it then forgets the block counts it kept.
    mtop seek = {};
    seek.mt_op = failure.positionBefore == 0 ? MTREW : MTSEEK;
    seek.mt_count = static_cast<int>(failure.positionBefore);
    if (m_system.ioctl(m_stFd, MTIOCTOP, &seek) != 0)
        failure.problem += std::string(failure.problem.empty() ? "" : "; ")
            + "the tape could not be put back where it stood: " + errnoText(errno);
}
