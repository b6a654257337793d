#include "tape_fixtures.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

constexpr DWORD kReadLength = 0x80001;

const QString kTape0 = QStringLiteral("//./Tape0");

DWORD positionOf(HANDLE tape)
{
    DWORD partition = 99, low = 99, high = 99;
    if (GetTapePosition(tape, TAPE_ABSOLUTE_POSITION, &partition, &low, &high) != NO_ERROR)
        return DWORD(-1);
    return low;
}

DWORD seek(HANDLE tape, DWORD method, DWORD block = 0)
{
    return SetTapePosition(tape, method, 0, block, 0, FALSE);
}

/// Capacity and remaining bytes as the medium reports them, or -5 each on failure.
QPair<qint64, qint64> media(HANDLE tape)
{
    TAPE_GET_MEDIA_PARAMETERS info = {};
    info.Capacity.QuadPart = info.Remaining.QuadPart = -5;
    DWORD size = sizeof info;
    GetTapeParameters(tape, GET_TAPE_MEDIA_INFORMATION, &size, &info);
    return { info.Capacity.QuadPart, info.Remaining.QuadPart };
}

// One word per read: R<n> record, C<n> unreadable record, L<n> longer than
// the buffer, M tape mark, E end of data (read twice: it must stay put), EOM
// the end of the medium.
QString readSequence(HANDLE tape, int limit = 64)
{
    QStringList seen;
    QByteArray buffer(kReadLength, '\0');
    for (int i = 0; i < limit; ++i) {
        DWORD got = 12345;
        const BOOL ok = ReadFile(tape, buffer.data(), kReadLength, &got, nullptr);
        const DWORD error = GetLastError();
        if (ok)
            seen << QStringLiteral("R%1").arg(got);
        else if (error == ERROR_CRC)
            seen << QStringLiteral("C%1").arg(got);
        else if (error == ERROR_MORE_DATA)
            seen << QStringLiteral("L%1").arg(got);
        else if (error == ERROR_FILEMARK_DETECTED && got == 0)
            seen << QStringLiteral("M");
        else if (error == ERROR_NO_DATA_DETECTED && got == 0) {
            const DWORD before = positionOf(tape);
            ReadFile(tape, buffer.data(), kReadLength, &got, nullptr);
            const bool stays = GetLastError() == ERROR_NO_DATA_DETECTED && got == 0
                && positionOf(tape) == before;
            seen << (stays ? QStringLiteral("E") : QStringLiteral("E-moved"));
            break;
        } else if (error == ERROR_END_OF_MEDIA && got == 0) {
            seen << QStringLiteral("EOM");
            break;
        } else
            seen << QStringLiteral("?%1/%2").arg(error).arg(got);
    }
    return seen.join(QLatin1Char(' '));
}

} // namespace

class TestVirtualTape : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tape; ///< records 100, 7 (odd), mark, 65536, 10 unreadable, mark
    const Objects m_objects { 100, 7, kMark, 65536, 10, kMark };

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tape = m_dir.filePath(QStringLiteral("basic.tap"));
        QVERIFY(writeTape(m_tape, m_objects, 4));
    }

    void cleanup()
    {
        VirtualTape::setFaults(VirtualTape::NoFault);
        qunsetenv("TARNWICK_VTAPE_FAULTS");
        qunsetenv("TARNWICK_VTAPE_CAPACITY");
        qunsetenv("TAPE");
    }

    void readsSpacesAndRewinds()
    {
        HANDLE tape = openTapeFile(m_tape);
        QVERIFY(tape != INVALID_HANDLE_VALUE);
        QCOMPARE(readSequence(tape), QStringLiteral("R100 R7 M R65536 C10 M E"));
        QCOMPARE(positionOf(tape), DWORD(6));

        // The bytes themselves, and no pad byte after the odd record.
        QCOMPARE(seek(tape, TAPE_ABSOLUTE_BLOCK, 1), NO_ERROR);
        QByteArray buffer(kReadLength, 'x');
        DWORD got = 0;
        QVERIFY(ReadFile(tape, buffer.data(), kReadLength, &got, nullptr));
        QCOMPARE(buffer.left(int(got) + 1), recordContent(1, 7) + 'x');
        QCOMPARE(positionOf(tape), DWORD(2));

        QCOMPARE(seek(tape, TAPE_SPACE_END_OF_DATA), NO_ERROR);
        QCOMPARE(positionOf(tape), DWORD(6));
        QCOMPARE(readSequence(tape), QStringLiteral("E"));
        QCOMPARE(seek(tape, TAPE_ABSOLUTE_BLOCK, 0), NO_ERROR);
        QCOMPARE(readSequence(tape, 1), QStringLiteral("R100"));
        QCOMPARE(seek(tape, TAPE_ABSOLUTE_BLOCK, 3), NO_ERROR);
        QCOMPARE(readSequence(tape), QStringLiteral("R65536 C10 M E"));
        QCOMPARE(seek(tape, TAPE_ABSOLUTE_BLOCK, 40), ERROR_NO_DATA_DETECTED);
        QCOMPARE(positionOf(tape), DWORD(6));
        QVERIFY(CloseHandle(tape));
    }

    // Spacing over records, as a retry of an unreadable record needs: back over it, or on.
    void spacing_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("next"); // what the next read finds
        // clang-format off
        QTest::newRow("back over the unreadable record") << "" << 5 << -1 << 0 << 4 << "C10 M E";
        QTest::newRow("on over it") << "" << 4 << 1 << 0 << 5 << "M E";
        QTest::newRow("back, a mark stops") << "" << 5 << -3 << 1101 << 2 << "M R65536 C10 M E";
        QTest::newRow("back from the start") << "" << 0 << -1 << 1102 << 0 << "R100 R7 M R65536 C10 M E";
        QTest::newRow("on, a mark stops") << "" << 3 << 5 << 1101 << 6 << "E";
        QTest::newRow("on at the end of data") << "" << 6 << 1 << 1104 << 6 << "E";
        QTest::newRow("back over gaps") << "gaps.tap" << 2 << -2 << 1101 << 1 << "M EOM";
        QTest::newRow("on at the end of the medium") << "end_of_medium.tap" << 1 << 1 << 1100 << 1 << "EOM";
        // An odd-length record has a pad byte before its trailing length word: stepping
        // back must find that word 4 bytes before the next record, not 5.
        QTest::newRow("back over an odd record") << "" << 2 << -1 << 0 << 1 << "R7 M R65536 C10 M E";
        QTest::newRow("back over odd records") << "odd" << 3 << -3 << 0 << 0 << "R1 R3 R101 M R7 E";
        QTest::newRow("back over odd ones to a mark") << "odd" << 5 << -2 << 1101 << 3 << "M R7 E";
        QTest::newRow("on over odd records") << "odd" << 0 << 2 << 0 << 2 << "R101 M R7 E";
        // clang-format on
    }

    void spacing()
    {
        QFETCH(QString, file);
        QFETCH(int, from);
        QFETCH(int, count);
        QString path = m_tape;
        if (file == QLatin1String("odd")) {
            path = m_dir.filePath(QStringLiteral("odd.tap"));
            QVERIFY(writeTape(path, { 1, 3, 101, kMark, 7 }));
        } else if (!file.isEmpty()) {
            path = m_dir.filePath(file);
            QFile::remove(path);
            QVERIFY(QFile::copy(QStringLiteral(TARNWICK_TEST_DATA "/tap/") + file, path));
        }
        HANDLE tape = openTapeFile(path);
        QCOMPARE(seek(tape, TAPE_ABSOLUTE_BLOCK, DWORD(from)), NO_ERROR);
        const qint64 wide = count;
        QTEST(int(SetTapePosition(
                  tape, TAPE_SPACE_RELATIVE_BLOCKS, 0, DWORD(wide), DWORD(wide >> 32), FALSE)),
            "error");
        QTEST(int(positionOf(tape)), "to");
        QTEST(readSequence(tape), "next");
        CloseHandle(tape);
    }

    void recordLongerThanBufferFillsIt()
    {
        const QString path = m_dir.filePath(QStringLiteral("long.tap"));
        QVERIFY(writeTape(path, { 600001, 4 }));
        HANDLE tape = openTapeFile(path);
        QByteArray buffer(kReadLength + 16, '#');
        DWORD got = 0;
        QVERIFY(!ReadFile(tape, buffer.data(), kReadLength, &got, nullptr));
        QCOMPARE(GetLastError(), ERROR_MORE_DATA);
        QCOMPARE(got, kReadLength);
        QCOMPARE(buffer.left(int(kReadLength) + 1),
            recordContent(0, 600001).left(int(kReadLength)) + '#');
        QCOMPARE(positionOf(tape), DWORD(1));
        QCOMPARE(readSequence(tape), QStringLiteral("R4 E"));
        CloseHandle(tape);
    }

    void openingAndHandles()
    {
        qputenv("TAPE", QFile::encodeName(m_tape));
        HANDLE first = openTapeFile(kTape0);
        QVERIFY(first != INVALID_HANDLE_VALUE);
        QCOMPARE(openTapeFile(kTape0), INVALID_HANDLE_VALUE);
        QCOMPARE(GetLastError(), ERROR_SHARING_VIOLATION);
        QVERIFY(CloseHandle(first));
        QVERIFY(!CloseHandle(first));
        QCOMPARE(GetLastError(), ERROR_INVALID_HANDLE);
        HANDLE again = openTapeFile(kTape0);
        QVERIFY(again != INVALID_HANDLE_VALUE);
        CloseHandle(again);

        qputenv("TAPE", QFile::encodeName(m_dir.filePath(QStringLiteral("nothing.tap"))));
        QCOMPARE(openTapeFile(kTape0), INVALID_HANDLE_VALUE);
        QCOMPARE(GetLastError(), ERROR_FILE_NOT_FOUND);
        QCOMPARE(openTapeFile(m_dir.path()), INVALID_HANDLE_VALUE); // a folder is no tape

        DWORD got = 7;
        QVERIFY(!ReadFile(INVALID_HANDLE_VALUE, nullptr, 0, &got, nullptr));
        QCOMPARE(got, DWORD(0));
        QCOMPARE(GetLastError(), ERROR_INVALID_HANDLE);
        QCOMPARE(PrepareTape(nullptr, TAPE_LOAD, TRUE), ERROR_INVALID_HANDLE);
    }

    void faultSwitches_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("way");
        for (const char *fault :
            { "none", "open", "load", "notready", "media", "position", "eject", "slow" })
            for (const char *way : { "api", "environment", "side-file" })
                QTest::addRow("%s/%s", fault, way)
                    << QString::fromLatin1(fault) << QString::fromLatin1(way);
    }

    void faultSwitches()
    {
        QFETCH(QString, fault);
        QFETCH(QString, way);
        const auto is = [&fault](const char *name) { return fault == QLatin1String(name); };
        const QString path = m_dir.filePath(QStringLiteral("faulty.tap"));
        QFile::remove(path + QStringLiteral(".faults"));
        QVERIFY(writeTape(path, m_objects, 4));
        if (way == QLatin1String("api"))
            VirtualTape::setFaults(VirtualTape::parseFaults(fault.toStdString()));
        else if (way == QLatin1String("environment"))
            qputenv("TARNWICK_VTAPE_FAULTS", fault.toLatin1());
        else
            QVERIFY(writeFile(path + QStringLiteral(".faults"), fault.toLatin1() + '\n'));

        HANDLE tape = openTapeFile(path);
        QCOMPARE(tape == INVALID_HANDLE_VALUE, is("open"));
        if (tape == INVALID_HANDLE_VALUE) {
            QCOMPARE(GetLastError(), ERROR_ACCESS_DENIED);
            return;
        }
        VirtualTape::resetPrepareCallCount();
        const DWORD load = PrepareTape(tape, TAPE_LOAD, TRUE);
        QCOMPARE(load, is("load") ? ERROR_NOT_READY : NO_ERROR);
        QCOMPARE(GetLastError(), load);
        QCOMPARE(VirtualTape::prepareCallCount(), 1u);
        const DWORD status = is("notready") ? ERROR_NOT_READY : NO_ERROR;
        QCOMPARE(GetTapeStatus(tape), status);
        QCOMPARE(media(tape).first == -5, is("media"));
        QCOMPARE(positionOf(tape) == DWORD(-1), is("position"));

        DWORD returned = 0;
        const BOOL ejected = DeviceIoControl(
            tape, IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0, nullptr, 0, &returned, nullptr);
        QCOMPARE(ejected == FALSE, is("eject"));
        if (ejected) {
            // An ejected tape has no medium for any call.
            QCOMPARE(GetTapeStatus(tape), ERROR_NO_MEDIA_IN_DRIVE);
            QCOMPARE(readSequence(tape, 1), QStringLiteral("?1112/0"));
            QCOMPARE(PrepareTape(tape, TAPE_LOAD, TRUE), ERROR_NO_MEDIA_IN_DRIVE);
            QCOMPARE(seek(tape, TAPE_SPACE_END_OF_DATA), ERROR_NO_MEDIA_IN_DRIVE);
        } else {
            QCOMPARE(GetTapeStatus(tape), status);
        }
        CloseHandle(tape);
    }

    // Records that fail on purpose: each read of the tape from its start, rewound between
    // reads; a failing read passes the record and returns nothing, and a later one reads it.
    void failingRecords_data()
    {
        QTest::addColumn<QString>("faults");
        QTest::addColumn<QString>("reads"); // each read of the tape, "|" between
        // clang-format off
        QTest::newRow("flaky, twice") << "flaky=1:2"
            << "R100 C0 M R65536 C10 M E|R100 C0 M R65536 C10 M E|R100 R7 M R65536 C10 M E";
        QTest::newRow("dead, and a slow one beside") << "slow, dead=0 flaky=3:1"
            << "C0 R7 M C0 C10 M E|C0 R7 M R65536 C10 M E|C0 R7 M R65536 C10 M E";
        // A mark cannot fail; malformed entries are ignored like unknown names.
        QTest::newRow("a mark, and malformed entries") << "dead=2,flaky=1,flaky=x:1,dead=-1,flaky=0:"
            << "R100 R7 M R65536 C10 M E";
        // clang-format on
    }

    void failingRecords()
    {
        QFETCH(QString, faults);
        QFETCH(QString, reads);
        qputenv("TARNWICK_VTAPE_FAULTS", faults.toLatin1());
        HANDLE tape = openTapeFile(m_tape);
        QVERIFY(tape != INVALID_HANDLE_VALUE);
        for (const QString &expected : reads.split(QLatin1Char('|'))) {
            QCOMPARE(seek(tape, TAPE_ABSOLUTE_BLOCK, 0), NO_ERROR);
            QCOMPARE(readSequence(tape), expected);
        }
        QVERIFY(CloseHandle(tape));
    }

    void capacityAndRemaining_data()
    {
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<qint64>("capacity");
        QTest::newRow("default") << QByteArray() << Q_INT64_C(12000000000000);
        QTest::newRow("given") << QByteArray("1000000") << Q_INT64_C(1000000);
        QTest::newRow("smaller than the data") << QByteArray("1000") << Q_INT64_C(1000);
        QTest::newRow("not a number") << QByteArray("lots") << Q_INT64_C(12000000000000);
    }

    void capacityAndRemaining()
    {
        QFETCH(QByteArray, setting);
        QFETCH(qint64, capacity);
        if (!setting.isEmpty())
            qputenv("TARNWICK_VTAPE_CAPACITY", setting);
        HANDLE tape = openTapeFile(m_tape);
        readSequence(tape, 3); // reading first must not change what the medium reports
        const qint64 recorded = 100 + 7 + 65536 + 10;
        QCOMPARE(media(tape), qMakePair(capacity, qMax<qint64>(0, capacity - recorded)));
        QCOMPARE(positionOf(tape), DWORD(3));
        CloseHandle(tape);
    }

    void lastErrorIsPerThread()
    {
        SetLastError(ERROR_CRC);
        DWORD inWorker = 1;
        QScopedPointer<QThread> worker(QThread::create([&inWorker] {
            inWorker = GetLastError();
            SetLastError(ERROR_NOT_READY);
        }));
        worker->start();
        worker->wait();
        QCOMPARE(inWorker, NO_ERROR);
        QCOMPARE(GetLastError(), ERROR_CRC);
    }

    // A damaged file reads as a drive reads a place it cannot read: an error there, then the
    // end of data. Fault: the damage read as a clean end of data, so a cut master was
    // "complete". damage: "offset+bytes after it", or empty for an undamaged file.
    void malformedFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reads");
        QTest::addColumn<qint64>("recorded");
        QTest::addColumn<QString>("damage");
        // clang-format off
        QTest::newRow("empty") << "empty.tap" << "E" << Q_INT64_C(0) << "";
        QTest::newRow("half a word") << "short_word.tap" << "C0 E" << Q_INT64_C(0) << "0+2";
        QTest::newRow("trailer differs") << "bad_trailer.tap" << "R4 C0 E" << Q_INT64_C(4) << "12+20";
        QTest::newRow("record cut short") << "truncated_record.tap" << "R4 C0 E" << Q_INT64_C(4) << "12+14";
        QTest::newRow("huge length") << "huge_length.tap" << "C0 E" << Q_INT64_C(0) << "0+23";
        QTest::newRow("reserved class") << "reserved_class.tap" << "R2 M C0 E" << Q_INT64_C(2) << "14+34";
        QTest::newRow("erase gaps") << "gaps.tap" << "R3 M EOM" << Q_INT64_C(3) << "";
        QTest::newRow("odd record unpadded") << "odd_unpadded.tap" << "C0 E" << Q_INT64_C(0) << "0+15";
        QTest::newRow("error flag") << "error_flag.tap" << "C5 M E" << Q_INT64_C(5) << "";
        QTest::newRow("garbage after data") << "trailing_garbage.tap" << "R4 M C0 E" << Q_INT64_C(4) << "16+3";
        QTest::newRow("marks only") << "marks_only.tap" << "M M E" << Q_INT64_C(0) << "";
        QTest::newRow("end of medium") << "end_of_medium.tap" << "R2 EOM" << Q_INT64_C(2) << "";
        QTest::newRow("trailer past end") << "trailer_past_end.tap" << "R2 C0 E" << Q_INT64_C(2) << "10+12";
        QTest::newRow("gaps to the end") << "gap_to_end.tap" << "C0 E" << Q_INT64_C(0) << "0+18";
        // clang-format on
        const QStringList corpus = QDir(QStringLiteral(TARNWICK_TEST_DATA "/tap"))
                                       .entryList({ QStringLiteral("*.tap") }, QDir::Files);
        QCOMPARE(corpus.size(), 14); // no file of the corpus goes untested
    }

    void malformedFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, reads);
        QFETCH(qint64, recorded);
        // Copied: the lock and the side-file lookup must not touch the source tree.
        const QString path = m_dir.filePath(file);
        QFile::remove(path);
        QVERIFY(QFile::copy(QStringLiteral(TARNWICK_TEST_DATA "/tap/") + file, path));
        HANDLE tape = openTapeFile(path);
        QVERIFY(tape != INVALID_HANDLE_VALUE);
        QCOMPARE(readSequence(tape), reads);
        const VirtualTape::Damage damage = VirtualTape::fromHandle(tape)->damage();
        QTEST(damage.found ? QStringLiteral("%1+%2").arg(damage.offset).arg(damage.bytesAfter)
                           : QString(),
            "damage");
        const DWORD end = positionOf(tape);
        QCOMPARE(seek(tape, TAPE_REWIND), NO_ERROR);
        QCOMPARE(seek(tape, TAPE_SPACE_END_OF_DATA), NO_ERROR);
        QCOMPARE(positionOf(tape), end);
        QCOMPARE(media(tape).first - media(tape).second, recorded);
        if (damage.found) { // read again from before the damage, as a retry does
            QCOMPARE(
                SetTapePosition(tape, TAPE_SPACE_RELATIVE_BLOCKS, 0, DWORD(-1), DWORD(-1), FALSE),
                NO_ERROR);
            QCOMPARE(positionOf(tape), DWORD(damage.block));
            QCOMPARE(readSequence(tape), QStringLiteral("C0 E"));
        }
        CloseHandle(tape);
    }

    // The tools that make tapes for the other tests and for a demonstration.
    void mktapAndDemoTape_data()
    {
        QTest::addColumn<QStringList>("options"); ///< INPUT: a file of 2500 bytes
        QTest::addColumn<QString>("sequence");
        QTest::newRow("one block size, flagged and odd records")
            << QStringLiteral("-b 1001 --error-record 2 --odd-record 4 INPUT gen:2000 "
                              "--end-of-medium")
                   .split(QLatin1Char(' '))
            << "R1001 C1001 R498 M R1000 R1000 M EOM";
        // Labels are 80-byte records around the files they name.
        QTest::newRow("a block size per tape file")
            << QStringLiteral("-b 80 --file-block-size 2:1000 gen:160 INPUT gen:80")
                   .split(QLatin1Char(' '))
            << "R80 R80 M R1000 R1000 R500 M R80 M E";
    }

    void mktapAndDemoTape()
    {
        QFETCH(QStringList, options);
        const QString path = m_dir.filePath(QStringLiteral("made.tap"));
        const QString input = m_dir.filePath(QStringLiteral("input.bin"));
        QVERIFY(writeFile(input, recordContent(0, 2500)));
        options.replaceInStrings(QRegularExpression(QStringLiteral("^INPUT$")), input);
        QFile::remove(path);
        QCOMPARE(QProcess::execute(QStringLiteral(TARNWICK_BIN_DIR "/mktap"),
                     QStringList { QStringLiteral("-o"), path } + options),
            0);
        HANDLE tape = openTapeFile(path);
        QTEST(readSequence(tape), "sequence");
        CloseHandle(tape);

        const QString demo = QStringLiteral(TARNWICK_BIN_DIR "/../demo/demo.tap");
        if (!QFile::exists(demo))
            QSKIP("the demo tape was not built (no tar)");
        tape = openTapeFile(demo);
        QByteArray first(kReadLength, '\0');
        DWORD got = 0;
        QVERIFY(ReadFile(tape, first.data(), kReadLength, &got, nullptr));
        QCOMPARE(first.mid(257, 5), QByteArray("ustar"));
        CloseHandle(tape);
    }
};

QTEST_GUILESS_MAIN(TestVirtualTape)
#include "tst_virtual_tape.moc"
