#pragma once

// The files a simulated device writes: an 8-bit DIB, RAW of 8 or 12 bits, or DICOM (a complete
// Digital X-Ray or Intra-Oral X-Ray object, made as the PACS outbox makes its own).

#include "sim/SimRadiograph.h"

#include <QByteArray>
#include <QString>

// Format codes as SetImageFormat receives them (low 16 bits of the image format).
namespace SimFormat {
inline constexpr int Raw = 1;
inline constexpr int Dib = 2;
inline constexpr int Dicom = 3;
} // namespace SimFormat

struct SimImageMeta {
    QString model;
    QString imageType; // INTRAORAL or PANORAMIC
    double pixelSizeMm = 0.1;
    QString patientId;
    double magnification = 1.0;
};

// A Windows bitmap file: 8 bits per pixel with a grey palette, rows bottom-up.
QByteArray EncodeDib(const SimPicture& picture, double pixelSizeMm);
// Bare pixels, row by row from the top: one byte each for depth 8, otherwise the 12-bit value in a
// 16-bit little-endian word.
QByteArray EncodeRaw(const SimPicture& picture, int depth);

// Writes the picture to `path` so that a reader never sees half a file (a temporary file in the
// same folder, renamed over the target). Empty on success, otherwise the reason.
QString WriteSimImage(const QString& path, const SimPicture& picture, int format, int depth,
                      const SimImageMeta& meta);
