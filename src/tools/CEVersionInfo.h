#pragma once

// The version information of a program file, read from the file itself
// (docs/version-information.md).

#include <QString>

inline const QString kVersionInfoNotAvailable = QStringLiteral("<info not available>");

class TCEVersionInfo {
public:
    // Reads the version information of the running program's own file.
    TCEVersionInfo();

    // Reads the version information of any file into the properties. A file without any gives
    // "<info not available>" in every property but SpecialBuild, which is then empty.
    void GetInfo(const QString& fileName);

    // The eleven standard version strings; a string the file does not carry is empty.
    QString CompanyName;
    QString FileDescription;
    QString FileVersion;
    QString InternalName;
    QString LegalCopyright;
    QString LegalTrademarks;
    QString OriginalFilename;
    QString PrivateBuild;
    QString ProductName;
    QString ProductVersion;
    QString SpecialBuild;

    // The four parts of FileVersion ("4.1.0.6": 4, 1, 0, 6), split at "." or, when it has
    // none, at ","; all four "<info not available>" when FileVersion is empty or has neither.
    QString MajorVersion;
    QString MinorVersion;
    QString Release;
    QString Build;

private:
    void splitFileVersion();
};
