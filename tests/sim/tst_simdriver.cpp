#include "OrthancServer.h"
#include "TestEnvironment.h"

#include "platform/Registry.h"
#include "scanner/ScannerStatus.h"
#include "sim/SimCatalogue.h"
#include "sim/SimDeviceFolder.h"
#include "sim/SimImageWriter.h"
#include "sim/SimRadiograph.h"
#include "sim/SimulatedDsd.h"
#include "tools/KelvoSettings.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <algorithm>

namespace {

const QString kDriverKey = QStringLiteral("SOFTWARE\\Soredex\\Dsd\\Uid");

SimDeviceFolder folderOf(const QString& typeOrAddress) {
    const SimCatalogue catalogue;
    const std::optional<SimDevice> device = catalogue.find(typeOrAddress);
    return SimDeviceFolder(catalogue.deviceFolder(device.value()));
}

// No pauses between the scan's stages, so a test waits only for the event loop.
void makeScansQuick(const QString& typeOrAddress) {
    QVERIFY(folderOf(typeOrAddress).updateConfig([](SimDeviceConfig& config) { config.stageMs = 0; }));
}

void setFault(const QString& typeOrAddress, const QString& operation, int code, int times = -1) {
    QVERIFY(folderOf(typeOrAddress).updateConfig([&](SimDeviceConfig& config) {
        config.faults.insert(operation, SimFault{code, times});
    }));
}

void setNetMode(quint32 mode) {
    const auto value = platform::RegValue::ofDWord(QStringLiteral("NetMode"), mode);
    QVERIFY(platform::registry().setValue(platform::Hive::LocalMachine, kDriverKey, value).ok);
}

// Arms an open control to write into `store`.
void arm(TSimulatedDsd& control, qint32 imageFormat, const QString& store) {
    QCOMPARE(control.SetImageFormat(imageFormat), ScannerCode::Ok);
    QCOMPARE(control.SetImageStore(store), ScannerCode::Ok);
    QCOMPARE(control.ActivateScan(0), ScannerCode::Ok);
}

// Exposes the way ravlek-sim does and waits for the end of the image.
int exposeAndWait(TSimulatedDsd& control, const QString& typeOrAddress) {
    QSignalSpy ended(&control, &TDsd::OnEndOfImage);
    if (!folderOf(typeOrAddress).requestExposure())
        return -1000;
    if (!ended.wait(20000))
        return -1001;
    if (ended.first().at(0).value<QObject*>() != &control)
        return -1002;
    return ended.first().at(1).toInt();
}

} // namespace

class TestSimDriver : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_env = std::make_unique<TestEnvironment>(); }
    void cleanup() { m_env.reset(); }

    void defaultCatalogueHasOneDeviceOfEachType() {
        const QList<SimDevice> devices = SimCatalogue().devices();
        QCOMPARE(devices.size(), 8);
        const QStringList names{u"Digora"_qs,   u"Digora PCT"_qs, u"Cranex PDC"_qs, u"Digora OPTIME"_qs,
                                u"Cranex D"_qs, u"Sopix"_qs,      u"Cranex TT"_qs,  u"Digora Toto"_qs};
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(devices[i].type, i + 1);
            QCOMPARE(devices[i].model, names[i]);
        }
        QVERIFY(QFile::exists(m_env->path(u"sim/devices.json"_qs)));
    }

    void unreadableCatalogueIsKeptAndOpeningFails() {
        const QByteArray broken = "{ this is not a catalogue";
        m_env->writeFile(u"sim/devices.json"_qs, broken);
        TSimulatedDsd control;
        QCOMPARE(control.OpenScanner(1, 1, {}), ScannerCode::SystemError);
        QFile file(m_env->path(u"sim/devices.json"_qs));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), broken);
    }

    void openAndClose() {
        TSimulatedDsd control;
        QCOMPARE(control.GetScannerStatus(), ScannerCode::NotOpen);
        QCOMPARE(control.OpenScanner(1, 1, {}), ScannerCode::Ok);
        QCOMPARE(control.GetScannerStatus(), ScannerCode::Connected);
        QCOMPARE(control.GetScannerVersion(), 210);
        QCOMPARE(control.DiscardImage(), ScannerCode::Ok);
        QCOMPARE(control.ActivateSetup(0), ScannerCode::Ok);
        QVERIFY(folderOf(u"1"_qs).isOpen());
        QCOMPARE(folderOf(u"1"_qs).openedBy(), QCoreApplication::applicationPid());
        QCOMPARE(control.CloseScanner(), ScannerCode::Ok);
        QVERIFY(!folderOf(u"1"_qs).isOpen());
        QCOMPARE(control.GetScannerStatus(), ScannerCode::NotOpen);
        QCOMPARE(control.SetImageStore(m_env->path(u"x.bmp"_qs)), ScannerCode::NotOpen);
    }

    void openingTypesWithoutDevice_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("code");
        QTest::newRow("type 11 has no device") << 11 << ScannerCode::Disconnected;
        QTest::newRow("type 0 is no type") << 0 << ScannerCode::BadParm;
        QTest::newRow("negative type") << -4 << ScannerCode::BadParm;
    }
    void openingTypesWithoutDevice() {
        QFETCH(int, type);
        QFETCH(int, code);
        TSimulatedDsd control;
        QCOMPARE(control.OpenScanner(type, 1, {}), code);
        QCOMPARE(control.GetScannerStatus(), ScannerCode::NotOpen);
    }

    void secondControlFindsDeviceOpened() {
        TSimulatedDsd first;
        TSimulatedDsd second;
        QCOMPARE(first.OpenScanner(2, 1, {}), ScannerCode::Ok);
        QCOMPARE(second.OpenScanner(2, 1, {}), ScannerCode::AlreadyOpened);
        QCOMPARE(second.OpenScanner(3, 1, {}), ScannerCode::Ok);
        first.CloseScanner();
        QCOMPARE(second.OpenScanner(2, 1, {}), ScannerCode::Ok);
    }

    void deviceHeldByAnotherProcessUntilItEnds() {
        QProcess holder;
        holder.start(programPath(u"ravlek-sim"_qs), {u"hold"_qs, u"4"_qs});
        QVERIFY2(holder.waitForStarted(), qPrintable(holder.errorString()));
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += holder.readAllStandardOutput()).contains("opened 192.0.2.4"),
                                 20000);

        TSimulatedDsd control;
        QCOMPARE(control.OpenScanner(4, 1, {}), ScannerCode::AlreadyOpened);
        QCOMPARE(folderOf(u"4"_qs).openedBy(), holder.processId());

        holder.kill();
        QVERIFY(holder.waitForFinished());
        QCOMPARE(control.OpenScanner(4, 1, {}), ScannerCode::Ok);
    }

    void scanWalksThroughStates() {
        makeScansQuick(u"1"_qs);
        TSimulatedDsd control;
        QCOMPARE(control.OpenScanner(1, 1, {}), ScannerCode::Ok);
        QSignalSpy states(&control, &TSimulatedDsd::statusChanged);
        arm(control, 8 * 65536 + SimFormat::Dib, m_env->path(u"scan.bmp"_qs));
        QCOMPARE(control.GetScannerStatus(), ScannerCode::Connected);
        QCOMPARE(exposeAndWait(control, u"1"_qs), ScannerCode::Ok);
        QList<int> walk;
        for (const QList<QVariant>& change : states)
            walk << change.at(0).toInt();
        QCOMPARE(walk, (QList<int>{ScannerCode::Connected, ScannerCode::PlateInserted,
                                   ScannerCode::ImageReadout, ScannerCode::Connected}));
        QCOMPARE(control.GetScannerStatus(), ScannerCode::Connected);
    }

    void exposureWritesEachFormat_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("depth");
        QTest::addColumn<QString>("extension");
        QTest::newRow("DIB 8 bits") << 1 << SimFormat::Dib << 8 << u"bmp"_qs;
        QTest::newRow("DIB chosen with 12 bits") << 2 << SimFormat::Dib << 12 << u"bmp"_qs;
        QTest::newRow("RAW 8 bits") << 4 << SimFormat::Raw << 8 << u"raw"_qs;
        QTest::newRow("RAW 12 bits") << 8 << SimFormat::Raw << 12 << u"raw"_qs;
        QTest::newRow("DICOM 8 bits") << 6 << SimFormat::Dicom << 8 << u"dcm"_qs;
        QTest::newRow("DICOM 12 bits") << 3 << SimFormat::Dicom << 12 << u"dcm"_qs;
    }
    void exposureWritesEachFormat() {
        QFETCH(int, type);
        QFETCH(int, format);
        QFETCH(int, depth);
        QFETCH(QString, extension);
        const QString typeName = QString::number(type);
        makeScansQuick(typeName);
        const QString store = m_env->makeFolder(u"out"_qs) + u"/lastscannedfile."_qs + extension;
        const SimModelTraits traits = SimTraitsOfType(type);

        TSimulatedDsd control;
        QCOMPARE(control.OpenScanner(type, 1, m_env->makeFolder(u"out/123"_qs) + u"/"_qs), ScannerCode::Ok);
        arm(control, depth * 65536 + format, store);
        QCOMPARE(exposeAndWait(control, typeName), ScannerCode::Ok);

        QVERIFY(QFile::exists(store));
        QVERIFY2(QDir(m_env->path(u"out"_qs)).entryList(QDir::Files | QDir::Hidden).size() == 1,
                 "no temporary file left");
        const QString parms = control.GetImageParms();
        QVERIFY(parms.contains(u"WIDTH %1"_qs.arg(traits.width)));
        QVERIFY(parms.contains(u"HEIGHT %1"_qs.arg(traits.height)));

        if (format == SimFormat::Dib) {
            const QImage image(store);
            QVERIFY(!image.isNull());
            QCOMPARE(image.size(), QSize(traits.width, traits.height));
            QVERIFY(image.isGrayscale());
            int darkest = 255;
            int brightest = 0;
            for (int y = 0; y < image.height(); y += 7) {
                for (int x = 0; x < image.width(); x += 7) {
                    darkest = std::min(darkest, qGray(image.pixel(x, y)));
                    brightest = std::max(brightest, qGray(image.pixel(x, y)));
                }
            }
            QVERIFY2(brightest - darkest > 100, "a picture, not a blank");
        } else if (format == SimFormat::Raw) {
            QFile raw(store);
            QVERIFY(raw.open(QIODevice::ReadOnly));
            const QByteArray bytes = raw.readAll();
            QCOMPARE(bytes.size(), qsizetype(traits.width) * traits.height * (depth == 8 ? 1 : 2));
            if (depth == 12) {
                quint16 highest = 0;
                for (qsizetype i = 0; i < bytes.size(); i += 2)
                    highest = std::max<quint16>(highest, qFromLittleEndian<quint16>(bytes.constData() + i));
                QVERIFY(highest > 255);
                QVERIFY(highest <= 4095);
            }
            QVERIFY(parms.contains(u"BITS %1"_qs.arg(depth)));
        } else {
            DcmFileFormat dicom;
            QVERIFY(dicom.loadFile(QFile::encodeName(store).constData()).good());
            DcmDataset* data = dicom.getDataset();
            OFString patientId;
            QVERIFY(data->findAndGetOFString(DCM_PatientID, patientId).good());
            QCOMPARE(QString::fromStdString(std::string(patientId.c_str())), u"123"_qs);
            Uint16 rows = 0;
            Uint16 columns = 0;
            Uint16 bitsStored = 0;
            QVERIFY(data->findAndGetUint16(DCM_Rows, rows).good());
            QVERIFY(data->findAndGetUint16(DCM_Columns, columns).good());
            QVERIFY(data->findAndGetUint16(DCM_BitsStored, bitsStored).good());
            QCOMPARE(int(rows), traits.height);
            QCOMPARE(int(columns), traits.width);
            QCOMPARE(int(bitsStored), depth);
            const QString dcmdump = QStandardPaths::findExecutable(u"dcmdump"_qs);
            if (!dcmdump.isEmpty()) {
                QProcess dump;
                dump.start(dcmdump, {store});
                QVERIFY(dump.waitForFinished());
                QCOMPARE(dump.exitCode(), 0);
                QVERIFY(dump.readAllStandardOutput().contains("[123]"));
            }
            // A complete object of its kind, as a PACS would check it.
            if (!orthanctest::requireDciodvfy())
                return;
            QString report;
            QVERIFY2(orthanctest::dciodvfyErrors(store, &report).isEmpty(), qPrintable(report));
        }
    }

    void automaticExposureAfterDelay() {
        makeScansQuick(u"1"_qs);
        QVERIFY(folderOf(u"1"_qs).updateConfig([](SimDeviceConfig& config) { config.exposureDelayMs = 0; }));
        TSimulatedDsd control;
        QSignalSpy ended(&control, &TDsd::OnEndOfImage);
        QCOMPARE(control.OpenScanner(1, 1, {}), ScannerCode::Ok);
        arm(control, 8 * 65536 + SimFormat::Raw, m_env->path(u"auto.raw"_qs));
        QVERIFY(ended.wait(20000));
        QCOMPARE(ended.first().at(1).toInt(), ScannerCode::Ok);
        QVERIFY(QFile::exists(m_env->path(u"auto.raw"_qs)));
    }

    void exposureIgnoredWhenNotArmed() {
        TSimulatedDsd control;
        QSignalSpy ended(&control, &TDsd::OnEndOfImage);
        QCOMPARE(control.OpenScanner(1, 1, {}), ScannerCode::Ok);
        const std::optional<QString> id = folderOf(u"1"_qs).requestExposure();
        QVERIFY(id);
        QTRY_COMPARE_WITH_TIMEOUT(folderOf(u"1"_qs).report().value_or(SimDeviceReport{}).exposureId, *id,
                                  20000);
        QCOMPARE(folderOf(u"1"_qs).report()->exposureResult, u"ignored"_qs);
        QCOMPARE(ended.count(), 0);
    }

    void faultsReplaceResults_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("code");
        QTest::newRow("open") << u"OpenScanner"_qs << 13;
        QTest::newRow("status") << u"GetScannerStatus"_qs << 16;
        QTest::newRow("format") << u"SetImageFormat"_qs << 15;
        QTest::newRow("store") << u"SetImageStore"_qs << 5;
        QTest::newRow("activate") << u"ActivateScan"_qs << 13;
        QTest::newRow("version") << u"GetScannerVersion"_qs << -1;
        QTest::newRow("discard") << u"DiscardImage"_qs << 3;
        QTest::newRow("setup") << u"ActivateSetup"_qs << 0;
        QTest::newRow("close") << u"CloseScanner"_qs << 21;
    }
    void faultsReplaceResults() {
        QFETCH(QString, operation);
        QFETCH(int, code);
        setFault(u"5"_qs, operation, code);
        TSimulatedDsd control;
        const qint32 opened = control.OpenScanner(5, 1, {});
        qint32 result = opened;
        if (operation == u"GetScannerStatus"_qs)
            result = control.GetScannerStatus();
        else if (operation == u"SetImageFormat"_qs)
            result = control.SetImageFormat(8 * 65536 + SimFormat::Dib);
        else if (operation == u"SetImageStore"_qs)
            result = control.SetImageStore(m_env->path(u"x.bmp"_qs));
        else if (operation == u"ActivateScan"_qs)
            result = control.ActivateScan(0);
        else if (operation == u"GetScannerVersion"_qs)
            result = control.GetScannerVersion();
        else if (operation == u"DiscardImage"_qs)
            result = control.DiscardImage();
        else if (operation == u"ActivateSetup"_qs)
            result = control.ActivateSetup(0);
        else if (operation == u"CloseScanner"_qs)
            result = control.CloseScanner();
        QCOMPARE(result, code);
        QCOMPARE(folderOf(u"5"_qs).isOpen(), operation != u"OpenScanner"_qs);
    }

    void countedFaultWearsOff() {
        setFault(u"1"_qs, u"OpenScanner"_qs, ScannerCode::Disconnected, 2);
        TSimulatedDsd control;
        QCOMPARE(control.OpenScanner(1, 1, {}), ScannerCode::Disconnected);
        QCOMPARE(control.OpenScanner(1, 1, {}), ScannerCode::Disconnected);
        QCOMPARE(control.OpenScanner(1, 1, {}), ScannerCode::Ok);
        QVERIFY(folderOf(u"1"_qs).config().faults.isEmpty());
    }

    void scanEndsWithFaultCode() {
        makeScansQuick(u"1"_qs);
        setFault(u"1"_qs, u"EndOfImage"_qs, ScannerCode::ScannerError);
        TSimulatedDsd control;
        QCOMPARE(control.OpenScanner(1, 1, {}), ScannerCode::Ok);
        arm(control, 8 * 65536 + SimFormat::Dib, m_env->path(u"failed.bmp"_qs));
        QCOMPARE(exposeAndWait(control, u"1"_qs), ScannerCode::ScannerError);
        QVERIFY(!QFile::exists(m_env->path(u"failed.bmp"_qs)));
    }

    void imageStoreNeedsExistingFolder_data() {
        QTest::addColumn<QString>("store");
        QTest::newRow("missing folder") << u"missing/file.bmp"_qs;
        QTest::newRow("a folder itself") << u"cwd"_qs;
        QTest::newRow("empty") << QString();
    }
    void imageStoreNeedsExistingFolder() {
        QFETCH(QString, store);
        TSimulatedDsd control;
        QCOMPARE(control.OpenScanner(1, 1, {}), ScannerCode::Ok);
        QCOMPARE(control.SetImageStore(store.isEmpty() ? store : m_env->path(store)),
                 ScannerCode::InvalidPath);
        QCOMPARE(control.ActivateScan(0), ScannerCode::BadParm);
    }

    void imageFormatIsChecked_data() {
        QTest::addColumn<int>("imageFormat");
        QTest::addColumn<int>("code");
        QTest::newRow("DCM 12") << 786435 << ScannerCode::Ok;
        QTest::newRow("DIB 8") << 524290 << ScannerCode::Ok;
        QTest::newRow("16 bits") << 16 * 65536 + 1 << ScannerCode::BadParm;
        QTest::newRow("format 4") << 8 * 65536 + 4 << ScannerCode::BadParm;
        QTest::newRow("no depth") << 2 << ScannerCode::BadParm;
    }
    void imageFormatIsChecked() {
        QFETCH(int, imageFormat);
        QFETCH(int, code);
        TSimulatedDsd control;
        QCOMPARE(control.OpenScanner(1, 1, {}), ScannerCode::Ok);
        QCOMPARE(control.SetImageFormat(imageFormat), code);
    }

    void imageParameters() {
        TSimulatedDsd control;
        QCOMPARE(control.OpenScanner(1, 1, {}), ScannerCode::Ok);
        const QStringList lines = control.GetImageParms().split(u"\r\n"_qs);
        QCOMPARE(lines.mid(0, 4), (QStringList{u"DEVICE Digora"_qs, u"IMAGETYPE INTRAORAL"_qs,
                                               u"PIXELSIZEH 0.085"_qs, u"MAGFACTOR 1"_qs}));
        QVERIFY(folderOf(u"1"_qs).updateConfig(
            [](SimDeviceConfig& config) { config.params = u"PIXELSIZEH 0,085"_qs; }));
        QCOMPARE(control.GetImageParms(), u"PIXELSIZEH 0,085"_qs);
    }

    void networkModeChoosesTheTypeFourDevice_data() {
        QTest::addColumn<int>("netMode");
        QTest::addColumn<QString>("scIp");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("address");
        QTest::newRow("no net mode: first type 4") << 0 << u"192.0.2.44"_qs << 4 << 1 << u"192.0.2.4"_qs;
        QTest::newRow("net mode: the device at ScIP") << 1 << u"192.0.2.44"_qs << 4 << 1 << u"192.0.2.44"_qs;
        QTest::newRow("net mode, ScIP in other letter case")
            << 1 << u"OPTIME-B"_qs << 4 << 1 << u"optime-b"_qs;
        QTest::newRow("net mode without ScIP")
            << 1 << QString() << 4 << ScannerCode::NoIpAddress << QString();
        QTest::newRow("net mode, nothing at ScIP")
            << 1 << u"192.0.2.99"_qs << 4 << ScannerCode::Disconnected << QString();
        QTest::newRow("net mode, ScIP of another type")
            << 1 << u"192.0.2.1"_qs << 4 << ScannerCode::Disconnected << QString();
        QTest::newRow("net mode leaves type 1 alone") << 1 << u"192.0.2.44"_qs << 1 << 1 << u"192.0.2.1"_qs;
        QTest::newRow("net mode 2 is not net mode") << 2 << u"192.0.2.44"_qs << 4 << 1 << u"192.0.2.4"_qs;
    }
    void networkModeChoosesTheTypeFourDevice() {
        QFETCH(int, netMode);
        QFETCH(QString, scIp);
        QFETCH(int, type);
        QFETCH(int, code);
        QFETCH(QString, address);
        SimCatalogue catalogue;
        QCOMPARE(catalogue.add(SimDevice{4, u"192.0.2.44"_qs, u"Digora OPTIME"_qs}), QString());
        QCOMPARE(catalogue.add(SimDevice{4, u"optime-b"_qs, {}}), QString());
        setNetMode(static_cast<quint32>(netMode));
        if (!scIp.isEmpty())
            QVERIFY(WriteRegString(platform::Hive::LocalMachine, kDriverKey, u"ScIP"_qs, scIp));

        TSimulatedDsd control;
        QCOMPARE(control.OpenScanner(type, 1, {}), code);
        QCOMPARE(control.openDevice() ? control.openDevice()->address : QString(), address);
    }

    void pictureDependsOnlyOnSeed() {
        for (const RadiographKind kind : {RadiographKind::Intraoral, RadiographKind::Panoramic}) {
            const SimPicture first = SynthesizeRadiograph(kind, 300, 200, 7);
            QCOMPARE(first.pixels.size(), std::size_t(300 * 200));
            QCOMPARE(SynthesizeRadiograph(kind, 300, 200, 7).pixels, first.pixels);
            QVERIFY(SynthesizeRadiograph(kind, 300, 200, 8).pixels != first.pixels);
        }
    }

    void dibRowsArePaddedAndBottomUp() {
        SimPicture picture{3, 2, {0x000, 0x100, 0x200, 0xFF0, 0xFF0, 0xFF0}};
        const QByteArray dib = EncodeDib(picture, 0.1);
        QCOMPARE(dib.size(), 14 + 40 + 1024 + 2 * 4);
        QCOMPARE(dib.mid(14 + 40 + 1024, 4), QByteArray("\xFF\xFF\xFF\0", 4));
        QCOMPARE(dib.mid(14 + 40 + 1024 + 4, 4), QByteArray("\x00\x10\x20\0", 4));
        const QImage image = QImage::fromData(dib, "BMP");
        QCOMPARE(image.size(), QSize(3, 2));
        QCOMPARE(qGray(image.pixel(1, 0)), 0x10);
    }

private:
    std::unique_ptr<TestEnvironment> m_env;
};

QTEST_MAIN(TestSimDriver)
#include "tst_simdriver.moc"
