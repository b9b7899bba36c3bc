// The outbox on the disk: whole entries or none, in the order they were queued, surviving the
// process, and the leftovers of interrupted writers cleared.

#include "TestEnvironment.h"
#include "pacs/PacsOutbox.h"
#include "pacs/PacsSender.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <ctime>
#include <sys/time.h>

using namespace pacs;

namespace {

OutboxEntry entryFor(const QString& id, const QString& patient) {
    OutboxEntry entry;
    entry.id = id;
    entry.patientId = patient;
    entry.sopClassUid = QStringLiteral("1.2.840.10008.5.1.4.1.1.1.1");
    entry.sopInstanceUid = QStringLiteral("2.25.1234");
    entry.transferSyntaxUid = QStringLiteral("1.2.840.10008.1.2.1");
    entry.sourceFile = QStringLiteral("/xray/%1/Rtg%1_1.bmp").arg(patient);
    entry.queued = QDateTime(QDate(2024, 3, 5), QTime(9, 15, 30, 250));
    return entry;
}

QStringList visibleAndHidden(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestPacsOutbox : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_env = std::make_unique<TestEnvironment>(); }
    void cleanup() { m_env.reset(); }

    void defaultFolderFollowsXdgState() {
        QCOMPARE(PacsOutbox::DefaultFolder(), m_env->path(QStringLiteral("state/kelvo/pacs-outbox")));
    }

    void entryKeepsObjectAndDetails() {
        PacsOutbox outbox;
        QCOMPARE(outbox.Count(), 0);
        const QByteArray object("DICM-like bytes \0 with a zero", 30);
        OutboxEntry entry =
            entryFor(PacsOutbox::NewEntryId(QDateTime::currentDateTime()), QStringLiteral("4711"));
        entry.lastFailure = QStringLiteral("not yet");
        QCOMPARE(outbox.Add(entry, object), QString());

        // Read back by another outbox object, as another process would.
        const PacsOutbox again;
        const QList<OutboxEntry> entries = again.Entries();
        QCOMPARE(entries.size(), 1);
        const OutboxEntry& read = entries.first();
        QCOMPARE(read.id, entry.id);
        QCOMPARE(read.folder, again.Folder() + QLatin1Char('/') + entry.id);
        QCOMPARE(read.patientId, QStringLiteral("4711"));
        QCOMPARE(read.sopClassUid, entry.sopClassUid);
        QCOMPARE(read.sopInstanceUid, entry.sopInstanceUid);
        QCOMPARE(read.transferSyntaxUid, entry.transferSyntaxUid);
        QCOMPARE(read.sourceFile, entry.sourceFile);
        QCOMPARE(read.queued, entry.queued);
        QCOMPARE(read.lastFailure, QStringLiteral("not yet"));
        QCOMPARE(read.attempts, 0);
        QVERIFY(!read.nextAttempt.isValid());
        QFile stored(read.objectFile());
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), object);
        // Nothing but the entry is left in the folder.
        QCOMPARE(visibleAndHidden(again.Folder()), QStringList{entry.id});
    }

    void entriesComeInQueueOrder() {
        PacsOutbox outbox;
        const QDateTime start = QDateTime::currentDateTime();
        QStringList ids;
        for (int i = 0; i < 12; ++i)
            ids.append(PacsOutbox::NewEntryId(start.addMSecs(i % 3 == 0 ? 0 : i * 100)));
        // Written in reverse; listed by the time (and within one millisecond, the number) they got.
        for (auto id = ids.crbegin(); id != ids.crend(); ++id)
            QCOMPARE(outbox.Add(entryFor(*id, QStringLiteral("1")), "x"), QString());
        QStringList listed;
        for (const OutboxEntry& entry : outbox.Entries())
            listed.append(entry.id);
        QStringList expected = ids;
        std::sort(expected.begin(), expected.end());
        QCOMPARE(listed, expected);
        QCOMPARE(listed.first(), ids.first());
        QCOMPARE(outbox.Count(), 12);
    }

    void updateAndRemove() {
        PacsOutbox outbox;
        const QString id = PacsOutbox::NewEntryId(QDateTime::currentDateTime());
        QCOMPARE(outbox.Add(entryFor(id, QStringLiteral("5")), "object"), QString());
        OutboxEntry entry = outbox.Entries().first();
        entry.attempts = 3;
        entry.lastFailure = QStringLiteral("The PACS refused the image: Refused: Out of resources (0xa700)");
        entry.nextAttempt = QDateTime(QDate(2030, 1, 1), QTime(12, 0));
        QCOMPARE(outbox.Update(entry), QString());
        const std::optional<OutboxEntry> found = outbox.Find(id);
        QVERIFY(found);
        QCOMPARE(found->attempts, 3);
        QCOMPARE(found->lastFailure, entry.lastFailure);
        QCOMPARE(found->nextAttempt, entry.nextAttempt);
        QCOMPARE(EarliestDue(outbox), entry.nextAttempt);
        QVERIFY(!QFile::exists(entry.folder + QStringLiteral("/.entry.json.new")));

        QCOMPARE(outbox.Remove(id), QString());
        QCOMPARE(outbox.Count(), 0);
        QCOMPARE(visibleAndHidden(outbox.Folder()), QStringList{});
        QCOMPARE(outbox.Remove(id), QString()); // gone already: nothing to do
        QVERIFY(!EarliestDue(outbox).isValid());
    }

    void findTakesOnlyEntryNames_data() {
        QTest::addColumn<QString>("id");
        QTest::newRow("empty") << QString();
        QTest::newRow("a hidden half-written entry") << QStringLiteral(".new-x");
        QTest::newRow("a path out of the folder") << QStringLiteral("../x");
        QTest::newRow("no such entry") << QStringLiteral("20240101T000000000-1-000001");
    }
    void findTakesOnlyEntryNames() {
        QFETCH(QString, id);
        PacsOutbox outbox;
        QDir().mkpath(outbox.Folder() + QStringLiteral("/.new-x"));
        QVERIFY(!outbox.Find(id));
    }

    // A writer that died half-way leaves a hidden folder, which is never an entry; it is cleared once
    // it is old enough that no living writer can still be at it. A removal that died half-way is
    // cleared at once.
    void leftoversOfInterruptedWork() {
        PacsOutbox outbox;
        const QString id = PacsOutbox::NewEntryId(QDateTime::currentDateTime());
        QCOMPARE(outbox.Add(entryFor(id, QStringLiteral("7")), "object"), QString());
        const QString fresh =
            m_env->writeFile(QStringLiteral("state/kelvo/pacs-outbox/.new-fresh/object.dcm"), "half");
        const QString old =
            m_env->writeFile(QStringLiteral("state/kelvo/pacs-outbox/.new-old/object.dcm"), "half");
        m_env->writeFile(QStringLiteral("state/kelvo/pacs-outbox/.gone-earlier/object.dcm"), "sent");
        const timeval anHourAgo{::time(nullptr) - 3600, 0};
        const timeval times[2] = {anHourAgo, anHourAgo};
        QCOMPARE(::utimes(QFile::encodeName(QFileInfo(old).absolutePath()).constData(), times), 0);

        QCOMPARE(outbox.Count(), 1);
        QStringList problems;
        QCOMPARE(outbox.Entries(&problems).size(), 1);
        QCOMPARE(problems, QStringList{});

        outbox.RemoveLeftovers(600);
        QCOMPARE(visibleAndHidden(outbox.Folder()), (QStringList{QStringLiteral(".new-fresh"), id}));
        QVERIFY(QFile::exists(fresh));
    }

    void unreadableEntryIsNamedAndPassedOver() {
        PacsOutbox outbox;
        const QString good = PacsOutbox::NewEntryId(QDateTime::currentDateTime());
        QCOMPARE(outbox.Add(entryFor(good, QStringLiteral("8")), "object"), QString());
        m_env->writeFile(QStringLiteral("state/kelvo/pacs-outbox/20000101T000000000-1-000001/entry.json"),
                         "{ broken");
        QStringList problems;
        const QList<OutboxEntry> entries = outbox.Entries(&problems);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().id, good);
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems.first().startsWith(QStringLiteral("20000101T000000000-1-000001: ")),
                 qPrintable(problems.first()));
    }

    void entryThatCannotBeWrittenLeavesNothing() {
        // A file where the outbox folder should be: nothing can be created under it, not even by root.
        m_env->writeFile(QStringLiteral("state/kelvo/pacs-outbox"), "in the way");
        PacsOutbox outbox;
        const QString failure = outbox.Add(
            entryFor(PacsOutbox::NewEntryId(QDateTime::currentDateTime()), QStringLiteral("1")), "x");
        QCOMPARE(failure, QStringLiteral("cannot create the outbox folder ") + outbox.Folder());
        QCOMPARE(outbox.Count(), 0);
        QVERIFY(QFileInfo(outbox.Folder()).isFile());
    }

    void retryPausesGrowToTheirLimit_data() {
        QTest::addColumn<int>("failures");
        QTest::addColumn<qint64>("pause");
        QTest::newRow("first failure") << 1 << qint64(2);
        QTest::newRow("second") << 2 << qint64(4);
        QTest::newRow("fifth") << 5 << qint64(32);
        QTest::newRow("sixth reaches the limit") << 6 << qint64(60);
        QTest::newRow("many") << 1000 << qint64(60);
    }
    void retryPausesGrowToTheirLimit() {
        QFETCH(int, failures);
        QFETCH(qint64, pause);
        QCOMPARE(RetryPauseSeconds(failures, kFirstRoundPause, kLongestRoundPause), pause);
    }

private:
    std::unique_ptr<TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestPacsOutbox)
#include "tst_pacsoutbox.moc"
