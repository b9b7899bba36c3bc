#pragma once

// Where the images go besides the patient's folder: the PACS's address and the two
// application entity titles of the association, kept in section "XRay" of the settings.

#include <QString>

namespace pacs {

struct PacsSettings {
    QString host; // empty: no PACS, nothing is queued or sent
    int port = 104;
    QString calledAE = QStringLiteral("ANY-SCP");
    QString callingAE = QStringLiteral("RAVLEK");

    bool enabled() const { return !host.trimmed().isEmpty(); }
    // "ORTHANC@pacs.example:4242", for messages and the log.
    QString describe() const;
    bool operator==(const PacsSettings&) const = default;
};

// Reads "PacsHost", "PacsPort", "PacsCalledAE" and "PacsCallingAE"; a missing or unusable
// value gives its default.
PacsSettings ReadPacsSettings();
void WritePacsSettings(const PacsSettings& settings);

// What makes the settings unusable, in words; empty when they can be used. An AE title has 1 to
// 16 characters of printable ASCII without a backslash; blanks around it do not count.
QString CheckPacsSettings(const PacsSettings& settings);

} // namespace pacs
