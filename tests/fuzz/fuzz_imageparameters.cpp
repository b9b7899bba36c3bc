// The scanner control's parameter text and the ".xnf" information file it feeds. The input
// is the text as the control hands it over: UTF-8, or after the byte-order mark FF FE any
// UTF-16 code units (the control's strings are UTF-16 and need not be valid).

#include "FuzzSupport.h"

#include "app/ImageHandOff.h"
#include "platform/ProfileFile.h"

#include <QDir>
#include <QFile>

#include <cmath>

namespace {

QString textOf(const QByteArray& bytes) {
    if (!bytes.startsWith("\xFF\xFE"))
        return QString::fromUtf8(bytes);
    const QByteArray units = bytes.mid(2);
    QString text;
    for (qsizetype i = 0; i + 1 < units.size(); i += 2)
        text.append(QChar(char16_t(uchar(units[i]) | uchar(units[i + 1]) << 8)));
    return text;
}

void checkNumbers(const ImageParameters& parameters) {
    fuzz::require(std::isfinite(parameters.magnification), "the magnification is a finite number");
    const QString zoom = FormatZoom(parameters.magnification, QLatin1Char('.'));
    long double back = 0;
    fuzz::require(StrictToExtended(zoom, &back), "the written zoom reads back as a number");
    const long double scale = std::max(std::fabs(parameters.magnification), 1e-300L);
    fuzz::require(std::fabs(back - parameters.magnification) <= scale * 1e-13L,
                  "the written zoom keeps 15 significant digits");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ensureApplication();
    fuzz::isolateInstallation();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ImageParameters parameters = ReadImageParameters(textOf(fuzz::bytesOf(data, size)));
    checkNumbers(parameters);

    const QString folder = fuzz::scratchFolder() + QStringLiteral("/patient/");
    const QString image = folder + QStringLiteral("Rtg4711_1.bmp");
    ImageContext context;
    context.scannerLabel = QStringLiteral("Digora Toto");
    context.scannerVersion = 3;
    context.dpiText = QStringLiteral("300");
    context.zoomText = QStringLiteral("1.1");
    context.workstationName = QStringLiteral("FUZZPC");
    context.stationId = QStringLiteral("1");
    const ImageInformation information = MakeImageInformation(image, parameters, context);

    // Whatever the control says, the information file holds every value, readable.
    const QString xnf = ImageInformationFileName(image);
    QFile::remove(xnf);
    QDir().mkpath(folder);
    WriteImageInformation(xnf, information);
    platform::ProfileFile& profile = platform::profileFile();
    fuzz::require(profile.isReadable(xnf), "the information file is a readable profile file");
    const std::pair<const char*, const QString*> keys[] = {
        {"SourceFile", &information.SourceFile},
        {"ManuFacturer", &information.ManuFacturer},
        {"ScannerLabel", &information.ScannerLabel},
        {"Resolution", &information.Resolution},
        {"Zoom", &information.Zoom},
        {"VersionDriver", &information.VersionDriver},
        {"StationName", &information.StationName},
    };
    for (const auto& [key, value] : keys) {
        const QString read = profile.readString(xnf, kImageInformationSection, QString::fromLatin1(key),
                                                QStringLiteral("<missing>"), 1 << 20);
        fuzz::require(read == fuzz::asReadBack(*value), key);
    }
    return 0;
}
