#include "app/app_globals.h"
#include "app/korveltapedrive.h"

#include <QtTest>

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void fixedSizeAt96Dpi()
    {
        KorvelTapeDrive window;
        QCOMPARE(window.minimumSize(), QSize(850, 600));
        QCOMPARE(window.maximumSize(), QSize(850, 600));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
