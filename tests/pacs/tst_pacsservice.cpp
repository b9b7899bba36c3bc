// The program's road to a real PACS (Orthanc on a loopback port of its own): DIB, RAW and DCM
// captures arrive as valid objects; a PACS that is down for a while gets every image exactly once;
// a PACS that refuses the association is told in words and the image waits; a new run sends what
// an earlier one left; and the verification of the settings window.

#include "OrthancServer.h"
#include "TestEnvironment.h"
#include "pacs/DicomStore.h"
#include "pacs/PacsOutbox.h"
#include "pacs/PacsService.h"
#include "sim/SimImageWriter.h"
#include "sim/SimRadiograph.h"

#include <QDir>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

using namespace pacs;
using orthanctest::OrthancServer;

namespace {

constexpr int kArrivalMs = 60000;

PacsSettings settingsFor(const OrthancServer& server) {
    PacsSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = server.dicomPort();
    settings.calledAE = server.aeTitle();
    return settings;
}

QByteArray fileContent(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A stored image in the patient's folder, as the hand-off leaves it, with what the hand-off knows.
StoredImage capture(const TestEnvironment& env, const QString& kind, int number,
                    const QString& devicePatientId = {}) {
    const bool intraoral = kind == QStringLiteral("raw");
    const SimPicture picture = SynthesizeRadiograph(
        intraoral ? RadiographKind::Intraoral : RadiographKind::Panoramic, 160, 96, quint32(number));
    StoredImage image;
    image.patientId = QStringLiteral("4711");
    image.deviceType = intraoral ? 4 : 8;
    image.deviceLabel = intraoral ? QStringLiteral("Room 2") : QString();
    image.modelName = intraoral ? QStringLiteral("Digora OPTIME") : QStringLiteral("Digora Toto");
    image.manufacturer = image.modelName;
    image.imageType = intraoral ? QStringLiteral("INTRAORAL") : QStringLiteral("PANORAMIC");
    image.parameters = QStringLiteral("DEVICE %1\r\nIMAGETYPE %2\r\nPIXELSIZEH 0.087\r\nMAGFACTOR 1.27\r\n"
                                      "WIDTH 160\r\nHEIGHT 96\r\nBITS 12")
                           .arg(image.modelName, image.imageType);
    image.resolutionDpi = 292;
    image.magnification = 1.27;
    image.scannerVersion = QStringLiteral("810");
    image.workstationName = QStringLiteral("TESTPC");
    image.acquired = QDateTime::currentDateTime();
    const QString name = QStringLiteral("xray/4711/Rtg4711_%1.%2")
                             .arg(number)
                             .arg(kind == QStringLiteral("dib") ? QStringLiteral("bmp") : kind);
    if (kind == QStringLiteral("dib")) {
        image.fileName = env.writeFile(name, EncodeDib(picture, 0.087));
    } else if (kind == QStringLiteral("raw")) {
        image.fileName = env.writeFile(name, EncodeRaw(picture, 12));
    } else {
        image.fileName = env.path(name);
        QDir().mkpath(QFileInfo(image.fileName).absolutePath());
        const SimImageMeta meta{image.modelName, image.imageType, 0.087, devicePatientId, 1.27};
        if (!WriteSimImage(image.fileName, picture, SimFormat::Dicom, 12, meta).isEmpty())
            qFatal("cannot write a device DICOM file");
    }
    return image;
}

QString tagOf(const QJsonObject& tags, const char* name) {
    return tags.value(QLatin1String(name)).toString();
}

QSet<QString> sopInstancesIn(OrthancServer& server) {
    QSet<QString> uids;
    for (const QJsonObject& tags : server.instanceTags())
        uids.insert(tagOf(tags, "SOPInstanceUID"));
    return uids;
}

QSet<QString> sopInstancesQueued() {
    QSet<QString> uids;
    for (const OutboxEntry& entry : PacsOutbox().Entries())
        uids.insert(entry.sopInstanceUid);
    return uids;
}

QString sopInstanceOf(const QString& dicomFile) {
    DcmFileFormat file;
    file.loadFile(QFile::encodeName(dicomFile).constData());
    OFString uid;
    file.getDataset()->findAndGetOFString(DCM_SOPInstanceUID, uid);
    return QString::fromLatin1(uid.c_str());
}

} // namespace

class TestPacsService : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void nothingHappensWithoutAPacs();
    void eachKindArrivesAsValidObject_data();
    void eachKindArrivesAsValidObject();
    void pacsDownForAWhileGetsEveryImageOnce();
    void refusedAssociationIsToldAndImageWaits();
    void nextRunSendsWhatAnEarlierOneLeft();
    void closingSendsWhatIsQueued();
    void imageThatCannotBeMadeIsNotQueued();
    void verification_data();
    void verification();
};

void TestPacsService::nothingHappensWithoutAPacs() {
    TestEnvironment env;
    PacsService service(PacsSettings{}, PacsOutbox::DefaultFolder());
    QVERIFY(!service.ImageStored(capture(env, QStringLiteral("dib"), 1)));
    QCOMPARE(service.WaitingCount(), 0);
    QVERIFY(!QFileInfo::exists(PacsOutbox::DefaultFolder()));
}

void TestPacsService::eachKindArrivesAsValidObject_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("devicePatientId");
    QTest::addColumn<QString>("sopClass");
    QTest::addColumn<QString>("modality");
    const QString dx = QStringLiteral(UID_DigitalXRayImageStorageForPresentation);
    const QString io = QStringLiteral(UID_DigitalIntraOralXRayImageStorageForPresentation);
    QTest::newRow("DIB from a panoramic unit") << "dib" << QString() << dx << "PX";
    QTest::newRow("RAW, 12 bits, from an intraoral plate reader") << "raw" << QString() << io << "IO";
    QTest::newRow("DCM from the device") << "dcm"
                                         << "4711" << dx << "PX";
    QTest::newRow("DCM from the device without a Patient ID") << "dcm" << QString() << dx << "PX";
}

void TestPacsService::eachKindArrivesAsValidObject() {
    QFETCH(QString, kind);
    QFETCH(QString, devicePatientId);
    QFETCH(QString, sopClass);
    QFETCH(QString, modality);
    if (!orthanctest::requireOrthanc())
        return;
    TestEnvironment env;
    OrthancServer server(env.makeFolder(QStringLiteral("pacs")));
    QCOMPARE(server.start(), QString());

    const StoredImage image = capture(env, kind, 1, devicePatientId);
    const QByteArray before = fileContent(image.fileName);
    {
        PacsService service(settingsFor(server), PacsOutbox::DefaultFolder());
        QSignalSpy sent(&service, &PacsService::Sent);
        QVERIFY(service.ImageStored(image));
        QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 1, kArrivalMs);
        QCOMPARE(sent.first().at(1).toString(), image.fileName);
        QTRY_COMPARE(service.WaitingCount(), 0);
        QCOMPARE(service.LastFailure(), QString());
    }
    QCOMPARE(PacsOutbox().Count(), 0);
    QCOMPARE(fileContent(image.fileName), before); // the patient's file is never touched

    const QList<QJsonObject> stored = server.instanceTags();
    QCOMPARE(stored.size(), 1);
    const QJsonObject& tags = stored.first();
    QCOMPARE(tagOf(tags, "PatientID"), QStringLiteral("4711"));
    QCOMPARE(tagOf(tags, "SOPClassUID"), sopClass);
    QCOMPARE(tagOf(tags, "Modality"), modality);
    if (kind == QStringLiteral("dcm")) {
        // The device's own object, with its own identity.
        QCOMPARE(tagOf(tags, "SOPInstanceUID"), sopInstanceOf(image.fileName));
        QCOMPARE(tagOf(tags, "Manufacturer"), QStringLiteral("Ravlek simulated driver"));
    } else {
        QCOMPARE(tagOf(tags, "Manufacturer"), image.manufacturer);
        QCOMPARE(tagOf(tags, "ManufacturerModelName"), image.modelName);
        QCOMPARE(tagOf(tags, "ImagerPixelSpacing"), QStringLiteral("0.08698630137\\0.08698630137"));
        QCOMPARE(tagOf(tags, "Rows"), QStringLiteral("96"));
        QCOMPARE(tagOf(tags, "Columns"), QStringLiteral("160"));
    }
}

void TestPacsService::pacsDownForAWhileGetsEveryImageOnce() {
    if (!orthanctest::requireOrthanc())
        return;
    TestEnvironment env;
    OrthancServer server(env.makeFolder(QStringLiteral("pacs")));
    QCOMPARE(server.start(), QString());
    server.stop(); // its ports are known now; the PACS is down

    PacsService service(settingsFor(server), PacsOutbox::DefaultFolder());
    QSignalSpy failed(&service, &PacsService::SendFailed);
    QSignalSpy sent(&service, &PacsService::Sent);
    for (int number = 1; number <= 3; ++number)
        QVERIFY(service.ImageStored(
            capture(env, number == 2 ? QStringLiteral("raw") : QStringLiteral("dib"), number)));
    QTRY_COMPARE(service.WaitingCount(), 3);
    QTRY_VERIFY(!failed.isEmpty());
    const QString failure = failed.last().first().toString();
    QVERIFY2(failure.startsWith(
                 QStringLiteral("The PACS at 127.0.0.1:%1 cannot be reached: ").arg(server.dicomPort())),
             qPrintable(failure));
    QCOMPARE(service.LastFailure(), failure);
    QCOMPARE(sent.count(), 0);

    // An entry as it was before it was sent, put back later as if the program had died between
    // the PACS's answer and removing it from the outbox.
    const QSet<QString> queued = sopInstancesQueued();
    QCOMPARE(queued.size(), 3);
    const OutboxEntry first = PacsOutbox().Entries().first();
    const QString kept = env.path(QStringLiteral("kept-entry"));
    QVERIFY(QDir().mkpath(kept));
    for (const QString& file : {QStringLiteral("object.dcm"), QStringLiteral("entry.json")})
        QVERIFY(QFile::copy(first.folder + QLatin1Char('/') + file, kept + QLatin1Char('/') + file));

    QCOMPARE(server.start(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 3, kArrivalMs);
    QTRY_COMPARE(service.WaitingCount(), 0);
    QCOMPARE(server.instanceCount(), 3);
    // Retries sent the objects made when the images were queued.
    QCOMPARE(sopInstancesIn(server), queued);
    QCOMPARE(service.LastFailure(), QString());

    QVERIFY(QDir().rename(kept, first.folder));
    service.SetSettings(settingsFor(server)); // a nudge, as new settings or a new image would give
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 4, kArrivalMs);
    QCOMPARE(server.instanceCount(), 3); // the PACS knows it already
    QCOMPARE(sopInstancesIn(server), queued);
}

void TestPacsService::refusedAssociationIsToldAndImageWaits() {
    if (!orthanctest::requireOrthanc())
        return;
    TestEnvironment env;
    OrthancServer server(env.makeFolder(QStringLiteral("pacs")));
    QCOMPARE(server.start(), QString());
    PacsSettings wrong = settingsFor(server);
    wrong.calledAE = QStringLiteral("NOT-ORTHANC");

    PacsService service(wrong, PacsOutbox::DefaultFolder());
    QSignalSpy failed(&service, &PacsService::SendFailed);
    QSignalSpy sent(&service, &PacsService::Sent);
    QVERIFY(service.ImageStored(capture(env, QStringLiteral("dib"), 1)));
    QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty(), kArrivalMs);
    QCOMPARE(failed.first().first().toString(),
             QStringLiteral(
                 "The PACS at 127.0.0.1:%1 refused the association: its AE title is not \"NOT-ORTHANC\" "
                 "(for good).")
                 .arg(server.dicomPort()));
    QCOMPARE(service.WaitingCount(), 1);
    QCOMPARE(PacsOutbox().Count(), 1);
    QCOMPARE(server.instanceCount(), 0);
    QCOMPARE(sent.count(), 0);

    // Set right, the waiting image goes at once.
    service.SetSettings(settingsFor(server));
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 1, kArrivalMs);
    QCOMPARE(server.instanceCount(), 1);
}

void TestPacsService::nextRunSendsWhatAnEarlierOneLeft() {
    if (!orthanctest::requireOrthanc())
        return;
    TestEnvironment env;
    OrthancServer server(env.makeFolder(QStringLiteral("pacs")));
    QCOMPARE(server.start(), QString());
    server.stop();
    {
        PacsService earlier(settingsFor(server), PacsOutbox::DefaultFolder());
        QSignalSpy failed(&earlier, &PacsService::SendFailed);
        QVERIFY(earlier.ImageStored(capture(env, QStringLiteral("dib"), 1)));
        QVERIFY(earlier.ImageStored(capture(env, QStringLiteral("dcm"), 2, QStringLiteral("4711"))));
        QTRY_VERIFY(!failed.isEmpty());
    }
    QCOMPARE(PacsOutbox().Count(), 2);
    const QSet<QString> queued = sopInstancesQueued();

    QCOMPARE(server.start(), QString());
    PacsService next(settingsFor(server), PacsOutbox::DefaultFolder());
    QCOMPARE(next.WaitingCount(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(next.WaitingCount(), 0, kArrivalMs);
    QCOMPARE(server.instanceCount(), 2);
    QCOMPARE(sopInstancesIn(server), queued);
}

void TestPacsService::closingSendsWhatIsQueued() {
    if (!orthanctest::requireOrthanc())
        return;
    TestEnvironment env;
    OrthancServer server(env.makeFolder(QStringLiteral("pacs")));
    QCOMPARE(server.start(), QString());
    {
        PacsService service(settingsFor(server), PacsOutbox::DefaultFolder());
        QVERIFY(service.ImageStored(capture(env, QStringLiteral("dib"), 1)));
        QVERIFY(service.ImageStored(capture(env, QStringLiteral("raw"), 2)));
        // Closed at once, as a one-shot program closes after its image.
    }
    QCOMPARE(PacsOutbox().Count(), 0);
    QCOMPARE(server.instanceCount(), 2);
}

void TestPacsService::imageThatCannotBeMadeIsNotQueued() {
    TestEnvironment env;
    PacsSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = 9; // nothing is sent: neither image becomes an entry
    PacsService service(settings, PacsOutbox::DefaultFolder());
    StoredImage raw = capture(env, QStringLiteral("raw"), 1);
    raw.parameters = QStringLiteral("DEVICE Digora OPTIME");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                           "^Cannot queue .*Rtg4711_1.raw for the PACS: the device gave no "
                                           "usable size \\(WIDTH, HEIGHT\\) for the RAW image$")));
    QVERIFY(service.ImageStored(raw));
    StoredImage gone = capture(env, QStringLiteral("dib"), 2);
    QFile::remove(gone.fileName);
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^Cannot queue .*Rtg4711_2.bmp for the PACS: ")));
    QVERIFY(!service.ImageStored(gone));
    QTest::qWait(500);
    QCOMPARE(PacsOutbox().Count(), 0);
}

void TestPacsService::verification_data() {
    QTest::addColumn<QString>("calledAE");
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text"); // "<port>" stands for the PACS's port
    QTest::newRow("answers") << "ORTHANC" << true << true
                             << "The PACS ORTHANC@127.0.0.1:<port> answered: the connection works.";
    QTest::newRow("wrong AE title")
        << "ORTHANC2" << true << false
        << "The PACS at 127.0.0.1:<port> refused the association: its AE title is not "
           "\"ORTHANC2\" (for good).";
    QTest::newRow("nothing listens") << "ORTHANC" << false << false
                                     << "The PACS at 127.0.0.1:<port> cannot be reached: ";
}

void TestPacsService::verification() {
    QFETCH(QString, calledAE);
    QFETCH(bool, running);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    if (!orthanctest::requireOrthanc())
        return;
    TestEnvironment env;
    OrthancServer server(env.makeFolder(QStringLiteral("pacs")));
    QCOMPARE(server.start(), QString());
    if (!running)
        server.stop();
    PacsSettings settings = settingsFor(server);
    settings.calledAE = calledAE;
    const PacsOutcome outcome = EchoPacs(settings);
    QCOMPARE(outcome.ok, ok);
    text.replace(QStringLiteral("<port>"), QString::number(server.dicomPort()));
    QVERIFY2(outcome.text.startsWith(text), qPrintable(outcome.text));
}

QTEST_GUILESS_MAIN(TestPacsService)
#include "tst_pacsservice.moc"
