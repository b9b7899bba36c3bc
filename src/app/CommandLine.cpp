#include "app/CommandLine.h"

#include <limits>

namespace {

const QString kPatientKey = QStringLiteral("PNR=");
const QString kHostWindowKey = QStringLiteral("HWND=");
const QString kOutDirKey = QStringLiteral("OUTDIR=");
const QString kDpiKey = QStringLiteral("DPI=");
const QString kZoomKey = QStringLiteral("ZOOM=");

// The value is cut at the key's length, not at the place the key was found: the host puts
// the key first, and whatever else stands there is the value.
QString valueAfter(const QString& argument, const QString& key) {
    return argument.mid(key.size());
}

} // namespace

QStringList CommandLineArguments(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

QString DigitsOnly(const QString& text) {
    QString digits;
    digits.reserve(text.size());
    for (const QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits.append(c);
    }
    return digits;
}

bool StrictToInt32(const QString& text, qint32* value) {
    qsizetype i = 0;
    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative || text.startsWith(QLatin1Char('+')))
        i = 1;
    if (i == text.size())
        return false;
    // Accumulate the magnitude in 64 bits; ten digits past the leading zeros already
    // exceed the 32-bit range, so the sum cannot overflow before it is refused.
    const qint64 limit =
        negative ? -qint64(std::numeric_limits<qint32>::min()) : std::numeric_limits<qint32>::max();
    qint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        magnitude = magnitude * 10 + (c.unicode() - u'0');
        if (magnitude > limit)
            return false;
    }
    *value = qint32(negative ? -magnitude : magnitude);
    return true;
}

CommandLineValues ParseCommandLine(const QStringList& arguments) {
    CommandLineValues values;
    for (const QString& argument : arguments) {
        if (argument.contains(kPatientKey)) {
            qint32 number = 0;
            if (!StrictToInt32(DigitsOnly(valueAfter(argument, kPatientKey)), &number)) {
                values.patientNumberInvalid = true;
                return values;
            }
            values.PatientNr = number;
        } else if (argument.contains(kHostWindowKey)) {
            platform::WindowHandle handle = 0;
            values.hostWindowInvalid = !StrictToInt32(valueAfter(argument, kHostWindowKey), &handle);
            values.HostWindow = handle;
        } else if (argument.contains(kOutDirKey)) {
            values.OutDir = valueAfter(argument, kOutDirKey);
        } else if (argument.contains(kDpiKey)) {
            values.DpiText = valueAfter(argument, kDpiKey);
        } else if (argument.contains(kZoomKey)) {
            values.ZoomText = valueAfter(argument, kZoomKey);
        }
    }
    return values;
}
