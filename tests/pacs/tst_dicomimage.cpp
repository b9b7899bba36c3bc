// The DICOM objects the outbox sends: pictures read from DIB and RAW files, wrapped into the
// object that fits the device, checked by dciodvfy; a device's own DICOM file taken as it is.

#include "OrthancServer.h"
#include "TestEnvironment.h"
#include "pacs/DicomImage.h"
#include "sim/SimImageWriter.h"
#include "sim/SimRadiograph.h"

#include <QImage>
#include <QSet>
#include <QtEndian>
#include <QtTest>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

using namespace pacs;

namespace {

QString stringOf(DcmFileFormat& file, const DcmTagKey& tag) {
    OFString value;
    file.getDataset()->findAndGetOFStringArray(tag, value);
    return QString::fromUtf8(value.c_str());
}

ImageDescription describe(ImageCategory category) {
    ImageDescription description;
    description.patientId = QStringLiteral("4711");
    description.category = category;
    description.manufacturer = QStringLiteral("Digora Toto");
    description.modelName = QStringLiteral("Digora Toto");
    description.softwareVersions = QStringLiteral("810");
    description.stationName = QStringLiteral("Room 2");
    description.pixelSizeMm = 25.4 / 292;
    description.magnification = 1.27;
    description.acquired = QDateTime(QDate(2024, 3, 5), QTime(14, 30, 15));
    description.studyStarted = QDateTime(QDate(2024, 3, 5), QTime(14, 29, 0));
    description.studyInstanceUid = NewDicomUid();
    description.seriesInstanceUid = NewDicomUid();
    description.sopInstanceUid = NewDicomUid();
    description.seriesNumber = 2;
    description.instanceNumber = 3;
    return description;
}

// A small picture with a gradient, so that the pixels can be followed through the object.
PixelImage gradient(int width, int height, int bits) {
    PixelImage image;
    image.width = width;
    image.height = height;
    image.bitsStored = bits;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.pixels.push_back(quint16((x * 7 + y * 13) % (1 << bits)));
    return image;
}

// Writes the object's bytes to a file of the test, for dciodvfy and for reading it back.
QString saved(const TestEnvironment& env, DcmFileFormat& file, const QString& name) {
    QString error;
    const QByteArray bytes = DicomFileBytes(file, &error);
    if (!error.isEmpty())
        qFatal("cannot write the object: %s", qPrintable(error));
    return env.writeFile(name, bytes);
}

std::unique_ptr<DcmFileFormat> loaded(const QString& path) {
    auto file = std::make_unique<DcmFileFormat>();
    if (file->loadFile(QFile::encodeName(path).constData()).bad())
        return nullptr;
    return file;
}

QByteArray simulatorDicom(const TestEnvironment& env, const QString& imageType, int depth,
                          const QString& patientId) {
    const SimPicture picture = SynthesizeRadiograph(
        imageType == QStringLiteral("INTRAORAL") ? RadiographKind::Intraoral : RadiographKind::Panoramic, 120,
        80, 7);
    const QString path = env.path(QStringLiteral("device.dcm"));
    const SimImageMeta meta{QStringLiteral("Digora"), imageType, 0.085, patientId, 1.0};
    if (!WriteSimImage(path, picture, SimFormat::Dicom, depth, meta).isEmpty())
        qFatal("the simulated driver cannot write DICOM");
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

} // namespace

class TestDicomImage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void categoryOfDevice_data();
    void categoryOfDevice();
    void uidsAreUniqueAndWellFormed();
    void objectsFitTheirDevice_data();
    void objectsFitTheirDevice();
    void descriptionWithoutPixelSizeOrUidsIsRefused();
    void dibPictures_data();
    void dibPictures();
    void rawPictures_data();
    void rawPictures();
    void rawGeometryFromParameters();
    void deviceDicomKeepsItsOwnValues_data();
    void deviceDicomKeepsItsOwnValues();
    void deviceFileThatIsNoDicomIsRefused();
};

void TestDicomImage::categoryOfDevice_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("imageType");
    QTest::addColumn<int>("category");
    QTest::addColumn<QString>("modality");
    const int io = int(ImageCategory::Intraoral);
    const int px = int(ImageCategory::Panoramic);
    const int ceph = int(ImageCategory::Cephalometric);
    QTest::newRow("Digora, a plate reader for intraoral plates") << 1 << QString() << io << "IO";
    QTest::newRow("Digora PCT") << 2 << QStringLiteral("INTRAORAL") << px << "PX";
    QTest::newRow("Digora OPTIME") << 4 << QStringLiteral("PANORAMIC") << io << "IO";
    QTest::newRow("Sopix") << 6 << QString() << io << "IO";
    QTest::newRow("Digora Toto") << 8 << QString() << px << "PX";
    QTest::newRow("unknown type, intraoral picture") << 11 << QStringLiteral(" intraoral ") << io << "IO";
    QTest::newRow("unknown type, cephalometric picture")
        << 9 << QStringLiteral("CEPHALOMETRIC") << ceph << "DX";
    QTest::newRow("unknown type, nothing said") << 0 << QString() << px << "PX";
}

void TestDicomImage::categoryOfDevice() {
    QFETCH(int, type);
    QFETCH(QString, imageType);
    QFETCH(int, category);
    QFETCH(QString, modality);
    QCOMPARE(int(CategoryOfDevice(type, imageType)), category);
    QCOMPARE(ModalityOf(ImageCategory(category)), modality);
}

void TestDicomImage::uidsAreUniqueAndWellFormed() {
    QSet<QString> seen;
    for (int i = 0; i < 2000; ++i) {
        const QString uid = NewDicomUid();
        QVERIFY2(QRegularExpression(QStringLiteral("^2\\.25\\.(0|[1-9][0-9]*)$")).match(uid).hasMatch(),
                 qPrintable(uid));
        QVERIFY(uid.size() <= 64);
        seen.insert(uid);
    }
    QCOMPARE(seen.size(), 2000);
}

void TestDicomImage::objectsFitTheirDevice_data() {
    QTest::addColumn<int>("category");
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("sopClass");
    QTest::addColumn<QString>("modality");
    const QString io = QStringLiteral(UID_DigitalIntraOralXRayImageStorageForPresentation);
    const QString dx = QStringLiteral(UID_DigitalXRayImageStorageForPresentation);
    QTest::newRow("intraoral, 8 bits") << int(ImageCategory::Intraoral) << 8 << io << "IO";
    QTest::newRow("intraoral, 12 bits") << int(ImageCategory::Intraoral) << 12 << io << "IO";
    QTest::newRow("panoramic, 8 bits") << int(ImageCategory::Panoramic) << 8 << dx << "PX";
    QTest::newRow("panoramic, 12 bits") << int(ImageCategory::Panoramic) << 12 << dx << "PX";
    QTest::newRow("cephalometric, 12 bits") << int(ImageCategory::Cephalometric) << 12 << dx << "DX";
}

void TestDicomImage::objectsFitTheirDevice() {
    QFETCH(int, category);
    QFETCH(int, bits);
    QFETCH(QString, sopClass);
    QFETCH(QString, modality);
    TestEnvironment env;
    const ImageDescription description = describe(ImageCategory(category));
    const PixelImage image = gradient(37, 21, bits); // odd sizes: no padding may creep in
    QString error;
    const std::unique_ptr<DcmFileFormat> made = MakeDicomImage(image, description, &error);
    QVERIFY2(made, qPrintable(error));
    const QString path = saved(env, *made, QStringLiteral("made.dcm"));

    const std::unique_ptr<DcmFileFormat> file = loaded(path);
    QVERIFY(file);
    QCOMPARE(stringOf(*file, DCM_SOPClassUID), sopClass);
    QCOMPARE(stringOf(*file, DCM_Modality), modality);
    QCOMPARE(stringOf(*file, DCM_PatientID), QStringLiteral("4711"));
    QCOMPARE(stringOf(*file, DCM_Manufacturer), QStringLiteral("Digora Toto"));
    QCOMPARE(stringOf(*file, DCM_ManufacturerModelName), QStringLiteral("Digora Toto"));
    QCOMPARE(stringOf(*file, DCM_StudyInstanceUID), description.studyInstanceUid);
    QCOMPARE(stringOf(*file, DCM_SeriesInstanceUID), description.seriesInstanceUid);
    QCOMPARE(stringOf(*file, DCM_SOPInstanceUID), description.sopInstanceUid);
    QCOMPARE(stringOf(*file, DCM_SeriesNumber), QStringLiteral("2"));
    QCOMPARE(stringOf(*file, DCM_InstanceNumber), QStringLiteral("3"));
    QCOMPARE(stringOf(*file, DCM_AcquisitionDate), QStringLiteral("20240305"));
    QCOMPARE(stringOf(*file, DCM_AcquisitionTime), QStringLiteral("143015"));
    QCOMPARE(stringOf(*file, DCM_StudyTime), QStringLiteral("142900"));
    QCOMPARE(stringOf(*file, DCM_PresentationIntentType), QStringLiteral("FOR PRESENTATION"));
    // 292 dots per inch.
    const QStringList spacing = stringOf(*file, DCM_ImagerPixelSpacing).split(QLatin1Char('\\'));
    QCOMPARE(spacing.size(), 2);
    QVERIFY(qAbs(spacing.at(0).toDouble() - 0.0869863) < 1e-6);
    QCOMPARE(spacing.at(1), spacing.at(0));
    QCOMPARE(stringOf(*file, DCM_EstimatedRadiographicMagnificationFactor), QStringLiteral("1.27"));

    Uint16 rows = 0, columns = 0, stored = 0;
    file->getDataset()->findAndGetUint16(DCM_Rows, rows);
    file->getDataset()->findAndGetUint16(DCM_Columns, columns);
    file->getDataset()->findAndGetUint16(DCM_BitsStored, stored);
    QCOMPARE(int(rows), 21);
    QCOMPARE(int(columns), 37);
    QCOMPARE(int(stored), bits);
    // The last pixel of the last row, as it was given.
    const quint16 last = image.pixels.back();
    if (bits == 8) {
        const Uint8* pixels = nullptr;
        QVERIFY(file->getDataset()->findAndGetUint8Array(DCM_PixelData, pixels).good());
        QCOMPARE(int(pixels[37 * 21 - 1]), int(last));
    } else {
        const Uint16* pixels = nullptr;
        QVERIFY(file->getDataset()->findAndGetUint16Array(DCM_PixelData, pixels).good());
        QCOMPARE(int(pixels[37 * 21 - 1]), int(last));
    }

    if (!orthanctest::requireDciodvfy())
        return;
    QString report;
    const QStringList errors = orthanctest::dciodvfyErrors(path, &report);
    QVERIFY2(errors.isEmpty(), qPrintable(report));
}

void TestDicomImage::descriptionWithoutPixelSizeOrUidsIsRefused() {
    QString error;
    ImageDescription noSize = describe(ImageCategory::Panoramic);
    noSize.pixelSizeMm = 0;
    QVERIFY(!MakeDicomImage(gradient(4, 4, 8), noSize, &error));
    QCOMPARE(error, QStringLiteral("the pixel size of the image is unknown"));
    ImageDescription noUid = describe(ImageCategory::Panoramic);
    noUid.sopInstanceUid.clear();
    QVERIFY(!MakeDicomImage(gradient(4, 4, 8), noUid, &error));
    QCOMPARE(error, QStringLiteral("the image has no UIDs"));
    QVERIFY(!MakeDicomImage(PixelImage{}, describe(ImageCategory::Panoramic), &error));
    QCOMPARE(error, QStringLiteral("the image has no pixels"));
}

void TestDicomImage::dibPictures_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("pixelSize");

    SimPicture picture = SynthesizeRadiograph(RadiographKind::Panoramic, 33, 17, 3);
    QTest::newRow("the device's 8-bit grey bitmap, rows bottom-up")
        << EncodeDib(picture, 0.1) << 33 << 17 << 0.1;

    QImage colour(5, 3, QImage::Format_RGB888);
    colour.fill(QColor(200, 200, 200));
    colour.setDotsPerMeterX(10000);
    colour.setDotsPerMeterY(10000);
    QByteArray colourBytes;
    {
        QBuffer buffer(&colourBytes);
        buffer.open(QIODevice::WriteOnly);
        colour.save(&buffer, "BMP");
    }
    QTest::newRow("a colour bitmap becomes grey") << colourBytes << 5 << 3 << 0.1;
}

void TestDicomImage::dibPictures() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, pixelSize);
    QString error;
    const PixelImage image = ReadDibImage(bytes, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(image.width, width);
    QCOMPARE(image.height, height);
    QCOMPARE(image.bitsStored, 8);
    QCOMPARE(image.pixels.size(), std::size_t(width) * std::size_t(height));
    QVERIFY(qAbs(image.pixelSizeMm - pixelSize) < 1e-3);

    const QImage reference = QImage::fromData(bytes, "BMP");
    for (int y = 0; y < height; y += 4)
        for (int x = 0; x < width; x += 3)
            QCOMPARE(int(image.pixels[std::size_t(y * width + x)]), qGray(reference.pixel(x, y)));
}

void TestDicomImage::rawPictures_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("bitsStored"); // 0: refused
    QTest::addColumn<QString>("error");

    const SimPicture picture = SynthesizeRadiograph(RadiographKind::Intraoral, 6, 4, 1);
    const QByteArray eight = EncodeRaw(picture, 8);
    const QByteArray twelve = EncodeRaw(picture, 12);
    QTest::newRow("8 bits") << eight << 6 << 4 << 8 << 8 << QString();
    QTest::newRow("12 bits in 16-bit words") << twelve << 6 << 4 << 12 << 12 << QString();
    QTest::newRow("depth told by the size") << twelve << 6 << 4 << 0 << 12 << QString();
    QTest::newRow("size that does not fit")
        << eight.left(23) << 6 << 4 << 8 << 0
        << QStringLiteral("the RAW image holds 23 bytes, not the 24 of 6 x 4 pixels at 8 bits");
    QTest::newRow("no size given") << eight << 0 << 4 << 8 << 0
                                   << QStringLiteral(
                                          "the device gave no usable size (WIDTH, HEIGHT) for the RAW image");
}

void TestDicomImage::rawPictures() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bits);
    QFETCH(int, bitsStored);
    QFETCH(QString, error);
    QString failure;
    const PixelImage image = ReadRawImage(bytes, RawGeometry{width, height, bits}, &failure);
    QCOMPARE(failure, error);
    if (bitsStored == 0) {
        QVERIFY(image.pixels.empty());
        return;
    }
    QCOMPARE(image.bitsStored, bitsStored);
    QCOMPARE(image.pixels.size(), std::size_t(width * height));
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const quint16 lastGiven =
        bitsStored == 8 ? data[bytes.size() - 1] : qFromLittleEndian<quint16>(data + bytes.size() - 2);
    QCOMPARE(image.pixels.back(), lastGiven);
}

void TestDicomImage::rawGeometryFromParameters() {
    const RawGeometry geometry = RawGeometryFromParameters(
        QStringLiteral("DEVICE Digora Toto\r\nIMAGETYPE PANORAMIC\r\nWIDTH 1200\r\nHEIGHT 600\r\nBITS 12"));
    QCOMPARE(geometry.width, 1200);
    QCOMPARE(geometry.height, 600);
    QCOMPARE(geometry.bits, 12);
    const RawGeometry none = RawGeometryFromParameters(QStringLiteral("DEVICE Digora\nPIXELSIZEH 0.085"));
    QCOMPARE(none.width, 0);
    QCOMPARE(none.height, 0);
    QCOMPARE(none.bits, 0);
}

void TestDicomImage::deviceDicomKeepsItsOwnValues_data() {
    QTest::addColumn<QString>("imageType");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("devicePatientId");
    QTest::addColumn<bool>("changed");
    QTest::newRow("intraoral, 8 bits, Patient ID given")
        << QStringLiteral("INTRAORAL") << 8 << "123" << false;
    QTest::newRow("panoramic, 12 bits, Patient ID given")
        << QStringLiteral("PANORAMIC") << 12 << "123" << false;
    QTest::newRow("panoramic, no Patient ID") << QStringLiteral("PANORAMIC") << 12 << "" << true;
}

void TestDicomImage::deviceDicomKeepsItsOwnValues() {
    QFETCH(QString, imageType);
    QFETCH(int, depth);
    QFETCH(QString, devicePatientId);
    QFETCH(bool, changed);
    TestEnvironment env;
    const QByteArray device = simulatorDicom(env, imageType, depth, devicePatientId);

    bool wasChanged = !changed;
    QString error;
    const std::unique_ptr<DcmFileFormat> file =
        ReadDeviceDicom(device, QStringLiteral("4711"), &wasChanged, &error);
    QVERIFY2(file, qPrintable(error));
    QCOMPARE(wasChanged, changed);
    QCOMPARE(PatientIdOf(*file), devicePatientId.isEmpty() ? QStringLiteral("4711") : devicePatientId);
    const std::unique_ptr<DcmFileFormat> original = loaded(env.path(QStringLiteral("device.dcm")));
    QCOMPARE(SopInstanceUidOf(*file), SopInstanceUidOf(*original));
    QCOMPARE(SopClassUidOf(*file), SopClassUidOf(*original));

    // The simulated device's own files are valid objects, and so is one whose ID was filled in.
    if (!orthanctest::requireDciodvfy())
        return;
    const QString path = saved(env, *file, QStringLiteral("sent.dcm"));
    QString report;
    QVERIFY2(orthanctest::dciodvfyErrors(env.path(QStringLiteral("device.dcm")), &report).isEmpty(),
             qPrintable(report));
    QVERIFY2(orthanctest::dciodvfyErrors(path, &report).isEmpty(), qPrintable(report));
}

void TestDicomImage::deviceFileThatIsNoDicomIsRefused() {
    bool changed = true;
    QString error;
    QVERIFY(!ReadDeviceDicom(QByteArray("BM not a DICOM file"), QStringLiteral("1"), &changed, &error));
    QVERIFY2(error.startsWith(QStringLiteral("the device's file is no DICOM object")), qPrintable(error));
    QVERIFY(!changed);
}

QTEST_GUILESS_MAIN(TestDicomImage)
#include "tst_dicomimage.moc"
