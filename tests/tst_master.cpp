// A master's reads on a drive scripted object by object: how often a failing block is
// read again, and how the rescue gets past it, whatever the drive does after a failure.
#include "platform/backend/tape_backend.h"
#include "platform/win32_tape.h"

#include "scripted_rescue.h"

#include <QtTest>

#include <cstring>
#include <memory>
#include <vector>

namespace {

/// A drive scripted object by object: "R100" a record, "M" a mark, "B50/2" a block
/// of 50 bytes that fails the first 2 reads (B50/* never reads). @p stays: after a
/// failed read the drive stays before the block instead of passing it. @p canMove
/// false: it neither spaces nor locates.
class ScriptedDrive : public TapeBackend
{
public:
    struct Object
    {
        char kind = 'R';
        std::uint32_t length = 0;
        int failures = 0;
    };
    std::vector<Object> objects;
    std::size_t at = 0;
    bool stays = false;
    bool canMove = true;
    bool knowsPosition = true;
    QStringList reads; ///< the block number of every read

    explicit ScriptedDrive(const QString &script)
    {
        for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            Object object;
            object.kind = step.at(0).toLatin1();
            const QStringList parts = step.mid(1).split(QLatin1Char('/'));
            object.length = parts.at(0).toUInt();
            if (parts.size() > 1)
                object.failures = parts.at(1) == QLatin1String("*") ? 1 << 30 : parts.at(1).toInt();
            objects.push_back(object);
        }
    }

    DWORD prepare(bool) override { return NO_ERROR; }
    DWORD status() override { return NO_ERROR; }
    DWORD mediaInfo(TapeMediaInfo &) override { return ERROR_NOT_SUPPORTED; }
    DWORD setBlockSize(std::uint32_t) override { return NO_ERROR; }
    DWORD spaceToEndOfData() override
    {
        at = objects.size();
        return NO_ERROR;
    }
    DWORD seekBlock(std::uint64_t block) override
    {
        if (!canMove)
            return ERROR_IO_DEVICE;
        at = std::size_t(block);
        return NO_ERROR;
    }
    DWORD position(std::uint64_t &block) override
    {
        block = at;
        return knowsPosition ? NO_ERROR : ERROR_NOT_SUPPORTED;
    }
    DWORD spaceRecords(std::int64_t count) override
    {
        if (!canMove)
            return ERROR_IO_DEVICE;
        at = std::size_t(std::int64_t(at) + count);
        return NO_ERROR;
    }
    DWORD read(void *buffer, std::uint32_t length, std::uint32_t &bytesRead) override
    {
        bytesRead = 0;
        reads << QString::number(at);
        if (at >= objects.size())
            return ERROR_NO_DATA_DETECTED;
        Object &object = objects[at];
        if (object.kind == 'M') {
            ++at;
            return ERROR_FILEMARK_DETECTED;
        }
        bytesRead = std::min(object.length, length);
        std::memset(buffer, 'x', bytesRead);
        if (object.kind == 'B' && object.failures > 0) {
            --object.failures;
            if (!stays)
                ++at;
            return ERROR_CRC;
        }
        ++at;
        return NO_ERROR;
    }
    DWORD eject() override { return NO_ERROR; }
    DWORD identify(TapeIdentity &) override { return NO_ERROR; }
};

} // namespace

class TestMaster : public QObject
{
    Q_OBJECT

private slots:
    void retriesAndPassingOver_data();
    void retriesAndPassingOver();
};

void TestMaster::retriesAndPassingOver_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("passes");
    QTest::addColumn<bool>("stays");
    QTest::addColumn<bool>("canMove");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("reads");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("problems");

    const int complete = int(RunRecord::Verdict::Complete);
    const int damaged = int(RunRecord::Verdict::Damaged);
    const int short_ = int(RunRecord::Verdict::StopsShort);
    // clang-format off
    QTest::newRow("clean tape") << "R100 M R7 M" << 2 << 1 << false << true
        << "R M R M |" << "0 1 2 3 4" << complete << "";
    // Read again after the drive passed the block: back one, then it reads whole.
    QTest::newRow("recovered at the second read") << "R100 B50/1 M" << 2 << 1 << false << true
        << "R R M |" << "0 1 1 2 3" << complete << "recovered@2";
    // A drive that stays before the block is read again where it is.
    QTest::newRow("recovered, drive stays") << "B50/2 M" << 2 << 1 << true << true
        << "R M |" << "0 0 0 1 2" << complete << "recovered@1";
    // Never more reads than the retries allow, then kept flagged and passed over.
    QTest::newRow("never readable") << "R1 B50/* R2" << 2 << 1 << false << true
        << "R B R |" << "0 1 1 1 2 3" << damaged << "unreadable@2";
    QTest::newRow("no retries") << "B50/* R2" << 0 << 1 << false << true
        << "B R |" << "0 1 2" << damaged << "unreadable@1";
    // A later pass returns to it alone, with the same bound.
    QTest::newRow("never readable, two passes") << "R1 B50/* R2" << 1 << 2 << false << true
        << "R B R |" << "0 1 1 2 3 1 1" << damaged << "unreadable@2";
    // The drive stayed before the unreadable block: the master spaces past it.
    QTest::newRow("passed over by spacing") << "B50/* R2" << 1 << 1 << true << true
        << "B R |" << "0 0 1 2" << damaged << "unreadable@1";
    // It cannot: the master ends there and says the rest is missing, never "complete".
    QTest::newRow("stuck before the block") << "B50/* R2" << 1 << 1 << true << false
        << "B" << "0 0" << short_ << "unreadable@1";
    // clang-format on
}

void TestMaster::retriesAndPassingOver()
{
    QFETCH(QString, script);
    QFETCH(bool, stays);
    QFETCH(bool, canMove);
    auto *drive = new ScriptedDrive(script);
    drive->stays = stays;
    drive->canMove = canMove;
    const qint64 endOfData = qint64(drive->objects.size());
    const HANDLE handle = registerHandle(std::unique_ptr<HandleObject>(drive));

    TapeLog log;
    Rescue::Reader::Settings settings;
    QFETCH(int, retries);
    QFETCH(int, passes);
    settings.retries = retries;
    settings.passes = passes;
    settings.endOfData = endOfData;
    const ScriptedRescue rescue(handle, log, settings);
    QVERIFY(rescue.ran);
    const Judgement judgement = Rescue::judge(rescue.map, rescue.stop, endOfData, rescue.problem);

    QTEST(rescue.kept(), "kept");
    QTEST(drive->reads.join(QLatin1Char(' ')), "reads");
    QTEST(int(judgement.verdict), "verdict");
    QStringList problems;
    for (const RunRecord::Problem &problem : log.problems())
        problems << RunRecord::problemKindName(problem.kind) + QLatin1Char('@')
                + QString::number(problem.block);
    QTEST(problems.join(QLatin1Char(' ')), "problems");
    QVERIFY(CloseHandle(handle));
}

QTEST_GUILESS_MAIN(TestMaster)
#include "tst_master.moc"
