#pragma once

// The road of a finished image into the patient's folder: the working file the scanner
// writes, the numbered copy, the image parameters and the ".xnf" information file beside it.

#include "platform/FileSystem.h"
#include "scanner/ImageFormat.h"

#include <QString>
#include <functional>

// ---- The working file -------------------------------------------------------------------

// The output format handed to the scanner control: depth × 65536 + format code. "16 bits"
// means the device's 12-bit images.
qint32 ImageFormatValue(ImageDepth depth, ImageFileType fileType);
// "bmp", "raw" or "dcm".
QString ImageFileExtension(ImageFileType fileType);
// The fixed file the scanner writes the next image to: OutDir + "lastscannedfile." + extension.
QString WorkingFileName(const QString& outDir, ImageFileType fileType);

// ---- Numbering and copying --------------------------------------------------------------

// OutDir + the patient number + "/".
QString PatientFolder(const QString& outDir, qint32 patientNr);

// One more than the highest running number among the folder's entries (files and folders,
// hidden ones too): the text between the first "_" and the first "." of a name beginning
// with "Rtg" in any letter case, read as a 32-bit number, counting 0 when it is none.
// 1 for an empty or missing folder.
qint64 NextRunningNumber(const QString& folder);

// folder + "Rtg" + patient + "_" + number + extension (the extension with its dot).
QString NumberedImageName(const QString& folder, qint32 patientNr, qint64 number, const QString& extension);

struct HandOffResult {
    bool success = false;
    QString newName;
};

// Lets tests act inside a hand-off; the program passes none.
struct HandOffHooks {
    // At the moment between choosing a name and publishing the copy under it.
    std::function<void(const QString& chosenName)> beforePublish;
    // At each named moment of the hand-off, in order: "temporary-created", "mid-copy",
    // "flushed", "linked" (the copy), "before-information", "mid-information",
    // "after-information" (the ".xnf" file), "before-host-message".
    platform::StepHook stepReached;
};

// Copies `source` into the patient folder under the next running number, creating the
// folder when it is missing. The copy is written under a hidden temporary name and appears
// under its numbered name only when complete; a number taken meanwhile (by another
// workstation) moves it to the next free one, and no existing file is ever replaced. On
// success `deleteSource` removes the source. Every failure is told to the user through
// WarningBox, and the source stays. Temporary files that an earlier hand-off into the folder
// left when it was cut off are removed once nobody has written to them for ten minutes.
HandOffResult CopyToPatientFolder(const QString& source, bool deleteSource, const QString& outDir,
                                  qint32 patientNr, const HandOffHooks& hooks = {});

// Beginning of the temporary names in the patient folder; never matches "Rtg*.*".
inline const QString kTemporaryPrefix = QStringLiteral(".ravlek-tmp-");

// ---- Image parameters -------------------------------------------------------------------

// What the scanner control's parameter text says of an image.
struct ImageParameters {
    QString manufacturer;          // "DEVICE "
    QString imageType;             // "IMAGETYPE "
    qint32 resolution = 0;         // dots per inch from "PIXELSIZEH "; 0 when unknown
    long double magnification = 0; // "MAGFACTOR "; 0 when the line is missing
};

// Reads the parameter lines; numbers always use a point as the decimal separator.
ImageParameters ReadImageParameters(const QString& text);

// `text` as a number with a point as the decimal separator: optional sign, digits with an
// optional fraction, optional exponent, nothing else. Values beyond the range of extended
// precision do not convert.
bool StrictToExtended(const QString& text, long double* value);

// Dots per inch for a pixel size in millimetres, rounded half to even; 0 for a size of 0 and
// for a result outside the 32-bit range.
qint32 ResolutionFromPixelSize(long double pixelSize);

// The shortest text of up to 15 significant digits, with `decimalPoint` as separator.
QString FormatZoom(long double value, QChar decimalPoint);
// The same with the decimal separator of the user's locale.
QString FormatZoom(long double value);

// ---- The information file ---------------------------------------------------------------

inline const QString kImageInformationSection = QStringLiteral("ImageInformation");

// The numbered image's path with its extension replaced by ".xnf".
QString ImageInformationFileName(const QString& imageName);

// The eleven values of the information file, in the order they are written.
struct ImageInformation {
    QString SourceFile;
    QString kV;
    QString mA;
    QString mS;
    QString ManuFacturer;
    QString ScannerLabel;
    QString VersionHardware;
    QString Resolution;
    QString Zoom;
    QString VersionDriver;
    QString StationName;
};

// What the main window knows of the image besides its parameters.
struct ImageContext {
    QString kV = QStringLiteral("0");
    QString mA = QStringLiteral("0");
    QString mS = QStringLiteral("0");
    QString scannerLabel;      // the selected entry of the image-type list as it reads now
    qint32 scannerVersion = 0; // the control's GetScannerVersion
    QString dpiText;           // command-line fall-backs
    QString zoomText;
    QString workstationName; // GetWorkstationName
    QString stationId;       // gstationID
};

ImageInformation MakeImageInformation(const QString& imageName, const ImageParameters& parameters,
                                      const ImageContext& context);

// Writes one key into a profile-format file; false when the file cannot be written.
bool WriteIniValue(const QString& fileName, const QString& section, const QString& key, const QString& value);

// Writes the eleven keys one at a time, in order, into section "ImageInformation" of a
// temporary file beside `fileName`, which takes the name `fileName` only once every key is
// written: the file is there whole or not at all. False when it could not be written.
bool WriteImageInformation(const QString& fileName, const ImageInformation& information,
                           const platform::StepHook& stepReached = {});

// ---- The whole hand-off -----------------------------------------------------------------

// Hands a kept image off, in this order: the numbered copy (CopyToPatientFolder), the
// information file beside it with the values `describe` gives for the new name, and the
// host's notice (`tellHost`). When the copy fails (the user has been told), nothing else
// happens. The information file's outcome is not checked: the image is stored, and the host
// is told regardless.
HandOffResult HandOffImage(const QString& source, bool deleteSource, const QString& outDir, qint32 patientNr,
                           const std::function<ImageInformation(const QString& newName)>& describe,
                           const std::function<void()>& tellHost, const HandOffHooks& hooks = {});

// ---- One-shot mode ----------------------------------------------------------------------

// Whether the stored "TotoOneShot" text asks to close after an image: false only for a
// number equal to zero or "False"; anything else, a missing value included, is true.
bool OneShotClosesWindow(const QString& totoOneShotText);
// The same for the stored setting of section "XRay".
bool OneShotClosesWindow();
