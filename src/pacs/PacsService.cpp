#include "pacs/PacsService.h"

#include "pacs/DicomImage.h"
#include "pacs/DicomStore.h"
#include "pacs/PacsLog.h"
#include "pacs/PacsOutbox.h"
#include "pacs/PacsSender.h"

#include <QFile>
#include <QFileInfo>

#include <dcmtk/dcmdata/dcfilefo.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace pacs {

namespace {

using Clock = std::chrono::steady_clock;

// How long a closing program keeps sending what is queued.
constexpr std::chrono::seconds kClosingGrace{15};
// How soon to look again when another process was sending the outbox.
constexpr std::chrono::seconds kBusyPause{5};
// "Never", for a sender with nothing to do; woken by new entries or new settings.
constexpr std::chrono::hours kIdle{24};

Clock::time_point steadyTimeOf(const QDateTime& time) {
    const qint64 ms = QDateTime::currentDateTime().msecsTo(time);
    return Clock::now() + std::chrono::milliseconds(std::max<qint64>(ms, 0));
}

struct Request {
    StoredImage image;
    std::unique_ptr<QFile> file; // opened at the hand-off: the image may be renamed afterwards
    QString entryId;
};

struct Series {
    QString uid;
    int number = 0;
    int nextInstance = 1;
};

QString suffixOf(const QString& fileName) {
    return QFileInfo(fileName).suffix().toLower();
}

} // namespace

struct PacsService::Private {
    PacsService* q = nullptr;
    PacsOutbox outbox;
    // The writer's own: the session's study and the series of each device.
    const QString studyUid = NewDicomUid();
    const QDateTime studyStarted = QDateTime::currentDateTime();
    std::map<QString, Series> series;

    mutable std::mutex mutex;
    std::condition_variable writerWake;
    std::condition_variable senderWake;
    std::deque<Request> requests;
    std::vector<Request> held; // the window's thread's own
    PacsSettings settings;
    bool stopping = false;
    bool writerDone = false;
    bool senderPoked = false;
    Clock::time_point stopDeadline;
    int waiting = 0;
    QString lastFailure;
    std::thread writer;
    std::thread sender;

    explicit Private(const QString& folder)
        : outbox(folder) {}

    void startThreads();
    void releaseHeld();
    void writerLoop();
    void senderLoop();
    QString makeEntry(Request& request);
    QString makeObject(const StoredImage& image, const QByteArray& bytes, OutboxEntry* entry,
                       QByteArray* object);
    ImageDescription describe(const StoredImage& image, const PixelImage& pixels);
    bool keepSending() const;
    void announceCount();
    void announceFailure(const QString& failure);
};

PacsService::PacsService(const PacsSettings& settings, const QString& outboxFolder, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>(outboxFolder)) {
    d->q = this;
    d->waiting = d->outbox.Count();
    SetSettings(settings);
}

PacsService::~PacsService() {
    d->releaseHeld();
    {
        const std::lock_guard lock(d->mutex);
        d->stopping = true;
        d->stopDeadline = Clock::now() + kClosingGrace;
    }
    d->writerWake.notify_all();
    d->senderWake.notify_all();
    if (d->writer.joinable())
        d->writer.join();
    if (d->sender.joinable())
        d->sender.join();
}

void PacsService::SetSettings(const PacsSettings& settings) {
    {
        const std::lock_guard lock(d->mutex);
        d->settings = settings;
        d->senderPoked = true;
    }
    if (settings.enabled())
        d->startThreads();
    d->senderWake.notify_all();
}

PacsSettings PacsService::Settings() const {
    const std::lock_guard lock(d->mutex);
    return d->settings;
}

int PacsService::WaitingCount() const {
    const std::lock_guard lock(d->mutex);
    return d->waiting;
}

QString PacsService::LastFailure() const {
    const std::lock_guard lock(d->mutex);
    return d->lastFailure;
}

bool PacsService::ImageStored(const StoredImage& image) {
    if (!Settings().enabled())
        return false;
    auto file = std::make_unique<QFile>(image.fileName);
    if (!file->open(QIODevice::ReadOnly)) {
        qCWarning(lcPacs).noquote()
            << QStringLiteral("Cannot queue %1 for the PACS: %2").arg(image.fileName, file->errorString());
        return false;
    }
    // Handed to the writer once this thread is back in its event loop: the hand-off around this
    // call, the host's message included, never shares the processor with making the object.
    d->held.push_back(Request{image, std::move(file), PacsOutbox::NewEntryId(QDateTime::currentDateTime())});
    if (d->held.size() == 1)
        QMetaObject::invokeMethod(
            this, [this] { d->releaseHeld(); }, Qt::QueuedConnection);
    return true;
}

void PacsService::Private::releaseHeld() {
    if (held.empty())
        return;
    {
        const std::lock_guard lock(mutex);
        for (Request& request : held)
            requests.push_back(std::move(request));
    }
    held.clear();
    writerWake.notify_one();
}

// ---- Threads ----------------------------------------------------------------------------

void PacsService::Private::startThreads() {
    if (writer.joinable())
        return;
    outbox.RemoveLeftovers();
    writer = std::thread([this] { writerLoop(); });
    sender = std::thread([this] { senderLoop(); });
}

void PacsService::Private::announceCount() {
    const int count = outbox.Count();
    {
        const std::lock_guard lock(mutex);
        waiting = count;
    }
    QMetaObject::invokeMethod(
        q, [service = q, count] { Q_EMIT service->WaitingChanged(count); }, Qt::QueuedConnection);
}

void PacsService::Private::announceFailure(const QString& failure) {
    {
        const std::lock_guard lock(mutex);
        lastFailure = failure;
    }
    if (!failure.isEmpty())
        QMetaObject::invokeMethod(
            q, [service = q, failure] { Q_EMIT service->SendFailed(failure); }, Qt::QueuedConnection);
}

void PacsService::Private::writerLoop() {
    for (;;) {
        Request request;
        {
            std::unique_lock lock(mutex);
            writerWake.wait(lock, [this] { return !requests.empty() || stopping; });
            if (requests.empty()) {
                writerDone = true;
                senderWake.notify_all();
                return;
            }
            request = std::move(requests.front());
            requests.pop_front();
        }
        const QString failure = makeEntry(request);
        if (!failure.isEmpty()) {
            qCWarning(lcPacs).noquote()
                << QStringLiteral("Cannot queue %1 for the PACS: %2").arg(request.image.fileName, failure);
            continue;
        }
        {
            const std::lock_guard lock(mutex);
            senderPoked = true;
        }
        senderWake.notify_all();
        announceCount();
    }
}

bool PacsService::Private::keepSending() const {
    const std::lock_guard lock(mutex);
    return !stopping || Clock::now() < stopDeadline;
}

void PacsService::Private::senderLoop() {
    int failuresInARow = 0;
    QString reportedFailure;
    Clock::time_point nextRound = Clock::now();
    SendRoundHooks hooks;
    hooks.keepGoing = [this] { return keepSending(); };
    hooks.sent = [this](const OutboxEntry& entry, const QString& warning) {
        qCInfo(lcPacs).noquote() << QStringLiteral("Sent %1 to the PACS as %2%3")
                                        .arg(entry.sourceFile, entry.sopInstanceUid,
                                             warning.isEmpty() ? QString() : QStringLiteral("; ") + warning);
        QMetaObject::invokeMethod(
            q,
            [service = q, uid = entry.sopInstanceUid, file = entry.sourceFile] {
                Q_EMIT service->Sent(uid, file);
            },
            Qt::QueuedConnection);
    };
    hooks.refused = [this](const OutboxEntry& entry, const QString& failure) {
        qCWarning(lcPacs).noquote() << QStringLiteral(
                                           "Not sent: %1 (%2): %3 It stays in the outbox and is tried "
                                           "again at %4.")
                                           .arg(entry.sourceFile, entry.sopInstanceUid, failure,
                                                entry.nextAttempt.toString(Qt::ISODate));
        announceFailure(failure);
    };

    for (;;) {
        PacsSettings current;
        bool closing = false;
        {
            std::unique_lock lock(mutex);
            senderWake.wait_until(lock, nextRound, [this] { return senderPoked || writerDone; });
            closing = writerDone;
            senderPoked = false;
            current = settings;
        }
        // A closing program sends what is queued only while the PACS has not been failing.
        if (!current.enabled() || (closing && failuresInARow > 0)) {
            if (closing)
                return;
            nextRound = Clock::now() + kIdle;
            continue;
        }
        const SendRoundResult round = SendOutbox(outbox, current, QDateTime::currentDateTime(), hooks);
        if (round.busy) {
            nextRound = Clock::now() + kBusyPause;
        } else if (round.associationFailed) {
            ++failuresInARow;
            const qint64 pause = RetryPauseSeconds(failuresInARow, kFirstRoundPause, kLongestRoundPause);
            nextRound = Clock::now() + std::chrono::seconds(pause);
            // Told once, not at every try while the PACS stays away.
            if (round.failure != reportedFailure)
                qCWarning(lcPacs).noquote()
                    << QStringLiteral("%1 Images waiting in the outbox: %2. %3")
                           .arg(round.failure)
                           .arg(outbox.Count())
                           .arg(closing ? QStringLiteral("They are sent at the next start.")
                                        : QStringLiteral("The next try follows in %1 s; the "
                                                         "pauses grow to %2 s.")
                                              .arg(pause)
                                              .arg(kLongestRoundPause));
            reportedFailure = round.failure;
            announceFailure(round.failure);
        } else {
            if (failuresInARow > 0)
                qCInfo(lcPacs).noquote()
                    << QStringLiteral("The PACS %1 can be reached again.").arg(current.describe());
            failuresInARow = 0;
            reportedFailure.clear();
            if (round.refused == 0)
                announceFailure({});
            const QDateTime due = EarliestDue(outbox);
            nextRound = due.isValid() ? steadyTimeOf(due) : Clock::now() + kIdle;
        }
        // Counted after the failure is known, so that whoever shows the count shows it too.
        if (round.sent > 0 || round.refused > 0)
            announceCount();
        if (closing)
            return;
    }
}

// ---- Making the objects -----------------------------------------------------------------

QString PacsService::Private::makeEntry(Request& request) {
    const QByteArray bytes = request.file->readAll();
    if (request.file->error() != QFileDevice::NoError)
        return request.file->errorString();
    request.file.reset();

    OutboxEntry entry;
    entry.id = request.entryId;
    entry.patientId = request.image.patientId;
    entry.sourceFile = request.image.fileName;
    entry.queued = QDateTime::currentDateTime();
    QByteArray object;
    if (QString failure = makeObject(request.image, bytes, &entry, &object); !failure.isEmpty())
        return failure;
    if (QString failure = outbox.Add(entry, object); !failure.isEmpty())
        return failure;
    qCInfo(lcPacs).noquote() << QStringLiteral("Queued %1 for the PACS as %2 (%3)")
                                    .arg(entry.sourceFile, entry.sopInstanceUid,
                                         SopClassName(entry.sopClassUid));
    return {};
}

QString PacsService::Private::makeObject(const StoredImage& image, const QByteArray& bytes,
                                         OutboxEntry* entry, QByteArray* object) {
    const QString suffix = suffixOf(image.fileName);
    QString error;
    std::unique_ptr<DcmFileFormat> file;
    if (suffix == QStringLiteral("dcm")) {
        bool changed = false;
        file = ReadDeviceDicom(bytes, image.patientId, &changed, &error);
        if (!file)
            return error;
        // The device's own file goes as it is; only an empty Patient ID is filled in.
        *object = changed ? DicomFileBytes(*file, &error) : bytes;
    } else {
        PixelImage pixels;
        if (suffix == QStringLiteral("bmp"))
            pixels = ReadDibImage(bytes, &error);
        else if (suffix == QStringLiteral("raw"))
            pixels = ReadRawImage(bytes, RawGeometryFromParameters(image.parameters), &error);
        else
            error = QStringLiteral("images of the kind \"%1\" are not sent").arg(suffix);
        if (!error.isEmpty())
            return error;
        file = MakeDicomImage(pixels, describe(image, pixels), &error);
        if (!file)
            return error;
        *object = DicomFileBytes(*file, &error);
    }
    if (!error.isEmpty())
        return error;
    const ObjectKind kind = KindOf(*file);
    entry->sopClassUid = kind.sopClassUid;
    entry->transferSyntaxUid = kind.transferSyntaxUid;
    entry->sopInstanceUid = SopInstanceUidOf(*file);
    return {};
}

ImageDescription PacsService::Private::describe(const StoredImage& image, const PixelImage& pixels) {
    Series& deviceSeries = series[QString::number(image.deviceType) + QLatin1Char('/') + image.deviceLabel];
    if (deviceSeries.uid.isEmpty()) {
        deviceSeries.uid = NewDicomUid();
        deviceSeries.number = int(series.size());
    }
    ImageDescription description;
    description.patientId = image.patientId;
    description.category = CategoryOfDevice(image.deviceType, image.imageType);
    description.manufacturer = image.manufacturer;
    description.modelName = image.modelName;
    description.softwareVersions = image.scannerVersion;
    description.stationName = image.deviceLabel.isEmpty() ? image.workstationName : image.deviceLabel;
    // The spacing follows the resolution the journal program is told; the bitmap's own
    // resolution serves when there is none.
    description.pixelSizeMm = image.resolutionDpi > 0 ? 25.4 / image.resolutionDpi : pixels.pixelSizeMm;
    description.magnification = image.magnification;
    description.acquired = image.acquired;
    description.studyStarted = studyStarted;
    description.studyInstanceUid = studyUid;
    description.seriesInstanceUid = deviceSeries.uid;
    description.sopInstanceUid = NewDicomUid();
    description.seriesNumber = deviceSeries.number;
    description.instanceNumber = deviceSeries.nextInstance++;
    return description;
}

} // namespace pacs
