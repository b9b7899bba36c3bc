#include "pacs/PacsSender.h"

#include "pacs/DicomStore.h"

#include <QFile>
#include <QLockFile>

#include <dcmtk/dcmdata/dcfilefo.h>

#include <algorithm>

namespace pacs {

namespace {

constexpr int kMaximumKinds = 128;

bool isDue(const OutboxEntry& entry, const QDateTime& now) {
    return !now.isValid() || !entry.nextAttempt.isValid() || entry.nextAttempt <= now;
}

void recordRefusal(PacsOutbox& outbox, OutboxEntry entry, const QString& failure,
                   const SendRoundHooks& hooks) {
    ++entry.attempts;
    entry.lastFailure = failure;
    entry.nextAttempt = QDateTime::currentDateTime().addSecs(
        RetryPauseSeconds(entry.attempts, kFirstEntryPause, kLongestEntryPause));
    outbox.Update(entry);
    if (hooks.refused)
        hooks.refused(entry, failure);
}

} // namespace

qint64 RetryPauseSeconds(int failuresInARow, qint64 first, qint64 longest) {
    qint64 pause = first;
    for (int i = 1; i < failuresInARow && pause < longest; ++i)
        pause *= 2;
    return std::min(pause, longest);
}

SendRoundResult SendOutbox(PacsOutbox& outbox, const PacsSettings& settings, const QDateTime& now,
                           const SendRoundHooks& hooks, int lockWaitMs) {
    SendRoundResult result;
    QList<OutboxEntry> due = outbox.Entries();
    due.removeIf([&](const OutboxEntry& entry) { return !isDue(entry, now); });
    if (due.isEmpty())
        return result;

    QLockFile lock(outbox.Folder() + QStringLiteral("/.send.lock"));
    // Held only by a living process: one that ended leaves a lock that is taken over.
    lock.setStaleLockTime(0);
    if (!lock.tryLock(lockWaitMs)) {
        result.busy = true;
        return result;
    }
    // Another sender may have emptied the queue meanwhile.
    due.removeIf([&](const OutboxEntry& entry) { return !QFile::exists(entry.objectFile()); });

    QList<ObjectKind> kinds;
    for (const OutboxEntry& entry : std::as_const(due)) {
        const ObjectKind kind{entry.sopClassUid, entry.transferSyntaxUid};
        if (!kinds.contains(kind) && kinds.size() < kMaximumKinds)
            kinds.append(kind);
    }
    if (kinds.isEmpty())
        return result;
    const std::unique_ptr<DicomStoreAssociation> association =
        DicomStoreAssociation::Open(settings, kinds, &result.failure);
    if (!association) {
        result.associationFailed = true;
        return result;
    }

    for (const OutboxEntry& entry : std::as_const(due)) {
        if (hooks.keepGoing && !hooks.keepGoing())
            break;
        if (!kinds.contains(ObjectKind{entry.sopClassUid, entry.transferSyntaxUid}))
            continue; // beyond what one association can offer: the next round takes it
        DcmFileFormat object;
        const OFCondition loaded = object.loadFile(QFile::encodeName(entry.objectFile()).constData());
        if (loaded.bad()) {
            if (!QFile::exists(entry.objectFile()))
                continue;
            ++result.refused;
            recordRefusal(outbox, entry,
                          QStringLiteral("The queued object cannot be read: ") +
                              QString::fromLatin1(loaded.text()),
                          hooks);
            continue;
        }
        const DicomStoreAssociation::StoreOutcome outcome = association->Store(object);
        if (outcome.stored) {
            ++result.sent;
            outbox.Remove(entry.id);
            if (hooks.sent)
                hooks.sent(entry, outcome.text);
        } else if (outcome.associationLost) {
            result.associationFailed = true;
            result.failure = outcome.text;
            break;
        } else {
            ++result.refused;
            recordRefusal(outbox, entry, outcome.text, hooks);
        }
    }
    return result;
}

QDateTime EarliestDue(const PacsOutbox& outbox) {
    QDateTime earliest;
    for (const OutboxEntry& entry : outbox.Entries()) {
        const QDateTime due = entry.nextAttempt.isValid() ? entry.nextAttempt : entry.queued;
        if (!earliest.isValid() || due < earliest)
            earliest = due;
    }
    return earliest;
}

} // namespace pacs
