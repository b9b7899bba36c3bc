#include "database/KelvoDatabase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <atomic>
#include <optional>

namespace {

constexpr int kSqliteBusyTimeoutMs = 5000;
constexpr int kDefaultConnectTimeoutSeconds = 15;
// A failed connect that took at least this many milliseconds per second of its time-out ran
// into the time-out.
constexpr int kTimedOutShareOfTimeout = 900;
constexpr std::size_t kPreparedStatementsKept = 32;

QString engineText(const QSqlError& error) {
    for (const QString& text : {error.databaseText(), error.driverText(), error.text()}) {
        if (!text.trimmed().isEmpty())
            return text.trimmed();
    }
    return QStringLiteral("Unknown database error");
}

// "Connect Timeout" of the connection string (ADO's own key), in seconds; 15 when it is not
// given as a positive whole number.
int connectTimeoutOf(const TDataLink& link) {
    for (const auto& [key, value] : link.otherParts) {
        if (key.compare(QStringLiteral("Connect Timeout"), Qt::CaseInsensitive) != 0)
            continue;
        bool ok = false;
        const int seconds = value.trimmed().toInt(&ok);
        if (ok && seconds > 0)
            return seconds;
    }
    return kDefaultConnectTimeoutSeconds;
}

// The servers that let a connect run into its time-out since the last deliberate reconnect,
// with the failure's text, for every connection of the process (the workstations of the tests
// run in threads of their own).
QHash<QString, QString>& unreachableServers() {
    static QHash<QString, QString> servers;
    return servers;
}

QMutex& unreachableServersMutex() {
    static QMutex mutex;
    return mutex;
}

QString serverKey(DataLinkEngine engine, const TDataLink& link) {
    return QString::number(int(engine)) + QLatin1Char('|') + link.server.trimmed().toLower();
}

std::optional<QString> unreachableFailure(const QString& server) {
    const QMutexLocker lock(&unreachableServersMutex());
    const auto found = unreachableServers().constFind(server);
    return found == unreachableServers().constEnd() ? std::nullopt : std::optional<QString>(*found);
}

void rememberUnreachable(const QString& server, const QString& failure) {
    const QMutexLocker lock(&unreachableServersMutex());
    unreachableServers().insert(server, failure);
}

QString qtDriverOf(DataLinkEngine engine) {
    switch (engine) {
    case DataLinkEngine::SqlServer:
        return QStringLiteral("QODBC");
    case DataLinkEngine::PostgreSQL:
        return QStringLiteral("QPSQL");
    case DataLinkEngine::SQLite:
        return QStringLiteral("QSQLITE");
    }
    return {};
}

QString unknownProviderText(const QString& provider) {
    return QStringLiteral("Provider \"%1\" cannot be found. Known providers: SQLOLEDB, SQLNCLI, MSOLEDBSQL, "
                          "PostgreSQL, SQLite.")
        .arg(provider);
}

// ODBC wraps a value in braces when it holds a character with a meaning of its own or
// begins or ends with a blank. Looked at character by character: a regular expression
// finds nothing at all in a text that holds half a surrogate pair.
QString odbcValue(const QString& value) {
    const bool special = std::any_of(value.cbegin(), value.cend(),
                                     [](QChar c) {
                                         return c == QLatin1Char(';') || c == QLatin1Char('{') ||
                                                c == QLatin1Char('}') || c == QLatin1Char('=');
                                     }) ||
                         (!value.isEmpty() && (value.front().isSpace() || value.back().isSpace()));
    if (!special)
        return value;
    return QLatin1Char('{') + QString(value).replace(QStringLiteral("}"), QStringLiteral("}}")) +
           QLatin1Char('}');
}

// Host and port of "host", "host:port" or "host,port".
std::pair<QString, int> hostAndPort(const QString& dataSource) {
    const qsizetype separator =
        std::max(dataSource.lastIndexOf(QLatin1Char(':')), dataSource.lastIndexOf(QLatin1Char(',')));
    if (separator < 0)
        return {dataSource.trimmed(), -1};
    bool ok = false;
    const int port = dataSource.mid(separator + 1).trimmed().toInt(&ok);
    return {dataSource.left(separator).trimmed(), ok ? port : -1};
}

bool isLocalHost(const QString& host) {
    static const QStringList local{QString(), QStringLiteral("."), QStringLiteral("(local)"),
                                   QStringLiteral("localhost")};
    return local.contains(host, Qt::CaseInsensitive);
}

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

struct ParsedText {
    QString executable; // the text with "?" in place of each ":name"
    QStringList names;  // the marker names in order of appearance
};

// Finds the ":name" parameter markers outside quoted texts, quoted identifiers and
// comments; "::" (a PostgreSQL cast) is no marker.
ParsedText parseMarkers(const QString& text) {
    ParsedText parsed;
    qsizetype i = 0;
    const auto copyUntil = [&](QChar closing) {
        parsed.executable.append(text.at(i++));
        while (i < text.size()) {
            const QChar c = text.at(i++);
            parsed.executable.append(c);
            if (c == closing)
                return;
        }
    };
    while (i < text.size()) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            copyUntil(c);
        } else if (c == QLatin1Char('[')) {
            copyUntil(QLatin1Char(']'));
        } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            copyUntil(QLatin1Char('\n'));
        } else if (c == QLatin1Char(':') && next == QLatin1Char(':')) {
            parsed.executable.append(QStringLiteral("::"));
            i += 2;
        } else if (c == QLatin1Char(':') && isNameChar(next)) {
            qsizetype end = i + 1;
            while (end < text.size() && isNameChar(text.at(end)))
                ++end;
            parsed.names.append(text.mid(i + 1, end - i - 1));
            parsed.executable.append(QLatin1Char('?'));
            i = end;
        } else {
            parsed.executable.append(c);
            ++i;
        }
    }
    return parsed;
}

// A null value that still carries a type, which ODBC needs to bind it.
QVariant nullOf(QMetaType type) {
    return QVariant(type.isValid() ? type : QMetaType::fromType<QString>(), nullptr);
}

// The single table of "SELECT ... FROM <table> [WHERE/ORDER BY/GROUP BY ...]", or empty.
QString singleTableOf(const QString& commandText) {
    static const QRegularExpression fromWord(QStringLiteral("\\bFROM\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression joinWord(QStringLiteral("\\bJOIN\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression shape(
        QStringLiteral(
            "^\\s*SELECT\\s.+?\\sFROM\\s+([^\\s,;()]+)\\s*(?:(?:WHERE|ORDER|GROUP|HAVING)\\b.*)?;?\\s*$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    if (commandText.count(fromWord) != 1 || commandText.contains(joinWord))
        return {};
    const QRegularExpressionMatch match = shape.match(commandText);
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace

// ---------------------------------------------------------------------------------------

EDatabaseError::EDatabaseError(const QString& message)
    : std::runtime_error(message.toStdString())
    , m_message(message) {}

QString RowCannotBeLocatedText() {
    return QStringLiteral(
        "Row cannot be located for updating. Some values may have been changed since it was "
        "last read");
}

QString OdbcDriverName() {
    const QString driver = qEnvironmentVariable("RAVLEK_ODBC_DRIVER").trimmed();
    return driver.isEmpty() ? QStringLiteral("FreeTDS") : driver;
}

QString OdbcConnectionString(const TDataLink& link, const QString& driver) {
    QStringList parts{QStringLiteral("DRIVER={%1}")
                          .arg(QString(driver).replace(QStringLiteral("}"), QStringLiteral("}}")))};
    // Microsoft's drivers take "host,port" as the server; FreeTDS wants the port apart.
    const auto [host, port] = hostAndPort(link.server);
    if (driver.contains(QStringLiteral("FreeTDS"), Qt::CaseInsensitive) && port > 0 &&
        link.server.contains(QLatin1Char(','))) {
        parts.append(QStringLiteral("SERVER=") + odbcValue(host));
        parts.append(QStringLiteral("PORT=%1").arg(port));
    } else {
        parts.append(QStringLiteral("SERVER=") + odbcValue(link.server));
    }
    if (!link.database.isEmpty())
        parts.append(QStringLiteral("DATABASE=") + odbcValue(link.database));
    if (link.integratedSecurity) {
        parts.append(QStringLiteral("Trusted_Connection=Yes"));
    } else {
        parts.append(QStringLiteral("UID=") + odbcValue(link.user));
        parts.append(QStringLiteral("PWD=") + odbcValue(link.password));
    }
    return parts.join(QLatin1Char(';')) + QLatin1Char(';');
}

// --- TADOConnection ----------------------------------------------------------------------

TADOConnection::TADOConnection(QObject* owner)
    : QObject(owner) {
    static std::atomic<int> counter{0};
    m_connectionName = QStringLiteral("ravlek-ado-%1").arg(++counter);
}

TADOConnection::~TADOConnection() {
    Close();
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
}

void TADOConnection::SetConnectionString(const QString& connectionString) {
    if (Connected())
        fail(QStringLiteral("Operation is not allowed when the object is open."));
    m_connectionString = connectionString;
}

DataLinkEngine TADOConnection::Engine() const {
    const QString provider = ParseConnectionString(m_connectionString).provider;
    const std::optional<DataLinkEngine> engine = EngineOfProvider(provider);
    if (!engine)
        throw EDatabaseError(unknownProviderText(provider));
    return *engine;
}

QSqlDatabase TADOConnection::database() const {
    return QSqlDatabase::database(m_connectionName, false);
}

bool TADOConnection::Connected() const {
    return QSqlDatabase::contains(m_connectionName) && database().isOpen();
}

void TADOConnection::SetConnected(bool connected) {
    if (connected)
        Open();
    else
        Close();
}

void TADOConnection::Open() {
    if (Connected())
        return;
    m_failedConnect.clear();
    try {
        connectNow();
    } catch (const EDatabaseError& error) {
        m_failedConnect = error.Message();
        throw;
    }
    m_lost = false;
}

void TADOConnection::ForgetUnreachableServers() {
    const QMutexLocker lock(&unreachableServersMutex());
    unreachableServers().clear();
}

void TADOConnection::connectForStatement() {
    ensureConnected();
}

void TADOConnection::connectNow() {
    const TDataLink link = ParseConnectionString(m_connectionString);
    const std::optional<DataLinkEngine> engine = EngineOfProvider(link.provider);
    if (!engine)
        fail(unknownProviderText(link.provider));
    const QString server = serverKey(*engine, link);
    if (const std::optional<QString> known = unreachableFailure(server)) {
        m_lastError = *known;
        throw EDatabaseUnreachable(*known);
    }
    m_engine = *engine;
    m_inTransaction = false;
    m_physicalTransaction = false;
    m_transactionWrote = false;
    m_statements.clear();
    // The engine may differ from the last connect, so the QtSql connection is made anew.
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
    QSqlDatabase db = QSqlDatabase::addDatabase(qtDriverOf(m_engine), m_connectionName);
    if (!db.isValid())
        fail(QStringLiteral("The database driver %1 is not installed.").arg(qtDriverOf(m_engine)));
    QElapsedTimer attempt;
    attempt.start();
    try {
        switch (m_engine) {
        case DataLinkEngine::SqlServer:
            openSqlServer(db, link);
            break;
        case DataLinkEngine::PostgreSQL:
            openPostgreSql(db, link);
            break;
        case DataLinkEngine::SQLite:
            openSqlite(db, link);
            break;
        }
    } catch (const EDatabaseError& error) {
        // A server that let the attempt run into its time-out did not answer at all: another
        // login or another connection would only wait as long again.
        if (m_engine != DataLinkEngine::SQLite &&
            attempt.elapsed() >= connectTimeoutOf(link) * kTimedOutShareOfTimeout)
            rememberUnreachable(server, error.Message());
        throw;
    }
    m_lastError.clear();
}

void TADOConnection::openSqlServer(QSqlDatabase& db, const TDataLink& link) {
    db.setDatabaseName(OdbcConnectionString(link, OdbcDriverName()));
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(connectTimeoutOf(link)));
    if (!db.open())
        fail(engineText(db.lastError()));
}

void TADOConnection::openPostgreSql(QSqlDatabase& db, const TDataLink& link) {
    const auto [host, port] = hostAndPort(link.server);
    if (link.integratedSecurity) {
        // The operating-system login: peer authentication over the local socket, or
        // GSS with a remote server; libpq takes the user name from the system.
        if (!isLocalHost(host))
            db.setHostName(host);
    } else {
        db.setHostName(host);
        db.setUserName(link.user);
        db.setPassword(link.password);
    }
    if (port > 0)
        db.setPort(port);
    db.setDatabaseName(link.database);
    db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(connectTimeoutOf(link)));
    if (!db.open())
        fail(engineText(db.lastError()));
}

void TADOConnection::openSqlite(QSqlDatabase& db, const TDataLink& link) {
    if (link.server.trimmed().isEmpty())
        fail(QStringLiteral("The connection string names no database file (Data Source)."));
    const QFileInfo file(link.server.trimmed());
    if (!QDir().mkpath(file.absolutePath()))
        fail(QStringLiteral("Cannot create the folder \"%1\".").arg(file.absolutePath()));
    db.setDatabaseName(file.absoluteFilePath());
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kSqliteBusyTimeoutMs));
    if (!db.open())
        fail(engineText(db.lastError()));
    // Write-ahead logging lets the other workstations read while one writes.
    QSqlQuery pragma(db);
    if (!pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !pragma.next()) {
        const QString text = engineText(pragma.lastError());
        pragma = QSqlQuery();
        db.close();
        fail(text);
    }
}

void TADOConnection::Close() {
    disconnect();
    m_lost = false;
}

void TADOConnection::disconnect() {
    for (const QPointer<TCustomADODataSet>& dataSet : std::as_const(m_dataSets)) {
        if (dataSet)
            dataSet->Close();
    }
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase db = database();
        // Some ODBC drivers refuse to disconnect with an open transaction.
        if (db.isOpen() && m_physicalTransaction)
            db.rollback();
        m_statements.clear();
        db.close();
    }
    m_inTransaction = false;
    m_physicalTransaction = false;
    m_transactionWrote = false;
}

void TADOConnection::ensureConnected() const {
    if (Connected())
        return;
    if (!m_failedConnect.isEmpty())
        throw EDatabaseUnreachable(m_failedConnect);
    throw EDatabaseError(QStringLiteral("Operation is not allowed when the object is closed."));
}

void TADOConnection::BeginTrans() {
    ensureConnected();
    if (m_inTransaction)
        fail(QStringLiteral("Only one transaction can be active on this session."));
    // SQLite's transaction starts with the first write (see ensurePhysicalTransaction).
    if (m_engine != DataLinkEngine::SQLite) {
        guarded([this] {
            QSqlDatabase db = database();
            if (!db.transaction())
                fail(engineText(db.lastError()));
        });
        m_physicalTransaction = true;
    }
    m_inTransaction = true;
    m_transactionWrote = false;
    m_lastError.clear();
}

void TADOConnection::CommitTrans() {
    endTransaction(&QSqlDatabase::commit);
}

void TADOConnection::RollbackTrans() {
    endTransaction(&QSqlDatabase::rollback);
}

void TADOConnection::endTransaction(bool (QSqlDatabase::*finish)()) {
    ensureConnected();
    if (!m_inTransaction)
        fail(QStringLiteral("No transaction is active."));
    const bool physical = m_physicalTransaction;
    m_inTransaction = false;
    m_physicalTransaction = false;
    m_transactionWrote = false;
    if (physical) {
        guarded([this, finish] {
            QSqlDatabase db = database();
            if (!(db.*finish)())
                fail(engineText(db.lastError()));
        });
    }
    m_lastError.clear();
}

void TADOConnection::CommitAndBeginTrans() {
    endAndBegin(QStringLiteral("COMMIT; BEGIN"), &QSqlDatabase::commit);
}

void TADOConnection::RollbackAndBeginTrans() {
    endAndBegin(QStringLiteral("ROLLBACK; BEGIN"), &QSqlDatabase::rollback);
}

// On PostgreSQL the end of one transaction and the beginning of the next travel together, in
// one round trip. A failed end leaves no transaction open: the server runs nothing after it.
void TADOConnection::endAndBegin(const QString& bothStatements, bool (QSqlDatabase::*finish)()) {
    if (m_engine != DataLinkEngine::PostgreSQL || !m_physicalTransaction || !Connected()) {
        endTransaction(finish);
        BeginTrans();
        return;
    }
    m_inTransaction = false;
    m_physicalTransaction = false;
    m_transactionWrote = false;
    guarded([&] { runPlain(bothStatements); });
    m_inTransaction = true;
    m_physicalTransaction = true;
    m_lastError.clear();
}

void TADOConnection::LockForWriting() {
    ensureConnected();
    if (!m_inTransaction)
        fail(QStringLiteral("No transaction is active."));
    ensurePhysicalTransaction(StatementKind::Write);
}

// An SQLite transaction that read at its start would keep that snapshot and miss rows
// that other workstations commit later, and a deferred one that reads and then writes
// fails when another writer came between. So reads run on their own, each seeing the
// latest committed rows (as read committed does elsewhere), and the first write takes the
// write lock; the rest of the transaction then sees the latest data and its own changes.
void TADOConnection::ensurePhysicalTransaction(StatementKind kind) {
    if (m_engine != DataLinkEngine::SQLite || !m_inTransaction || m_physicalTransaction ||
        kind != StatementKind::Write)
        return;
    guarded([this] { runPlain(QStringLiteral("BEGIN IMMEDIATE")); });
    m_physicalTransaction = true;
}

void TADOConnection::runPlain(const QString& sql) {
    QSqlQuery query(database());
    if (!query.exec(sql))
        fail(engineText(query.lastError()));
}

QSqlQuery& TADOConnection::preparedStatement(const QString& sql) {
    const auto kept = m_statements.find(sql);
    if (kept != m_statements.end())
        return *kept->second;
    auto query = std::make_unique<QSqlQuery>(database());
    query->setForwardOnly(true);
    if (!query->prepare(sql))
        fail(engineText(query->lastError()));
    // The program runs a handful of texts over and over; texts made on the fly (a search, an
    // edit of chosen columns) must not make the store grow without end.
    if (m_statements.size() >= kPreparedStatementsKept)
        m_statements.clear();
    return *m_statements.emplace(sql, std::move(query)).first->second;
}

// On PostgreSQL a failed statement spoils the whole transaction; SQL Server undoes only the
// statement. The program keeps a transaction open all the time, so one failed statement must
// not leave it unusable. While the transaction has only read, nothing in it can be lost: a
// failure gives the transaction up and begins a new one at once. Once it may have written (a
// change, a lock taken), each statement runs under a savepoint that is rolled back when the
// statement fails.
//
// Statements with values are prepared once and kept for the life of the connection, so that
// the look-ups that run over and over cost one round trip each.
void TADOConnection::run(const QString& sql, const QVariantList& values, StatementKind kind,
                         const std::function<void(QSqlQuery&)>& consume) {
    ensureConnected();
    // On SQLite the first write takes the write lock of the whole file for the transaction.
    const bool beganWriting = m_engine == DataLinkEngine::SQLite && m_inTransaction &&
                              !m_physicalTransaction && kind == StatementKind::Write;
    ensurePhysicalTransaction(kind);
    const bool poisonable = m_engine == DataLinkEngine::PostgreSQL && m_physicalTransaction;
    const bool savepoint = poisonable && (kind == StatementKind::Write || m_transactionWrote);
    if (kind == StatementKind::Write)
        m_transactionWrote = true;
    if (savepoint)
        guarded([this] { runPlain(QStringLiteral("SAVEPOINT ravlek_statement")); });
    std::optional<QSqlQuery> oneShot;
    try {
        bool ok = false;
        QSqlQuery* query = nullptr;
        if (values.isEmpty()) {
            oneShot.emplace(database());
            oneShot->setForwardOnly(true);
            query = &*oneShot;
            ok = query->exec(sql);
        } else {
            query = &preparedStatement(sql);
            for (int i = 0; i < values.size(); ++i)
                query->bindValue(i, values.at(i));
            ok = query->exec();
        }
        if (!ok)
            fail(engineText(query->lastError()));
        consume(*query);
        query->finish();
    } catch (const EDatabaseError& error) {
        m_lastError = error.Message();
        if (savepoint)
            mendAfterFailure(QStringLiteral("ROLLBACK TO SAVEPOINT ravlek_statement"));
        else if (poisonable)
            beginReadingAnew();
        else if (beganWriting)
            endRefusedWrite();
        // A text whose statement failed is prepared anew next time (the table may have changed).
        m_statements.erase(sql);
        noteFailure(error.Message());
        throw;
    }
    if (savepoint)
        guarded([this] { runPlain(QStringLiteral("RELEASE SAVEPOINT ravlek_statement")); });
    m_lastError.clear();
}

// A write that the database refused, as the first write of an SQLite transaction, changed
// nothing that a rollback could lose; ending its transaction at once gives the file's write
// lock back, which every other workstation on the file would otherwise wait for (and fail
// with "database is locked" after the busy time-out) until this connection's next commit or
// rollback. The transaction stays open for the program: the next write begins a real one again.
void TADOConnection::endRefusedWrite() {
    m_physicalTransaction = false;
    m_transactionWrote = false;
    mendAfterFailure(QStringLiteral("ROLLBACK"));
}

template <typename Work> void TADOConnection::guarded(Work&& work) {
    try {
        work();
    } catch (const EDatabaseError& error) {
        noteFailure(error.Message());
        throw;
    }
}

// Runs only after a statement of an open connection failed. Some drivers close the connection
// themselves when they find it broken (Qt's PostgreSQL driver does); the others are asked.
void TADOConnection::noteFailure(const QString& failure) {
    if (Connected()) {
        QSqlQuery probe(database());
        if (probe.exec(QStringLiteral("SELECT 1")))
            return;
    }
    disconnect();
    m_failedConnect = failure;
    m_lastError = failure;
    m_lost = true;
}

void TADOConnection::mendAfterFailure(const QString& sql) {
    QSqlQuery undo(database());
    undo.exec(sql);
}

void TADOConnection::beginReadingAnew() {
    QSqlDatabase db = database();
    if (!db.isOpen())
        return;
    db.rollback();
    db.transaction();
}

int TADOConnection::Execute(const QString& commandText, const QVariantMap& parameters) {
    const ParsedText parsed = parseMarkers(commandText);
    QVariantList values;
    for (const QString& name : parsed.names) {
        const auto found =
            std::find_if(parameters.keyValueBegin(), parameters.keyValueEnd(), [&](const auto& entry) {
                return entry.first.compare(name, Qt::CaseInsensitive) == 0;
            });
        if (found == parameters.keyValueEnd())
            fail(QStringLiteral("Parameter '%1' not found").arg(name));
        values.append((*found).second.isValid() ? (*found).second : nullOf({}));
    }
    int rows = 0;
    run(parsed.executable, values, StatementKind::Write,
        [&rows](QSqlQuery& query) { rows = query.numRowsAffected(); });
    return rows;
}

void TADOConnection::fail(const QString& message) {
    m_lastError = message;
    throw EDatabaseError(message);
}

void TADOConnection::attach(TCustomADODataSet* dataSet) {
    m_dataSets.removeAll(nullptr);
    if (!m_dataSets.contains(dataSet))
        m_dataSets.append(dataSet);
}

// --- TStringList --------------------------------------------------------------------------

void TStringList::Clear() {
    m_lines.clear();
    Q_EMIT Changed();
}

void TStringList::Add(const QString& line) {
    m_lines.append(line);
    Q_EMIT Changed();
}

void TStringList::Assign(const QStringList& lines) {
    m_lines = lines;
    Q_EMIT Changed();
}

QString TStringList::Text() const {
    return m_lines.join(QLatin1Char('\n'));
}

void TStringList::SetText(const QString& text) {
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    m_lines = text.isEmpty() ? QStringList() : text.split(lineBreak);
    Q_EMIT Changed();
}

// --- TParameters ---------------------------------------------------------------------------

TParameter* TParameters::FindParam(const QString& name) {
    for (TParameter& parameter : m_items) {
        if (parameter.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &parameter;
    }
    return nullptr;
}

TParameter& TParameters::ParamByName(const QString& name) {
    if (TParameter* parameter = FindParam(name))
        return *parameter;
    throw EDatabaseError(QStringLiteral("Parameter '%1' not found").arg(name));
}

void TParameters::Rebuild(const QStringList& names) {
    std::vector<TParameter> rebuilt;
    for (const QString& name : names) {
        const bool listed = std::any_of(rebuilt.begin(), rebuilt.end(), [&name](const TParameter& parameter) {
            return parameter.Name.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (listed)
            continue;
        const TParameter* existing = FindParam(name);
        rebuilt.push_back(existing ? *existing : TParameter{name, 0, QVariant()});
    }
    m_items = std::move(rebuilt);
}

// --- TField --------------------------------------------------------------------------------

QVariant TField::Value() const {
    return m_dataSet.CurrentValue(m_index);
}

bool TField::IsNull() const {
    return Value().isNull();
}

QString TField::AsString() const {
    const QVariant value = Value();
    return value.isNull() ? QString() : value.toString();
}

int TField::AsInteger() const {
    const QVariant value = Value();
    if (value.isNull())
        return 0;
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok)
        throw EDatabaseError(QStringLiteral("'%1' is not a valid integer value").arg(value.toString()));
    return number;
}

void TField::SetValue(const QVariant& value) {
    m_dataSet.setFieldValue(m_index, value);
}

// --- TCustomADODataSet -----------------------------------------------------------------

TCustomADODataSet::TCustomADODataSet(QObject* owner)
    : QObject(owner) {}

TCustomADODataSet::~TCustomADODataSet() = default;

void TCustomADODataSet::SetConnection(TADOConnection* connection) {
    Close();
    m_connection = connection;
    if (connection)
        connection->attach(this);
}

void TCustomADODataSet::SetCommandText(const QString& text) {
    Close();
    m_commandText = text;
    ParsedText parsed = parseMarkers(text);
    m_executableText = parsed.executable;
    m_markerNames = parsed.names;
    m_parameters.Rebuild(parsed.names);
    m_updateTable = singleTableOf(text);
}

void TCustomADODataSet::SetActive(bool active) {
    if (active)
        Open();
    else
        Close();
}

void TCustomADODataSet::Open() {
    if (Active())
        return;
    if (!m_connection)
        fail(QStringLiteral("Missing Connection or ConnectionString"));
    m_connection->connectForStatement();
    QVariantList values;
    for (const QString& name : std::as_const(m_markerNames)) {
        const QVariant value = m_parameters.ParamByName(name).Value;
        values.append(value.isValid() ? value : nullOf({}));
    }
    QList<Row> rows;
    QStringList engineNames;
    QList<QMetaType> types;
    m_connection->run(m_executableText, values, TADOConnection::StatementKind::Read, [&](QSqlQuery& query) {
        if (!query.isSelect())
            fail(QStringLiteral("CommandText does not return a result set"));
        const QSqlRecord record = query.record();
        for (int i = 0; i < record.count(); ++i) {
            engineNames.append(record.fieldName(i));
            types.append(record.field(i).metaType());
        }
        while (query.next()) {
            Row row(record.count());
            for (int i = 0; i < record.count(); ++i)
                row[i] = query.isNull(i) ? nullOf(types.at(i)) : query.value(i);
            rows.append(row);
        }
        if (query.lastError().type() != QSqlError::NoError)
            fail(engineText(query.lastError()));
    });
    m_engineColumnNames = engineNames;
    m_columnTypes = types;
    m_rows = rows;
    m_fields.clear();
    for (int i = 0; i < engineNames.size(); ++i)
        m_fields.push_back(std::make_unique<TField>(*this, i, engineNames.at(i).toUpper()));
    m_state = TDataSetState::dsBrowse;
    m_current = m_rows.isEmpty() ? -1 : 0;
    m_bof = true;
    m_eof = m_rows.isEmpty();
    Q_EMIT DataChanged();
}

void TCustomADODataSet::Close() {
    if (!Active())
        return;
    m_state = TDataSetState::dsInactive;
    m_fields.clear();
    m_rows.clear();
    m_buffer.clear();
    m_modified.clear();
    m_current = -1;
    m_bof = m_eof = true;
    Q_EMIT DataChanged();
}

void TCustomADODataSet::Requery() {
    checkBrowseMode();
    const int recNo = RecNo();
    Close();
    Open();
    if (recNo > 0 && !m_rows.isEmpty())
        SetRecNo(recNo);
}

int TCustomADODataSet::ExecuteCommand() {
    if (!m_connection)
        fail(QStringLiteral("Missing Connection or ConnectionString"));
    m_connection->connectForStatement();
    QVariantList values;
    for (const QString& name : std::as_const(m_markerNames)) {
        const QVariant value = m_parameters.ParamByName(name).Value;
        values.append(value.isValid() ? value : nullOf({}));
    }
    int rows = 0;
    m_connection->run(m_executableText, values, TADOConnection::StatementKind::Write,
                      [&rows](QSqlQuery& query) { rows = query.numRowsAffected(); });
    return rows;
}

// --- navigation -----------------------------------------------------------------------------

void TCustomADODataSet::First() {
    checkActive();
    checkBrowseMode();
    m_current = m_rows.isEmpty() ? -1 : 0;
    m_bof = true;
    m_eof = m_rows.isEmpty();
    Q_EMIT RecordMoved();
}

void TCustomADODataSet::Next() {
    checkActive();
    checkBrowseMode();
    if (m_current + 1 < m_rows.size()) {
        ++m_current;
        m_bof = false;
    } else {
        m_eof = true;
    }
    Q_EMIT RecordMoved();
}

void TCustomADODataSet::Prior() {
    checkActive();
    checkBrowseMode();
    if (m_current > 0) {
        --m_current;
        m_eof = false;
    } else {
        m_bof = true;
    }
    Q_EMIT RecordMoved();
}

void TCustomADODataSet::Last() {
    checkActive();
    checkBrowseMode();
    m_current = m_rows.size() - 1;
    m_eof = true;
    m_bof = m_rows.isEmpty();
    Q_EMIT RecordMoved();
}

bool TCustomADODataSet::Eof() const {
    return m_eof;
}

int TCustomADODataSet::RecNo() const {
    return m_current >= 0 && m_current < m_rows.size() ? int(m_current) + 1 : 0;
}

void TCustomADODataSet::SetRecNo(int recNo) {
    checkActive();
    checkBrowseMode();
    if (m_rows.isEmpty())
        return;
    m_current = std::clamp<qsizetype>(recNo, 1, m_rows.size()) - 1;
    m_bof = m_eof = false;
    Q_EMIT RecordMoved();
}

// --- fields ---------------------------------------------------------------------------------

TField* TCustomADODataSet::FindField(const QString& name) const {
    for (const auto& field : m_fields) {
        if (field->FieldName().compare(name, Qt::CaseInsensitive) == 0)
            return field.get();
    }
    return nullptr;
}

TField& TCustomADODataSet::FieldByName(const QString& name) const {
    if (TField* field = FindField(name))
        return *field;
    fail(QStringLiteral("Field '%1' not found").arg(name));
}

QVariant TCustomADODataSet::RowValue(int row, int column) const {
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= FieldCount())
        return {};
    return m_rows.at(row).at(column);
}

bool TCustomADODataSet::HasCurrentRecord() const {
    return m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert || RecNo() > 0;
}

QVariant TCustomADODataSet::CurrentValue(int field) const {
    if (m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert)
        return m_buffer.at(field);
    if (RecNo() > 0)
        return m_rows.at(m_current).at(field);
    return {};
}

void TCustomADODataSet::setFieldValue(int field, const QVariant& value) {
    if (m_state != TDataSetState::dsEdit && m_state != TDataSetState::dsInsert)
        fail(QStringLiteral("Dataset not in edit or insert mode"));
    m_buffer[field] = value.isNull() ? nullOf(m_columnTypes.at(field)) : value;
    m_modified[field] = true;
}

// --- editing --------------------------------------------------------------------------------

void TCustomADODataSet::checkActive() const {
    if (!Active())
        fail(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void TCustomADODataSet::checkUpdatable() const {
    checkActive();
    if (m_lockType == TADOLockType::ltReadOnly)
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    if (m_updateTable.isEmpty())
        fail(QStringLiteral("Cannot modify a dataset that is not over a single table"));
}

void TCustomADODataSet::checkBrowseMode() {
    if (m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert)
        Post();
}

void TCustomADODataSet::Edit() {
    checkActive();
    if (m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert)
        return;
    checkUpdatable();
    if (m_rows.isEmpty()) {
        Insert();
        return;
    }
    if (RecNo() == 0)
        m_current = 0;
    m_buffer = m_rows.at(m_current);
    m_modified = QVector<bool>(FieldCount(), false);
    m_state = TDataSetState::dsEdit;
}

void TCustomADODataSet::Append() {
    checkUpdatable();
    checkBrowseMode();
    startNewRecord(m_rows.size());
}

void TCustomADODataSet::Insert() {
    checkUpdatable();
    checkBrowseMode();
    startNewRecord(std::max<qsizetype>(m_current, 0));
}

void TCustomADODataSet::startNewRecord(qsizetype position) {
    m_buffer = Row(FieldCount());
    for (int i = 0; i < FieldCount(); ++i)
        m_buffer[i] = nullOf(m_columnTypes.at(i));
    m_modified = QVector<bool>(FieldCount(), false);
    m_insertPosition = position;
    m_state = TDataSetState::dsInsert;
}

void TCustomADODataSet::Cancel() {
    if (m_state != TDataSetState::dsEdit && m_state != TDataSetState::dsInsert)
        return;
    m_state = TDataSetState::dsBrowse;
    m_buffer.clear();
    m_modified.clear();
    Q_EMIT DataChanged();
}

void TCustomADODataSet::Post() {
    checkActive();
    if (m_state == TDataSetState::dsEdit)
        postEdit();
    else if (m_state == TDataSetState::dsInsert)
        postInsert();
    else
        return;
    m_state = TDataSetState::dsBrowse;
    m_buffer.clear();
    m_modified.clear();
    Q_EMIT DataChanged();
}

QString TCustomADODataSet::columnName(int field) const {
    return m_connection->database().driver()->escapeIdentifier(m_engineColumnNames.at(field),
                                                               QSqlDriver::FieldName);
}

QString TCustomADODataSet::whereOriginal(const Row& original, QVariantList& values) const {
    QStringList conditions;
    for (int i = 0; i < FieldCount(); ++i) {
        if (original.at(i).isNull()) {
            conditions.append(columnName(i) + QStringLiteral(" IS NULL"));
        } else {
            conditions.append(columnName(i) + QStringLiteral(" = ?"));
            values.append(original.at(i));
        }
    }
    return conditions.join(QStringLiteral(" AND "));
}

namespace {
int checkedRowCount(int rows) {
    if (rows == 0)
        throw EDatabaseError(RowCannotBeLocatedText());
    if (rows > 1)
        throw EDatabaseError(
            QStringLiteral("Key column information is insufficient or incorrect. Too many rows "
                           "were affected by update."));
    return rows;
}
} // namespace

void TCustomADODataSet::postEdit() {
    QStringList assignments;
    QVariantList values;
    for (int i = 0; i < FieldCount(); ++i) {
        if (!m_modified.at(i))
            continue;
        assignments.append(columnName(i) + QStringLiteral(" = ?"));
        values.append(m_buffer.at(i));
    }
    if (assignments.isEmpty())
        return;
    const QString where = whereOriginal(m_rows.at(m_current), values);
    const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                            .arg(m_updateTable, assignments.join(QStringLiteral(", ")), where);
    int rows = 0;
    m_connection->run(sql, values, TADOConnection::StatementKind::Write,
                      [&rows](QSqlQuery& query) { rows = checkedRowCount(query.numRowsAffected()); });
    m_rows[m_current] = m_buffer;
}

void TCustomADODataSet::postInsert() {
    QStringList columns;
    QStringList markers;
    QVariantList values;
    for (int i = 0; i < FieldCount(); ++i) {
        if (!m_modified.at(i))
            continue;
        columns.append(columnName(i));
        markers.append(QStringLiteral("?"));
        values.append(m_buffer.at(i));
    }
    const QString sql = columns.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(m_updateTable)
                                          : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                                .arg(m_updateTable, columns.join(QStringLiteral(", ")),
                                                     markers.join(QStringLiteral(", ")));
    m_connection->run(sql, values, TADOConnection::StatementKind::Write, [](QSqlQuery&) {});
    m_rows.insert(m_insertPosition, m_buffer);
    m_current = m_insertPosition;
    m_bof = m_eof = false;
}

void TCustomADODataSet::Delete() {
    checkActive();
    if (m_state == TDataSetState::dsInsert) {
        Cancel();
        return;
    }
    checkUpdatable();
    if (RecNo() == 0)
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    Cancel();
    QVariantList values;
    const QString sql = QStringLiteral("DELETE FROM %1 WHERE %2")
                            .arg(m_updateTable, whereOriginal(m_rows.at(m_current), values));
    m_connection->run(sql, values, TADOConnection::StatementKind::Write,
                      [](QSqlQuery& query) { checkedRowCount(query.numRowsAffected()); });
    m_rows.removeAt(m_current);
    m_current = std::min(m_current, m_rows.size() - 1);
    m_eof = m_rows.isEmpty();
    m_bof = m_rows.isEmpty();
    Q_EMIT DataChanged();
}

void TCustomADODataSet::fail(const QString& message) const {
    throw EDatabaseError(prefixed(message));
}

QString TCustomADODataSet::prefixed(const QString& message) const {
    return objectName().isEmpty() ? message : objectName() + QStringLiteral(": ") + message;
}

// --- TADOQuery ----------------------------------------------------------------------------

TADOQuery::TADOQuery(QObject* owner)
    : TCustomADODataSet(owner)
    , FSQL(new TStringList(this)) {
    connect(FSQL, &TStringList::Changed, this, &TADOQuery::SQLTextChanged);
}

void TADOQuery::SQLTextChanged() {
    SetCommandText(FSQL->Text());
}

int TADOQuery::ExecSQL() {
    FRowsAffected = ExecuteCommand();
    return FRowsAffected;
}

// --- TDataSetModel ------------------------------------------------------------------------

TDataSetModel::TDataSetModel(TCustomADODataSet* dataSet, QObject* parent)
    : QAbstractTableModel(parent)
    , m_dataSet(dataSet) {
    const auto reset = [this] {
        beginResetModel();
        endResetModel();
    };
    connect(dataSet, &TCustomADODataSet::DataChanged, this, reset);
    connect(dataSet, &QObject::destroyed, this, reset);
}

int TDataSetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_dataSet || !m_dataSet->Active() ? 0 : m_dataSet->RecordCount();
}

int TDataSetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_dataSet || !m_dataSet->Active() ? 0 : m_dataSet->FieldCount();
}

QVariant TDataSetModel::data(const QModelIndex& index, int role) const {
    if (!m_dataSet || !index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    const QVariant value = m_dataSet->RowValue(index.row(), index.column());
    return value.isNull() ? QVariant() : value;
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (!m_dataSet || role != Qt::DisplayRole || orientation != Qt::Horizontal || section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    return m_dataSet->Fields(section).FieldName();
}
