#include "app/ImageHandOff.h"

#include "platform/FileSystem.h"
#include "platform/ProfileFile.h"
#include "tools/KelvoSettings.h"
#include "tools/MessageBoxes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>

// ---- The working file -------------------------------------------------------------------

qint32 ImageFormatValue(ImageDepth depth, ImageFileType fileType) {
    const qint32 bits = depth == ImageDepth::Bits8 ? 8 : 12;
    qint32 code = 0;
    switch (fileType) {
    case ImageFileType::DIB:
        code = 2;
        break;
    case ImageFileType::RAW:
        code = 1;
        break;
    case ImageFileType::DCM:
        code = 3;
        break;
    }
    return bits * 65536 + code;
}

QString ImageFileExtension(ImageFileType fileType) {
    switch (fileType) {
    case ImageFileType::DIB:
        return QStringLiteral("bmp");
    case ImageFileType::RAW:
        return QStringLiteral("raw");
    case ImageFileType::DCM:
        return QStringLiteral("dcm");
    }
    return {};
}

QString WorkingFileName(const QString& outDir, ImageFileType fileType) {
    return outDir + QStringLiteral("lastscannedfile.") + ImageFileExtension(fileType);
}

// ---- Numbering and copying --------------------------------------------------------------

namespace {

// The extension with its dot, taken from the file name only; empty when it has none.
QString extensionOf(const QString& path) {
    const qsizetype nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot >= nameStart ? path.mid(dot) : QString();
}

// Where the user should look for free space: the mount point holding the folder.
QString volumeOf(const QString& folder) {
    const QStorageInfo storage(folder);
    return storage.isValid() ? storage.rootPath() : folder;
}

void warnCopyFailed(const QString& source, const QString& newName, const QString& folder,
                    const platform::FileResult& failure) {
    WarningBox(QStringLiteral("An error occurred while copying the file ") + source + QStringLiteral(" to ") +
               newName + QStringLiteral("!") + QStringLiteral("\r\r") +
               QStringLiteral("Check the remaining disc space on ") + volumeOf(folder) +
               QStringLiteral(", also check if You have the neccessary rights to the destination folder!") +
               QStringLiteral("\r\r") + failure.errorText());
}

// However many names other workstations take meanwhile, this many attempts end the search.
constexpr int kPublishAttempts = 1000;

// A temporary file nobody has written to for this long is a leftover of a hand-off that was
// cut off (a crash, a power cut, a kill): a copy in progress writes to its file all the time,
// and the slowest share takes seconds, not minutes, for an image.
constexpr std::chrono::minutes kStaleTemporaryAge{10};

// The running number an entry stands for: the text between the first "_" and the first "."
// of a name beginning with "Rtg" (any letter case), as a 32-bit number; 0 when there is
// none. Read from the stored bytes: every character that matters is ASCII, and in UTF-8 no
// byte of another character can be taken for one.
qint64 runningNumberOf(QByteArrayView name) {
    auto isLetter = [&](qsizetype i, char lower) { return (name.at(i) | 0x20) == lower; };
    if (name.size() < 3 || !isLetter(0, 'r') || !isLetter(1, 't') || !isLetter(2, 'g'))
        return 0;
    const qsizetype underscore = name.indexOf('_');
    const qsizetype dot = name.indexOf('.');
    if (underscore < 0 || dot <= underscore)
        return 0;
    const char* begin = name.data() + underscore + 1;
    const char* end = name.data() + dot;
    // A negative number can never be the highest, so only "+" needs handling here.
    if (begin != end && *begin == '+')
        ++begin;
    qint32 number = 0;
    const auto [stop, error] = std::from_chars(begin, end, number);
    return error == std::errc() && stop == end ? number : 0;
}

} // namespace

QString PatientFolder(const QString& outDir, qint32 patientNr) {
    return outDir + QString::number(patientNr) + QLatin1Char('/');
}

qint64 NextRunningNumber(const QString& folder) {
    qint64 highest = 0;
    platform::forEachEntryName(
        folder, [&](QByteArrayView name) { highest = std::max(highest, runningNumberOf(name)); });
    // 64 bits: the number after the highest 32-bit one must not wrap to a negative one.
    return highest + 1;
}

QString NumberedImageName(const QString& folder, qint32 patientNr, qint64 number, const QString& extension) {
    return folder + QStringLiteral("Rtg") + QString::number(patientNr) + QLatin1Char('_') +
           QString::number(number) + extension;
}

HandOffResult CopyToPatientFolder(const QString& source, bool deleteSource, const QString& outDir,
                                  qint32 patientNr, const HandOffHooks& hooks) {
    const QString extension = extensionOf(source);
    const QString folder = PatientFolder(outDir, patientNr);
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) {
        WarningBox(QStringLiteral("Could not create the directory ") + folder + QStringLiteral("!"));
        return {};
    }

    platform::removeStaleFiles(folder, kTemporaryPrefix, kStaleTemporaryAge);

    qint64 number = NextRunningNumber(folder);
    QString newName = NumberedImageName(folder, patientNr, number, extension);
    QString temporary;
    if (const platform::FileResult copied =
            platform::copyToTemporaryFile(source, folder, kTemporaryPrefix, &temporary, hooks.stepReached);
        !copied.ok()) {
        warnCopyFailed(source, newName, folder, copied);
        return {};
    }

    // The copy took a while: look again, as another workstation may have stored an image
    // for this patient meanwhile, under this extension or another.
    for (int attempt = 0; attempt < kPublishAttempts; ++attempt) {
        number = std::max(number, NextRunningNumber(folder));
        newName = NumberedImageName(folder, patientNr, number, extension);
        if (hooks.beforePublish)
            hooks.beforePublish(newName);
        const platform::FileResult published =
            platform::publishWithoutReplacing(temporary, newName, hooks.stepReached);
        if (published.ok()) {
            if (deleteSource)
                QFile::remove(source);
            return {true, newName};
        }
        if (published.error != EEXIST || attempt + 1 == kPublishAttempts) {
            platform::removeFile(temporary);
            warnCopyFailed(source, newName, folder, published);
            return {};
        }
        ++number;
    }
    return {};
}

// ---- Image parameters -------------------------------------------------------------------

namespace {

// Trims blanks and control characters, as the parameter lines may carry either; one inside
// the value becomes a blank, as the information file cannot hold it.
QString trimmedValue(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= u' ')
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= u' ')
        --end;
    QString value = text.mid(begin, end - begin);
    for (QChar& c : value) {
        if (c.unicode() < u' ')
            c = QLatin1Char(' ');
    }
    return value;
}

// The text with each half of a surrogate pair that has no other half replaced: such a
// text is no Unicode, which neither the line split nor the information file can take.
QString wellFormed(const QString& text) {
    QString result = text;
    for (qsizetype i = 0; i < result.size(); ++i) {
        if (result.at(i).isHighSurrogate() && i + 1 < result.size() && result.at(i + 1).isLowSurrogate())
            ++i;
        else if (result.at(i).isSurrogate())
            result[i] = QChar::ReplacementCharacter;
    }
    return result;
}

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Sign, digits with an optional fraction (".5" and "5." included), optional exponent.
bool isDecimalNumber(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipDigits = [&] {
        const qsizetype start = i;
        while (i < n && isDigit(text.at(i)))
            ++i;
        return i - start;
    };
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ++i;
    qsizetype mantissaDigits = skipDigits();
    if (i < n && text.at(i) == QLatin1Char('.')) {
        ++i;
        mantissaDigits += skipDigits();
    }
    if (mantissaDigits == 0)
        return false;
    if (i < n && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        ++i;
        if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
            ++i;
        if (skipDigits() == 0)
            return false;
    }
    return i == n;
}

struct ParameterKey {
    QString key;
    void (*store)(ImageParameters&, const QString& value);
};

void storeManufacturer(ImageParameters& parameters, const QString& value) {
    parameters.manufacturer = value;
}

void storeImageType(ImageParameters& parameters, const QString& value) {
    parameters.imageType = value;
}

void storePixelSize(ImageParameters& parameters, const QString& value) {
    long double pixelSize = 0;
    parameters.resolution = StrictToExtended(value, &pixelSize) ? ResolutionFromPixelSize(pixelSize) : 0;
}

void storeMagnification(ImageParameters& parameters, const QString& value) {
    long double magnification = 0;
    parameters.magnification = StrictToExtended(value, &magnification) ? magnification : 1;
}

} // namespace

bool StrictToExtended(const QString& text, long double* value) {
    if (!isDecimalNumber(text))
        return false;
    // from_chars reads a point whatever the locale, but takes no "+".
    const QByteArray latin = text.toLatin1();
    const char* begin = latin.constData();
    if (*begin == '+')
        ++begin;
    long double parsed = 0;
    const auto [end, error] = std::from_chars(begin, latin.constData() + latin.size(), parsed);
    if (error != std::errc() || end != latin.constData() + latin.size())
        return false;
    *value = parsed;
    return true;
}

qint32 ResolutionFromPixelSize(long double pixelSize) {
    if (pixelSize == 0)
        return 0;
    // Divided in this order and in extended precision: halfway cases then round as they
    // always have for these devices.
    const long double dotsPerInch = std::rint(1.0L / pixelSize * 25.4L);
    if (!(dotsPerInch >= std::numeric_limits<qint32>::min() &&
          dotsPerInch <= std::numeric_limits<qint32>::max()))
        return 0;
    return qint32(dotsPerInch);
}

ImageParameters ReadImageParameters(const QString& text) {
    static const ParameterKey keys[] = {
        {QStringLiteral("DEVICE "), storeManufacturer},
        {QStringLiteral("IMAGETYPE "), storeImageType},
        {QStringLiteral("PIXELSIZEH "), storePixelSize},
        {QStringLiteral("MAGFACTOR "), storeMagnification},
    };
    ImageParameters parameters;
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    for (const QString& line : wellFormed(text).split(lineBreak)) {
        for (const ParameterKey& key : keys) {
            if (line.contains(key.key)) {
                // The value starts at the key's closing blank, wherever the key was found,
                // which may lie between the halves of a surrogate pair.
                key.store(parameters, trimmedValue(wellFormed(line.mid(key.key.size() - 1))));
                break;
            }
        }
    }
    return parameters;
}

QString FormatZoom(long double value, QChar decimalPoint) {
    char digits[64];
    const auto [end, error] =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 15);
    if (error != std::errc())
        return {};
    QString text = QString::fromLatin1(digits, end - digits);
    text.replace(QLatin1Char('.'), decimalPoint);
    // Exponents read as 1E20 and 1E-7, as the host's own number texts do.
    const qsizetype exponent = text.indexOf(QLatin1Char('e'));
    if (exponent >= 0) {
        QString power = text.mid(exponent + 1);
        if (power.startsWith(QLatin1Char('+')))
            power.remove(0, 1);
        const bool negative = power.startsWith(QLatin1Char('-'));
        if (negative)
            power.remove(0, 1);
        while (power.size() > 1 && power.startsWith(QLatin1Char('0')))
            power.remove(0, 1);
        text = text.left(exponent) + QLatin1Char('E') + (negative ? QStringLiteral("-") : QString()) + power;
    }
    return text;
}

QString FormatZoom(long double value) {
    return FormatZoom(value, QLocale::system().decimalPoint().at(0));
}

// ---- The information file ---------------------------------------------------------------

QString ImageInformationFileName(const QString& imageName) {
    const QString extension = extensionOf(imageName);
    return imageName.left(imageName.size() - extension.size()) + QStringLiteral(".xnf");
}

ImageInformation MakeImageInformation(const QString& imageName, const ImageParameters& parameters,
                                      const ImageContext& context) {
    ImageInformation information;
    information.SourceFile = imageName;
    information.kV = context.kV;
    information.mA = context.mA;
    information.mS = context.mS;
    information.ManuFacturer = parameters.manufacturer;
    information.ScannerLabel = context.scannerLabel;
    information.VersionHardware = QString::number(context.scannerVersion);
    information.Resolution =
        parameters.resolution != 0 ? QString::number(parameters.resolution) : context.dpiText;
    information.Zoom =
        parameters.magnification != 0 ? FormatZoom(parameters.magnification) : context.zoomText;
    information.VersionDriver = parameters.imageType;
    information.StationName = context.workstationName + QStringLiteral(": ") + context.stationId;
    return information;
}

bool WriteIniValue(const QString& fileName, const QString& section, const QString& key,
                   const QString& value) {
    return platform::profileFile().writeString(fileName, section, key, value);
}

bool WriteImageInformation(const QString& fileName, const ImageInformation& information,
                           const platform::StepHook& stepReached) {
    const std::pair<QString, const QString*> keys[] = {
        {QStringLiteral("SourceFile"), &information.SourceFile},
        {QStringLiteral("kV"), &information.kV},
        {QStringLiteral("mA"), &information.mA},
        {QStringLiteral("mS"), &information.mS},
        {QStringLiteral("ManuFacturer"), &information.ManuFacturer},
        {QStringLiteral("ScannerLabel"), &information.ScannerLabel},
        {QStringLiteral("VersionHardware"), &information.VersionHardware},
        {QStringLiteral("Resolution"), &information.Resolution},
        {QStringLiteral("Zoom"), &information.Zoom},
        {QStringLiteral("VersionDriver"), &information.VersionDriver},
        {QStringLiteral("StationName"), &information.StationName},
    };
    // Written under a temporary name beside it and renamed into place when whole, so that
    // the host never finds a part of it.
    QString temporary;
    if (!platform::createTemporaryFile(QFileInfo(fileName).absolutePath(), kTemporaryPrefix, &temporary).ok())
        return false;
    bool written = true;
    for (const auto& [key, value] : keys)
        written = written && WriteIniValue(temporary, kImageInformationSection, key, *value);
    if (written && stepReached)
        stepReached("mid-information");
    if (!written || !platform::replaceWithFile(temporary, fileName).ok()) {
        platform::removeFile(temporary);
        return false;
    }
    return true;
}

// ---- The whole hand-off -----------------------------------------------------------------

HandOffResult HandOffImage(const QString& source, bool deleteSource, const QString& outDir, qint32 patientNr,
                           const std::function<ImageInformation(const QString& newName)>& describe,
                           const std::function<void()>& tellHost, const HandOffHooks& hooks) {
    const auto reach = [&](const char* step) {
        if (hooks.stepReached)
            hooks.stepReached(step);
    };
    const HandOffResult copied = CopyToPatientFolder(source, deleteSource, outDir, patientNr, hooks);
    if (!copied.success)
        return copied;
    reach("before-information");
    WriteImageInformation(ImageInformationFileName(copied.newName), describe(copied.newName),
                          hooks.stepReached);
    reach("after-information");
    reach("before-host-message");
    tellHost();
    return copied;
}

// ---- One-shot mode ----------------------------------------------------------------------

bool OneShotClosesWindow(const QString& totoOneShotText) {
    return SettingIsTrue(totoOneShotText, true);
}

bool OneShotClosesWindow() {
    return OneShotClosesWindow(ReadSetting(QStringLiteral("XRay"), QStringLiteral("TotoOneShot")));
}
