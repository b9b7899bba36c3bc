#pragma once

// The practice database as the program uses it: its one connection, every query on the
// station register (XRAYWORKSTATIONS) and the lock list (XRAYDEVICELOCKLIST) with its SQL,
// the connect step with the table check, the register search and changes, the removal of
// a device's locks, and the lock protocol (DeviceLocks.h). The program creates it once, at
// start, and hands it to the windows and the device list; they call it, and it opens no
// window: its messages go through the dialog port.

#include "database/DataLinkFile.h"
#include "database/DatabaseLinks.h"
#include "database/DeviceLocks.h"
#include "database/KelvoDatabase.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>

#include <memory>

class TXrayDatabase : public QObject {
    Q_OBJECT
public:
    // Connects with the data-link choice `dataLink` (the program's environment), which must
    // outlive this object; `links` give it what it needs of the program around it.
    explicit TXrayDatabase(TDataLinkState& dataLink, TDatabaseLinks links = {}, QObject* parent = nullptr);
    ~TXrayDatabase() override;
    TXrayDatabase(const TXrayDatabase&) = delete;
    TXrayDatabase& operator=(const TXrayDatabase&) = delete;

    TDataLinkState& DataLink() const { return m_dataLink; }
    const TDatabaseLinks& Links() const { return m_links; }

    // ---- The connect step ---------------------------------------------------------------
    // The login: completes the data-link choice's connection string, with an empty fallback
    // login (BuildConnectionString of KelvoLogin.h). False after an error message. It begins
    // the connect step, a deliberate reconnect: servers that did not answer are tried again.
    bool BuildConnectionString();
    // Connects with the completed connection string, creates the tables that are missing,
    // begins the transaction that is always open and opens the register. Throws
    // EDatabaseError on failure, and leaves the connection closed then; the failed connect is
    // remembered (TADOConnection::Open), so that the look-ups and lock operations after it fail
    // at once and without a message of their own, until the next connect step.
    void Connect();
    // True when a query on the table succeeds.
    bool TableExists(const QString& tableName);

    // ---- Recovery after an outage ---------------------------------------------------------
    // Answers whether the connection is open. When it was lost (a statement found the server
    // gone, see TADOConnection::Lost), it reconnects deliberately, with the data-link file read
    // anew and the login completed again, at most once per pause: 5 seconds, or ten times as
    // long as the last failed attempt took (a server that lets a connect run into its time-out
    // is not waited for over and over). `now` tries at once whatever the pause. Silent: the
    // outage was reported by the operation that ran into it. A connection that was never made,
    // or that the user closed, is left to the user's "Connect".
    bool KeepConnected(bool now = false);

    // ---- The register (the settings window's grid and the workstation editor) ------------
    // Lists the rows whose station or device name contains `searchText` (letter case
    // ignored, "%" and "_" taken literally), or every row when the text is empty, a single
    // blank or begins with a control character; ordered by STATIONID.
    void SearchRegister(const QString& searchText);
    // Deletes the current row and commits; the register is read anew in a new transaction.
    void DeleteRegisterRow();
    // Stores the row being added or edited and commits; the register is read anew.
    void SaveRegisterRow();
    // Deletes every lock row of one device, whoever holds or waits, and commits at once: a
    // removal left in the open transaction would be undone by the next read-only look-up,
    // after the user was told the device is unlocked.
    void RemoveDeviceLocks(const QString& stationName, const QString& deviceLabel);

    // ---- The lock list ------------------------------------------------------------------
    TDeviceLocks& Locks() { return *m_locks; }

    // The connection and the queries, named as the program has always named them.
    TADOConnection* Database1;
    TADOQuery* QXRAYWORKSTATIONS; // the register, read by the grid and edited by the editor
    TADOQuery* QCREATEXRAYWORKSTATIONS;
    TADOQuery* QOVRIGT; // the table probe of TableExists
    TADOQuery* QXRAYDEV;
    TADOQuery* QCONNECTEDDEV;
    TADOQuery* QCREATEXRAYDEVICELOCKLIST;
    TADOQuery* QXRAYDEVICES;

private:
    void createTable(TADOQuery* query, const QStringList& lines);
    bool reconnect();
    // Ends the open transaction with a commit and begins the next.
    void commitAndBegin();

    TDataLinkState& m_dataLink;
    TDatabaseLinks m_links;
    std::unique_ptr<TDeviceLocks> m_locks;
    bool m_recovering = false;    // the connection was lost and has not been had again
    QDeadlineTimer m_nextAttempt; // no reconnect before this
};
