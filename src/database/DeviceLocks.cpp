#include "database/DeviceLocks.h"

#include "platform/Logging.h"

#include <QCryptographicHash>
#include <QtEndian>

#include <optional>

namespace {

const QString kLookupFailure =
    QStringLiteral("An error occurred while getting Deviceinformation from database!\r\r");
const QString kResetFailure =
    QStringLiteral("An error occurred while resetting DeviceLock-information in database!\r\r");

// How long a claim waits for another workstation's claim of the same device (PostgreSQL,
// SQL Server); SQLite's writers wait for its busy time-out instead.
constexpr int kClaimWaitSeconds = 15;

// Runs `work`; answers its failure when it throws, nothing when it succeeds.
template <typename Work> std::optional<TFailure> failureOf(Work&& work) {
    try {
        work();
        return std::nullopt;
    } catch (const EDatabaseUnreachable& error) {
        return TFailure{error.Message(), true};
    } catch (const EDatabaseError& error) {
        return TFailure{error.Message(), false};
    } catch (const std::exception& error) {
        return TFailure{FailureText(error), false};
    }
}

// What the log says of a lock row written for `computerName`.
QString deviceText(const QString& stationName, const QString& deviceLabel) {
    return stationName + QStringLiteral(" - ") + deviceLabel;
}
QString holderText(const QString& computerName, const QString& stationName, const QString& deviceLabel) {
    return QStringLiteral("%1 holds %2").arg(computerName, deviceText(stationName, deviceLabel));
}
QString queuedText(const QString& computerName, const QString& stationName, const QString& deviceLabel,
                   int lockNumber) {
    return QStringLiteral("%1 queues for %2 as number %3")
        .arg(computerName, deviceText(stationName, deviceLabel))
        .arg(lockNumber);
}

void beginIfNone(TADOConnection& connection) {
    if (!connection.InTransaction())
        connection.BeginTrans();
}

void setParameter(TADOQuery& query, const QString& name, const QString& value) {
    query.Parameters().ParamByName(name).Value = value;
}

QString field(const TADOQuery& query, const QString& name) {
    return query.FieldByName(name).AsString();
}

// SQL Server compares texts without regard to trailing blanks (and usually to letter case),
// so names that it takes for one device must give one key.
QString keyText(const QString& name) {
    qsizetype end = name.size();
    while (end > 0 && name.at(end - 1) == QLatin1Char(' '))
        --end;
    return name.left(end).toUpper();
}

// Takes the engine lock that serialises the claims of one device until the open
// transaction ends.
void serialiseClaims(TADOConnection& connection, const QString& stationName, const QString& deviceLabel) {
    const qint64 key = DeviceClaimKey(stationName, deviceLabel);
    switch (connection.Engine()) {
    case DataLinkEngine::SQLite:
        // SQLite locks the whole database for writing; its busy time-out bounds the wait.
        connection.LockForWriting();
        break;
    case DataLinkEngine::PostgreSQL:
        connection.Execute(QStringLiteral("SET LOCAL lock_timeout = '%1s'").arg(kClaimWaitSeconds));
        connection.Execute(QStringLiteral("SELECT pg_advisory_xact_lock(:claimkey)"),
                           {{QStringLiteral("claimkey"), QVariant::fromValue(key)}});
        break;
    case DataLinkEngine::SqlServer:
        connection.Execute(
            QStringLiteral("DECLARE @result int;\n"
                           "EXEC @result = sp_getapplock @Resource = :resource, @LockMode = 'Exclusive', "
                           "@LockOwner = 'Transaction', @LockTimeout = %1;\n"
                           "IF @result < 0 RAISERROR('The device is being claimed by another workstation "
                           "(sp_getapplock %d).', 16, 1, @result);")
                .arg(kClaimWaitSeconds * 1000),
            {{QStringLiteral("resource"),
              QStringLiteral("XRAYDEVICELOCKLIST.%1").arg(quint64(key), 16, 16, QLatin1Char('0'))}});
        break;
    }
}

// The transaction of one claim. Whatever happens, the connection has a transaction open
// when the claim is over, and the claim's own one never outlives it: ending it releases
// the engine lock that other workstations' claims wait for.
class ClaimTransaction {
public:
    explicit ClaimTransaction(TADOConnection& connection)
        : m_connection(connection) {}
    ~ClaimTransaction() { release(); }
    ClaimTransaction(const ClaimTransaction&) = delete;
    ClaimTransaction& operator=(const ClaimTransaction&) = delete;

    // Makes the work left on the connection permanent, so that the claim starts from a
    // transaction of its own, and takes the device's engine lock.
    void start(const QString& stationName, const QString& deviceLabel) {
        if (m_connection.InTransaction())
            m_connection.CommitAndBeginTrans();
        else
            m_connection.BeginTrans();
        m_open = true;
        serialiseClaims(m_connection, stationName, deviceLabel);
    }

    void commit() {
        m_connection.CommitAndBeginTrans();
        m_open = false;
    }

    // Undoes the claim's transaction when it is still open and makes sure a new one is.
    void release() noexcept {
        if (m_open) {
            m_open = false;
            try {
                if (m_connection.InTransaction())
                    m_connection.RollbackTrans();
            } catch (const std::exception&) {
                // A connection that cannot roll back has lost its transaction anyway.
            }
        }
        try {
            beginIfNone(m_connection);
        } catch (const std::exception&) {
            // The next unit of work begins one when none is open.
        }
    }

private:
    TADOConnection& m_connection;
    bool m_open = false;
};

} // namespace

qint64 DeviceClaimKey(const QString& stationName, const QString& deviceLabel) {
    const QString text = QStringLiteral("XRAYDEVICELOCKLIST\n") + keyText(stationName) + QLatin1Char('\n') +
                         keyText(deviceLabel);
    const QByteArray digest = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256);
    return qFromBigEndian<qint64>(digest.constData());
}

TDeviceLocks::TDeviceLocks(TLockQueries queries, const TDatabaseLinks& links)
    : m_q(queries)
    , m_links(links) {}

// The timers repeat the lock operations every few seconds; a failure that repeats itself is
// shown once, not once per tick.
void TDeviceLocks::report(const std::optional<TFailure>& failure, const QString& leadIn) {
    if (!failure) {
        m_lastShown.clear();
        return;
    }
    // The first line is the failure itself; PostgreSQL's lines after it show the statement,
    // under a name that changes with every preparation.
    const QString headline = failure->text.section(QLatin1Char('\n'), 0, 0);
    if (failure->reported || headline == m_lastShown)
        return;
    m_lastShown = headline;
    DatabaseMessage(m_links, platform::DialogKind::Warning, leadIn + failure->text);
}

QList<TRegisterRow> TDeviceLocks::RegisteredDevices(const QString& computerName, const QString& stationName) {
    TADOQuery& query = *m_q.QXRAYDEVICES;
    query.Close();
    setParameter(query, QStringLiteral("computername"), computerName);
    setParameter(query, QStringLiteral("xraystation"), stationName);
    query.Open();
    QList<TRegisterRow> rows;
    for (query.First(); !query.Eof(); query.Next()) {
        rows.append({field(query, QStringLiteral("COMPUTERNAME")),
                     field(query, QStringLiteral("XRAYSTATION")),
                     field(query, QStringLiteral("XRAYSTATIONID")), field(query, QStringLiteral("STATIONID")),
                     field(query, QStringLiteral("IPADRESS"))});
    }
    query.Close();
    return rows;
}

void TDeviceLocks::openRegisterRow(const QString& computerName, const QString& stationName,
                                   const QString& deviceLabel) {
    TADOQuery& query = *m_q.QXRAYDEV;
    query.Close();
    setParameter(query, QStringLiteral("computername"), computerName);
    setParameter(query, QStringLiteral("xraystation"), stationName);
    setParameter(query, QStringLiteral("xraystationid"), deviceLabel);
    query.Open();
}

void TDeviceLocks::openLockRows(const QString& stationName, const QString& deviceLabel) {
    TADOQuery& query = *m_q.QCONNECTEDDEV;
    query.Close();
    setParameter(query, QStringLiteral("xrayname"), stationName);
    setParameter(query, QStringLiteral("xrayid"), deviceLabel);
    query.Open();
}

// The look-up without its end: `information` holds what was found so far when it throws.
void TDeviceLocks::lookUp(const QString& computerName, const QString& stationName, const QString& deviceLabel,
                          TDeviceInformation& information) {
    m_q.QXRAYDEV->Close();
    beginIfNone(*m_q.Database1);
    openRegisterRow(computerName, stationName, deviceLabel);
    if (m_q.QXRAYDEV->IsEmpty())
        return;
    TADOQuery& registerRow = *m_q.QXRAYDEV;
    TADOQuery& locks = *m_q.QCONNECTEDDEV;
    registerRow.First();
    information.OwnStation = field(registerRow, QStringLiteral("STATIONID"));
    information.IpAddress = field(registerRow, QStringLiteral("IPADRESS"));
    openLockRows(field(registerRow, QStringLiteral("XRAYSTATION")),
                 field(registerRow, QStringLiteral("XRAYSTATIONID")));
    // Only computers registered for the device count; other lock rows are passed over.
    for (locks.First(); !locks.Eof(); locks.Next()) {
        openRegisterRow(field(locks, QStringLiteral("COMPUTERNAME")), stationName, deviceLabel);
        if (!registerRow.IsEmpty()) {
            const QString holder = field(registerRow, QStringLiteral("STATIONID"));
            if (information.FirstHolder.isEmpty())
                information.FirstHolder = holder;
            information.Holders += holder + QStringLiteral(", ");
        }
        registerRow.Close();
    }
    locks.Close();
}

TDeviceInformation TDeviceLocks::GetDeviceInformation(const QString& computerName, const QString& stationName,
                                                      const QString& deviceLabel, const QString& ipAddress) {
    TDeviceInformation information;
    information.IpAddress = ipAddress;
    const std::optional<TFailure> failure = failureOf([&] {
        lookUp(computerName, stationName, deviceLabel, information);
        m_q.QXRAYDEV->Close();
        m_q.Database1->RollbackAndBeginTrans();
    });
    report(failure, kLookupFailure);
    information.Failed = failure.has_value();
    return information;
}

std::optional<TDeviceLocks::TDeviceNames> TDeviceLocks::openOwnLockRows(const QString& stationName,
                                                                        const QString& deviceLabel,
                                                                        const QString& computerName) {
    openRegisterRow(computerName, stationName, deviceLabel);
    if (m_q.QXRAYDEV->IsEmpty())
        return std::nullopt;
    TDeviceNames names{field(*m_q.QXRAYDEV, QStringLiteral("XRAYSTATION")),
                       field(*m_q.QXRAYDEV, QStringLiteral("XRAYSTATIONID"))};
    openLockRows(names.station, names.label);
    return names;
}

// The first lock row becomes this computer's with LOCKNUMBER 0, whoever it belonged to.
QString TDeviceLocks::writeHolderRow(const QString& stationName, const QString& deviceLabel,
                                     const QString& computerName) {
    const std::optional<TDeviceNames> names = openOwnLockRows(stationName, deviceLabel, computerName);
    if (!names)
        return {};
    TADOQuery& locks = *m_q.QCONNECTEDDEV;
    const QString& station = names->station;
    const QString& label = names->label;
    if (locks.IsEmpty()) {
        locks.Append();
    } else {
        locks.First();
        locks.Edit();
    }
    locks.FieldByName(QStringLiteral("XRAYSTATION")).SetAsString(station);
    locks.FieldByName(QStringLiteral("XRAYSTATIONID")).SetAsString(label);
    locks.FieldByName(QStringLiteral("COMPUTERNAME")).SetAsString(computerName);
    locks.FieldByName(QStringLiteral("LOCKNUMBER")).SetAsInteger(0);
    locks.Post();
    locks.Close();
    return holderText(computerName, station, label);
}

// A row behind the last one, unless this computer has a row for the device already.
QString TDeviceLocks::writeQueueRow(const QString& stationName, const QString& deviceLabel,
                                    const QString& computerName) {
    const std::optional<TDeviceNames> names = openOwnLockRows(stationName, deviceLabel, computerName);
    if (!names)
        return {};
    TADOQuery& locks = *m_q.QCONNECTEDDEV;
    const QString& station = names->station;
    const QString& label = names->label;
    for (locks.First(); !locks.Eof(); locks.Next()) {
        if (field(locks, QStringLiteral("COMPUTERNAME")) == computerName) {
            locks.Close();
            return {};
        }
    }
    int lastNumber = 0;
    if (!locks.IsEmpty()) {
        locks.Last();
        lastNumber = locks.FieldByName(QStringLiteral("LOCKNUMBER")).AsInteger();
    }
    locks.Append();
    locks.FieldByName(QStringLiteral("LOCKNUMBER")).SetAsInteger(lastNumber + 1);
    locks.FieldByName(QStringLiteral("COMPUTERNAME")).SetAsString(computerName);
    locks.FieldByName(QStringLiteral("XRAYSTATION")).SetAsString(station);
    locks.FieldByName(QStringLiteral("XRAYSTATIONID")).SetAsString(label);
    locks.Post();
    locks.Close();
    return queuedText(computerName, station, label, lastNumber + 1);
}

void TDeviceLocks::QueueDeviceLock(const QString& stationName, const QString& deviceLabel,
                                   const QString& computerName) {
    writeLockUnit([&] { return writeQueueRow(stationName, deviceLabel, computerName); });
}

void TDeviceLocks::TakeDeviceLock(const QString& stationName, const QString& deviceLabel,
                                  const QString& computerName) {
    writeLockUnit([&] { return writeHolderRow(stationName, deviceLabel, computerName); });
}

void TDeviceLocks::writeLockUnit(const std::function<QString()>& write) {
    QString written;
    const std::optional<TFailure> failure = failureOf([&] {
        m_q.QXRAYDEV->Close();
        beginIfNone(*m_q.Database1);
        written = write();
        m_q.QXRAYDEV->Close();
        m_q.Database1->CommitAndBeginTrans();
    });
    report(failure, kLookupFailure);
    if (!failure && !written.isEmpty())
        qCInfo(lcLock).noquote() << written;
}

void TDeviceLocks::RemoveOwnLocks(const QString& computerName) {
    int removed = 0;
    const std::optional<TFailure> failure = failureOf([&] {
        beginIfNone(*m_q.Database1);
        removed = m_q.Database1->Execute(
            QStringLiteral("DELETE FROM XRAYDEVICELOCKLIST WHERE COMPUTERNAME = :computername"),
            {{QStringLiteral("computername"), computerName}});
        m_q.Database1->CommitAndBeginTrans();
    });
    report(failure, kResetFailure);
    if (!failure && removed > 0)
        qCInfo(lcLock).noquote()
            << QStringLiteral("%1 gave up its locks and queue places (%2)").arg(computerName).arg(removed);
}

TDeviceLocks::TClaim TDeviceLocks::ClaimDevice(const QString& computerName, const QString& stationName,
                                               const QString& deviceLabel,
                                               const std::function<int(const TDeviceInformation&)>& open) {
    TClaim claim;
    ClaimTransaction transaction(*m_q.Database1);
    const std::optional<TFailure> lookupFailure = failureOf([&] {
        transaction.start(stationName, deviceLabel);
        lookUp(computerName, stationName, deviceLabel, claim.Information);
        m_q.QXRAYDEV->Close();
    });
    if (lookupFailure) {
        // Released before the message: other workstations must not wait for the user.
        transaction.release();
        report(lookupFailure, kLookupFailure);
        claim.Information.Failed = true;
        if (!m_q.Database1->Connected()) {
            claim.NotConnected = true;
            return claim;
        }
        return claimWithoutSerialising(claim, computerName, stationName, deviceLabel, open);
    }

    std::function<QString()> write;
    if (claim.Information.HeldByAnother()) {
        claim.HeldByAnother = true;
        write = [&] { return writeQueueRow(stationName, deviceLabel, computerName); };
    } else {
        claim.OpenResult = open(claim.Information);
        if (claim.OpenResult != 1) {
            transaction.release();
            return claim;
        }
        write = [&] { return writeHolderRow(stationName, deviceLabel, computerName); };
    }
    QString written;
    const std::optional<TFailure> writeFailure = failureOf([&] {
        written = write();
        m_q.QXRAYDEV->Close();
        transaction.commit();
    });
    if (writeFailure)
        transaction.release();
    report(writeFailure, kLookupFailure);
    if (!writeFailure && !written.isEmpty())
        qCInfo(lcLock).noquote() << written;
    return claim;
}

// What the program did before claims were atomic: the partial look-up decides, and the
// lock operations run as units of their own. Used when the database fails the claim, so
// that a database fault never keeps a practice from its device.
TDeviceLocks::TClaim
TDeviceLocks::claimWithoutSerialising(TClaim claim, const QString& computerName, const QString& stationName,
                                      const QString& deviceLabel,
                                      const std::function<int(const TDeviceInformation&)>& open) {
    if (claim.Information.HeldByAnother()) {
        claim.HeldByAnother = true;
        QueueDeviceLock(stationName, deviceLabel, computerName);
        return claim;
    }
    claim.OpenResult = open(claim.Information);
    if (claim.OpenResult == 1)
        TakeDeviceLock(stationName, deviceLabel, computerName);
    return claim;
}
