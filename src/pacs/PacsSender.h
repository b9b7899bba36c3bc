#pragma once

// One round of sending the outbox: the entries that are due go to the PACS over one association;
// each one the PACS stores leaves the queue. Used by the program's sending thread and by
// ravlek-outbox alike; one process at a time sends (a lock file in the outbox folder).

#include "pacs/PacsOutbox.h"
#include "pacs/PacsSettings.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace pacs {

// The pause before the next try: doubling from `first` with each failure in a row, up to `longest`.
qint64 RetryPauseSeconds(int failuresInARow, qint64 first, qint64 longest);

// Pauses after the association failed (the PACS down or refusing), and after the PACS refused one
// object (which is rarely better a moment later).
inline constexpr qint64 kFirstRoundPause = 2;
inline constexpr qint64 kLongestRoundPause = 60;
inline constexpr qint64 kFirstEntryPause = 30;
inline constexpr qint64 kLongestEntryPause = 3600;

struct SendRoundHooks {
    std::function<bool()> keepGoing; // asked before each entry; none: always
    std::function<void(const OutboxEntry&, const QString& warning)> sent;
    std::function<void(const OutboxEntry&, const QString& failure)> refused;
};

struct SendRoundResult {
    bool busy = false; // another process is sending the outbox now
    int sent = 0;
    int refused = 0;                // entries the PACS refused (or that could not be read)
    bool associationFailed = false; // the PACS could not be reached, refused, or the transfer broke off
    QString failure;                // that failure, in words
};

// Sends the entries that are due at `now` (every entry when `now` is invalid). `lockWaitMs`:
// how long to wait for another sending process.
SendRoundResult SendOutbox(PacsOutbox& outbox, const PacsSettings& settings, const QDateTime& now,
                           const SendRoundHooks& hooks = {}, int lockWaitMs = 0);

// When the earliest entry left in the outbox is due; invalid when the outbox is empty.
QDateTime EarliestDue(const PacsOutbox& outbox);

} // namespace pacs
