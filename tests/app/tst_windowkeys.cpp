// The windows as a keyboard user meets them: Tab in reading order, and keys that must not
// press a button the user did not mean.

#include "app/MainUnit.h"
#include "app/UPreviewPicture.h"
#include "database/KelvoDatabase.h"
#include "devices/TRadioGroup.h"
#include "settings/DataLinkEditor.h"
#include "settings/ProgramDatabaseLinks.h"
#include "settings/UPacsSettings.h"
#include "settings/USelectDevices.h"
#include "settings/USettings.h"
#include "settings/UXrayWorkstation.h"
#include "settings/Udataproviders.h"
#include "sim/SimulatedDsd.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include "support/ScriptedDialogs.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {

enum class Window {
    Main,
    Settings,
    WorkstationEditor,
    DeviceSelection,
    DataProviderChooser,
    DataLinkEditor,
    PacsSettings,
    Preview
};

QString nameOf(const QWidget* widget) {
    if (!widget)
        return QStringLiteral("(none)");
    const auto* button = qobject_cast<const QAbstractButton*>(widget);
    const QString name = widget->objectName();
    if (!name.isEmpty())
        return name;
    return QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ') +
           (button ? button->text() : QString());
}

QStringList namesOf(const QList<QWidget*>& widgets) {
    QStringList names;
    for (const QWidget* widget : widgets)
        names.append(nameOf(widget));
    return names;
}

// The widgets that get the focus, Tab after Tab, starting from `first`, until the focus is
// back at `first` (or, at most, twice the expected number of stops).
QList<QWidget*> tabStops(QWidget* first, qsizetype expected) {
    first->setFocus(Qt::TabFocusReason);
    QList<QWidget*> stops{QApplication::focusWidget()};
    for (qsizetype i = 0; i < 2 * expected; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (QApplication::focusWidget() == stops.first())
            break;
        stops.append(QApplication::focusWidget());
    }
    return stops;
}

} // namespace

class TestWindowKeys : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void tabFollowsReadingOrder_data();
    void tabFollowsReadingOrder();
    void enterInSearchBoxPressesNothing();

private:
    // A window of `kind`, shown and active, and its tab stops in reading order.
    std::unique_ptr<QWidget> openWindow(Window kind, QList<QWidget*>* order);
    // Two rows in the register, so that the grid has cells to walk.
    void fillRegister();

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<TXrayDatabase> m_database;
};

void TestWindowKeys::initTestCase() {
    RegisterSimulatedDriver();
}

void TestWindowKeys::init() {
    m_env = std::make_unique<TestEnvironment>();
    m_env->makeFolder(QStringLiteral("xray"));
    m_dialogs = std::make_unique<ScriptedDialogs>();
    InitApplicationEnvironment({QStringLiteral("ravlek")});
    m_database = std::make_unique<TXrayDatabase>(Environment(), ProgramDatabaseLinks());
    for (int type = 1; type <= 8; ++type)
        WriteSetting(QStringLiteral("DigoraDevices"), QString::number(type), DefaultDeviceName(type));
    WriteSetting(QStringLiteral("DigoraDevices"), QStringLiteral("ConnectTo"), u"¤8¤"_qs);
}

void TestWindowKeys::cleanup() {
    m_database.reset();
    m_dialogs.reset();
    m_env.reset();
}

void TestWindowKeys::fillRegister() {
    TADOConnection& connection = *m_database->Database1;
    for (const QString& id : {QStringLiteral("Rum 1"), QStringLiteral("Rum 2")})
        connection.Execute(QStringLiteral("INSERT INTO XRAYWORKSTATIONS (COMPUTERNAME, XRAYSTATION, "
                                          "XRAYSTATIONID, STATIONID) VALUES ('TESTPC', 'Digora', :id, 'WS')"),
                           {{QStringLiteral("id"), id}});
    connection.CommitAndBeginTrans();
    m_database->SearchRegister(QString());
}

std::unique_ptr<QWidget> TestWindowKeys::openWindow(Window kind, QList<QWidget*>* order) {
    std::unique_ptr<QWidget> window;
    switch (kind) {
    case Window::Main: {
        auto form = std::make_unique<TRavlekMainForm>(
            m_database.get(), QStringList{QStringLiteral("ravlek"), QStringLiteral("PNR=5"),
                                          QStringLiteral("OUTDIR=") + m_env->path(QStringLiteral("xray/"))});
        form->CreateSettingsWindow();
        window = std::move(form);
        break;
    }
    case Window::Settings: {
        auto settings = std::make_unique<TfrmSettings>(*m_database);
        if (!settings->ConnectToDatabase())
            return nullptr;
        fillRegister();
        // "Connect" is disabled while connected. A panel of choices is one stop (the arrow keys
        // move between its buttons).
        *order = {settings->SelectButton,        settings->AddButton,    settings->EditButton,
                  settings->SearchEdit,          settings->DeleteButton, settings->RegisterGrid,
                  settings->Bits8Button,         settings->DibButton,    settings->PlaySoundCheckBox,
                  settings->TotoOneShotCheckBox, settings->btnPacs,      settings->ReturnButton};
        window = std::move(settings);
        break;
    }
    case Window::WorkstationEditor: {
        auto editor = std::make_unique<TfrmEditXrayWorkstation>(*m_database);
        // "Get computername" is skipped by the tab key.
        *order = {editor->StationNameEdit,   editor->UniqueNameEdit,
                  editor->ComputerNameEdit,  editor->WorkstationNameEdit,
                  editor->RemoveLocksButton, editor->IpAddressEdit,
                  editor->OkButton,          editor->CancelButton};
        window = std::move(editor);
        break;
    }
    case Window::DeviceSelection: {
        auto selection = std::make_unique<TfrmSelectDevices>();
        *order = {selection->DeviceTypeList, selection->OkButton, selection->CancelButton};
        window = std::move(selection);
        break;
    }
    case Window::DataProviderChooser: {
        auto chooser = std::make_unique<TfrmDataProviders>();
        *order = {chooser->AddButton,    chooser->EditButton, chooser->DefaultButton, chooser->DeleteButton,
                  chooser->ProviderList, chooser->OkButton,   chooser->CancelButton};
        window = std::move(chooser);
        break;
    }
    case Window::DataLinkEditor: {
        auto editor = std::make_unique<TfrmDataLinkEditor>(m_env->path(QStringLiteral("Practice.udl")));
        editor->setConnectionString(
            QStringLiteral("Provider=PostgreSQL;Data Source=db;Initial Catalog=practice;User ID=ravlek"));
        // The login choice is one stop.
        *order = {editor->EngineBox,
                  editor->ServerEdit,
                  editor->DatabaseEdit,
                  editor->SystemLoginButton,
                  editor->UserEdit,
                  editor->PasswordEdit,
                  editor->TestButton,
                  editor->ButtonBox->button(QDialogButtonBox::Ok),
                  editor->ButtonBox->button(QDialogButtonBox::Cancel)};
        window = std::move(editor);
        break;
    }
    case Window::PacsSettings: {
        auto pacs = std::make_unique<TfrmPacsSettings>();
        *order = {pacs->edtHost, pacs->edtPort, pacs->edtCalledAE, pacs->edtCallingAE,
                  pacs->btnTest, pacs->btnOK,   pacs->btnCancel};
        window = std::move(pacs);
        break;
    }
    case Window::Preview: {
        auto preview = std::make_unique<TfrmPreviewPicture>();
        *order = {preview->SaveButton, preview->DiscardButton};
        window = std::move(preview);
        break;
    }
    }
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("the window was not activated");
    QCoreApplication::processEvents(); // shows the items the list was built with
    // The list is built at the first activation; its chosen item is its stop.
    if (const auto* form = qobject_cast<TRavlekMainForm*>(window.get()))
        *order = {form->ImageTypeList->Button(form->ImageTypeList->ItemIndex()),
                  form->PreviewCheckBox,
                  form->HelpButton,
                  form->btnDeviceSettings,
                  form->btnSelectDevices,
                  form->DeleteSourceCheckBox,
                  form->CloseButton};
    return window;
}

void TestWindowKeys::tabFollowsReadingOrder_data() {
    QTest::addColumn<Window>("kind");
    QTest::newRow("main window") << Window::Main;
    QTest::newRow("settings window") << Window::Settings;
    QTest::newRow("workstation editor") << Window::WorkstationEditor;
    QTest::newRow("device selection") << Window::DeviceSelection;
    QTest::newRow("data-provider chooser") << Window::DataProviderChooser;
    QTest::newRow("data-link editor") << Window::DataLinkEditor;
    QTest::newRow("PACS settings") << Window::PacsSettings;
    QTest::newRow("preview") << Window::Preview;
}

// Tab goes through the controls top to bottom and left to right, group by group, and from the
// last back to the first; a grid or a list is one stop.
void TestWindowKeys::tabFollowsReadingOrder() {
    QFETCH(Window, kind);
    QList<QWidget*> order;
    const std::unique_ptr<QWidget> window = openWindow(kind, &order);
    QVERIFY(window);
    QCOMPARE(namesOf(tabStops(order.first(), order.size())).join(QStringLiteral(", ")),
             namesOf(order).join(QStringLiteral(", ")));
}

// The search runs as the user types; Enter in the box must not press the window's default
// button, "Select...", which would drop the database connection.
void TestWindowKeys::enterInSearchBoxPressesNothing() {
    TfrmSettings settings(*m_database);
    QVERIFY(settings.ConnectToDatabase());
    fillRegister();
    settings.show();
    settings.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&settings));
    const QList<QPushButton*> buttons = settings.findChildren<QPushButton*>();
    QList<std::shared_ptr<QSignalSpy>> pressed;
    for (QPushButton* button : buttons)
        pressed.append(std::make_shared<QSignalSpy>(button, &QPushButton::clicked));

    // A window the key opens by mistake is closed again, so that the test goes on to fail.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, &closer, [] {
        if (auto* opened = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            opened->reject();
    });
    closer.start(20);

    settings.SearchEdit->setFocus();
    QTest::keyClicks(settings.SearchEdit, QStringLiteral("Rum 2"));
    QTest::keyClick(settings.SearchEdit, Qt::Key_Return);
    QTest::keyClick(settings.SearchEdit, Qt::Key_Enter);

    for (qsizetype i = 0; i < buttons.size(); ++i)
        QVERIFY2(pressed.at(i)->isEmpty(), qPrintable(buttons.at(i)->text()));
    QVERIFY(settings.isVisible());
    QVERIFY(m_database->Database1->Connected());
    QCOMPARE(settings.RegisterModel->rowCount(), 1);
}

QTEST_MAIN(TestWindowKeys)
#include "tst_windowkeys.moc"
