#include "TestEnvironment.h"

#include "sim/SimCatalogue.h"
#include "sim/SimDeviceFolder.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run ravlekSim(const QStringList& arguments) {
    QProcess process;
    process.start(programPath(u"ravlek-sim"_qs), arguments);
    if (!process.waitForFinished(60000))
        qFatal("ravlek-sim did not finish");
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               QString::fromUtf8(process.readAllStandardOutput()),
               QString::fromUtf8(process.readAllStandardError())};
}

// The list line of a device, found by its address.
QString listLine(const QString& address) {
    const Run run = ravlekSim({u"list"_qs});
    for (const QString& line : run.out.split(u'\n')) {
        if (line.contains(u"  "_qs + address + u"  "_qs))
            return line;
    }
    return {};
}

SimDeviceConfig configOf(const QString& typeOrAddress) {
    const SimCatalogue catalogue;
    return SimDeviceFolder(catalogue.deviceFolder(catalogue.find(typeOrAddress).value())).config();
}

// A ravlek-sim hold process: another workstation with the device open.
class Holder {
public:
    explicit Holder(const QStringList& arguments) {
        m_process.start(programPath(u"ravlek-sim"_qs), QStringList{u"hold"_qs} + arguments);
    }
    ~Holder() {
        m_process.kill();
        m_process.waitForFinished();
    }
    // Waits until the holder's output contains `text`.
    bool waitFor(const QByteArray& text) {
        QDeadlineTimer deadline(30000);
        while (!m_output.contains(text) && !deadline.hasExpired()) {
            if (m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(100);
            m_output += m_process.readAllStandardOutput();
        }
        return m_output.contains(text);
    }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    QByteArray m_output;
};

} // namespace

class TestRavlekSim : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_env = std::make_unique<TestEnvironment>(); }
    void cleanup() { m_env.reset(); }

    void listsTheDefaultDevices() {
        const Run run = ravlekSim({u"list"_qs});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith(u"TYPE"_qs));
        QCOMPARE(run.out.count(u"closed"_qs), 8);
        QVERIFY(listLine(u"192.0.2.4"_qs).startsWith(u"4 "_qs));
        QVERIFY(listLine(u"192.0.2.4"_qs).contains(u"Digora OPTIME"_qs));
        QVERIFY(listLine(u"192.0.2.8"_qs).contains(u"Digora Toto"_qs));
    }

    void badCommandLines_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("nothing") << QStringList{} << 2;
        QTest::newRow("unknown command") << QStringList{u"explode"_qs, u"1"_qs} << 2;
        QTest::newRow("unknown device type") << QStringList{u"expose"_qs, u"11"_qs} << 3;
        QTest::newRow("unknown address") << QStringList{u"delay"_qs, u"10.9.9.9"_qs, u"off"_qs} << 3;
        QTest::newRow("delay without value") << QStringList{u"delay"_qs, u"1"_qs} << 2;
        QTest::newRow("negative delay") << QStringList{u"delay"_qs, u"1"_qs, u"-5"_qs} << 2;
        QTest::newRow("unknown operation") << QStringList{u"fault"_qs, u"1"_qs, u"Explode"_qs, u"13"_qs} << 2;
        QTest::newRow("code not a number")
            << QStringList{u"fault"_qs, u"1"_qs, u"OpenScanner"_qs, u"x"_qs} << 2;
        QTest::newRow("type out of range") << QStringList{u"add"_qs, u"host-a"_qs, u"13"_qs} << 2;
        QTest::newRow("numeric address") << QStringList{u"add"_qs, u"17"_qs, u"4"_qs} << 2;
        QTest::newRow("address with a slash") << QStringList{u"add"_qs, u"a/b"_qs, u"4"_qs} << 2;
        QTest::newRow("expose closed device") << QStringList{u"expose"_qs, u"1"_qs} << 4;
    }
    void badCommandLines() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const Run run = ravlekSim(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(run.err.startsWith(u"ravlek-sim: "_qs));
        if (exitCode == 2)
            QVERIFY(run.err.contains(u"Usage: ravlek-sim"_qs));
    }

    void helpGoesToStandardOutput() {
        const Run run = ravlekSim({u"help"_qs});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains(u"Usage: ravlek-sim"_qs));
    }

    void addAndRemoveDevices() {
        QCOMPARE(ravlekSim({u"add"_qs, u"optime-2"_qs, u"4"_qs}).exitCode, 0);
        QCOMPARE(ravlekSim({u"add"_qs, u"panorama"_qs, u"9"_qs, u"Own panorama"_qs}).exitCode, 0);
        QVERIFY(listLine(u"optime-2"_qs).contains(u"Digora OPTIME"_qs));
        QVERIFY(listLine(u"panorama"_qs).contains(u"Own panorama"_qs));
        const Run duplicate = ravlekSim({u"add"_qs, u"OPTIME-2"_qs, u"4"_qs});
        QCOMPARE(duplicate.exitCode, 4);
        QVERIFY(duplicate.err.contains(u"exists already"_qs));

        QCOMPARE(ravlekSim({u"remove"_qs, u"optime-2"_qs}).exitCode, 0);
        QVERIFY(listLine(u"optime-2"_qs).isEmpty());
        QCOMPARE(ravlekSim({u"remove"_qs, u"optime-2"_qs}).exitCode, 3);
        QCOMPARE(SimCatalogue().devices().size(), 9);
    }

    void settingsReachTheDevice() {
        QCOMPARE(ravlekSim({u"fault"_qs, u"192.0.2.2"_qs, u"openscanner"_qs, u"13"_qs}).exitCode, 0);
        QCOMPARE(
            ravlekSim({u"fault"_qs, u"2"_qs, u"EndOfImage"_qs, u"-7"_qs, u"--times"_qs, u"2"_qs}).exitCode,
            0);
        QCOMPARE(ravlekSim({u"delay"_qs, u"2"_qs, u"1500"_qs}).exitCode, 0);
        QCOMPARE(ravlekSim({u"stage"_qs, u"2"_qs, u"0"_qs}).exitCode, 0);
        QCOMPARE(ravlekSim({u"seed"_qs, u"2"_qs, u"42"_qs}).exitCode, 0);
        QCOMPARE(ravlekSim({u"params"_qs, u"2"_qs, u"DEVICE X\r\nMAGFACTOR 2"_qs}).exitCode, 0);

        SimDeviceConfig config = configOf(u"2"_qs);
        QCOMPARE(config.faults.value(u"OpenScanner"_qs).code, 13);
        QCOMPARE(config.faults.value(u"OpenScanner"_qs).remaining, -1);
        QCOMPARE(config.faults.value(u"EndOfImage"_qs).code, -7);
        QCOMPARE(config.faults.value(u"EndOfImage"_qs).remaining, 2);
        QCOMPARE(config.exposureDelayMs, std::optional<int>(1500));
        QCOMPARE(config.stageMs, 0);
        QCOMPARE(config.seed, 42u);
        QCOMPARE(config.params, std::optional<QString>(u"DEVICE X\r\nMAGFACTOR 2"_qs));
        const QString line = listLine(u"192.0.2.2"_qs);
        QVERIFY2(line.contains(u"fault OpenScanner 13"_qs), qPrintable(line));
        QVERIFY2(line.contains(u"fault EndOfImage -7 (2 left)"_qs), qPrintable(line));
        QVERIFY2(line.contains(u"delay 1500 ms"_qs), qPrintable(line));

        QCOMPARE(ravlekSim({u"fault"_qs, u"2"_qs, u"OpenScanner"_qs, u"clear"_qs}).exitCode, 0);
        QCOMPARE(configOf(u"2"_qs).faults.keys(), QStringList{u"EndOfImage"_qs});
        QCOMPARE(ravlekSim({u"fault"_qs, u"2"_qs, u"clear"_qs}).exitCode, 0);
        QCOMPARE(ravlekSim({u"delay"_qs, u"2"_qs, u"off"_qs}).exitCode, 0);
        QCOMPARE(ravlekSim({u"params"_qs, u"2"_qs, u"--default"_qs}).exitCode, 0);
        config = configOf(u"2"_qs);
        QVERIFY(config.faults.isEmpty());
        QVERIFY(!config.exposureDelayMs);
        QVERIFY(!config.params);
    }

    void paramsFromFile() {
        const QByteArray text = "DEVICE Digora OPTIME\r\nIMAGETYPE Sensor ÅÄÖ\r\nPIXELSIZEH 0.064\r\n";
        const QString file = m_env->writeFile(u"parms.txt"_qs, text);
        QCOMPARE(ravlekSim({u"params"_qs, u"4"_qs, u"@"_qs + file}).exitCode, 0);
        QCOMPARE(configOf(u"4"_qs).params, std::optional<QString>(QString::fromUtf8(text)));
        QCOMPARE(ravlekSim({u"params"_qs, u"4"_qs, u"@"_qs + m_env->path(u"missing.txt"_qs)}).exitCode, 1);
    }

    void holdingShowsInListAndRefusesOthers() {
        Holder holder({u"192.0.2.3"_qs});
        QVERIFY(holder.waitFor("opened 192.0.2.3"));
        const QString line = listLine(u"192.0.2.3"_qs);
        QVERIFY2(line.contains(u"open by pid %1, CONNECTED"_qs.arg(holder.pid())), qPrintable(line));

        const Run second = ravlekSim({u"hold"_qs, u"3"_qs});
        QCOMPARE(second.exitCode, 4);
        QVERIFY(second.err.contains(u"ALREADYOPENED"_qs));
        QCOMPARE(ravlekSim({u"remove"_qs, u"3"_qs}).exitCode, 4);
        const Run notArmed = ravlekSim({u"expose"_qs, u"3"_qs});
        QCOMPARE(notArmed.exitCode, 4);
        QVERIFY(notArmed.err.contains(u"not armed"_qs));
    }

    void exposeWaitsForTheImage() {
        QCOMPARE(ravlekSim({u"stage"_qs, u"1"_qs, u"0"_qs}).exitCode, 0);
        const QString store = m_env->path(u"lastscannedfile.raw"_qs);
        Holder holder({u"1"_qs, u"--workdir"_qs, m_env->makeFolder(u"77"_qs), u"--arm"_qs, store,
                       u"--format"_qs, u"raw12"_qs});
        QVERIFY(holder.waitFor("armed "));
        QVERIFY(listLine(u"192.0.2.1"_qs).contains(u"armed: RAW 12 bits -> "_qs + store));

        const Run expose = ravlekSim({u"expose"_qs, u"1"_qs, u"--wait"_qs});
        QCOMPARE(expose.exitCode, 0);
        QCOMPARE(expose.out.trimmed(), u"image written to "_qs + store);
        QVERIFY(holder.waitFor("end-of-image 1"));
        const SimModelTraits traits = SimTraitsOfType(1);
        QCOMPARE(QFileInfo(store).size(), qint64(traits.width) * traits.height * 2);
    }

    void exposeReportsAFailedScan() {
        QCOMPARE(ravlekSim({u"stage"_qs, u"1"_qs, u"0"_qs}).exitCode, 0);
        QCOMPARE(ravlekSim({u"fault"_qs, u"1"_qs, u"EndOfImage"_qs, u"13"_qs}).exitCode, 0);
        Holder holder({u"1"_qs, u"--arm"_qs, m_env->path(u"scan.bmp"_qs)});
        QVERIFY(holder.waitFor("armed "));
        const Run expose = ravlekSim({u"expose"_qs, u"1"_qs, u"--wait"_qs});
        QCOMPARE(expose.exitCode, 4);
        QVERIFY(expose.err.contains(u"13 SCANNERERROR"_qs));
        QVERIFY(holder.waitFor("end-of-image 13"));
    }

private:
    std::unique_ptr<TestEnvironment> m_env;
};

QTEST_MAIN(TestRavlekSim)
#include "tst_ravleksim.moc"
