#pragma once

// Words for the scanner control's status and error codes.

#include <QString>
#include <array>

// Indexed by the code itself: entry 0 stands for code 1. Code 17 has no word of its own.
inline constexpr std::array<const char16_t*, 20> ScannerStatusWords{
    u"OK",           u"BADPARM",      u"SYSTEMERROR",  u"ALREADYOPENED", u"INVALIDPATH",  u"NOTOPEN",
    u"INIT",         u"DISCONNECTED", u"CONNECTED",    u"SETUP",         u"IMAGEREADOUT", u"PLATEINSERTED",
    u"SCANNERERROR", u"CANCELLED",    u"NOTSUPPORTED", u"IODRIVERERROR", u"17",           u"IMAGEPENDING",
    u"PLATEEJECT",   u"NOIPADDRESS"};

// Scanner codes the program names.
namespace ScannerCode {
inline constexpr int Ok = 1;
inline constexpr int BadParm = 2;
inline constexpr int SystemError = 3;
inline constexpr int AlreadyOpened = 4;
inline constexpr int InvalidPath = 5;
inline constexpr int NotOpen = 6;
inline constexpr int Init = 7;
inline constexpr int Disconnected = 8;
inline constexpr int Connected = 9;
inline constexpr int Setup = 10;
inline constexpr int ImageReadout = 11;
inline constexpr int PlateInserted = 12;
inline constexpr int ScannerError = 13;
inline constexpr int Cancelled = 14;
inline constexpr int NotSupported = 15;
inline constexpr int IoDriverError = 16;
inline constexpr int ImagePending = 18;
inline constexpr int PlateEject = 19;
inline constexpr int NoIpAddress = 20;
} // namespace ScannerCode

// True for the codes 1 to 20, which have a word.
bool HasScannerStatusWord(int code);

// The word of a code; a code without a word is shown as its number in brackets, "[21]",
// so that a list entry never ends in an empty word.
QString ScannerStatusWord(int code);

// "Error getting image " + word for codes 1 to 20, otherwise
// "Error getting image! Error number " + the code in decimal.
QString ScannerErrorText(int code);
