// The log for support: the rotated file (its size cap, no record lost or torn while several
// writers cross a rotation), the journal's native protocol as a journal receives it (on a socket
// of the test's own), the choice between the two, the masking of logins, and the handler that
// ties Qt's logging to the sink.

#include "platform/JournalLogSink.h"
#include "platform/Logging.h"
#include "platform/RotatingFileLogSink.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>
#include <QtEndian>
#include <QtTest>

#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using platform::JournalLogSink;
using platform::LogRecord;
using platform::RotatingFileLogSink;
using platform::UniqueFd;

namespace {

LogRecord record(const QString& message, QtMsgType type = QtInfoMsg,
                 const QString& category = QStringLiteral("ravlek.handoff")) {
    LogRecord r;
    r.type = type;
    r.category = category;
    r.message = message;
    r.program = QStringLiteral("ravlek");
    r.processId = 4242;
    r.time = QDateTime::currentDateTime();
    return r;
}

// The log file and the rotated ones, oldest first: "<path>.<n>", ..., "<path>.1", "<path>".
QStringList filesOldestFirst(const QString& path) {
    QStringList files;
    if (QFileInfo::exists(path))
        files.append(path);
    for (int n = 1; QFileInfo::exists(path + QLatin1Char('.') + QString::number(n)); ++n)
        files.prepend(path + QLatin1Char('.') + QString::number(n));
    return files;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The fields of one record in the journal's native format; nothing when it is malformed.
std::optional<QMap<QByteArray, QByteArray>> parseJournalFields(const QByteArray& data) {
    QMap<QByteArray, QByteArray> fields;
    qsizetype at = 0;
    while (at < data.size()) {
        const qsizetype end = data.indexOf('\n', at);
        if (end < 0)
            return std::nullopt;
        const QByteArray line = data.mid(at, end - at);
        if (const qsizetype equals = line.indexOf('='); equals >= 0) {
            fields.insert(line.left(equals), line.mid(equals + 1));
            at = end + 1;
            continue;
        }
        // A name alone: the value's size follows, 64-bit little-endian, then the value and "\n".
        if (end + 9 > data.size())
            return std::nullopt;
        const quint64 size = qFromLittleEndian<quint64>(data.constData() + end + 1);
        const qsizetype valueStart = end + 9;
        if (size > quint64(data.size() - valueStart - 1) || data.at(valueStart + qsizetype(size)) != '\n')
            return std::nullopt;
        fields.insert(line, data.mid(valueStart, qsizetype(size)));
        at = valueStart + qsizetype(size) + 1;
    }
    return fields;
}

// A journal of the test's own: a datagram socket bound at `path` that hands back what
// arrives, the records passed in a memory file included.
class JournalStandIn {
public:
    explicit JournalStandIn(const QString& path)
        : m_path(path) {
        bind();
    }
    ~JournalStandIn() { ::unlink(QFile::encodeName(m_path).constData()); }

    // Goes away and comes back under the same name, as a restarted journal does.
    void restart() {
        m_socket.reset();
        ::unlink(QFile::encodeName(m_path).constData());
        bind();
    }

    struct Received {
        QByteArray data;
        bool inMemoryFile = false;
        bool sealed = false;
    };

    std::optional<Received> receive(int timeoutMs = 5000) {
        pollfd ready{m_socket.get(), POLLIN, 0};
        if (::poll(&ready, 1, timeoutMs) != 1)
            return std::nullopt;
        QByteArray buffer(256 * 1024, '\0');
        iovec part{buffer.data(), std::size_t(buffer.size())};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = ::recvmsg(m_socket.get(), &message, MSG_CMSG_CLOEXEC);
        if (size < 0)
            return std::nullopt;
        Received received;
        received.data = buffer.left(size);
        if (const cmsghdr* header = CMSG_FIRSTHDR(&message);
            header && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
            const UniqueFd memory(fd);
            received.inMemoryFile = true;
            const int seals = ::fcntl(memory.get(), F_GET_SEALS);
            received.sealed = seals >= 0 && (seals & F_SEAL_WRITE) && (seals & F_SEAL_SHRINK);
            struct stat status {};
            ::fstat(memory.get(), &status);
            received.data = QByteArray(qsizetype(status.st_size), '\0');
            if (::pread(memory.get(), received.data.data(), std::size_t(status.st_size), 0) != status.st_size)
                return std::nullopt;
        }
        return received;
    }

private:
    void bind() {
        m_socket = UniqueFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(m_path);
        std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
        if (::bind(m_socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            qFatal("cannot bind the test's journal socket %s", path.constData());
    }

    QString m_path;
    UniqueFd m_socket;
};

} // namespace

class tst_Logging : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fileLine();
    void fileRotationLosesNothing_data();
    void fileRotationLosesNothing();
    void oldestRotatedFilesGo();
    void overlongRecordIsCut();
    void fileIsPrivateAndFolderIsMade();
    void journalFields_data();
    void journalFields();
    void journalTakesLargeRecordInMemoryFile();
    void journalRestartIsFollowed();
    void defaultSinkChoice_data();
    void defaultSinkChoice();
    void maskSecrets_data();
    void maskSecrets();
    void handlerWritesWhatIsEnabledMasked();
};

void tst_Logging::fileLine() {
    LogRecord r =
        record(QStringLiteral("first\r\rsecond\nthird"), QtWarningMsg, QStringLiteral("ravlek.dialog"));
    r.time = QDateTime(QDate(2024, 5, 2), QTime(14, 3, 11, 482), QTimeZone(7200));
    const QByteArray line = RotatingFileLogSink::line(r);
    QVERIFY2(QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d) )"))
                 .match(QString::fromUtf8(line))
                 .hasMatch(),
             line.constData());
    // The same moment, whatever this computer's time zone.
    QCOMPARE(QDateTime::fromString(QString::fromUtf8(line.left(line.indexOf(' '))), Qt::ISODateWithMs),
             r.time);
    QCOMPARE(line.mid(line.indexOf(' ') + 1),
             QByteArray("ravlek[4242] warning ravlek.dialog: first\\r\\rsecond\\nthird\n"));
}

void tst_Logging::fileRotationLosesNothing_data() {
    QTest::addColumn<int>("writers"); // each with a sink of its own, as separate programs have
    QTest::addColumn<int>("records"); // per writer
    QTest::addColumn<qint64>("cap");
    QTest::newRow("one writer") << 1 << 400 << qint64(4096);
    QTest::newRow("four writers at once") << 4 << 200 << qint64(4096);
    QTest::newRow("cap of a few records") << 3 << 100 << qint64(300);
}

// Every record is in one of the files, whole, and each writer's records follow one another
// in order from the oldest file to the newest, while no file passes the cap.
void tst_Logging::fileRotationLosesNothing() {
    QFETCH(int, writers);
    QFETCH(int, records);
    QFETCH(qint64, cap);
    TestEnvironment env;
    const QString path = env.path(QStringLiteral("ravlek.log"));
    const int keptFiles = 1000; // enough for every record: none may go

    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            RotatingFileLogSink sink(path, cap, keptFiles);
            for (int n = 0; n < records; ++n)
                if (!sink.write(
                        record(QStringLiteral("writer %1 record %2 ").arg(w).arg(n) + QString(40, u'x'))))
                    ++failures;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(failures.load(), 0);

    const QStringList files = filesOldestFirst(path);
    QVERIFY(files.size() > 2);
    QList<int> next(writers, 0);
    const QRegularExpression recordLine(
        QStringLiteral(R"(^\S+ ravlek\[4242\] info ravlek\.handoff: writer (\d+) record (\d+) x{40}$)"));
    for (const QString& file : files) {
        QVERIFY2(QFileInfo(file).size() <= cap, qPrintable(file));
        const QByteArray content = readAll(file);
        QVERIFY2(content.endsWith('\n'), qPrintable(file));
        for (const QByteArray& line : content.chopped(1).split('\n')) {
            const QRegularExpressionMatch match = recordLine.match(QString::fromUtf8(line));
            QVERIFY2(match.hasMatch(), line.constData());
            const int writer = match.captured(1).toInt();
            QCOMPARE(match.captured(2).toInt(), next[writer]);
            ++next[writer];
        }
    }
    QCOMPARE(next, QList<int>(writers, records));
}

void tst_Logging::oldestRotatedFilesGo() {
    TestEnvironment env;
    const QString path = env.path(QStringLiteral("ravlek.log"));
    RotatingFileLogSink sink(path, 1000, 2);
    for (int n = 0; n < 200; ++n)
        QVERIFY(sink.write(record(QStringLiteral("record %1").arg(n))));
    QCOMPARE(filesOldestFirst(path),
             (QStringList{path + QStringLiteral(".2"), path + QStringLiteral(".1"), path}));
    // What is left are the newest records, without a gap.
    QStringList numbers;
    for (const QString& file : filesOldestFirst(path))
        for (const QByteArray& line : readAll(file).chopped(1).split('\n'))
            numbers.append(QString::fromUtf8(line.mid(line.lastIndexOf(' ') + 1)));
    QCOMPARE(numbers.last(), QStringLiteral("199"));
    for (qsizetype i = 1; i < numbers.size(); ++i)
        QCOMPARE(numbers.at(i).toInt(), numbers.at(i - 1).toInt() + 1);
    QVERIFY(numbers.first().toInt() > 0);
}

void tst_Logging::overlongRecordIsCut() {
    TestEnvironment env;
    const QString path = env.path(QStringLiteral("ravlek.log"));
    RotatingFileLogSink sink(path);
    QVERIFY(sink.write(record(QStringLiteral("short"))));
    // Two-byte characters, so that the cut must not split one.
    QVERIFY(sink.write(record(QString(200 * 1024, u'ä'))));
    QVERIFY(sink.write(record(QStringLiteral("after"))));
    const QList<QByteArray> lines = readAll(path).chopped(1).split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(1).size() < RotatingFileLogSink::kMaxRecordBytes);
    QVERIFY2(QRegularExpression(QStringLiteral(R"(ä \[cut: \d+ more bytes\]$)"))
                 .match(QString::fromUtf8(lines.at(1)))
                 .hasMatch(),
             lines.at(1).right(40).constData());
    QVERIFY(!QString::fromUtf8(lines.at(1)).contains(QChar::ReplacementCharacter));
    QVERIFY(lines.at(2).endsWith(" after"));
}

void tst_Logging::fileIsPrivateAndFolderIsMade() {
    TestEnvironment env;
    const QString path = env.path(QStringLiteral("state/kelvo/deeper/ravlek.log"));
    RotatingFileLogSink sink(path, 200, 1);
    QVERIFY(sink.write(record(QStringLiteral("first"))));
    for (int n = 0; n < 10; ++n)
        QVERIFY(sink.write(record(QStringLiteral("more"))));
    for (const QString& file : filesOldestFirst(path))
        QCOMPARE(QFileInfo(file).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
}

void tst_Logging::journalFields_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("priority");
    QTest::newRow("debug") << int(QtDebugMsg) << QByteArray("7");
    QTest::newRow("info") << int(QtInfoMsg) << QByteArray("6");
    QTest::newRow("warning") << int(QtWarningMsg) << QByteArray("4");
    QTest::newRow("critical") << int(QtCriticalMsg) << QByteArray("3");
    QTest::newRow("fatal") << int(QtFatalMsg) << QByteArray("2");
}

void tst_Logging::journalFields() {
    QFETCH(int, type);
    QFETCH(QByteArray, priority);
    TestEnvironment env;
    JournalStandIn journal(env.path(QStringLiteral("journal.socket")));
    JournalLogSink sink(env.path(QStringLiteral("journal.socket")));
    QVERIFY(sink.connected());
    QCOMPARE(sink.destination(), QStringLiteral("the journal"));

    LogRecord r = record(QStringLiteral("Stored Rtg4711_1.bmp\nsecond line åäö"), QtMsgType(type));
    r.file = QStringLiteral("src/app/ImageHandOff.cpp");
    r.line = 212;
    r.function = QStringLiteral("HandOffImage");
    QVERIFY(sink.write(r));
    const auto received = journal.receive();
    QVERIFY(received);
    QVERIFY(!received->inMemoryFile);
    const auto fields = parseJournalFields(received->data);
    QVERIFY2(fields, received->data.constData());
    QCOMPARE(fields->value("MESSAGE"), QStringLiteral("Stored Rtg4711_1.bmp\nsecond line åäö").toUtf8());
    QCOMPARE(fields->value("PRIORITY"), priority);
    QCOMPARE(fields->value("SYSLOG_IDENTIFIER"), QByteArray("ravlek"));
    QCOMPARE(fields->value("QT_CATEGORY"), QByteArray("ravlek.handoff"));
    QCOMPARE(fields->value("CODE_FILE"), QByteArray("src/app/ImageHandOff.cpp"));
    QCOMPARE(fields->value("CODE_LINE"), QByteArray("212"));
    QCOMPARE(fields->value("CODE_FUNC"), QByteArray("HandOffImage"));
}

void tst_Logging::journalTakesLargeRecordInMemoryFile() {
    TestEnvironment env;
    JournalStandIn journal(env.path(QStringLiteral("journal.socket")));
    JournalLogSink sink(env.path(QStringLiteral("journal.socket")));
    // Larger than any datagram the system lets a socket send.
    const QString message = QString(1024 * 1024, u'x') + QStringLiteral("end");
    QVERIFY(sink.write(record(message)));
    const auto received = journal.receive();
    QVERIFY(received);
    QVERIFY(received->inMemoryFile);
    QVERIFY(received->sealed);
    const auto fields = parseJournalFields(received->data);
    QVERIFY(fields);
    QCOMPARE(fields->value("MESSAGE"), message.toUtf8());
    QCOMPARE(fields->value("SYSLOG_IDENTIFIER"), QByteArray("ravlek"));
}

void tst_Logging::journalRestartIsFollowed() {
    TestEnvironment env;
    JournalStandIn journal(env.path(QStringLiteral("journal.socket")));
    JournalLogSink sink(env.path(QStringLiteral("journal.socket")));
    QVERIFY(sink.write(record(QStringLiteral("before"))));
    QVERIFY(journal.receive());
    journal.restart();
    QVERIFY(sink.write(record(QStringLiteral("after"))));
    const auto received = journal.receive();
    QVERIFY(received);
    QCOMPARE(parseJournalFields(received->data)->value("MESSAGE"), QByteArray("after"));
}

void tst_Logging::defaultSinkChoice_data() {
    QTest::addColumn<bool>("journalListens");
    QTest::addColumn<QString>("stateHome"); // XDG_STATE_HOME; "<root>" the test's folder
    QTest::addColumn<QString>("destination");
    QTest::newRow("journal") << true << QStringLiteral("<root>/state") << QStringLiteral("the journal");
    QTest::newRow("no journal") << false << QStringLiteral("<root>/state")
                                << QStringLiteral("<root>/state/kelvo/ravlek.log");
    QTest::newRow("no journal, relative XDG_STATE_HOME ignored")
        << false << QStringLiteral("state") << QStringLiteral("<root>/home/.local/state/kelvo/ravlek.log");
}

void tst_Logging::defaultSinkChoice() {
    QFETCH(bool, journalListens);
    QFETCH(QString, stateHome);
    QFETCH(QString, destination);
    TestEnvironment env;
    env.setVariable("HOME", env.makeFolder(QStringLiteral("home")));
    env.setVariable("XDG_STATE_HOME", stateHome.replace(QStringLiteral("<root>"), env.root()));
    const QString socket = env.path(QStringLiteral("journal.socket"));
    env.setVariable("KELVO_JOURNAL_SOCKET", socket);
    std::optional<JournalStandIn> journal;
    if (journalListens)
        journal.emplace(socket);
    const std::unique_ptr<platform::LogSink> sink = platform::LogSink::makeDefault();
    QCOMPARE(sink->destination(), destination.replace(QStringLiteral("<root>"), env.root()));
    QVERIFY(sink->write(record(QStringLiteral("chosen"))));
    if (journal)
        QVERIFY(journal->receive());
    else
        QVERIFY(readAll(sink->destination()).endsWith("chosen\n"));
}

void tst_Logging::maskSecrets_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("masked");
    QTest::newRow("SQL Server data link")
        << QStringLiteral("Provider=SQLOLEDB.1;Password=S3cr3t!x;Persist Security Info=True;User ID=kelvo;"
                          "Initial Catalog=Practice;Data Source=SERVER\\SQL")
        << QStringLiteral("Provider=SQLOLEDB.1;Password=****;Persist Security Info=True;User ID=****;"
                          "Initial Catalog=Practice;Data Source=SERVER\\SQL");
    QTest::newRow("PostgreSQL data link, at the end")
        << QStringLiteral("Provider=PostgreSQL;Data Source=db.practice.lan:5432;Initial Catalog=ravlek;"
                          "user id=Ann Berg;password=tre ord här")
        << QStringLiteral("Provider=PostgreSQL;Data Source=db.practice.lan:5432;Initial Catalog=ravlek;"
                          "user id=****;password=****");
    QTest::newRow("quoted values") << QStringLiteral(
                                          R"(Password="a;b""c";User ID='ann o''neil';Data Source=x)")
                                   << QStringLiteral("Password=****;User ID=****;Data Source=x");
    QTest::newRow("ODBC keys, braces")
        << QStringLiteral("Driver={FreeTDS};Server=db;UID=sa;PWD={p;w}}d};Database=x")
        << QStringLiteral("Driver={FreeTDS};Server=db;UID=****;PWD=****;Database=x");
    QTest::newRow("nested in extended properties")
        << QStringLiteral(R"(Provider=MSDASQL;Extended Properties="DSN=x;UID=ann;PWD=hemligt")")
        << QStringLiteral(R"(Provider=MSDASQL;Extended Properties="DSN=x;UID=****;PWD=****)");
    QTest::newRow("blanks around =") << QStringLiteral("User Name = ann ; Pwd= hemligt")
                                     << QStringLiteral("User Name = ****; Pwd= ****");
    QTest::newRow("empty password stays empty")
        << QStringLiteral("Password=;User ID=ann") << QStringLiteral("Password=;User ID=****");
    QTest::newRow("URL login") << QStringLiteral("could not reach postgresql://ann:hemligt@db:5432/ravlek")
                               << QStringLiteral("could not reach postgresql://****:****@db:5432/ravlek");
    QTest::newRow("in a message box text")
        << QStringLiteral("Det gick inte att återansluta TfrmSettings.Database1!\rConnectionString = "
                          "Provider=SQLite;Password=hemligt\r\r")
        << QStringLiteral("Det gick inte att återansluta TfrmSettings.Database1!\rConnectionString = "
                          "Provider=SQLite;Password=****\r\r");
    QTest::newRow("PostgreSQL's refusal")
        << QStringLiteral(R"(FATAL:  password authentication failed for user "ann berg")")
        << QStringLiteral(R"(FATAL:  password authentication failed for user "****")");
    QTest::newRow("PostgreSQL's unknown role") << QStringLiteral(R"(FATAL:  role "kelvo" does not exist)")
                                               << QStringLiteral(R"(FATAL:  role "****" does not exist)");
    QTest::newRow("SQL Server's refusal")
        << QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'sa'. (18456)")
        << QStringLiteral("[FreeTDS][SQL Server]Login failed for user '****'. (18456)");
    QTest::newRow("the connect failure's box")
        << QStringLiteral(
               "[Information] Det gick inte att ansluta till databasen db: ravlek med användarnamnet "
               "Ann Berg\n\nFATAL: password authentication failed for user \"Ann Berg\"")
        << QStringLiteral(
               "[Information] Det gick inte att ansluta till databasen db: ravlek med användarnamnet "
               "****\n\nFATAL: password authentication failed for user \"****\"");
    QTest::newRow("look-alikes untouched")
        << QStringLiteral("Persist Security Info=True;superuser=1;Integrated Security=SSPI;users: 3; user 7")
        << QStringLiteral("Persist Security Info=True;superuser=1;Integrated Security=SSPI;users: 3; user 7");
}

void tst_Logging::maskSecrets() {
    QFETCH(QString, text);
    QFETCH(QString, masked);
    QCOMPARE(platform::MaskSecrets(text), masked);
}

// Through Qt's logging into a real file: information and above by default, detail only when a
// rule turns it on, from any thread, with a data link's login masked, between the start line
// and the end line.
void tst_Logging::handlerWritesWhatIsEnabledMasked() {
    TestEnvironment env;
    const QString path = env.path(QStringLiteral("ravlek.log"));
    RotatingFileLogSink sink(path);
    const platform::ScopedPort<platform::LogSink> port(sink);
    const QString secret = QStringLiteral("Hemligt-lösen;1");
    // As a data-link file holds it, the password quoted for its ";".
    const QString connection =
        QStringLiteral("Provider=PostgreSQL;Password=\"%1\";Persist Security Info=True;"
                       "User ID=ravlek_support;Initial Catalog=practice;Data Source=db:5432")
            .arg(secret);
    QVERIFY(connection.contains(secret));
    {
        platform::LogHandlerScope log(QStringLiteral("tst_logging"), {QStringLiteral("--x")});
        qCDebug(lcHandOff) << "detail that nobody asked for";
        qCWarning(lcBus).noquote() << QStringLiteral("Could not connect with ") + connection;
        std::thread([] { qCInfo(lcDevice) << "from another thread"; }).join();
        QLoggingCategory::setFilterRules(QStringLiteral("ravlek.handoff.debug=true"));
        qCDebug(lcHandOff) << "detail asked for";
        QLoggingCategory::setFilterRules({});
        log.endsWith(3);
    }
    qCInfo(lcApp) << "after the scope: not in the file";

    const QString text = QString::fromUtf8(readAll(path));
    QVERIFY2(!text.contains(QStringLiteral("Hemligt")), qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("ravlek_support")), qPrintable(text));
    QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& line : lines)
        line = line.section(QLatin1Char(' '), 1); // without the time
    const QString head = QStringLiteral("tst_logging[%1] ").arg(QCoreApplication::applicationPid());
    QCOMPARE(lines.size(), 5);
    QVERIFY2(lines.at(0).startsWith(head + QStringLiteral("info ravlek.app: tst_logging ")),
             qPrintable(lines.at(0)));
    QVERIFY2(lines.at(0).endsWith(QStringLiteral(" with arguments: --x")), qPrintable(lines.at(0)));
    QVERIFY2(lines.at(1).startsWith(
                 head + QStringLiteral(
                            "warning ravlek.bus: Could not connect with Provider=PostgreSQL;Password=****;")),
             qPrintable(lines.at(1)));
    QVERIFY2(lines.at(1).contains(QStringLiteral(";User ID=****;")), qPrintable(lines.at(1)));
    QCOMPARE(lines.at(2), head + QStringLiteral("info ravlek.device: from another thread"));
    QCOMPARE(lines.at(3), head + QStringLiteral("debug ravlek.handoff: detail asked for"));
    QCOMPARE(lines.at(4), head + QStringLiteral("info ravlek.app: tst_logging ended with exit code 3"));
}

// The handler's own levels are under test, not those the test runs set: their rule that turns
// the log's information off (QT_LOGGING_RULES) goes before Qt reads it.
int main(int argc, char* argv[]) {
    qunsetenv("QT_LOGGING_RULES");
    QCoreApplication app(argc, argv);
    tst_Logging test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_logging.moc"
