// ravlek-outbox as a timer or an administrator runs it: help and version without a display, the
// queue listed, sent to a real PACS (Orthanc) or kept when the PACS is down or refuses, an entry
// removed, and a second sender waited for.

#include "OrthancServer.h"
#include "TestEnvironment.h"
#include "pacs/PacsOutbox.h"
#include "pacs/PacsService.h"
#include "sim/SimImageWriter.h"
#include "sim/SimRadiograph.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include <QLockFile>
#include <QProcess>
#include <QTcpServer>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run outbox(const QStringList& arguments, bool withoutDisplay = false) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (withoutDisplay) {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
    }
    process.setProcessEnvironment(environment);
    process.start(programPath(QStringLiteral("ravlek-outbox")), arguments);
    if (!process.waitForFinished(120000))
        qFatal("ravlek-outbox did not finish");
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               QString::fromUtf8(process.readAllStandardOutput()),
               QString::fromUtf8(process.readAllStandardError())};
}

int closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void storePacs(int port, const QString& calledAE = QStringLiteral("ORTHANC")) {
    InitApplicationEnvironment({QStringLiteral("ravlek")});
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("PacsHost"), QStringLiteral("127.0.0.1"));
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("PacsPort"), QString::number(port));
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("PacsCalledAE"), calledAE);
}

// Two images queued by the program while the PACS was down: a DIB and the device's DICOM file.
QStringList queueTwoImages(const TestEnvironment& env) {
    pacs::PacsSettings down;
    down.host = QStringLiteral("127.0.0.1");
    down.port = closedPort();
    down.calledAE = QStringLiteral("ORTHANC");
    pacs::PacsService service(down, pacs::PacsOutbox::DefaultFolder());
    const SimPicture picture = SynthesizeRadiograph(RadiographKind::Panoramic, 120, 60, 5);
    QStringList files;
    for (const QString& name : {QStringLiteral("Rtg4711_1.bmp"), QStringLiteral("Rtg4711_2.dcm")}) {
        pacs::StoredImage image;
        image.fileName = env.path(QStringLiteral("xray/4711/") + name);
        image.patientId = QStringLiteral("4711");
        image.deviceType = 8;
        image.imageType = QStringLiteral("PANORAMIC");
        image.manufacturer = QStringLiteral("Digora Toto");
        image.resolutionDpi = 292;
        if (name.endsWith(QLatin1String(".bmp"))) {
            env.writeFile(QStringLiteral("xray/4711/") + name, EncodeDib(picture, 0.087));
        } else {
            const SimImageMeta meta{QStringLiteral("Digora Toto"), image.imageType, 0.087, QString(), 1.27};
            if (!WriteSimImage(image.fileName, picture, SimFormat::Dicom, 12, meta).isEmpty())
                qFatal("cannot write a device DICOM file");
        }
        if (!service.ImageStored(image))
            qFatal("not queued");
        files.append(image.fileName);
    }
    for (QDeadlineTimer deadline(30000); service.WaitingCount() < 2 && !deadline.hasExpired();)
        QTest::qWait(20);
    if (service.WaitingCount() != 2)
        qFatal("the images were not queued");
    return files;
}

} // namespace

class TestRavlekOutbox : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_env = std::make_unique<TestEnvironment>(); }
    void cleanup() { m_env.reset(); }

    void helpAndVersionWithoutDisplay_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("start");
        QTest::newRow("--help") << QStringLiteral("--help")
                                << QStringLiteral("Usage: ravlek-outbox [list]\n");
        QTest::newRow("--version") << QStringLiteral("--version")
                                   << QStringLiteral("ravlek-outbox " RAVLEK_PROJECT_VERSION ".0\n");
    }
    void helpAndVersionWithoutDisplay() {
        QFETCH(QString, option);
        QFETCH(QString, start);
        const Run run = outbox({option}, true);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith(start), qPrintable(run.out));
        QCOMPARE(run.err, QString());
    }

    void wrongUse_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("problem");
        QTest::newRow("unknown command") << QStringList{QStringLiteral("flush")}
                                         << QStringLiteral("ravlek-outbox: unknown command \"flush\"\n");
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("send"), QStringLiteral("--pacs"), QStringLiteral("x")}
            << QStringLiteral("ravlek-outbox: unknown option \"--pacs\"\n");
        QTest::newRow("option without value") << QStringList{QStringLiteral("send"), QStringLiteral("--host")}
                                              << QStringLiteral("ravlek-outbox: --host needs a value\n");
        QTest::newRow("remove without entry") << QStringList{QStringLiteral("remove")}
                                              << QStringLiteral("ravlek-outbox: remove takes one entry\n");
    }
    void wrongUse() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, problem);
        const Run run = outbox(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.startsWith(problem + QLatin1Char('\n') + QStringLiteral("Usage: ")),
                 qPrintable(run.err));
    }

    void emptyOutbox() {
        const Run list = outbox({});
        QCOMPARE(list.exitCode, 0);
        QCOMPARE(list.out, QStringLiteral("0 images wait for the PACS (none set) in %1\n")
                               .arg(m_env->path(QStringLiteral("state/kelvo/pacs-outbox"))));
        const Run send = outbox({QStringLiteral("send")});
        QCOMPARE(send.exitCode, 0);
        QCOMPARE(send.out, QStringLiteral("Nothing waits for the PACS.\n"));
    }

    void listAndSendToThePacs() {
        if (!orthanctest::requireOrthanc())
            return;
        orthanctest::OrthancServer server(m_env->makeFolder(QStringLiteral("pacs")));
        QCOMPARE(server.start(), QString());
        const QStringList files = queueTwoImages(*m_env);
        storePacs(server.dicomPort());

        const Run list = outbox({QStringLiteral("list")});
        QCOMPARE(list.exitCode, 0);
        const QStringList lines = list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(0), QStringLiteral("2 images wait for the PACS ORTHANC@127.0.0.1:%1 in %2")
                                  .arg(server.dicomPort())
                                  .arg(pacs::PacsOutbox::DefaultFolder()));
        const QList<pacs::OutboxEntry> entries = pacs::PacsOutbox().Entries();
        for (int i = 0; i < 2; ++i) {
            QVERIFY2(
                lines.at(i + 1).startsWith(entries.at(i).id +
                                           QStringLiteral("  patient 4711  "
                                                          "DigitalXRayImageStorageForPresentation  queued ")),
                qPrintable(lines.at(i + 1)));
            QVERIFY(lines.at(i + 1).endsWith(QStringLiteral("  ") + files.at(i)));
        }

        const Run send = outbox({QStringLiteral("send")});
        QCOMPARE(send.exitCode, 0);
        QCOMPARE(send.err, QString());
        QCOMPARE(send.out, QStringLiteral("sent %1 as %2\nsent %3 as %4\n2 sent, 0 waiting\n")
                               .arg(files.at(0), entries.at(0).sopInstanceUid, files.at(1),
                                    entries.at(1).sopInstanceUid));
        QCOMPARE(server.instanceCount(), 2);
        QCOMPARE(pacs::PacsOutbox().Count(), 0);
    }

    void pacsDownOrRefusingKeepsTheQueue() {
        if (!orthanctest::requireOrthanc())
            return;
        orthanctest::OrthancServer server(m_env->makeFolder(QStringLiteral("pacs")));
        QCOMPARE(server.start(), QString());
        queueTwoImages(*m_env);
        storePacs(closedPort());

        const Run down = outbox({QStringLiteral("send")});
        QCOMPARE(down.exitCode, 1);
        QVERIFY2(down.err.startsWith(QStringLiteral("ravlek-outbox: The PACS at 127.0.0.1:")),
                 qPrintable(down.err));
        QVERIFY2(down.err.contains(QStringLiteral(" cannot be reached: ")), qPrintable(down.err));
        QCOMPARE(down.out, QStringLiteral("0 sent, 2 waiting\n"));

        // The options name the running PACS, with a wrong AE title.
        const Run refused =
            outbox({QStringLiteral("send"), QStringLiteral("--port"), QString::number(server.dicomPort()),
                    QStringLiteral("--called-ae"), QStringLiteral("STORE")});
        QCOMPARE(refused.exitCode, 1);
        QCOMPARE(refused.err,
                 QStringLiteral("ravlek-outbox: The PACS at 127.0.0.1:%1 refused the association: its AE "
                                "title is not \"STORE\" (for good).\n")
                     .arg(server.dicomPort()));
        QCOMPARE(pacs::PacsOutbox().Count(), 2);
        QCOMPARE(server.instanceCount(), 0);

        const Run right =
            outbox({QStringLiteral("send"), QStringLiteral("--port"), QString::number(server.dicomPort())});
        QCOMPARE(right.exitCode, 0);
        QCOMPARE(server.instanceCount(), 2);
    }

    void removeTakesAnEntryOut() {
        const QStringList files = queueTwoImages(*m_env);
        const QString id = pacs::PacsOutbox().Entries().first().id;
        const Run removed = outbox({QStringLiteral("remove"), id});
        QCOMPARE(removed.exitCode, 0);
        QCOMPARE(removed.out, QStringLiteral("removed %1 (%2), not sent\n").arg(id, files.first()));
        QCOMPARE(pacs::PacsOutbox().Count(), 1);
        QVERIFY(QFileInfo::exists(files.first())); // the patient's image stays where it is
        const Run again = outbox({QStringLiteral("remove"), id});
        QCOMPARE(again.exitCode, 1);
        QVERIFY(again.err.startsWith(QStringLiteral("ravlek-outbox: no entry \"%1\"").arg(id)));
    }

    void anotherSenderIsWaitedFor() {
        queueTwoImages(*m_env);
        storePacs(closedPort());
        QLockFile sending(pacs::PacsOutbox::DefaultFolder() + QStringLiteral("/.send.lock"));
        QVERIFY(sending.tryLock());
        const Run busy = outbox({QStringLiteral("send")});
        QCOMPARE(busy.exitCode, 3);
        QCOMPARE(busy.err, QStringLiteral("ravlek-outbox: another program is sending the outbox now\n"));
        QCOMPARE(pacs::PacsOutbox().Count(), 2);
    }

    // A sender that died leaves its lock file; the next one takes it over.
    void lockOfASenderThatDiedIsTakenOver() {
        if (!orthanctest::requireOrthanc())
            return;
        orthanctest::OrthancServer server(m_env->makeFolder(QStringLiteral("pacs")));
        QCOMPARE(server.start(), QString());
        queueTwoImages(*m_env);
        storePacs(server.dicomPort());

        // A "PACS" that takes the connection and never answers keeps the first sender waiting.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        QProcess stuck;
        stuck.start(programPath(QStringLiteral("ravlek-outbox")),
                    {QStringLiteral("send"), QStringLiteral("--port"), QString::number(silent.serverPort())});
        const QString lock = pacs::PacsOutbox::DefaultFolder() + QStringLiteral("/.send.lock");
        QTRY_VERIFY(QFileInfo::exists(lock));
        stuck.kill();
        QVERIFY(stuck.waitForFinished());
        QVERIFY(QFileInfo::exists(lock));

        const Run send = outbox({QStringLiteral("send")});
        QCOMPARE(send.exitCode, 0);
        QCOMPARE(server.instanceCount(), 2);
    }

private:
    std::unique_ptr<TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestRavlekOutbox)
#include "tst_ravlekoutbox.moc"
