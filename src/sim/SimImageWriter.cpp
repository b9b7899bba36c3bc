#include "sim/SimImageWriter.h"

#include "pacs/DicomImage.h"

#include <QDateTime>
#include <QSaveFile>
#include <QtEndian>

#include <dcmtk/dcmdata/dcfilefo.h>

#include <algorithm>
#include <cmath>

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

quint16 eightBit(quint16 value) {
    return quint16(value >> 4);
}

QString writeBytes(const QString& path, const QByteArray& content) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size() || !out.commit())
        return out.errorString();
    return {};
}

QString writeDicom(const QString& path, const SimPicture& picture, int depth, const SimImageMeta& meta) {
    pacs::PixelImage image;
    image.width = picture.width;
    image.height = picture.height;
    image.bitsStored = depth == 8 ? 8 : 12;
    image.pixels = picture.pixels;
    if (depth == 8)
        std::transform(image.pixels.begin(), image.pixels.end(), image.pixels.begin(), eightBit);

    pacs::ImageDescription description;
    description.patientId = meta.patientId;
    description.category = pacs::CategoryOfDevice(0, meta.imageType);
    description.manufacturer = QStringLiteral("Ravlek simulated driver");
    description.modelName = meta.model;
    description.pixelSizeMm = meta.pixelSizeMm;
    description.magnification = meta.magnification;
    description.acquired = QDateTime::currentDateTime();
    // A device knows nothing of sessions: each picture is a study of its own.
    description.studyInstanceUid = pacs::NewDicomUid();
    description.seriesInstanceUid = pacs::NewDicomUid();
    description.sopInstanceUid = pacs::NewDicomUid();

    QString error;
    const std::unique_ptr<DcmFileFormat> file = pacs::MakeDicomImage(image, description, &error);
    if (!file)
        return error;
    const QByteArray bytes = pacs::DicomFileBytes(*file, &error);
    return error.isEmpty() ? writeBytes(path, bytes) : error;
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
