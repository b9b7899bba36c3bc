#include "pacs/DicomImage.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QUuid>
#include <QtEndian>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <array>

namespace pacs {

namespace {

// Device types of the known models that take intraoral pictures; the others of 1 to 8 are
// panoramic units and plate readers for panoramic and cephalometric plates.
constexpr std::array kIntraoralTypes{1, 4, 6};
constexpr int kHighestKnownType = 8;

QByteArray utf8(const QString& text) {
    return text.toUtf8();
}

bool isAscii(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() > 0x7F)
            return false;
    }
    return true;
}

QByteArray dicomDate(const QDateTime& time) {
    return time.toString(QStringLiteral("yyyyMMdd")).toLatin1();
}

QByteArray dicomTime(const QDateTime& time) {
    return time.toString(QStringLiteral("HHmmss")).toLatin1();
}

// "+0100": the offset of the local time the dates and times are given in.
QByteArray timezoneOffset(const QDateTime& time) {
    const int minutes = time.offsetFromUtc() / 60;
    const int magnitude = std::abs(minutes);
    return QStringLiteral("%1%2%3")
        .arg(minutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(magnitude / 60, 2, 10, QLatin1Char('0'))
        .arg(magnitude % 60, 2, 10, QLatin1Char('0'))
        .toLatin1();
}

// A decimal string of at most 16 characters, as the DS value representation allows.
QByteArray decimalString(double value) {
    for (int digits = 10; digits > 1; --digits) {
        const QByteArray text = QByteArray::number(value, 'g', digits);
        if (text.size() <= 16)
            return text;
    }
    return QByteArray::number(value, 'g', 1);
}

struct Code {
    const char* value;
    const char* scheme;
    const char* meaning;
};

// The regions the pictures show, as the DICOM context groups for intraoral and DX anatomy name
// them. Which teeth an intraoral picture shows is not known here, so its region is not narrowed
// down: both jaws, both sides.
const Code kMaxillaAndMandible{"T-D1217", "SRT", "Maxilla and mandible"};
const Code kSkull{"T-11100", "SRT", "Skull"};
const Code kBilateral{"51440002", "SCT", "Bilateral"};

// Adds an item with `code` to `sequence` and returns the item.
DcmItem* putCode(DcmItem* data, const DcmTagKey& sequence, const Code& code) {
    DcmItem* item = nullptr;
    if (data->findOrCreateSequenceItem(sequence, item, -2).bad() || !item)
        return nullptr;
    item->putAndInsertString(DCM_CodeValue, code.value);
    item->putAndInsertString(DCM_CodingSchemeDesignator, code.scheme);
    item->putAndInsertString(DCM_CodeMeaning, code.meaning);
    return item;
}

// The positioner a picture was taken with, as the DX Positioning and Intra-oral Image modules name it.
const char* positionerOf(ImageCategory category) {
    switch (category) {
    case ImageCategory::Intraoral:
        return "NONE";
    case ImageCategory::Panoramic:
        return "PANORAMIC";
    case ImageCategory::Cephalometric:
        return "CEPHALOSTAT";
    }
    return "NONE";
}

// The directions of the rows and columns as the pictures are shown by convention: intraoral and
// panoramic pictures as if facing the patient (rows to the patient's left, columns to the feet),
// a lateral cephalogram facing right (rows to the front).
const char* orientationOf(ImageCategory category) {
    return category == ImageCategory::Cephalometric ? "A\\F" : "L\\F";
}

// Decimal digits of a big-endian unsigned number of any size (long division by ten).
QByteArray decimalDigits(QByteArray number) {
    QByteArray digits;
    auto isZero = [&] { return std::all_of(number.begin(), number.end(), [](char b) { return b == 0; }); };
    do {
        int remainder = 0;
        for (char& byte : number) {
            const int value = remainder * 256 + static_cast<unsigned char>(byte);
            byte = static_cast<char>(value / 10);
            remainder = value % 10;
        }
        digits.prepend(static_cast<char>('0' + remainder));
    } while (!isZero());
    return digits;
}

} // namespace

ImageCategory CategoryOfDevice(int deviceType, const QString& imageType) {
    if (deviceType >= 1 && deviceType <= kHighestKnownType)
        return std::find(kIntraoralTypes.begin(), kIntraoralTypes.end(), deviceType) != kIntraoralTypes.end()
                   ? ImageCategory::Intraoral
                   : ImageCategory::Panoramic;
    const QString type = imageType.trimmed().toUpper();
    if (type.startsWith(QStringLiteral("INTRAORAL")))
        return ImageCategory::Intraoral;
    if (type.startsWith(QStringLiteral("CEPH")))
        return ImageCategory::Cephalometric;
    return ImageCategory::Panoramic;
}

QString ModalityOf(ImageCategory category) {
    switch (category) {
    case ImageCategory::Intraoral:
        return QStringLiteral("IO");
    case ImageCategory::Panoramic:
        return QStringLiteral("PX");
    case ImageCategory::Cephalometric:
        return QStringLiteral("DX");
    }
    return QStringLiteral("DX");
}

QString NewDicomUid() {
    return QStringLiteral("2.25.") + QString::fromLatin1(decimalDigits(QUuid::createUuid().toRfc4122()));
}

// ---- Pixels -----------------------------------------------------------------------------

PixelImage ReadDibImage(const QByteArray& bytes, QString* error) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "BMP");
    const QImage picture = reader.read();
    if (picture.isNull()) {
        *error = QStringLiteral("the bitmap cannot be read: ") + reader.errorString();
        return {};
    }
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    PixelImage image;
    image.width = grey.width();
    image.height = grey.height();
    image.bitsStored = 8;
    if (picture.dotsPerMeterX() > 0)
        image.pixelSizeMm = 1000.0 / picture.dotsPerMeterX();
    image.pixels.reserve(std::size_t(image.width) * std::size_t(image.height));
    for (int y = 0; y < image.height; ++y) {
        const uchar* row = grey.constScanLine(y);
        image.pixels.insert(image.pixels.end(), row, row + image.width);
    }
    error->clear();
    return image;
}

RawGeometry RawGeometryFromParameters(const QString& parameters) {
    RawGeometry geometry;
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    for (const QString& line : parameters.split(lineBreak)) {
        const QString text = line.trimmed();
        const auto valueOf = [&](const QString& key) { return text.mid(key.size()).trimmed().toInt(); };
        if (text.startsWith(QStringLiteral("WIDTH ")))
            geometry.width = valueOf(QStringLiteral("WIDTH "));
        else if (text.startsWith(QStringLiteral("HEIGHT ")))
            geometry.height = valueOf(QStringLiteral("HEIGHT "));
        else if (text.startsWith(QStringLiteral("BITS ")))
            geometry.bits = valueOf(QStringLiteral("BITS "));
    }
    return geometry;
}

PixelImage ReadRawImage(const QByteArray& bytes, const RawGeometry& geometry, QString* error) {
    if (geometry.width <= 0 || geometry.height <= 0 || geometry.width > 65535 || geometry.height > 65535) {
        *error = QStringLiteral("the device gave no usable size (WIDTH, HEIGHT) for the RAW image");
        return {};
    }
    const qint64 pixelCount = qint64(geometry.width) * geometry.height;
    int bits = geometry.bits;
    if (bits <= 0)
        bits = bytes.size() == pixelCount ? 8 : 12;
    const qint64 expected = bits <= 8 ? pixelCount : pixelCount * 2;
    if (bits > 16 || bytes.size() != expected) {
        *error = QStringLiteral("the RAW image holds %1 bytes, not the %2 of %3 x %4 pixels at %5 bits")
                     .arg(bytes.size())
                     .arg(expected)
                     .arg(geometry.width)
                     .arg(geometry.height)
                     .arg(bits);
        return {};
    }
    PixelImage image;
    image.width = geometry.width;
    image.height = geometry.height;
    image.bitsStored = bits <= 8 ? 8 : bits;
    image.pixels.resize(std::size_t(pixelCount));
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    for (qint64 i = 0; i < pixelCount; ++i)
        image.pixels[std::size_t(i)] = bits <= 8 ? data[i] : qFromLittleEndian<quint16>(data + 2 * i);
    error->clear();
    return image;
}

// ---- Objects ----------------------------------------------------------------------------

std::unique_ptr<DcmFileFormat> MakeDicomImage(const PixelImage& image, const ImageDescription& description,
                                              QString* error) {
    if (image.width <= 0 || image.height <= 0 || image.width > 65535 || image.height > 65535 ||
        image.pixels.size() != std::size_t(image.width) * std::size_t(image.height)) {
        *error = QStringLiteral("the image has no pixels");
        return nullptr;
    }
    if (!(description.pixelSizeMm > 0)) {
        *error = QStringLiteral("the pixel size of the image is unknown");
        return nullptr;
    }
    if (description.studyInstanceUid.isEmpty() || description.seriesInstanceUid.isEmpty() ||
        description.sopInstanceUid.isEmpty()) {
        *error = QStringLiteral("the image has no UIDs");
        return nullptr;
    }

    auto file = std::make_unique<DcmFileFormat>();
    DcmDataset* data = file->getDataset();
    const auto put = [&](const DcmTagKey& tag, const QByteArray& value) {
        data->putAndInsertString(tag, value.constData());
    };
    const bool intraoral = description.category == ImageCategory::Intraoral;
    const QDateTime acquired =
        description.acquired.isValid() ? description.acquired : QDateTime::currentDateTime();
    const QDateTime studied = description.studyStarted.isValid() ? description.studyStarted : acquired;

    // SOP Common
    const QStringList texts{description.patientId,        description.manufacturer,
                            description.modelName,        description.deviceSerialNumber,
                            description.softwareVersions, description.stationName};
    if (!std::all_of(texts.begin(), texts.end(), isAscii))
        put(DCM_SpecificCharacterSet, "ISO_IR 192");
    put(DCM_SOPClassUID, intraoral ? UID_DigitalIntraOralXRayImageStorageForPresentation
                                   : UID_DigitalXRayImageStorageForPresentation);
    put(DCM_SOPInstanceUID, utf8(description.sopInstanceUid));
    put(DCM_InstanceCreationDate, dicomDate(QDateTime::currentDateTime()));
    put(DCM_InstanceCreationTime, dicomTime(QDateTime::currentDateTime()));
    put(DCM_TimezoneOffsetFromUTC, timezoneOffset(acquired));

    // Patient: the journal program's patient number; name, birth date and sex are not known here.
    put(DCM_PatientName, {});
    put(DCM_PatientID, utf8(description.patientId));
    put(DCM_PatientBirthDate, {});
    put(DCM_PatientSex, {});

    // General Study
    put(DCM_StudyInstanceUID, utf8(description.studyInstanceUid));
    put(DCM_StudyDate, dicomDate(studied));
    put(DCM_StudyTime, dicomTime(studied));
    put(DCM_ReferringPhysicianName, {});
    // The session's start names the study where a short number is asked for.
    put(DCM_StudyID, studied.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1());
    put(DCM_AccessionNumber, {});

    // General Series, DX Series, Intra-oral Series
    put(DCM_Modality, utf8(ModalityOf(description.category)));
    put(DCM_SeriesInstanceUID, utf8(description.seriesInstanceUid));
    put(DCM_SeriesNumber, QByteArray::number(description.seriesNumber));
    put(DCM_SeriesDate, dicomDate(acquired));
    put(DCM_SeriesTime, dicomTime(acquired));
    put(DCM_PresentationIntentType, "FOR PRESENTATION");

    // General Equipment
    put(DCM_Manufacturer, utf8(description.manufacturer));
    if (!description.modelName.isEmpty())
        put(DCM_ManufacturerModelName, utf8(description.modelName));
    if (!description.deviceSerialNumber.isEmpty())
        put(DCM_DeviceSerialNumber, utf8(description.deviceSerialNumber));
    if (!description.softwareVersions.isEmpty())
        put(DCM_SoftwareVersions, utf8(description.softwareVersions));
    if (!description.stationName.isEmpty())
        put(DCM_StationName, utf8(description.stationName.left(16)));

    // General Image, DX Image
    put(DCM_InstanceNumber, QByteArray::number(description.instanceNumber));
    put(DCM_PatientOrientation, orientationOf(description.category));
    put(DCM_ContentDate, dicomDate(acquired));
    put(DCM_ContentTime, dicomTime(acquired));
    put(DCM_AcquisitionDate, dicomDate(acquired));
    put(DCM_AcquisitionTime, dicomTime(acquired));
    put(DCM_AcquisitionDateTime, dicomDate(acquired) + dicomTime(acquired));
    put(DCM_ImageType, "ORIGINAL\\PRIMARY");
    put(DCM_BurnedInAnnotation, "NO");
    put(DCM_LossyImageCompression, "00");
    put(DCM_PixelIntensityRelationship, "LIN");
    // A higher value is a denser spot, where less of the beam arrived.
    put(DCM_PixelIntensityRelationshipSign, "-1");
    put(DCM_RescaleIntercept, "0");
    put(DCM_RescaleSlope, "1");
    put(DCM_RescaleType, "US");
    put(DCM_PresentationLUTShape, "IDENTITY");
    const int levels = 1 << image.bitsStored;
    put(DCM_WindowCenter, decimalString(levels / 2.0));
    put(DCM_WindowWidth, decimalString(levels));

    // DX Anatomy Imaged, Intra-oral Image
    put(DCM_ImageLaterality, "B");
    DcmItem* region =
        putCode(data, DCM_AnatomicRegionSequence,
                description.category == ImageCategory::Cephalometric ? kSkull : kMaxillaAndMandible);
    if (intraoral && region)
        putCode(region, DCM_AnatomicRegionModifierSequence, kBilateral);
    put(DCM_PositionerType, positionerOf(description.category));

    // DX Detector, DX Positioning
    put(DCM_DetectorType, {});
    const QByteArray spacing = decimalString(description.pixelSizeMm);
    put(DCM_ImagerPixelSpacing, spacing + '\\' + spacing);
    if (description.magnification > 0)
        put(DCM_EstimatedRadiographicMagnificationFactor, decimalString(description.magnification));

    // Acquisition Context: nothing more is known of the exposure.
    data->insertEmptyElement(DCM_AcquisitionContextSequence);

    // Image Pixel
    put(DCM_PhotometricInterpretation, "MONOCHROME2");
    data->putAndInsertUint16(DCM_SamplesPerPixel, 1);
    data->putAndInsertUint16(DCM_Rows, Uint16(image.height));
    data->putAndInsertUint16(DCM_Columns, Uint16(image.width));
    data->putAndInsertUint16(DCM_PixelRepresentation, 0);
    if (image.bitsStored <= 8) {
        data->putAndInsertUint16(DCM_BitsAllocated, 8);
        data->putAndInsertUint16(DCM_BitsStored, 8);
        data->putAndInsertUint16(DCM_HighBit, 7);
        std::vector<Uint8> bytes(image.pixels.begin(), image.pixels.end());
        data->putAndInsertUint8Array(DCM_PixelData, bytes.data(), static_cast<unsigned long>(bytes.size()));
    } else {
        data->putAndInsertUint16(DCM_BitsAllocated, 16);
        data->putAndInsertUint16(DCM_BitsStored, Uint16(image.bitsStored));
        data->putAndInsertUint16(DCM_HighBit, Uint16(image.bitsStored - 1));
        data->putAndInsertUint16Array(DCM_PixelData, image.pixels.data(),
                                      static_cast<unsigned long>(image.pixels.size()));
    }
    error->clear();
    return file;
}

std::unique_ptr<DcmFileFormat> ReadDeviceDicom(const QByteArray& bytes, const QString& patientId,
                                               bool* changed, QString* error) {
    *changed = false;
    DcmInputBufferStream stream;
    stream.setBuffer(bytes.constData(), offile_off_t(bytes.size()));
    stream.setEos();
    auto file = std::make_unique<DcmFileFormat>();
    file->transferInit();
    const OFCondition read = file->read(stream);
    file->transferEnd();
    if (read.bad()) {
        *error = QStringLiteral("the device's file is no DICOM object: ") + QString::fromLatin1(read.text());
        return nullptr;
    }
    if (SopClassUidOf(*file).isEmpty() || SopInstanceUidOf(*file).isEmpty()) {
        *error = QStringLiteral("the device's DICOM file names no SOP class or instance");
        return nullptr;
    }
    if (PatientIdOf(*file).trimmed().isEmpty()) {
        file->getDataset()->putAndInsertString(DCM_PatientID, utf8(patientId).constData());
        *changed = true;
    }
    error->clear();
    return file;
}

QByteArray DicomFileBytes(DcmFileFormat& file, QString* error) {
    E_TransferSyntax transferSyntax = file.getDataset()->getOriginalXfer();
    if (transferSyntax == EXS_Unknown)
        transferSyntax = EXS_LittleEndianExplicit;
    QByteArray bytes;
    std::vector<char> buffer(1 << 20);
    DcmOutputBufferStream stream(buffer.data(), offile_off_t(buffer.size()));
    file.transferInit();
    OFCondition written;
    do {
        written = file.write(stream, transferSyntax, EET_ExplicitLength, nullptr, EGL_recalcGL);
        void* filled = nullptr;
        offile_off_t length = 0;
        stream.flushBuffer(filled, length);
        bytes.append(static_cast<const char*>(filled), qsizetype(length));
    } while (written == EC_StreamNotifyClient);
    file.transferEnd();
    if (written.bad()) {
        *error = QString::fromLatin1(written.text());
        return {};
    }
    error->clear();
    return bytes;
}

namespace {

QString stringOf(DcmItem* item, const DcmTagKey& tag) {
    OFString value;
    return item && item->findAndGetOFStringArray(tag, value).good() ? QString::fromUtf8(value.c_str())
                                                                    : QString();
}

} // namespace

QString SopClassUidOf(DcmFileFormat& file) {
    return stringOf(file.getDataset(), DCM_SOPClassUID);
}

QString SopInstanceUidOf(DcmFileFormat& file) {
    return stringOf(file.getDataset(), DCM_SOPInstanceUID);
}

QString PatientIdOf(DcmFileFormat& file) {
    return stringOf(file.getDataset(), DCM_PatientID);
}

QString SopClassName(const QString& sopClassUid) {
    const char* name = dcmFindNameOfUID(sopClassUid.toLatin1().constData(), nullptr);
    return name ? QString::fromLatin1(name) : sopClassUid;
}

} // namespace pacs
