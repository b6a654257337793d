#include "archive/master_reader.h"
#include "platform/backend/tape_backend.h"
#include "platform/win32_tape.h"

#include <QtTest>

#include <cstring>
#include <memory>
#include <vector>

namespace {

/// A drive scripted object by object: "R100" a record, "M" a mark, "B50/2" a block
/// of 50 bytes that fails the first 2 reads (B50/* never reads). @p stays: after a
/// failed read the drive stays before the block instead of passing it.
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
    bool canSpace = true;
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
        if (!canSpace)
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

/// What reached the master: "R100 C50! M".
class ListSink : public Master::MasterSink
{
public:
    QStringList kept;
    std::vector<unsigned char> buffer = std::vector<unsigned char>(1 << 16);

    unsigned char *recordBuffer() override { return buffer.data(); }
    bool commitRecord(std::uint32_t length, bool error) override
    {
        kept << QStringLiteral("R%1%2").arg(length).arg(error ? QStringLiteral("!") : QString());
        return true;
    }
    void commitMark() override { kept << QStringLiteral("M"); }
    void commitEndOfMedium() override { kept << QStringLiteral("EOM"); }
    bool failed() const override { return false; }
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
    QTest::addColumn<bool>("stays");
    QTest::addColumn<bool>("canSpace");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("reads");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("problems");

    const int complete = int(RunRecord::Verdict::Complete);
    const int damaged = int(RunRecord::Verdict::Damaged);
    const int short_ = int(RunRecord::Verdict::StopsShort);
    // clang-format off
    QTest::newRow("clean tape") << "R100 M R7 M" << 2 << false << true
        << "R100 M R7 M" << "0 1 2 3 4" << complete << "";
    // Read again after the drive passed the block: back one, then it reads whole.
    QTest::newRow("recovered at the second read") << "R100 B50/1 M" << 2 << false << true
        << "R100 R50 M" << "0 1 1 2 3" << complete << "recovered@2";
    // A drive that stays before the block is read again without spacing back.
    QTest::newRow("recovered, drive stays") << "B50/2 M" << 2 << true << true
        << "R50 M" << "0 0 0 1 2" << complete << "recovered@1";
    // Never more reads than the retries allow, then kept flagged and passed over.
    QTest::newRow("never readable") << "R1 B50/* R2" << 2 << false << true
        << "R1 R50! R2" << "0 1 1 1 2 3" << damaged << "unreadable@2";
    QTest::newRow("no retries") << "B50/* R2" << 0 << false << true
        << "R50! R2" << "0 1 2" << damaged << "unreadable@1";
    // The drive stayed before the unreadable block: the master spaces past it.
    QTest::newRow("passed over by spacing") << "B50/* R2" << 1 << true << true
        << "R50! R2" << "0 0 1 2" << damaged << "unreadable@1";
    // It cannot: the master ends there and says the rest is missing, never "complete".
    QTest::newRow("stuck before the block") << "B50/* R2" << 1 << true << false
        << "R50!" << "0 0" << short_ << "unreadable@1";
    // clang-format on
}

void TestMaster::retriesAndPassingOver()
{
    QFETCH(QString, script);
    QFETCH(int, retries);
    QFETCH(bool, stays);
    QFETCH(bool, canSpace);
    auto *drive = new ScriptedDrive(script);
    drive->stays = stays;
    drive->canSpace = canSpace;
    const qint64 endOfData = qint64(drive->objects.size());
    const HANDLE handle = registerHandle(std::unique_ptr<HandleObject>(drive));

    ListSink sink;
    TapeLog log;
    Master::Reader reader(handle, sink, log, retries, nullptr, nullptr);
    const Master::Stop stop = reader.run(endOfData);
    const Judgement judgement = Master::judge(log, stop, endOfData, reader.driveError());

    QTEST(sink.kept.join(QLatin1Char(' ')), "kept");
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
