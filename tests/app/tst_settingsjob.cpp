// "ravlek --settings": the settings window as the only job of the process.

#include "app/SettingsJob.h"
#include "database/EmbeddedDefault.h"
#include "platform/WindowBus.h"
#include "settings/USettings.h"
#include "support/ModalWindows.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <vector>

class tst_SettingsJob : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void settingsSwitch_data();
    void settingsSwitch();
    void settingsWindowIsTheOnlyWindow();
};

void tst_SettingsJob::settingsSwitch_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("found");
    const QString program = QStringLiteral("ravlek");
    QTest::newRow("alone") << QStringList{program, kSettingsSwitch} << true;
    QTest::newRow("after a data-link file")
        << QStringList{program, QStringLiteral("Praxis.udl"), kSettingsSwitch} << true;
    QTest::newRow("host's command line")
        << QStringList{program, QStringLiteral("PNR=4711"), QStringLiteral("OUTDIR=/srv/xray/")} << false;
    QTest::newRow("no arguments") << QStringList{program} << false;
    // The program's own name is no argument, however it is called.
    QTest::newRow("program named like the switch") << QStringList{kSettingsSwitch} << false;
    QTest::newRow("with a value") << QStringList{program, QStringLiteral("--settings=1")} << false;
    QTest::newRow("other letter case") << QStringList{program, QStringLiteral("--SETTINGS")} << false;
}

void tst_SettingsJob::settingsSwitch() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, found);
    std::vector<QByteArray> storage;
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    QCOMPARE(HasSettingsSwitch(int(arguments.size()), argv.data()), found);
}

// A fresh installation: the window connects to the embedded default before it shows, offers
// the register, and the job ends with "Return". Nothing goes on the window bus, so a start
// from the journal program meanwhile is not handed over to this process.
void tst_SettingsJob::settingsWindowIsTheOnlyWindow() {
    TestEnvironment env;
    // What the window showed, read inside its modal loop and checked after it has ended.
    bool shown = false;
    bool connected = false;
    bool registerOpen = false;
    qsizetype visibleWindows = 0;
    qsizetype busWindows = -1;
    whenModal<TfrmSettings>([&](TfrmSettings* window) {
        shown = true;
        connected = window->Database().Database1->Connected();
        registerOpen = window->ConnectCover->isHidden(); // the cover "Connect to database" has gone
        const QWidgetList windows = QApplication::topLevelWidgets();
        visibleWindows = std::count_if(windows.cbegin(), windows.cend(),
                                       [](const QWidget* widget) { return widget->isVisible(); });
        busWindows = platform::windowBus().enumWindows().size();
        window->ReturnButton->click();
    });

    QCOMPARE(RunSettingsJob({QStringLiteral("ravlek"), kSettingsSwitch}), 0);
    QVERIFY(shown);
    QVERIFY(connected);
    QVERIFY(registerOpen);
    QCOMPARE(visibleWindows, 1);
    QCOMPARE(busWindows, 0);
    QVERIFY(QFileInfo::exists(EmbeddedDatabasePath()));
}

QTEST_MAIN(tst_SettingsJob)
#include "tst_settingsjob.moc"
