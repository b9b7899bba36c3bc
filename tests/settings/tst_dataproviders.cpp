#include "settings/DataLinkEditor.h"
#include "settings/Udataproviders.h"
#include "support/DesignerNames.h"
#include "support/ModalWindows.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnvironment.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include <QApplication>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <functional>

using platform::DialogButton;

namespace {

const QString kSection = QStringLiteral("DataProvider");
const QString kKey = QStringLiteral("DefaultDataProvider");
const QString kSelectFirst = QStringLiteral("Välj en DataProvider först!");

QStringList entries(const QListWidget* list) {
    QStringList names;
    for (int row = 0; row < list->count(); ++row)
        names.append(list->item(row)->text());
    return names;
}

// Pixels of the list's entry `row` drawn in green.
int greenPixels(QListWidget* list, int row) {
    const QImage image = list->viewport()->grab().toImage();
    const QRect rect = list->visualItemRect(list->item(row));
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.green() > c.red() + 40 && c.green() > c.blue() + 40;
        }
    }
    return count;
}

} // namespace

class TestDataProviders : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void listsDataLinkFiles();
    void emptyFolderOkShowsNotice();
    void defaultMark_data();
    void defaultMark();
    void drawing();
    void setDefaultMovesMark();
    void actionsNeedSelection_data();
    void actionsNeedSelection();
    void deleteAsksFirst_data();
    void deleteAsksFirst();
    void addCreatesEmptyFileAndOpensEditor();
    void addReplacesExistingFile();
    void addRefusesNameOutsideFolder_data();
    void addRefusesNameOutsideFolder();
    void editOpensEditor();
    void chooseReturnsSelection();
    void chooseCancelledReturnsCurrentName();

private:
    QString writeLink(const QString& name, const QByteArray& content = "[oledb]\r\nProvider=SQLite\r\n");
    void showChooser(TfrmDataProviders& chooser);

    std::unique_ptr<TestEnvironment> m_env;
    QString m_links;
};

void TestDataProviders::init() {
    m_env = std::make_unique<TestEnvironment>();
    m_links = m_env->makeFolder(QStringLiteral("links")) + QLatin1Char('/');
    Environment() = {};
    Environment().DataLinksPath = m_links;
}

void TestDataProviders::cleanup() {
    Environment() = {};
    m_env.reset();
}

QString TestDataProviders::writeLink(const QString& name, const QByteArray& content) {
    return m_env->writeFile(QStringLiteral("links/") + name, content);
}

void TestDataProviders::showChooser(TfrmDataProviders& chooser) {
    chooser.IniTextPosision = kKey;
    chooser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chooser));
    chooser.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&chooser));
}

void TestDataProviders::listsDataLinkFiles() {
    writeLink(QStringLiteral("a.udl"));
    writeLink(QStringLiteral("B.UDL"));
    writeLink(QStringLiteral("notes.txt"));
    m_env->makeFolder(QStringLiteral("links/folder.udl"));
    WriteSetting(kSection, kKey, QStringLiteral("b.udl"));
    TfrmDataProviders chooser;
    showChooser(chooser);
    QStringList names = entries(chooser.ProviderList);
    names.sort();
    QCOMPARE(names, QStringList({QStringLiteral("B.UDL"), QStringLiteral("a.udl")}));
    QCOMPARE(chooser.windowTitle(), QStringLiteral("DataProviders"));
    // Activation selects the stored default, letter case aside.
    QCOMPARE(chooser.SelectedName(), QStringLiteral("B.UDL"));
    verifyDesignerNames(chooser, {{"GroupBox1", chooser.ProvidersGroup},
                                  {"BitBtn4", chooser.AddButton},
                                  {"BitBtn5", chooser.EditButton},
                                  {"BitBtn3", chooser.DefaultButton},
                                  {"BitBtn6", chooser.DeleteButton},
                                  {"Label1", chooser.ListLabel},
                                  {"ListBox1", chooser.ProviderList},
                                  {"BitBtn1", chooser.OkButton},
                                  {"BitBtn2", chooser.CancelButton}});
}

void TestDataProviders::emptyFolderOkShowsNotice() {
    TfrmDataProviders chooser;
    showChooser(chooser);
    QCOMPARE(chooser.ProviderList->count(), 0);
    ScriptedDialogs dialogs;
    dialogs.expectExactly(platform::DialogKind::Information, kSelectFirst);
    QTest::mouseClick(chooser.OkButton, Qt::LeftButton);
    QVERIFY(chooser.isVisible());
    QCOMPARE(chooser.result(), int(QDialog::Rejected));
}

void TestDataProviders::defaultMark_data() {
    QTest::addColumn<QString>("stored");
    QTest::newRow("bare name") << QStringLiteral("second.udl");
    QTest::newRow("full path") << QStringLiteral("/somewhere/else/second.udl");
    QTest::newRow("Windows path, other case") << QStringLiteral("C:\\Data Links\\SECOND.udl");
}

void TestDataProviders::defaultMark() {
    QFETCH(QString, stored);
    writeLink(QStringLiteral("first.udl"));
    writeLink(QStringLiteral("second.udl"));
    WriteSetting(kSection, kKey, stored);
    TfrmDataProviders chooser;
    showChooser(chooser);
    QCOMPARE(chooser.DefaultName().compare(QStringLiteral("second.udl"), Qt::CaseInsensitive), 0);
    QCOMPARE(chooser.SelectedName(), QStringLiteral("second.udl"));
}

void TestDataProviders::drawing() {
    writeLink(QStringLiteral("first.udl"));
    writeLink(QStringLiteral("second.udl"));
    WriteSetting(kSection, kKey, QStringLiteral("second.udl"));
    TfrmDataProviders chooser;
    showChooser(chooser);
    const int defaultRow = entries(chooser.ProviderList).indexOf(QStringLiteral("second.udl"));
    const int otherRow = 1 - defaultRow;
    chooser.ProviderList->setCurrentRow(otherRow);
    QCOMPARE(chooser.ProviderList->visualItemRect(chooser.ProviderList->item(0)).height(), 17);
    QVERIFY(greenPixels(chooser.ProviderList, defaultRow) > 0);
    QCOMPARE(greenPixels(chooser.ProviderList, otherRow), 0);
    // Silver behind the selected entry, white behind the other.
    const QImage image = chooser.ProviderList->viewport()->grab().toImage();
    const QRect selected = chooser.ProviderList->visualItemRect(chooser.ProviderList->item(otherRow));
    const QRect unselected = chooser.ProviderList->visualItemRect(chooser.ProviderList->item(defaultRow));
    QCOMPARE(image.pixelColor(selected.right() - 1, selected.center().y()), QColor(192, 192, 192));
    QCOMPARE(image.pixelColor(unselected.right() - 1, unselected.center().y()), QColor(Qt::white));
}

void TestDataProviders::setDefaultMovesMark() {
    writeLink(QStringLiteral("first.udl"));
    writeLink(QStringLiteral("second.udl"));
    WriteSetting(kSection, kKey, QStringLiteral("second.udl"));
    TfrmDataProviders chooser;
    showChooser(chooser);
    const int firstRow = entries(chooser.ProviderList).indexOf(QStringLiteral("first.udl"));
    chooser.ProviderList->setCurrentRow(firstRow);
    QTest::mouseClick(chooser.DefaultButton, Qt::LeftButton);
    QCOMPARE(ReadSetting(kSection, kKey), QStringLiteral("first.udl"));
    QVERIFY(greenPixels(chooser.ProviderList, firstRow) > 0);
    QCOMPARE(greenPixels(chooser.ProviderList, 1 - firstRow), 0);
}

void TestDataProviders::actionsNeedSelection_data() {
    QTest::addColumn<int>("button");
    QTest::newRow("OK") << 1;
    QTest::newRow("Välj som standard") << 3;
    QTest::newRow("Redigera...") << 5;
    QTest::newRow("Radera") << 6;
}

void TestDataProviders::actionsNeedSelection() {
    QFETCH(int, button);
    writeLink(QStringLiteral("only.udl"));
    TfrmDataProviders chooser;
    showChooser(chooser);
    chooser.ProviderList->clearSelection();
    ScriptedDialogs dialogs;
    dialogs.expectExactly(platform::DialogKind::Information, kSelectFirst);
    const QHash<int, QPushButton*> buttons{{1, chooser.OkButton},
                                           {3, chooser.DefaultButton},
                                           {5, chooser.EditButton},
                                           {6, chooser.DeleteButton}};
    QTest::mouseClick(buttons.value(button), Qt::LeftButton);
    QVERIFY(dialogs.allAnswered());
    QVERIFY(chooser.ProviderList->hasFocus());
    QVERIFY(chooser.findChildren<TfrmDataLinkEditor*>().isEmpty());
    QCOMPARE(ReadSetting(kSection, kKey), kMissingSetting);
    QVERIFY(QFile::exists(m_links + QStringLiteral("only.udl")));
}

void TestDataProviders::deleteAsksFirst_data() {
    QTest::addColumn<DialogButton>("answer");
    QTest::addColumn<bool>("deleted");
    QTest::newRow("Yes") << DialogButton::Yes << true;
    QTest::newRow("No") << DialogButton::No << false;
}

void TestDataProviders::deleteAsksFirst() {
    QFETCH(DialogButton, answer);
    QFETCH(bool, deleted);
    writeLink(QStringLiteral("keep.udl"));
    writeLink(QStringLiteral("gone.udl"));
    WriteSetting(kSection, kKey, QStringLiteral("gone.udl"));
    TfrmDataProviders chooser;
    showChooser(chooser);
    QCOMPARE(chooser.SelectedName(), QStringLiteral("gone.udl"));
    ScriptedDialogs dialogs;
    dialogs.expect(QStringLiteral("Radera DataProvider-filen gone.udl"), answer);
    QTest::mouseClick(chooser.DeleteButton, Qt::LeftButton);
    QCOMPARE(dialogs.shown().first().text, QStringLiteral("Radera DataProvider-filen gone.udl"));
    QCOMPARE(QFile::exists(m_links + QStringLiteral("gone.udl")), !deleted);
    QCOMPARE(entries(chooser.ProviderList).contains(QStringLiteral("gone.udl")), !deleted);
    // The setting keeps naming the deleted file.
    QCOMPARE(ReadSetting(kSection, kKey), QStringLiteral("gone.udl"));
    if (deleted) {
        QVERIFY(chooser.SelectedName().isEmpty());
        QCOMPARE(greenPixels(chooser.ProviderList, 0), 0);
    }
}

void TestDataProviders::addCreatesEmptyFileAndOpensEditor() {
    TfrmDataProviders chooser;
    showChooser(chooser);
    QString caption;
    QString prompt;
    whenModal<QInputDialog>([&](QInputDialog* input) {
        caption = input->windowTitle();
        prompt = input->labelText();
        QVERIFY(input->textValue().isEmpty());
        input->setTextValue(QStringLiteral("Praktik"));
        input->accept();
    });
    QTest::mouseClick(chooser.AddButton, Qt::LeftButton);
    QCOMPARE(caption, QStringLiteral("Ny DataProvider"));
    QCOMPARE(prompt, QStringLiteral("DataProviderns namn:"));
    const QString file = m_links + QStringLiteral("Praktik.udl");
    QVERIFY(QFile::exists(file));
    QCOMPARE(QFileInfo(file).size(), 0);
    QCOMPARE(chooser.SelectedName(), QStringLiteral("Praktik.udl"));

    const QList<TfrmDataLinkEditor*> editors = chooser.findChildren<TfrmDataLinkEditor*>();
    QCOMPARE(editors.size(), 1);
    QCOMPARE(editors.first()->fileName(), file);
    QVERIFY(editors.first()->isVisible());
    editors.first()->reject();
}

void TestDataProviders::addReplacesExistingFile() {
    writeLink(QStringLiteral("Praktik.udl"));
    TfrmDataProviders chooser;
    showChooser(chooser);
    whenModal<QInputDialog>([](QInputDialog* input) {
        input->setTextValue(QStringLiteral("Praktik"));
        input->accept();
    });
    QTest::mouseClick(chooser.AddButton, Qt::LeftButton);
    QCOMPARE(QFileInfo(m_links + QStringLiteral("Praktik.udl")).size(), 0);
    qDeleteAll(chooser.findChildren<TfrmDataLinkEditor*>());
}

void TestDataProviders::addRefusesNameOutsideFolder_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << QString();
    QTest::newRow("parent folder") << QStringLiteral("../escape");
    QTest::newRow("absolute") << QStringLiteral("/tmp/escape");
    QTest::newRow("backslash") << QStringLiteral("..\\escape");
}

void TestDataProviders::addRefusesNameOutsideFolder() {
    QFETCH(QString, name);
    TfrmDataProviders chooser;
    showChooser(chooser);
    whenModal<QInputDialog>([name](QInputDialog* input) {
        input->setTextValue(name);
        input->accept();
    });
    ScriptedDialogs dialogs;
    dialogs.expect(QStringLiteral("DataProviderns namn får inte vara tomt"));
    QTest::mouseClick(chooser.AddButton, Qt::LeftButton);
    QVERIFY(dialogs.allAnswered());
    QVERIFY(!QFile::exists(m_env->path(QStringLiteral("escape.udl"))));
    QCOMPARE(QDir(m_links).entryList(QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(chooser.findChildren<TfrmDataLinkEditor*>().isEmpty());
}

void TestDataProviders::editOpensEditor() {
    const QString file = writeLink(QStringLiteral("edit.udl"),
                                   "[oledb]\r\nProvider=PostgreSQL;Initial Catalog=kelvo;Data Source=h\r\n");
    TfrmDataProviders chooser;
    showChooser(chooser);
    const QPoint entry = chooser.ProviderList->visualItemRect(chooser.ProviderList->item(0)).center();
    QTest::mouseClick(chooser.ProviderList->viewport(), Qt::LeftButton, {}, entry);
    QTest::mouseDClick(chooser.ProviderList->viewport(), Qt::LeftButton, {}, entry);
    const QList<TfrmDataLinkEditor*> editors = chooser.findChildren<TfrmDataLinkEditor*>();
    QCOMPARE(editors.size(), 1);
    QCOMPARE(editors.first()->fileName(), file);
    QCOMPARE(editors.first()->connectionString(),
             QStringLiteral("Provider=PostgreSQL;Initial Catalog=kelvo;Data Source=h"));
    editors.first()->reject();
}

void TestDataProviders::chooseReturnsSelection() {
    writeLink(QStringLiteral("one.udl"));
    writeLink(QStringLiteral("two.udl"));
    Environment().DataProviderFile = m_links + QStringLiteral("one.udl");
    Environment().ConnectionString = QStringLiteral("Provider=SQLite");
    whenModal<TfrmDataProviders>([](TfrmDataProviders* chooser) {
        QCOMPARE(chooser->IniTextPosision, kKey);
        chooser->ProviderList->setCurrentRow(
            entries(chooser->ProviderList).indexOf(QStringLiteral("two.udl")));
        QTest::mouseClick(chooser->OkButton, Qt::LeftButton);
    });
    QCOMPARE(ChooseDataProvider(kKey), QStringLiteral("two.udl"));
    QVERIFY(Environment().ConnectionString.isEmpty());
}

void TestDataProviders::chooseCancelledReturnsCurrentName() {
    writeLink(QStringLiteral("one.udl"));
    writeLink(QStringLiteral("two.udl"));
    Environment().DataProviderFile = m_links + QStringLiteral("current.udl");
    Environment().ConnectionString = QStringLiteral("Provider=SQLite");
    whenModal<TfrmDataProviders>([](TfrmDataProviders* chooser) {
        chooser->ProviderList->setCurrentRow(0);
        QTest::mouseClick(chooser->CancelButton, Qt::LeftButton);
    });
    QCOMPARE(ChooseDataProvider(kKey), QStringLiteral("current.udl"));
    QCOMPARE(Environment().ConnectionString, QStringLiteral("Provider=SQLite"));
}

QTEST_MAIN(TestDataProviders)
#include "tst_dataproviders.moc"
