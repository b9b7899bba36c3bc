#include "app/CommandLine.h"

#include <QtTest>

class TestCommandLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("patientNr");
        QTest::addColumn<int>("hostWindow");
        QTest::addColumn<QString>("outDir");
        QTest::addColumn<QString>("dpiText");
        QTest::addColumn<QString>("zoomText");
        QTest::addColumn<bool>("patientInvalid");
        QTest::addColumn<bool>("hostInvalid");

        const QString none;
        QTest::newRow("nothing") << QStringList{} << 0 << 0 << none << none << none << false << false;
        QTest::newRow("host's usual start")
            << QStringList{u"PNR=123"_qs, u"HWND=4567"_qs, u"OUTDIR=/srv/xray/"_qs, u"DPI=300"_qs,
                           u"ZOOM=1.5"_qs}
            << 123 << 4567 << u"/srv/xray/"_qs << u"300"_qs << u"1.5"_qs << false << false;
        QTest::newRow("leading zeros")
            << QStringList{u"PNR=00123"_qs} << 123 << 0 << none << none << none << false << false;
        QTest::newRow("letters among digits dropped")
            << QStringList{u"PNR=12a3"_qs} << 123 << 0 << none << none << none << false << false;
        QTest::newRow("minus sign dropped")
            << QStringList{u"PNR=-5"_qs} << 5 << 0 << none << none << none << false << false;
        QTest::newRow("largest patient number")
            << QStringList{u"PNR=2147483647"_qs} << 2147483647 << 0 << none << none << none << false << false;
        QTest::newRow("PNR= empty is invalid")
            << QStringList{u"PNR="_qs} << 0 << 0 << none << none << none << true << false;
        QTest::newRow("PNR= without digits is invalid")
            << QStringList{u"PNR=abc"_qs} << 0 << 0 << none << none << none << true << false;
        QTest::newRow("PNR= beyond 32 bits is invalid")
            << QStringList{u"PNR=2147483648"_qs} << 0 << 0 << none << none << none << true << false;
        QTest::newRow("PNR= of twenty digits is invalid")
            << QStringList{u"PNR=99999999999999999999"_qs} << 0 << 0 << none << none << none << true << false;
        QTest::newRow("only ASCII digits count")
            << QStringList{u"PNR=\u0661\u0662"_qs} << 0 << 0 << none << none << none << true << false;
        QTest::newRow("value cut at the key's length: XPNR=5")
            << QStringList{u"XPNR=5"_qs} << 5 << 0 << none << none << none << false << false;
        QTest::newRow("XHWND=5 yields =5, refused")
            << QStringList{u"XHWND=5"_qs} << 0 << 0 << none << none << none << false << true;
        QTest::newRow("negative window handle")
            << QStringList{u"HWND=-42"_qs} << 0 << -42 << none << none << none << false << false;
        QTest::newRow("lowest window handle")
            << QStringList{u"HWND=-2147483648"_qs} << 0 << int(-2147483647 - 1) << none << none << none
            << false << false;
        QTest::newRow("window handle beyond 32 bits")
            << QStringList{u"HWND=2147483648"_qs} << 0 << 0 << none << none << none << false << true;
        QTest::newRow("hexadecimal handle refused")
            << QStringList{u"HWND=0x10"_qs} << 0 << 0 << none << none << none << false << true;
        QTest::newRow("blank in handle refused")
            << QStringList{u"HWND= 12"_qs} << 0 << 0 << none << none << none << false << true;
        QTest::newRow("empty handle refused")
            << QStringList{u"HWND="_qs} << 0 << 0 << none << none << none << false << true;
        QTest::newRow("refused handle does not stop the rest")
            << QStringList{u"HWND=x"_qs, u"PNR=7"_qs, u"OUTDIR=/a/"_qs} << 7 << 0 << u"/a/"_qs << none << none
            << false << true;
        QTest::newRow("later good handle wins")
            << QStringList{u"HWND=x"_qs, u"HWND=9"_qs} << 0 << 9 << none << none << none << false << false;
        QTest::newRow("later bad handle wins")
            << QStringList{u"HWND=9"_qs, u"HWND=x"_qs} << 0 << 0 << none << none << none << false << true;
        QTest::newRow("PNR= counts first when two keys are in one argument")
            << QStringList{u"OUTDIR=/x/PNR=7"_qs} << 7 << 0 << none << none << none << false << false;
        QTest::newRow("DPI= counts before ZOOM=") << QStringList{u"ZOOM=2DPI=300"_qs} << 0 << 0 << none
                                                  << u"=2DPI=300"_qs << none << false << false;
        QTest::newRow("HWND= counts before OUTDIR=")
            << QStringList{u"HWND=5OUTDIR=/a/"_qs} << 0 << 0 << none << none << none << false << true;
        QTest::newRow("later key wins") << QStringList{u"PNR=1"_qs,      u"OUTDIR=/a/"_qs, u"PNR=2"_qs,
                                                       u"OUTDIR=/b/"_qs, u"ZOOM=1"_qs,     u"ZOOM=2"_qs}
                                        << 2 << 0 << u"/b/"_qs << none << u"2"_qs << false << false;
        QTest::newRow("invalid PNR= stops reading")
            << QStringList{u"OUTDIR=/a/"_qs, u"PNR=abc"_qs, u"OUTDIR=/b/"_qs, u"DPI=3"_qs, u"HWND=4"_qs} << 0
            << 0 << u"/a/"_qs << none << none << true << false;
        QTest::newRow("invalid PNR= keeps the earlier number")
            << QStringList{u"PNR=5"_qs, u"PNR=x"_qs, u"ZOOM=3"_qs} << 5 << 0 << none << none << none << true
            << false;
        QTest::newRow("arguments without keys are ignored")
            << QStringList{u"/etc/kelvo/Kelvo.UDL"_qs, u"NOLOGIN=1"_qs, u"pnr=5"_qs, u"Hwnd=5"_qs, u"PNR"_qs,
                           u"APPLICATIONHANDLE=77"_qs}
            << 0 << 0 << none << none << none << false << false;
        QTest::newRow("values kept unchanged")
            << QStringList{u"OUTDIR=/my xrays/Xray"_qs, u"DPI= 300 "_qs, u"ZOOM=1,5"_qs} << 0 << 0
            << u"/my xrays/Xray"_qs << u" 300 "_qs << u"1,5"_qs << false << false;
        QTest::newRow("empty values") << QStringList{u"OUTDIR="_qs, u"DPI="_qs, u"ZOOM="_qs} << 0 << 0 << none
                                      << none << none << false << false;
    }
    void parse() {
        QFETCH(QStringList, arguments);
        const CommandLineValues values = ParseCommandLine(arguments);
        QTEST(int(values.PatientNr), "patientNr");
        QTEST(int(values.HostWindow), "hostWindow");
        QTEST(values.OutDir, "outDir");
        QTEST(values.DpiText, "dpiText");
        QTEST(values.ZoomText, "zoomText");
        QTEST(values.patientNumberInvalid, "patientInvalid");
        QTEST(values.hostWindowInvalid, "hostInvalid");
    }

    void strictConversion_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("converts");
        QTest::addColumn<int>("value");
        QTest::newRow("zero") << u"0"_qs << true << 0;
        QTest::newRow("plus sign") << u"+12"_qs << true << 12;
        QTest::newRow("many leading zeros") << u"0000000000000042"_qs << true << 42;
        QTest::newRow("highest") << u"2147483647"_qs << true << 2147483647;
        QTest::newRow("lowest") << u"-2147483648"_qs << true << int(-2147483647 - 1);
        QTest::newRow("below lowest") << u"-2147483649"_qs << false << 0;
        QTest::newRow("empty") << QString() << false << 0;
        QTest::newRow("sign only") << u"-"_qs << false << 0;
        QTest::newRow("trailing blank") << u"12 "_qs << false << 0;
        QTest::newRow("decimal point") << u"1.0"_qs << false << 0;
    }
    void strictConversion() {
        QFETCH(QString, text);
        QFETCH(bool, converts);
        qint32 value = -99;
        QCOMPARE(StrictToInt32(text, &value), converts);
        if (converts)
            QTEST(int(value), "value");
        else
            QCOMPARE(value, -99);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
