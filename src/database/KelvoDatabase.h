#pragma once

// The data-access layer: a connection and query classes with the behaviour the program
// expects of ADO, over QtSql. The provider named in the connection string selects the
// engine (SQL Server over ODBC, PostgreSQL or SQLite); see docs/database.md.

#include "database/DataLinkFile.h"

#include <QAbstractTableModel>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <vector>

class QSqlDatabase;
class QSqlQuery;
class TCustomADODataSet;

// A failure of the database or of a data set. Message() is the engine's own text (or the
// data set's), ready to follow a lead-in that ends in "\r\r".
class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const QString& message);
    QString Message() const { return m_message; }

private:
    QString m_message;
};

// The failure of a connection whose connect failed and has not been tried again deliberately
// since (see TADOConnection::Open): the database was not reached, and that has been reported
// once already, by the connect that failed.
class EDatabaseUnreachable : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// The text a failed optimistic update or delete reports: the row no longer holds the
// values it was read with.
QString RowCannotBeLocatedText();

// The ODBC connection string for a SQL Server connection string: DRIVER={driver} (the
// variable RAVLEK_ODBC_DRIVER, "FreeTDS" by default), SERVER, DATABASE and the login
// (UID and PWD, or Trusted_Connection for "Integrated Security=SSPI").
QString OdbcConnectionString(const TDataLink& link, const QString& driver);
// The ODBC driver named by RAVLEK_ODBC_DRIVER, or "FreeTDS".
QString OdbcDriverName();

// An ADO-style connection. Each object owns one named QtSql connection of its own.
class TADOConnection : public QObject {
    Q_OBJECT
public:
    explicit TADOConnection(QObject* owner = nullptr);
    ~TADOConnection() override;
    TADOConnection(const TADOConnection&) = delete;
    TADOConnection& operator=(const TADOConnection&) = delete;

    QString Name() const { return objectName(); }
    void SetName(const QString& name) { setObjectName(name); }
    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }

    QString ConnectionString() const { return m_connectionString; }
    // Refused while connected, as ADO refuses it.
    void SetConnectionString(const QString& connectionString);
    // The engine the connection string's provider selects; throws for an unknown provider.
    DataLinkEngine Engine() const;

    // Connects; does nothing when already connected. Open is a deliberate connect: it always
    // tries, unless the server let a connect run into its time-out since the last deliberate
    // reconnect (ForgetUnreachableServers). A failed connect is remembered: until the next
    // Open, the data sets' own connects and every statement fail at once with
    // EDatabaseUnreachable and the remembered text, so that an unreachable database costs one
    // time-out and not one per query.
    void Open();
    // Where a deliberate reconnect begins (the user's "Connect", the reconnect after a
    // resume): forgets the servers that ran into their time-out, for every connection.
    static void ForgetUnreachableServers();
    // True while a failed connect is remembered.
    bool ConnectFailed() const { return !m_failedConnect.isEmpty(); }
    // True when the connection broke under a statement (the server went away): it has been
    // closed, and the failure is remembered as a failed connect is, until the next Open. The
    // connection never reconnects by itself; its owner reconnects deliberately.
    bool Lost() const { return m_lost; }
    // Closes every data set on the connection, undoes an open transaction and disconnects.
    void Close();
    bool Connected() const;
    void SetConnected(bool connected);

    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    // Ends the open transaction and begins the next at once, as every unit of work of the
    // program does (in one round trip on PostgreSQL).
    void CommitAndBeginTrans();
    void RollbackAndBeginTrans();
    bool InTransaction() const { return m_inTransaction; }
    // Makes the open transaction take the engine's write lock now rather than at its first
    // write (SQLite: BEGIN IMMEDIATE), so that nothing another connection writes can come
    // between what the transaction reads next and what it then writes. The other engines'
    // transactions are real from BeginTrans on; there this does nothing.
    void LockForWriting();

    // Runs a statement that returns no rows and answers the number of rows it affected.
    // Values for ":name" markers in the text are bound, never spliced into it.
    int Execute(const QString& commandText, const QVariantMap& parameters = {});

    // The text of the last failure, empty after a success.
    QString LastError() const { return m_lastError; }

private:
    friend class TCustomADODataSet;
    enum class StatementKind { Read, Write };

    QSqlDatabase database() const;
    void connectNow();
    // The data sets' check before a statement: a closed connection is not connected again
    // with whatever connection string it last had; reconnecting is its owner's decision.
    void connectForStatement();
    void openSqlServer(QSqlDatabase& db, const TDataLink& link);
    void openPostgreSql(QSqlDatabase& db, const TDataLink& link);
    void openSqlite(QSqlDatabase& db, const TDataLink& link);
    void ensureConnected() const;
    void ensurePhysicalTransaction(StatementKind kind);
    // Commits or rolls back (`finish`) the open transaction.
    void endTransaction(bool (QSqlDatabase::*finish)());
    void endAndBegin(const QString& bothStatements, bool (QSqlDatabase::*finish)());
    // Runs `sql` with positional "?" values and hands the query to `consume` while the
    // statement's savepoint (PostgreSQL) still stands. Throws EDatabaseError on failure.
    void run(const QString& sql, const QVariantList& values, StatementKind kind,
             const std::function<void(QSqlQuery&)>& consume);
    // The statement of `sql`, prepared on first use and kept.
    QSqlQuery& preparedStatement(const QString& sql);
    void mendAfterFailure(const QString& sql);
    // Ends the SQLite transaction whose first write the database refused.
    void endRefusedWrite();
    // Gives up a transaction that has only read, after a failed statement spoiled it, and
    // begins the next.
    void beginReadingAnew();
    void runPlain(const QString& sql);
    // Runs `work`; when it fails, finds out whether the connection itself broke (noteFailure).
    template <typename Work> void guarded(Work&& work);
    // After a failure `failure`: asks the server a question that cannot fail on a working
    // connection; when that fails too, the connection is lost: it is closed, and `failure`
    // is remembered until the next Open.
    void noteFailure(const QString& failure);
    // Closes the engine's connection and what depends on it.
    void disconnect();
    [[noreturn]] void fail(const QString& message);
    void attach(TCustomADODataSet* dataSet);

    QString m_connectionName;
    QString m_connectionString;
    DataLinkEngine m_engine = DataLinkEngine::SqlServer;
    int m_tag = 0;
    bool m_inTransaction = false;
    // SQLite starts its real transaction at the first write only (see docs/database.md).
    bool m_physicalTransaction = false;
    // A statement that may change something ran in the open transaction.
    bool m_transactionWrote = false;
    // Prepared statements kept across executions, by text.
    std::unordered_map<QString, std::unique_ptr<QSqlQuery>> m_statements;
    QString m_lastError;
    QString m_failedConnect; // the failure of the last connect, until the next Open
    bool m_lost = false;     // the connection broke under a statement
    QList<QPointer<TCustomADODataSet>> m_dataSets;
};

// The lines of a query's text; every change is announced through Changed().
class TStringList : public QObject {
    Q_OBJECT
public:
    explicit TStringList(QObject* parent = nullptr)
        : QObject(parent) {}

    void Clear();
    void Add(const QString& line);
    void Assign(const QStringList& lines);
    // The lines joined by line breaks; SetText splits at line breaks.
    QString Text() const;
    void SetText(const QString& text);
    QStringList Lines() const { return m_lines; }
    int Count() const { return int(m_lines.size()); }
    QString operator[](int index) const { return m_lines.at(index); }

Q_SIGNALS:
    void Changed();

private:
    QStringList m_lines;
};

// A named parameter of a query's text (":name"). Size is the declared text length; the
// value is bound as it is.
struct TParameter {
    QString Name;
    int Size = 0;
    QVariant Value;
};

class TParameters {
public:
    // Throws EDatabaseError "Parameter '<name>' not found" for an unknown name.
    TParameter& ParamByName(const QString& name);
    TParameter* FindParam(const QString& name);
    int Count() const { return int(m_items.size()); }
    TParameter& operator[](int index) { return m_items[size_t(index)]; }

private:
    friend class TCustomADODataSet;
    // Keeps the parameters whose names still occur, in the order of `names`.
    void Rebuild(const QStringList& names);
    std::vector<TParameter> m_items;
};

// One column of an open data set, read from and written to its current record.
class TField {
public:
    TField(TCustomADODataSet& dataSet, int index, const QString& name)
        : m_dataSet(dataSet)
        , m_index(index)
        , m_name(name) {}
    QString FieldName() const { return m_name; }
    int Index() const { return m_index; }

    QVariant Value() const;
    bool IsNull() const;
    QString AsString() const;
    int AsInteger() const;

    // Only in the edit and insert states.
    void SetValue(const QVariant& value);
    void SetAsString(const QString& value) { SetValue(value); }
    void SetAsInteger(int value) { SetValue(value); }
    void Clear() { SetValue(QVariant()); }

private:
    TCustomADODataSet& m_dataSet;
    int m_index;
    QString m_name;
};

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };
enum class TADOLockType { ltReadOnly, ltOptimistic };

// A data set over the result of a command text. Open fetches every row into memory (a
// static cursor). With optimistic locking a result of a single table can be edited: each
// change is written at once by a statement whose WHERE clause demands the row's values as
// they were read, so a row that another connection changed or deleted is reported.
class TCustomADODataSet : public QObject {
    Q_OBJECT
public:
    explicit TCustomADODataSet(QObject* owner = nullptr);
    ~TCustomADODataSet() override;

    TADOConnection* Connection() const { return m_connection; }
    void SetConnection(TADOConnection* connection);
    TADOLockType LockType() const { return m_lockType; }
    void SetLockType(TADOLockType lockType) { m_lockType = lockType; }

    QString CommandText() const { return m_commandText; }
    // Closes the data set first; the ":name" markers become the parameters.
    void SetCommandText(const QString& text);
    TParameters& Parameters() { return m_parameters; }

    void Open();
    void Close();
    bool Active() const { return m_state != TDataSetState::dsInactive; }
    void SetActive(bool active);
    // Closes and opens again, keeping the record number where it can.
    void Requery();
    TDataSetState State() const { return m_state; }

    void First();
    void Next();
    void Prior();
    void Last();
    virtual bool Eof() const;
    bool Bof() const { return m_bof; }
    int RecordCount() const { return int(m_rows.size()); }
    bool IsEmpty() const { return m_rows.empty(); }
    // 1-based number of the current record, 0 when there is none.
    int RecNo() const;
    void SetRecNo(int recNo);

    int FieldCount() const { return int(m_fields.size()); }
    // Field names are upper case whatever the engine reports.
    TField& Fields(int index) const { return *m_fields.at(size_t(index)); }
    TField* FindField(const QString& name) const;
    // Throws EDatabaseError "<name>: Field '<field>' not found".
    TField& FieldByName(const QString& name) const;
    // The stored value of any row, for views.
    QVariant RowValue(int row, int column) const;

    void Edit();
    void Append();
    void Insert();
    void Post();
    void Cancel();
    void Delete();

    // The table that edits are written to: the single table after FROM, or empty.
    QString UpdateTable() const { return m_updateTable; }

Q_SIGNALS:
    // Rows or columns changed (open, close, post, delete, cancel).
    void DataChanged();
    // The current record moved.
    void RecordMoved();

protected:
    // Runs the command text without a result set; answers the rows affected.
    int ExecuteCommand();
    // The value of `field` in the current record (the edit buffer while editing).
    QVariant CurrentValue(int field) const;
    bool HasCurrentRecord() const;

private:
    friend class TField;
    using Row = QVector<QVariant>;

    void setFieldValue(int field, const QVariant& value);
    void checkActive() const;
    void checkUpdatable() const;
    void checkBrowseMode();
    void startNewRecord(qsizetype position);
    void postEdit();
    void postInsert();
    // The WHERE clause that demands every column's original value, and its values.
    QString whereOriginal(const Row& original, QVariantList& values) const;
    QString columnName(int field) const;
    [[noreturn]] void fail(const QString& message) const;
    QString prefixed(const QString& message) const;

    QPointer<TADOConnection> m_connection;
    TADOLockType m_lockType = TADOLockType::ltOptimistic;
    QString m_commandText;
    QString m_executableText; // the command text with "?" for each parameter marker
    QStringList m_markerNames;
    TParameters m_parameters;

    TDataSetState m_state = TDataSetState::dsInactive;
    std::vector<std::unique_ptr<TField>> m_fields;
    QStringList m_engineColumnNames; // as the engine reported them, for statements
    QList<QMetaType> m_columnTypes;
    QString m_updateTable;
    QList<Row> m_rows;
    qsizetype m_current = -1;
    bool m_bof = true;
    bool m_eof = true;
    Row m_buffer;
    QVector<bool> m_modified;
    qsizetype m_insertPosition = -1;
};

// TADOQuery: a data set whose command text is the lines of SQL.
class TADOQuery : public TCustomADODataSet {
    Q_OBJECT
public:
    explicit TADOQuery(QObject* owner = nullptr);

    TStringList* SQL() const { return FSQL; }
    void SetSQL(const QStringList& lines) { FSQL->Assign(lines); }
    // Runs the text without opening a result set; answers and keeps the rows affected.
    int ExecSQL();
    int RowsAffected() const { return FRowsAffected; }

private:
    void SQLTextChanged();

    TStringList* FSQL; // owned as a child
    int FRowsAffected = 0;
};

// A table view of an open data set, for grids; it follows the data set's changes.
class TDataSetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TDataSetModel(TCustomADODataSet* dataSet, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QPointer<TCustomADODataSet> m_dataSet;
};
