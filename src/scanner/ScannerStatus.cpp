#include "scanner/ScannerStatus.h"

bool HasScannerStatusWord(int code) {
    // One unsigned comparison: 0 and negative codes wrap round to large numbers. The
    // subtraction is done unsigned so that the lowest code cannot overflow.
    return static_cast<unsigned>(code) - 1u < ScannerStatusWords.size();
}

QString ScannerStatusWord(int code) {
    if (HasScannerStatusWord(code))
        return QString::fromUtf16(ScannerStatusWords[static_cast<std::size_t>(code - 1)]);
    return QStringLiteral("[%1]").arg(code);
}

QString ScannerErrorText(int code) {
    if (HasScannerStatusWord(code))
        return QStringLiteral("Error getting image ") + ScannerStatusWord(code);
    return QStringLiteral("Error getting image! Error number ") + QString::number(code);
}
