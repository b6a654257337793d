// Labelled tapes read by quorlin: VOL1, HDR1/HDR2 and EOF1/EOF2 groups in ASCII
// and EBCDIC (encoded here by iconv, not by the scanner's own table) around two
// files, each restored under its label's name and, as EBCDIC text, as lines.
#include "tst_scanner_images.h"

#include <QtTest>

using namespace ScannerTest;

namespace {

QByteArray encoded(const QByteArray &text, bool ebcdic)
{
    QByteArray out = text;
    if (ebcdic && !runTool(QStringLiteral("iconv -f ISO-8859-1 -t IBM037"), {}, &out, text))
        return QByteArray();
    return out;
}

/// One 80-byte label record from its fields, blank-filled.
QByteArray label(const QByteArray &fields, bool ebcdic)
{
    return encoded(fields.leftJustified(80, ' ', true), ebcdic);
}

QByteArray fileLabel(const char *kind, const QByteArray &name, int sequence, int blocks)
{
    return QByteArray(kind) + name.leftJustified(17, ' ') + "TST001" + "0001"
        + QByteArray::number(sequence).rightJustified(4, '0') + "000100" + "023318" + "099365" + " "
        + QByteArray::number(blocks).rightJustified(6, '0');
}

/// Fixed records of @p length, blank-filled.
QByteArray fixedRecords(const QByteArrayList &lines, int length)
{
    QByteArray out;
    for (const QByteArray &line : lines)
        out += line.leftJustified(length, ' ');
    return out;
}

/// One block of variable records: a block descriptor word, then each record's own.
QByteArray variableBlock(const QByteArrayList &records)
{
    const auto word = [](int value) {
        return QByteArray(1, char(value >> 8)) + char(value & 0xff) + QByteArray(2, '\0');
    };
    QByteArray body;
    for (const QByteArray &record : records)
        body += word(record.size() + 4) + record;
    return word(body.size() + 4) + body;
}

} // namespace

class TestScannerLabels : public QObject
{
    Q_OBJECT

private slots:
    void labelledFiles_data()
    {
        QTest::addColumn<bool>("ebcdic");
        QTest::addColumn<bool>("goesOn"); ///< the second file's end labels are EOV: it goes on
        QTest::newRow("ASCII labels, master") << false << false;
        QTest::newRow("EBCDIC labels, master") << true << false;
        QTest::newRow("second file goes on on the next volume") << false << true;
    }

    void labelledFiles()
    {
        QFETCH(bool, ebcdic);
        QFETCH(bool, goesOn);
        const QByteArrayList lines { "HELLO WORLD", "PAYROLL RUN 2023-11-14", "END" };
        const QByteArray first = encoded(fixedRecords(lines, 80), ebcdic);
        const QByteArray second = ebcdic
            ? variableBlock({ encoded("FIRST LINE", true), encoded("SECOND, LONGER LINE", true) })
            : randomBytes(9, 3000);
        QVERIFY(!first.isEmpty() && !second.isEmpty());
        Tape tape;
        tape.record(label("VOL1TST001" + QByteArray(27, ' ') + "OPERATIONS", ebcdic))
            .record(label(fileLabel("HDR1", "PAYROLL.DATA", 1, 0), ebcdic))
            .record(label("HDR2F0080000080", ebcdic))
            .mark()
            .record(first.left(160))
            .record(first.mid(160))
            .mark()
            .record(label(fileLabel("EOF1", "PAYROLL.DATA", 1, 2), ebcdic))
            .record(label("EOF2F0080000080", ebcdic))
            .mark()
            .record(label(fileLabel("HDR1", "NOTES", 2, 0), ebcdic))
            .record(label(ebcdic ? "HDR2V0400000200" : "HDR2U0300000000", ebcdic))
            .mark()
            .record(second)
            .mark()
            .record(label(fileLabel(goesOn ? "EOV1" : "EOF1", "NOTES", 2, 1), ebcdic))
            .record(label(goesOn ? "EOV2V0400000200" : "EOF2V0400000200", ebcdic))
            .mark()
            .mark();
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("source.tap"));
        QVERIFY(tape.write(image));
        const ToolRun listed = quorlin({ QStringLiteral("--list"), image });
        QVERIFY2(listed.exitCode == (goesOn ? 1 : 0), qPrintable(listed.out + listed.err));
        for (const QString &said :
            { QStringLiteral("volume TST001"), QStringLiteral("owner \"OPERATIONS\""),
                QStringLiteral("file \"PAYROLL.DATA\", file 1, created 2023-11-14"),
                QStringLiteral("record format F, block length 800, record length 80"),
                QStringLiteral("file \"NOTES\", file 2"),
                goesOn ? QStringLiteral("end of volume in file \"NOTES\"")
                       : QStringLiteral("end of file \"NOTES\""),
                ebcdic ? QStringLiteral("EBCDIC labels") : QStringLiteral("ASCII labels") })
            QVERIFY2(listed.out.contains(said), qPrintable(said + QLatin1Char('\n') + listed.out));
        const QString out = dir.filePath(QStringLiteral("out"));
        const ToolRun run = quorlin({ QStringLiteral("--extract"), image, out });
        QVERIFY2(run.exitCode == (goesOn ? 1 : 0), qPrintable(run.out + run.err));
        QCOMPARE(fileBytes(out + QStringLiteral("/PAYROLL.DATA")), first);
        // A file that goes on on the next volume is only a part: never under its own name.
        QCOMPARE(QFile::exists(out + QStringLiteral("/NOTES")), !goesOn);
        QCOMPARE(
            fileBytes(out + (goesOn ? QStringLiteral("/NOTES.damaged") : QStringLiteral("/NOTES"))),
            second);
        QCOMPARE(run.err.contains(QLatin1String("NOTES.damaged: only its part")), goesOn);
        if (ebcdic) {
            QCOMPARE(fileBytes(out + QStringLiteral("/PAYROLL.DATA.txt")), lines.join('\n') + '\n');
            QCOMPARE(fileBytes(out + QStringLiteral("/NOTES.txt")),
                QByteArray("FIRST LINE\nSECOND, LONGER LINE\n"));
        } else {
            // Data that is not EBCDIC text is not offered as text.
            QVERIFY(!QFile::exists(out + QStringLiteral("/PAYROLL.DATA.txt")));
            QVERIFY(!QFile::exists(out + QStringLiteral("/NOTES.txt")));
        }
    }
};

QTEST_GUILESS_MAIN(TestScannerLabels)
#include "tst_scanner_labels.moc"
