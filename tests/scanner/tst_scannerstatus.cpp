#include "scanner/ScannerStatus.h"

#include <QtTest>

class TestScannerStatus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void words_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("word");
        QTest::newRow("first") << 1 << u"OK"_qs;
        QTest::newRow("already opened") << 4 << u"ALREADYOPENED"_qs;
        QTest::newRow("scanner error") << 13 << u"SCANNERERROR"_qs;
        QTest::newRow("seventeen is digits") << 17 << u"17"_qs;
        QTest::newRow("last") << 20 << u"NOIPADDRESS"_qs;
        QTest::newRow("zero has none") << 0 << u"[0]"_qs;
        QTest::newRow("negative has none") << -1 << u"[-1]"_qs;
        QTest::newRow("above the table") << 21 << u"[21]"_qs;
    }
    void words() {
        QFETCH(int, code);
        QFETCH(QString, word);
        QCOMPARE(ScannerStatusWord(code), word);
    }

    void errorTexts_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("scanner error") << 13 << u"Error getting image SCANNERERROR"_qs;
        QTest::newRow("invalid path") << 5 << u"Error getting image INVALIDPATH"_qs;
        QTest::newRow("seventeen") << 17 << u"Error getting image 17"_qs;
        QTest::newRow("zero") << 0 << u"Error getting image! Error number 0"_qs;
        QTest::newRow("minus one") << -1 << u"Error getting image! Error number -1"_qs;
        QTest::newRow("twenty-one") << 21 << u"Error getting image! Error number 21"_qs;
        QTest::newRow("lowest int") << std::numeric_limits<int>::min()
                                    << u"Error getting image! Error number -2147483648"_qs;
    }
    void errorTexts() {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(ScannerErrorText(code), text);
    }
};

QTEST_GUILESS_MAIN(TestScannerStatus)
#include "tst_scannerstatus.moc"
