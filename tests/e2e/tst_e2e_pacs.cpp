// The PACS end to end, with the real programs as processes and a real PACS (Orthanc): ravlek-host
// starts ravlek for a patient with the four PACS settings stored, the simulated device exposes, and
// the image arrives in the PACS as a valid object with the patient number as Patient ID; an image
// taken while the PACS is down arrives when a later run finds it up; a PACS that refuses keeps
// the image in the outbox.

#include "E2eInstallation.h"
#include "OrthancServer.h"
#include "pacs/PacsOutbox.h"

#include <QtTest>

using namespace e2e;
using orthanctest::OrthancServer;

namespace {

const QString kPatient = QStringLiteral("4711");

QString storePacs(const OrthancServer& server, const QString& calledAE) {
    const QList<std::array<QString, 2>> settings{
        {QStringLiteral("PacsHost"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("PacsPort"), QString::number(server.dicomPort())},
        {QStringLiteral("PacsCalledAE"), calledAE},
        {QStringLiteral("PacsCallingAE"), QStringLiteral("RAVLEK")},
    };
    for (const auto& [key, value] : settings)
        if (QString failure = setSetting(QStringLiteral("XRay"), key, value); !failure.isEmpty())
            return failure;
    return {};
}

// One capture: ravlek-host starts ravlek, the device exposes by itself, ravlek closes (one-shot).
ProgramRun captureOnce(const QString& outDir) {
    return runProgram(QStringLiteral("ravlek-host"),
                      {QStringLiteral("PNR=") + kPatient, QStringLiteral("OUTDIR=") + outDir}, 60000);
}

QString prepareStation(const QString& fileType, const QString& bits) {
    if (QString failure = configureCaptureStation(QStringLiteral("¤8¤"), fileType, bits); !failure.isEmpty())
        return failure;
    if (QString failure = simulator({QStringLiteral("stage"), QStringLiteral("8"), QStringLiteral("50")});
        !failure.isEmpty())
        return failure;
    return simulator({QStringLiteral("delay"), QStringLiteral("8"), QStringLiteral("300")});
}

} // namespace

class TestE2ePacs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        for (const QString& program :
             {QStringLiteral("ravlek"), QStringLiteral("ravlek-host"), QStringLiteral("ravlek-sim"),
              QStringLiteral("ravlek-reg"), QStringLiteral("ravlek-outbox")})
            QVERIFY2(QFileInfo(programPath(program)).isExecutable(), qPrintable(programPath(program)));
    }

    void captureArrivesInThePacs_data() {
        QTest::addColumn<QString>("fileType");
        QTest::addColumn<QString>("bits");
        QTest::addColumn<QString>("extension");
        QTest::newRow("DIB") << QStringLiteral("DIB") << QStringLiteral("8") << QStringLiteral("bmp");
        QTest::newRow("DCM, 16 bits")
            << QStringLiteral("DCM") << QStringLiteral("16") << QStringLiteral("dcm");
        QTest::newRow("RAW, 16 bits")
            << QStringLiteral("RAW") << QStringLiteral("16") << QStringLiteral("raw");
    }
    void captureArrivesInThePacs() {
        QFETCH(QString, fileType);
        QFETCH(QString, bits);
        QFETCH(QString, extension);
        if (!orthanctest::requireOrthanc())
            return;
        TestEnvironment env;
        OrthancServer server(env.makeFolder(QStringLiteral("pacs")));
        QCOMPARE(server.start(), QString());
        const QString outDir = env.makeFolder(QStringLiteral("xray")) + QLatin1Char('/');
        QCOMPARE(prepareStation(fileType, bits), QString());
        QCOMPARE(storePacs(server, server.aeTitle()), QString());

        const ProgramRun run = captureOnce(outDir);
        QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.describe()));
        QCOMPARE(run.notices(), (QStringList{QStringLiteral("XRAY_NEW_IMAGE wParam=4711 lParam=0"),
                                             QStringLiteral("XRAY_TRANSFERRED wParam=4711 lParam=0")}));
        // The patient's file is the device's working file, byte for byte.
        const QString image = outDir + kPatient + QStringLiteral("/Rtg4711_1.") + extension;
        QCOMPARE(fileContent(image), fileContent(outDir + QStringLiteral("lastscannedfile.") + extension));

        // Sent before the program ended: it sends what is queued when it closes.
        QCOMPARE(server.instanceCount(), 1);
        QCOMPARE(pacs::PacsOutbox().Count(), 0);
        const QJsonObject tags = server.instanceTags().first();
        QCOMPARE(tags.value(QStringLiteral("PatientID")).toString(), kPatient);
        QCOMPARE(tags.value(QStringLiteral("Modality")).toString(), QStringLiteral("PX"));
        const QString stored = env.writeFile(QStringLiteral("stored.dcm"), server.instanceFiles().first());
        QString report;
        QVERIFY2(orthanctest::dciodvfyErrors(stored, &report).isEmpty(), qPrintable(report));
        QVERIFY2(
            run.errors.contains(QStringLiteral("Sent ") + image + QStringLiteral(" to the PACS as 2.")) ||
                fileType == QStringLiteral("DCM"),
            qPrintable(run.errors));
    }

    void imageTakenWhilePacsIsDownArrivesLater() {
        if (!orthanctest::requireOrthanc())
            return;
        TestEnvironment env;
        OrthancServer server(env.makeFolder(QStringLiteral("pacs")));
        QCOMPARE(server.start(), QString());
        server.stop();
        const QString outDir = env.makeFolder(QStringLiteral("xray")) + QLatin1Char('/');
        QCOMPARE(prepareStation(QStringLiteral("DIB"), QStringLiteral("8")), QString());
        QCOMPARE(storePacs(server, server.aeTitle()), QString());

        const ProgramRun down = captureOnce(outDir);
        QVERIFY2(down.finished && down.exitCode == 0, qPrintable(down.describe()));
        QCOMPARE(down.notices().size(), 2); // the host heard of the image all the same
        QVERIFY2(down.errors.contains(QStringLiteral("cannot be reached")), qPrintable(down.errors));
        QCOMPARE(pacs::PacsOutbox().Count(), 1);
        const QString waiting = pacs::PacsOutbox().Entries().first().sopInstanceUid;

        // The next run finds the PACS up and sends the earlier image along with its own.
        QCOMPARE(server.start(), QString());
        const ProgramRun up = captureOnce(outDir);
        QVERIFY2(up.finished && up.exitCode == 0, qPrintable(up.describe()));
        QTRY_COMPARE_WITH_TIMEOUT(server.instanceCount(), 2, 30000);
        QCOMPARE(pacs::PacsOutbox().Count(), 0);
        QStringList uids;
        for (const QJsonObject& tags : server.instanceTags())
            uids.append(tags.value(QStringLiteral("SOPInstanceUID")).toString());
        QVERIFY(uids.contains(waiting));
        QVERIFY(QFileInfo::exists(outDir + kPatient + QStringLiteral("/Rtg4711_2.bmp")));
    }

    void refusingPacsKeepsTheImage() {
        if (!orthanctest::requireOrthanc())
            return;
        TestEnvironment env;
        OrthancServer server(env.makeFolder(QStringLiteral("pacs")));
        QCOMPARE(server.start(), QString());
        const QString outDir = env.makeFolder(QStringLiteral("xray")) + QLatin1Char('/');
        QCOMPARE(prepareStation(QStringLiteral("DIB"), QStringLiteral("8")), QString());
        QCOMPARE(storePacs(server, QStringLiteral("ARCHIVE")), QString());

        const ProgramRun run = captureOnce(outDir);
        QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.describe()));
        QVERIFY2(
            run.errors.contains(QStringLiteral("refused the association: its AE title is not \"ARCHIVE\"")),
            qPrintable(run.errors));
        QCOMPARE(server.instanceCount(), 0);

        const ProgramRun list = runProgram(QStringLiteral("ravlek-outbox"), {QStringLiteral("list")});
        QCOMPARE(list.exitCode, 0);
        QVERIFY2(list.output.startsWith(QStringLiteral("1 image waits for the PACS ARCHIVE@127.0.0.1:")),
                 qPrintable(list.output));
        QVERIFY(list.output.contains(outDir + kPatient + QStringLiteral("/Rtg4711_1.bmp")));
    }
};

QTEST_GUILESS_MAIN(TestE2ePacs)
#include "tst_e2e_pacs.moc"
