#pragma once

// A device list on its own: a bare radio group and button, the program's database layer on
// an SQLite database, and the simulated driver, in an isolated installation.

#include "database/EmbeddedDefault.h"
#include "database/XrayDatabase.h"
#include "devices/DeviceList.h"
#include "devices/TRadioGroup.h"
#include "settings/ProgramDatabaseLinks.h"
#include "settings/USelectDevices.h"
#include "sim/SimCatalogue.h"
#include "sim/SimDeviceFolder.h"
#include "sim/SimulatedDsd.h"
#include "sound/WavPlayer.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include "support/ScriptedDialogs.h"
#include "support/TestEnvironment.h"

#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>
#include <optional>

inline const QString kThisComputer = QStringLiteral("TESTPC");
inline const QString kDriverKey = QStringLiteral("SOFTWARE\\Soredex\\Dsd\\Uid");

class DeviceListFixture {
public:
    DeviceListFixture()
        : env(kThisComputer) {
        // The environment fixes where settings are stored; the database connects as at start
        // (the only data-link file is the embedded default).
        InitApplicationEnvironment({QStringLiteral("ravlek")});
        for (int type = 1; type <= kSingleDeviceType; ++type)
            WriteSetting(QStringLiteral("DigoraDevices"), QString::number(type), DefaultDeviceName(type));
        database = std::make_unique<TXrayDatabase>(Environment(), ProgramDatabaseLinks());
        EnsureEmbeddedDataLink(Environment().DataLinksPath);
        connected = connectDatabase();
        scanner = std::make_unique<TSimulatedDsd>();

        TDeviceListLinks links;
        links.ImageTypeList = &radioGroup;
        links.btnDeviceSettings = &deviceSettings;
        links.ReadySoundPlayer = &player;
        links.Database = database.get();
        links.ScanImage = [this] {
            ++scansArmed;
            if (onScan)
                onScan();
        };
        links.FirstActivationMarker = [this] { return marker; };
        controller = std::make_unique<TDeviceListController>(std::move(links));
        controller->SetScanner(scanner.get());
        QObject::connect(&radioGroup, &TRadioGroup::Click,
                         [this] { controller->RadioGroup1Click(&radioGroup); });
    }

    ~DeviceListFixture() { controller.reset(); }

    bool connectDatabase() {
        if (!database->BuildConnectionString())
            return false;
        database->Connect();
        return true;
    }

    void setConnectTo(const QString& types) {
        WriteSetting(QStringLiteral("DigoraDevices"), QStringLiteral("ConnectTo"), types);
    }

    void execute(const QString& sql, const QVariantMap& values) {
        TADOConnection& db = *database->Database1;
        if (!db.InTransaction())
            db.BeginTrans();
        db.Execute(sql, values);
        db.CommitTrans();
        db.BeginTrans();
    }

    void addStation(const QString& computer, int type, const QString& label, const QString& stationId,
                    const QString& ip = {}) {
        execute(QStringLiteral("INSERT INTO XRAYWORKSTATIONS (COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, "
                               "STATIONID, IPADRESS) VALUES (:c, :s, :l, :w, :ip)"),
                {{QStringLiteral("c"), computer},
                 {QStringLiteral("s"), DefaultDeviceName(type)},
                 {QStringLiteral("l"), label},
                 {QStringLiteral("w"), stationId},
                 {QStringLiteral("ip"), ip}});
    }

    void addLock(const QString& computer, int type, const QString& label, int number) {
        execute(QStringLiteral("INSERT INTO XRAYDEVICELOCKLIST (COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, "
                               "LOCKNUMBER) VALUES (:c, :s, :l, :n)"),
                {{QStringLiteral("c"), computer},
                 {QStringLiteral("s"), DefaultDeviceName(type)},
                 {QStringLiteral("l"), label},
                 {QStringLiteral("n"), number}});
    }

    void removeLocksOf(const QString& computer) {
        execute(QStringLiteral("DELETE FROM XRAYDEVICELOCKLIST WHERE COMPUTERNAME = :c"),
                {{QStringLiteral("c"), computer}});
    }

    // Lock rows of a device as "COMPUTER:NUMBER", in LOCKNUMBER order.
    QStringList lockRows(int type, const QString& label) {
        TADOQuery query;
        query.SetConnection(database->Database1);
        query.SetSQL({QStringLiteral("SELECT COMPUTERNAME, LOCKNUMBER FROM XRAYDEVICELOCKLIST WHERE "
                                     "XRAYSTATION = :s AND XRAYSTATIONID = :l ORDER BY LOCKNUMBER")});
        query.Parameters().ParamByName(QStringLiteral("s")).Value = DefaultDeviceName(type);
        query.Parameters().ParamByName(QStringLiteral("l")).Value = label;
        query.Open();
        QStringList rows;
        for (query.First(); !query.Eof(); query.Next())
            rows.append(query.FieldByName(QStringLiteral("COMPUTERNAME")).AsString() + QLatin1Char(':') +
                        query.FieldByName(QStringLiteral("LOCKNUMBER")).AsString());
        query.Close();
        return rows;
    }

    // The simulated device of a type, to configure it.
    SimDeviceFolder simDevice(int type) const {
        const SimCatalogue catalogue;
        return SimDeviceFolder(catalogue.deviceFolder(*catalogue.find(QString::number(type))));
    }

    void setFault(int type, const QString& operation, int code) {
        simDevice(type).updateConfig([&](SimDeviceConfig& config) {
            config.faults.insert(operation, {code, -1});
        });
    }

    // Another process's hold on a device: the driver answers ALREADYOPENED to everyone else.
    std::unique_ptr<TSimulatedDsd> holdDevice(int type) {
        auto other = std::make_unique<TSimulatedDsd>();
        const int opened = other->OpenScanner(type, 1, QString());
        if (opened != 1)
            qFatal("the simulated device %d could not be held: %d", type, opened);
        return other;
    }

    QStringList itemTexts() const {
        QStringList texts;
        for (int i = 0; i < radioGroup.Count(); ++i)
            texts.append(radioGroup.ItemText(i));
        return texts;
    }

    TestEnvironment env;
    ScriptedDialogs dialogs;
    std::unique_ptr<TXrayDatabase> database;
    bool connected = false;
    std::unique_ptr<TSimulatedDsd> scanner;
    TRadioGroup radioGroup;
    QPushButton deviceSettings;
    TWavPlayer player{nullptr};
    std::unique_ptr<TDeviceListController> controller;
    int marker = 1;
    int scansArmed = 0;
    std::function<void()> onScan;
};
