#include "database/XrayDatabase.h"

#include "database/KelvoLogin.h"
#include "database/KelvoSchema.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr qint64 kReconnectPauseMs = 5000;

const QString kWorkstations = QStringLiteral("XRAYWORKSTATIONS");
const QString kLockList = QStringLiteral("XRAYDEVICELOCKLIST");
const QString kSelectWorkstations = QStringLiteral("SELECT * FROM XRAYWORKSTATIONS");

TADOQuery* makeQuery(QObject* owner, TADOConnection* connection, const QString& name, TADOLockType lockType,
                     const QStringList& lines = {}) {
    auto* query = new TADOQuery(owner);
    query->setObjectName(name);
    query->SetConnection(connection);
    query->SetLockType(lockType);
    if (!lines.isEmpty())
        query->SetSQL(lines);
    return query;
}

void declareSize(TADOQuery* query, const QString& parameter, int size) {
    query->Parameters().ParamByName(parameter).Size = size;
}

// A LIKE pattern that finds `text` anywhere, its wildcard characters taken literally
// ("!" is the escape character; SQL Server also reads "[" as the start of a set).
QString containsPattern(const QString& text, DataLinkEngine engine) {
    QString escaped;
    for (const QChar c : text) {
        if (c == QLatin1Char('!') || c == QLatin1Char('%') || c == QLatin1Char('_') ||
            (c == QLatin1Char('[') && engine == DataLinkEngine::SqlServer))
            escaped.append(QLatin1Char('!'));
        escaped.append(c);
    }
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

} // namespace

TXrayDatabase::TXrayDatabase(TDataLinkState& dataLink, TDatabaseLinks links, QObject* parent)
    : QObject(parent)
    , Database1(new TADOConnection(this))
    , m_dataLink(dataLink)
    , m_links(std::move(links)) {
    setObjectName(QStringLiteral("frmSettings"));
    Database1->SetName(QStringLiteral("Database1"));
    QXRAYWORKSTATIONS =
        makeQuery(this, Database1, QStringLiteral("QXRAYWORKSTATIONS"), TADOLockType::ltOptimistic,
                  {kSelectWorkstations, QStringLiteral("ORDER BY STATIONID")});
    // Its text is the engine's CREATE TABLE, set when the connection's engine is known.
    QCREATEXRAYWORKSTATIONS =
        makeQuery(this, Database1, QStringLiteral("QCREATEXRAYWORKSTATIONS"), TADOLockType::ltReadOnly);
    QOVRIGT = makeQuery(this, Database1, QStringLiteral("QOVRIGT"), TADOLockType::ltReadOnly);
    QXRAYDEV = makeQuery(this, Database1, QStringLiteral("QXRAYDEV"), TADOLockType::ltReadOnly,
                         {kSelectWorkstations, QStringLiteral("WHERE COMPUTERNAME =:computername"),
                          QStringLiteral("AND XRAYSTATION =:xraystation"),
                          QStringLiteral("AND XRAYSTATIONID =:xraystationid")});
    declareSize(QXRAYDEV, QStringLiteral("computername"), 50);
    declareSize(QXRAYDEV, QStringLiteral("xraystation"), 30);
    declareSize(QXRAYDEV, QStringLiteral("xraystationid"), 20);
    QCONNECTEDDEV = makeQuery(
        this, Database1, QStringLiteral("QCONNECTEDDEV"), TADOLockType::ltOptimistic,
        {QStringLiteral("SELECT * FROM XRAYDEVICELOCKLIST"), QStringLiteral("WHERE XRAYSTATION =:xrayname"),
         QStringLiteral("AND XRAYSTATIONID =:xrayid"), QStringLiteral("ORDER BY LOCKNUMBER")});
    declareSize(QCONNECTEDDEV, QStringLiteral("xrayname"), 50);
    QCREATEXRAYDEVICELOCKLIST =
        makeQuery(this, Database1, QStringLiteral("QCREATEXRAYDEVICELOCKLIST"), TADOLockType::ltReadOnly);
    QXRAYDEVICES = makeQuery(this, Database1, QStringLiteral("QXRAYDEVICES"), TADOLockType::ltReadOnly,
                             {kSelectWorkstations, QStringLiteral("WHERE COMPUTERNAME =:computername"),
                              QStringLiteral("AND XRAYSTATION =:xraystation")});
    declareSize(QXRAYDEVICES, QStringLiteral("computername"), 50);
    declareSize(QXRAYDEVICES, QStringLiteral("xraystation"), 30);
    m_locks = std::make_unique<TDeviceLocks>(TLockQueries{Database1, QXRAYDEV, QCONNECTEDDEV, QXRAYDEVICES},
                                             m_links);
}

TXrayDatabase::~TXrayDatabase() {
    Database1->Close();
}

bool TXrayDatabase::BuildConnectionString() {
    // The connect step is a deliberate reconnect: a server that did not answer before is tried again.
    TADOConnection::ForgetUnreachableServers();
    return ::BuildConnectionString(m_dataLink, m_links, QString(), QString());
}

bool TXrayDatabase::TableExists(const QString& tableName) {
    try {
        QOVRIGT->Close();
        QOVRIGT->SetSQL({QStringLiteral("SELECT * FROM ") + tableName + QStringLiteral(" WHERE 1 = 0")});
        QOVRIGT->Open();
        QOVRIGT->Close();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool TXrayDatabase::KeepConnected(bool now) {
    if (Database1->Connected()) {
        // Connected again, by this or by the user's "Connect": a later close is the user's.
        m_recovering = false;
        return true;
    }
    if (Database1->Lost())
        m_recovering = true;
    if (!m_recovering || (!now && !m_nextAttempt.hasExpired()))
        return false;
    QElapsedTimer attempt;
    attempt.start();
    if (reconnect()) {
        m_recovering = false;
        return true;
    }
    m_nextAttempt.setRemainingTime(std::max<qint64>(kReconnectPauseMs, attempt.elapsed() * 10));
    return false;
}

// The data-link file may have been changed meanwhile (another server, another login): it is
// read anew, unless it is gone, when the connection string it gave last is kept rather than
// asking the user from a timer. The login then completes the string as at start.
bool TXrayDatabase::reconnect() {
    TADOConnection::ForgetUnreachableServers();
    TDatabaseLinks quiet = m_links;
    quiet.ChooseDataProvider = nullptr;
    quiet.FindFiles = nullptr;
    const QString lastString = m_dataLink.ConnectionString;
    if (QFileInfo(m_dataLink.DataProviderFile).isFile())
        m_dataLink.ConnectionString.clear();
    if (!::BuildConnectionString(m_dataLink, quiet, QString(), QString())) {
        m_dataLink.ConnectionString = lastString;
        return false;
    }
    try {
        Connect();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TXrayDatabase::createTable(TADOQuery* query, const QStringList& lines) {
    Database1->BeginTrans();
    query->SetSQL(lines);
    query->ExecSQL();
    Database1->CommitTrans();
}

void TXrayDatabase::Connect() {
    try {
        Database1->Close();
        Database1->SetConnectionString(m_dataLink.ConnectionString);
        Database1->Open();
        const DataLinkEngine engine = Database1->Engine();
        if (!TableExists(kWorkstations))
            createTable(QCREATEXRAYWORKSTATIONS, CreateXrayWorkstationsSql(engine));
        if (!TableExists(kLockList))
            createTable(QCREATEXRAYDEVICELOCKLIST, CreateXrayDeviceLockListSql(engine));
        Database1->BeginTrans();
        QXRAYWORKSTATIONS->Open();
    } catch (...) {
        // A half-made connection would be used by the device list's look-ups; without a
        // connection they fail plainly instead.
        Database1->Close();
        throw;
    }
}

void TXrayDatabase::commitAndBegin() {
    if (Database1->InTransaction())
        Database1->CommitAndBeginTrans();
    else
        Database1->BeginTrans();
}

// The search text is bound as a value, so quotes in it are plain characters and "%" and
// "_" match only themselves.
void TXrayDatabase::SearchRegister(const QString& searchText) {
    QXRAYWORKSTATIONS->Close();
    QXRAYWORKSTATIONS->SQL()->Clear();
    if (searchText > QStringLiteral(" ")) {
        QXRAYWORKSTATIONS->SQL()->Add(
            QStringLiteral("SELECT * FROM XRAYWORKSTATIONS WHERE UPPER(XRAYSTATION) LIKE UPPER(:search) "
                           "ESCAPE '!' OR UPPER(XRAYSTATIONID) LIKE UPPER(:search) ESCAPE '!' "
                           "ORDER BY STATIONID"));
        QXRAYWORKSTATIONS->Parameters().ParamByName(QStringLiteral("search")).Value = containsPattern(
            searchText, Database1->Connected() ? Database1->Engine() : DataLinkEngine::SqlServer);
    } else {
        QXRAYWORKSTATIONS->SQL()->Add(QStringLiteral("SELECT * FROM XRAYWORKSTATIONS ORDER BY STATIONID"));
    }
    QXRAYWORKSTATIONS->Open();
}

void TXrayDatabase::DeleteRegisterRow() {
    QXRAYWORKSTATIONS->Delete();
    commitAndBegin();
    QXRAYWORKSTATIONS->Close();
    QXRAYWORKSTATIONS->Open();
}

void TXrayDatabase::SaveRegisterRow() {
    QXRAYWORKSTATIONS->Post();
    commitAndBegin();
    // Opened afresh so that the grid shows the register as stored, in its order.
    QXRAYWORKSTATIONS->Close();
    QXRAYWORKSTATIONS->Open();
}

void TXrayDatabase::RemoveDeviceLocks(const QString& stationName, const QString& deviceLabel) {
    if (!Database1->InTransaction())
        Database1->BeginTrans();
    Database1->Execute(QStringLiteral("DELETE FROM XRAYDEVICELOCKLIST WHERE XRAYSTATION = :station "
                                      "AND XRAYSTATIONID = :device"),
                       {{QStringLiteral("station"), stationName}, {QStringLiteral("device"), deviceLabel}});
    Database1->CommitAndBeginTrans();
}
