#include "sim/SimImageWriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <cmath>
#include <cstdio>

namespace {

void appendLe16(QByteArray& out, quint16 value) {
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void appendLe32(QByteArray& out, quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

quint8 eightBit(quint16 value) {
    return static_cast<quint8>(value >> 4);
}

QString writeBytes(const QString& path, const QByteArray& content) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size() || !out.commit())
        return out.errorString();
    return {};
}

QString dicomDecimal(double value) {
    return QString::number(value, 'g', 10);
}

QString writeDicom(const QString& path, const SimPicture& picture, int depth, const SimImageMeta& meta) {
    DcmFileFormat file;
    DcmDataset* data = file.getDataset();
    const bool intraoral = meta.imageType == QStringLiteral("INTRAORAL");
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray date = now.toString(QStringLiteral("yyyyMMdd")).toLatin1();
    const QByteArray time = now.toString(QStringLiteral("HHmmss")).toLatin1();
    char uid[100];
    const auto put = [&](const DcmTagKey& tag, const QString& value) {
        data->putAndInsertString(tag, value.toUtf8().constData());
    };
    const auto putLatin = [&](const DcmTagKey& tag, const char* value) {
        data->putAndInsertString(tag, value);
    };

    putLatin(DCM_SpecificCharacterSet, "ISO_IR 192");
    putLatin(DCM_SOPClassUID, intraoral ? UID_DigitalIntraOralXRayImageStorageForPresentation
                                        : UID_DigitalXRayImageStorageForPresentation);
    putLatin(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_INSTANCE_UID_ROOT));
    putLatin(DCM_StudyInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_STUDY_UID_ROOT));
    putLatin(DCM_SeriesInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_SERIES_UID_ROOT));
    putLatin(DCM_StudyDate, date.constData());
    putLatin(DCM_StudyTime, time.constData());
    putLatin(DCM_ContentDate, date.constData());
    putLatin(DCM_ContentTime, time.constData());
    putLatin(DCM_Modality, intraoral ? "IO" : "PX");
    putLatin(DCM_PatientName, "");
    put(DCM_PatientID, meta.patientId);
    putLatin(DCM_PatientBirthDate, "");
    putLatin(DCM_PatientSex, "");
    putLatin(DCM_StudyID, "1");
    putLatin(DCM_SeriesNumber, "1");
    putLatin(DCM_InstanceNumber, "1");
    putLatin(DCM_Manufacturer, "Ravlek simulated driver");
    put(DCM_ManufacturerModelName, meta.model);
    putLatin(DCM_ImageType, "ORIGINAL\\PRIMARY");
    putLatin(DCM_PresentationIntentType, "FOR PRESENTATION");
    putLatin(DCM_BurnedInAnnotation, "NO");
    const QString spacing =
        dicomDecimal(meta.pixelSizeMm) + QLatin1Char('\\') + dicomDecimal(meta.pixelSizeMm);
    put(DCM_ImagerPixelSpacing, spacing);
    put(DCM_PixelSpacing, spacing);
    putLatin(DCM_PhotometricInterpretation, "MONOCHROME2");
    data->putAndInsertUint16(DCM_SamplesPerPixel, 1);
    data->putAndInsertUint16(DCM_Rows, static_cast<Uint16>(picture.height));
    data->putAndInsertUint16(DCM_Columns, static_cast<Uint16>(picture.width));
    data->putAndInsertUint16(DCM_PixelRepresentation, 0);
    if (depth == 8) {
        data->putAndInsertUint16(DCM_BitsAllocated, 8);
        data->putAndInsertUint16(DCM_BitsStored, 8);
        data->putAndInsertUint16(DCM_HighBit, 7);
        std::vector<Uint8> pixels;
        pixels.reserve(picture.pixels.size());
        for (quint16 value : picture.pixels)
            pixels.push_back(eightBit(value));
        data->putAndInsertUint8Array(DCM_PixelData, pixels.data(), static_cast<unsigned long>(pixels.size()));
    } else {
        data->putAndInsertUint16(DCM_BitsAllocated, 16);
        data->putAndInsertUint16(DCM_BitsStored, 12);
        data->putAndInsertUint16(DCM_HighBit, 11);
        data->putAndInsertUint16Array(DCM_PixelData, picture.pixels.data(),
                                      static_cast<unsigned long>(picture.pixels.size()));
    }

    // DCMTK writes by file name, so the temporary file is named here and renamed afterwards.
    const QFileInfo target(path);
    const QString temporary = target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                              QStringLiteral(".%1.part").arg(QCoreApplication::applicationPid());
    const OFCondition written =
        file.saveFile(QFile::encodeName(temporary).constData(), EXS_LittleEndianExplicit);
    if (written.bad()) {
        QFile::remove(temporary);
        return QString::fromLatin1(written.text());
    }
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
        QFile::remove(temporary);
        return QStringLiteral("cannot rename %1 to %2").arg(temporary, path);
    }
    return {};
}

} // namespace

QByteArray EncodeDib(const SimPicture& picture, double pixelSizeMm) {
    const int stride = (picture.width + 3) & ~3;
    const quint32 paletteSize = 256 * 4;
    const quint32 headerSize = 14 + 40 + paletteSize;
    const quint32 imageSize = static_cast<quint32>(stride) * static_cast<quint32>(picture.height);
    const auto pixelsPerMetre = static_cast<quint32>(std::lround(1000.0 / pixelSizeMm));

    QByteArray out;
    out.reserve(static_cast<qsizetype>(headerSize + imageSize));
    out.append("BM", 2);
    appendLe32(out, headerSize + imageSize);
    appendLe32(out, 0);
    appendLe32(out, headerSize);
    appendLe32(out, 40);
    appendLe32(out, static_cast<quint32>(picture.width));
    appendLe32(out, static_cast<quint32>(picture.height)); // positive: bottom-up rows
    appendLe16(out, 1);
    appendLe16(out, 8);
    appendLe32(out, 0); // BI_RGB
    appendLe32(out, imageSize);
    appendLe32(out, pixelsPerMetre);
    appendLe32(out, pixelsPerMetre);
    appendLe32(out, 256);
    appendLe32(out, 256);
    for (int grey = 0; grey < 256; ++grey) {
        const char entry[4] = {static_cast<char>(grey), static_cast<char>(grey), static_cast<char>(grey), 0};
        out.append(entry, 4);
    }
    const QByteArray padding(stride - picture.width, '\0');
    for (int y = picture.height - 1; y >= 0; --y) {
        const auto row = picture.pixels.begin() + static_cast<std::ptrdiff_t>(y) * picture.width;
        for (int x = 0; x < picture.width; ++x)
            out.append(static_cast<char>(eightBit(row[x])));
        out.append(padding);
    }
    return out;
}

QByteArray EncodeRaw(const SimPicture& picture, int depth) {
    QByteArray out;
    if (depth == 8) {
        out.reserve(static_cast<qsizetype>(picture.pixels.size()));
        for (quint16 value : picture.pixels)
            out.append(static_cast<char>(eightBit(value)));
    } else {
        out.reserve(static_cast<qsizetype>(picture.pixels.size() * 2));
        for (quint16 value : picture.pixels)
            appendLe16(out, value);
    }
    return out;
}

QString WriteSimImage(const QString& path, const SimPicture& picture, int format, int depth,
                      const SimImageMeta& meta) {
    switch (format) {
    case SimFormat::Raw:
        return writeBytes(path, EncodeRaw(picture, depth));
    case SimFormat::Dicom:
        return writeDicom(path, picture, depth, meta);
    default:
        // A bitmap is for looking at: it always has 8 bits, whatever depth was chosen.
        return writeBytes(path, EncodeDib(picture, meta.pixelSizeMm));
    }
}
