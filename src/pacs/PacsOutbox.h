#pragma once

// The images waiting for the PACS: one folder per image in the outbox folder, holding the DICOM
// object exactly as it is to be sent ("object.dcm") and what is known of it ("entry.json").
// An entry is written in a hidden folder, flushed, and renamed into place, so that a crash leaves
// either a whole entry or none; it is removed only once the PACS has stored the object. The
// object is made once, when the image is queued, so every retry sends the same SOP instance.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace pacs {

struct OutboxEntry {
    QString id;     // the entry's folder name; entries sort by it in the order they were queued
    QString folder; // full path
    QString patientId;
    QString sopClassUid;
    QString sopInstanceUid;
    QString transferSyntaxUid;
    QString sourceFile; // the image in the patient's folder it was made from
    QDateTime queued;
    int attempts = 0;      // sends that failed for this object itself
    QDateTime nextAttempt; // not before this; invalid: at once
    QString lastFailure;

    QString objectFile() const { return folder + QStringLiteral("/object.dcm"); }
};

class PacsOutbox {
public:
    explicit PacsOutbox(QString folder = DefaultFolder());

    // $XDG_STATE_HOME/kelvo/pacs-outbox
    static QString DefaultFolder();
    QString Folder() const { return m_folder; }

    // A new entry id: the time, this process and a running number, so that ids sort in the order
    // the images were queued.
    static QString NewEntryId(const QDateTime& time);

    // Writes a whole entry. Empty on success, otherwise why not.
    QString Add(OutboxEntry entry, const QByteArray& object);

    // The entries in queue order. An entry that cannot be read is passed over and named in `problems`.
    QList<OutboxEntry> Entries(QStringList* problems = nullptr) const;
    int Count() const;
    std::optional<OutboxEntry> Find(const QString& id) const;

    // Stores the entry's attempts, next attempt and last failure. Empty on success.
    QString Update(const OutboxEntry& entry);
    // Takes an entry out of the queue. Empty on success (also when it is gone already).
    QString Remove(const QString& id);

    // Clears what interrupted writers and removals left behind: half-written entries older than
    // `age` (a writer needs moments), removed ones at once.
    void RemoveLeftovers(qint64 ageSeconds = 600);

private:
    QString m_folder;
};

} // namespace pacs
