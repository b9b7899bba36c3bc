#include "pacs/PacsOutbox.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>

namespace pacs {

namespace {

const QString kObjectFile = QStringLiteral("object.dcm");
const QString kEntryFile = QStringLiteral("entry.json");
const QString kEntryUpdate = QStringLiteral(".entry.json.new");
// Hidden names: a half-written entry, and one on its way out.
const QString kNewPrefix = QStringLiteral(".new-");
const QString kGonePrefix = QStringLiteral(".gone-");

QString isoTime(const QDateTime& time) {
    return time.isValid() ? time.toString(Qt::ISODateWithMs) : QString();
}

QByteArray entryJson(const OutboxEntry& entry) {
    const QJsonObject object{
        {QStringLiteral("patientId"), entry.patientId},
        {QStringLiteral("sopClassUid"), entry.sopClassUid},
        {QStringLiteral("sopInstanceUid"), entry.sopInstanceUid},
        {QStringLiteral("transferSyntaxUid"), entry.transferSyntaxUid},
        {QStringLiteral("sourceFile"), entry.sourceFile},
        {QStringLiteral("queued"), isoTime(entry.queued)},
        {QStringLiteral("attempts"), entry.attempts},
        {QStringLiteral("nextAttempt"), isoTime(entry.nextAttempt)},
        {QStringLiteral("lastFailure"), entry.lastFailure},
    };
    return QJsonDocument(object).toJson();
}

std::optional<OutboxEntry> readEntry(const QString& folder, const QString& id, QString* problem) {
    QFile file(folder + QLatin1Char('/') + id + QLatin1Char('/') + kEntryFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = id + QStringLiteral(": ") + file.errorString();
        return std::nullopt;
    }
    QJsonParseError parsed{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parsed);
    if (!document.isObject()) {
        *problem = id + QStringLiteral(": ") + parsed.errorString();
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    OutboxEntry entry;
    entry.id = id;
    entry.folder = folder + QLatin1Char('/') + id;
    entry.patientId = object.value(QStringLiteral("patientId")).toString();
    entry.sopClassUid = object.value(QStringLiteral("sopClassUid")).toString();
    entry.sopInstanceUid = object.value(QStringLiteral("sopInstanceUid")).toString();
    entry.transferSyntaxUid = object.value(QStringLiteral("transferSyntaxUid")).toString();
    entry.sourceFile = object.value(QStringLiteral("sourceFile")).toString();
    entry.queued =
        QDateTime::fromString(object.value(QStringLiteral("queued")).toString(), Qt::ISODateWithMs);
    entry.attempts = object.value(QStringLiteral("attempts")).toInt();
    entry.nextAttempt =
        QDateTime::fromString(object.value(QStringLiteral("nextAttempt")).toString(), Qt::ISODateWithMs);
    entry.lastFailure = object.value(QStringLiteral("lastFailure")).toString();
    return entry;
}

bool isEntryName(const QString& name) {
    return !name.startsWith(QLatin1Char('.'));
}

QString failure(const QString& what, const platform::FileResult& result) {
    return what + QStringLiteral(": ") + result.errorText();
}

} // namespace

PacsOutbox::PacsOutbox(QString folder)
    : m_folder(std::move(folder)) {}

QString PacsOutbox::DefaultFolder() {
    return platform::paths().userStateDirectory() + QStringLiteral("/kelvo/pacs-outbox");
}

QString PacsOutbox::NewEntryId(const QDateTime& time) {
    static std::atomic<int> counter{0};
    return time.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmsszzz")) +
           QStringLiteral("-%1-%2")
               .arg(QCoreApplication::applicationPid())
               .arg(++counter, 6, 10, QLatin1Char('0'));
}

QString PacsOutbox::Add(OutboxEntry entry, const QByteArray& object) {
    if (!QDir().mkpath(m_folder))
        return QStringLiteral("cannot create the outbox folder ") + m_folder;
    const QString building = m_folder + QLatin1Char('/') + kNewPrefix + entry.id;
    const QString final = m_folder + QLatin1Char('/') + entry.id;
    if (!QDir().mkdir(building))
        return QStringLiteral("cannot create the folder ") + building;
    entry.folder = final;
    platform::FileResult result =
        platform::writeSyncedFile(building + QLatin1Char('/') + kObjectFile, object);
    if (result.ok())
        result = platform::writeSyncedFile(building + QLatin1Char('/') + kEntryFile, entryJson(entry));
    if (result.ok())
        result = platform::renameSynced(building, final);
    if (!result.ok()) {
        QDir(building).removeRecursively();
        return failure(QStringLiteral("cannot write the outbox entry ") + final, result);
    }
    return {};
}

QList<OutboxEntry> PacsOutbox::Entries(QStringList* problems) const {
    QStringList names =
        QDir(m_folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    QList<OutboxEntry> entries;
    for (const QString& name : names) {
        if (!isEntryName(name))
            continue;
        QString problem;
        if (std::optional<OutboxEntry> entry = readEntry(m_folder, name, &problem))
            entries.append(*entry);
        else if (problems)
            problems->append(problem);
    }
    return entries;
}

int PacsOutbox::Count() const {
    const QStringList names = QDir(m_folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return int(std::count_if(names.begin(), names.end(), isEntryName));
}

std::optional<OutboxEntry> PacsOutbox::Find(const QString& id) const {
    if (id.isEmpty() || !isEntryName(id) || id.contains(QLatin1Char('/')))
        return std::nullopt;
    QString problem;
    return readEntry(m_folder, id, &problem);
}

QString PacsOutbox::Update(const OutboxEntry& entry) {
    const QString update = entry.folder + QLatin1Char('/') + kEntryUpdate;
    QFile::remove(update);
    platform::FileResult result = platform::writeSyncedFile(update, entryJson(entry));
    if (result.ok())
        result = platform::renameSynced(update, entry.folder + QLatin1Char('/') + kEntryFile);
    if (!result.ok()) {
        QFile::remove(update);
        return failure(QStringLiteral("cannot update the outbox entry ") + entry.folder, result);
    }
    return {};
}

QString PacsOutbox::Remove(const QString& id) {
    const QString entry = m_folder + QLatin1Char('/') + id;
    if (!QFileInfo(entry).isDir())
        return {};
    // Out of the queue in one step; the files go afterwards.
    const QString gone = m_folder + QLatin1Char('/') + kGonePrefix + id;
    if (const platform::FileResult moved = platform::renameSynced(entry, gone); !moved.ok())
        return failure(QStringLiteral("cannot remove the outbox entry ") + entry, moved);
    QDir(gone).removeRecursively();
    return {};
}

void PacsOutbox::RemoveLeftovers(qint64 ageSeconds) {
    const QDateTime now = QDateTime::currentDateTime();
    const QFileInfoList hidden =
        QDir(m_folder).entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : hidden) {
        const bool gone = info.fileName().startsWith(kGonePrefix);
        const bool stale =
            info.fileName().startsWith(kNewPrefix) && info.lastModified().secsTo(now) > ageSeconds;
        if (gone || stale)
            QDir(info.filePath()).removeRecursively();
    }
}

} // namespace pacs
