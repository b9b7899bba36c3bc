#pragma once

// DICOM objects of the captured images: a DIB or RAW picture wrapped into the object that fits
// the device (Digital Intra-Oral X-Ray or Digital X-Ray Image, For Presentation), and a device's
// own DICOM file made ready to send.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <vector>

class DcmFileFormat;

namespace pacs {

// What a device takes pictures of; it decides the kind of object and its modality.
enum class ImageCategory { Intraoral, Panoramic, Cephalometric };

// The category of a device's images: the known models by their device type, any other by the
// "IMAGETYPE " of its parameter text ("INTRAORAL", "CEPH...", anything else panoramic).
ImageCategory CategoryOfDevice(int deviceType, const QString& imageType);

// "IO", "PX" or "DX".
QString ModalityOf(ImageCategory category);

// A new unique identifier: "2.25." and a random UUID as a decimal number, which needs no
// registered root of our own.
QString NewDicomUid();

// Grey pixels, row by row from the top; a higher value is a denser spot, as the devices give it.
struct PixelImage {
    int width = 0;
    int height = 0;
    int bitsStored = 8; // 8: one byte a pixel; 9 to 16: one 16-bit word a pixel
    std::vector<quint16> pixels;
    double pixelSizeMm = 0; // what the file itself says of its resolution; 0 when nothing
};

// The pixels of a Windows bitmap (any depth the bitmap reader knows; colours become grey).
// On failure `error` says why and the image is empty.
PixelImage ReadDibImage(const QByteArray& bytes, QString* error);

// The geometry of a RAW image, from the "WIDTH ", "HEIGHT " and "BITS " lines of the device's
// parameter text; 0 for a value that is missing.
struct RawGeometry {
    int width = 0;
    int height = 0;
    int bits = 0;
};
RawGeometry RawGeometryFromParameters(const QString& parameters);

// Bare pixels of the given geometry: one byte a pixel for 8 bits, otherwise a 16-bit
// little-endian word. Without "BITS " the file's size tells the two apart.
PixelImage ReadRawImage(const QByteArray& bytes, const RawGeometry& geometry, QString* error);

// Everything an object says besides its pixels.
struct ImageDescription {
    QString patientId;
    ImageCategory category = ImageCategory::Panoramic;
    QString manufacturer;
    QString modelName;
    QString deviceSerialNumber;
    QString softwareVersions;
    QString stationName;
    double pixelSizeMm = 0;   // at the detector; must be above 0
    double magnification = 0; // 0 when unknown
    QDateTime acquired;
    QDateTime studyStarted;
    QString studyInstanceUid;
    QString seriesInstanceUid;
    QString sopInstanceUid;
    int seriesNumber = 1;
    int instanceNumber = 1;
};

// The picture as a complete object with every module its kind requires. Empty with `error` set
// when the description lacks what the object must have (a pixel size, the UIDs).
std::unique_ptr<DcmFileFormat> MakeDicomImage(const PixelImage& image, const ImageDescription& description,
                                              QString* error);

// A device's own DICOM file as it is, except that an empty or missing Patient ID becomes
// `patientId`; `changed` tells whether it did. Empty with `error` set for a file that is no
// DICOM object or lacks its SOP class or instance.
std::unique_ptr<DcmFileFormat> ReadDeviceDicom(const QByteArray& bytes, const QString& patientId,
                                               bool* changed, QString* error);

// The object as the bytes of a DICOM file, in the transfer syntax it was read or made in.
QByteArray DicomFileBytes(DcmFileFormat& file, QString* error);

// Attributes of an object, for the log and the outbox's list.
QString SopClassUidOf(DcmFileFormat& file);
QString SopInstanceUidOf(DcmFileFormat& file);
QString PatientIdOf(DcmFileFormat& file);
// A short readable name of a SOP class ("DigitalIntraOralXRayImageStorageForPresentation").
QString SopClassName(const QString& sopClassUid);

} // namespace pacs
