#pragma once

// Talking to the PACS: a verification (C-ECHO) and storing objects (C-STORE) over one
// association, with every failure told in words.

#include "pacs/PacsSettings.h"

#include <QList>
#include <QString>

#include <memory>

class DcmFileFormat;

namespace pacs {

// How long the network may keep us waiting, in seconds.
inline constexpr int kConnectTimeoutSeconds = 10;
inline constexpr int kAssociationTimeoutSeconds = 30;
inline constexpr int kMessageTimeoutSeconds = 60;

struct PacsOutcome {
    bool ok = false;
    QString text; // what happened, in words
};

// Opens an association for verification and sends a C-ECHO: whether the PACS answers and accepts
// this workstation.
PacsOutcome EchoPacs(const PacsSettings& settings);

// A kind of object to be stored: what a presentation context is proposed for.
struct ObjectKind {
    QString sopClassUid;
    QString transferSyntaxUid;
    bool operator==(const ObjectKind&) const = default;
};
ObjectKind KindOf(DcmFileFormat& object);

class DicomStoreAssociation {
public:
    // Connects and negotiates an association that can store the given kinds (at most 128). Empty
    // with `error` set, in words, when the PACS cannot be reached, refuses the association or
    // accepts none of the kinds.
    static std::unique_ptr<DicomStoreAssociation> Open(const PacsSettings& settings,
                                                       const QList<ObjectKind>& kinds, QString* error);
    // Releases the association (aborts it when it was lost).
    ~DicomStoreAssociation();
    DicomStoreAssociation(const DicomStoreAssociation&) = delete;
    DicomStoreAssociation& operator=(const DicomStoreAssociation&) = delete;

    struct StoreOutcome {
        bool stored = false;
        // The association is gone (the transfer broke off); nothing more can be sent over it.
        bool associationLost = false;
        QString text; // a failure or a warning of the PACS, in words; empty for a plain success
    };
    StoreOutcome Store(DcmFileFormat& object);

private:
    struct Private;
    explicit DicomStoreAssociation(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

} // namespace pacs
