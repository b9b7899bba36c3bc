#pragma once

// The workstation lock protocol on the shared tables: which workstation holds a device,
// queueing for a held device, taking a free one and leaving every queue. Window-free, so
// that tests drive it directly against SQLite and PostgreSQL.

#include "database/DatabaseLinks.h"
#include "database/KelvoDatabase.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

// This computer's register row for a device and the workstation names of its lock holders.
struct TDeviceInformation {
    QString OwnStation;  // STATIONID of this computer's register row
    QString IpAddress;   // IPADRESS of that row
    QString Holders;     // every holder's STATIONID followed by ", "
    QString FirstHolder; // STATIONID of the holder, the first entry of Holders
    bool Failed = false; // the look-up failed; the rest holds what was found before

    bool HeldByAnother() const { return !FirstHolder.isEmpty() && FirstHolder != OwnStation; }
};

// One register row (XRAYWORKSTATIONS).
struct TRegisterRow {
    QString ComputerName;
    QString XrayStation;
    QString XrayStationId;
    QString StationId;
    QString IpAddress;
};

// A failed lock operation: the failure's text, and whether it has been reported already (the
// database was not reached, and the failed connect said so).
struct TFailure {
    QString text;
    bool reported = false;
};

// The connection and the queries the lock protocol runs (TXrayDatabase's).
struct TLockQueries {
    TADOConnection* Database1 = nullptr;
    TADOQuery* QXRAYDEV = nullptr;
    TADOQuery* QCONNECTEDDEV = nullptr;
    TADOQuery* QXRAYDEVICES = nullptr;
};

class TDeviceLocks {
public:
    // Messages go through `links`, which must outlive this object.
    TDeviceLocks(TLockQueries queries, const TDatabaseLinks& links);

    // The register rows of one computer and station, in the database's order.
    // Throws EDatabaseError.
    QList<TRegisterRow> RegisteredDevices(const QString& computerName, const QString& stationName);

    // Read-only look-up ended by a rollback. A failure is shown with the lead-in
    // "An error occurred while getting Deviceinformation from database!\r\r"; the result
    // then holds what was found before it (`ipAddress` keeps its value unless found).
    TDeviceInformation GetDeviceInformation(const QString& computerName, const QString& stationName,
                                            const QString& deviceLabel, const QString& ipAddress = {});

    // Outcome of ClaimDevice.
    struct TClaim {
        TDeviceInformation Information;
        bool HeldByAnother = false; // refused: another workstation holds the device
        int OpenResult = 0;         // what `open` returned; 0 when it was not called
        bool NotConnected = false;  // the database could not be reached: nothing was opened
    };
    // Looks up the holder and, when no other workstation holds the device, calls `open`
    // (which opens the device and returns the scanner code) and on 1 takes the lock, all as
    // one atomic step: no other workstation can take the device in between. When the
    // device is held, this computer queues for it. Work left uncommitted on the connection
    // is committed first; afterwards the connection has a new transaction open.
    // `open` runs while the claim holds the engine's lock on the device, so it must not use
    // the connection; should it throw, the claim is rolled back and the exception passes on.
    // Keep `open` short (OpenScanner alone): other workstations' claims wait meanwhile.
    // When the look-up fails, the failure is shown. When the database cannot be reached (the
    // connection is lost or was never made), nothing is opened: the lock list that says who
    // holds the device cannot be read or written. Otherwise what was found decides as before
    // the claim was atomic: a held device is queued for with QueueDeviceLock; a free one (no
    // holder found) is opened and its lock taken with TakeDeviceLock.
    TClaim ClaimDevice(const QString& computerName, const QString& stationName, const QString& deviceLabel,
                       const std::function<int(const TDeviceInformation&)>& open);

    // Adds this computer to the device's queue unless it is in it already.
    void QueueDeviceLock(const QString& stationName, const QString& deviceLabel, const QString& computerName);
    // Makes the first lock row this computer's with LOCKNUMBER 0 (or adds it).
    void TakeDeviceLock(const QString& stationName, const QString& deviceLabel, const QString& computerName);
    // Deletes every lock row of this computer, for all devices.
    void RemoveOwnLocks(const QString& computerName);

private:
    void lookUp(const QString& computerName, const QString& stationName, const QString& deviceLabel,
                TDeviceInformation& information);
    void openRegisterRow(const QString& computerName, const QString& stationName, const QString& deviceLabel);
    void openLockRows(const QString& stationName, const QString& deviceLabel);
    // The register's names of the device as this computer sees it, with its lock rows open;
    // nothing when the computer is not registered for the device.
    struct TDeviceNames {
        QString station;
        QString label;
    };
    std::optional<TDeviceNames> openOwnLockRows(const QString& stationName, const QString& deviceLabel,
                                                const QString& computerName);
    // Each answers what it wrote, as the log tells it; nothing when it wrote no row.
    QString writeHolderRow(const QString& stationName, const QString& deviceLabel,
                           const QString& computerName);
    QString writeQueueRow(const QString& stationName, const QString& deviceLabel,
                          const QString& computerName);
    // One lock operation as its own unit of work: `write` inside a transaction, then commit
    // and begin the next, and the log told what was written; a failure is shown and leaves the
    // transaction as it was.
    void writeLockUnit(const std::function<QString()>& write);
    // Shows a failure after its lead-in, unless it was reported already or is the one shown
    // last with no success in between; a success forgets the failure shown last.
    void report(const std::optional<TFailure>& failure, const QString& leadIn);
    TClaim claimWithoutSerialising(TClaim claim, const QString& computerName, const QString& stationName,
                                   const QString& deviceLabel,
                                   const std::function<int(const TDeviceInformation&)>& open);

    TLockQueries m_q;
    const TDatabaseLinks& m_links;
    QString m_lastShown; // the failure shown last, until the next success
};

// The number under which workstations of this program serialise their claims of one device
// (a PostgreSQL advisory lock, the name of a SQL Server application lock): the first eight
// bytes, big-endian, of the SHA-256 of "XRAYDEVICELOCKLIST\n" + station + "\n" + label in
// UTF-8, both names in upper case without trailing blanks. See docs/locks.md.
qint64 DeviceClaimKey(const QString& stationName, const QString& deviceLabel);
