#include "platform/QtDialogService.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <functional>

using platform::DialogButton;
using platform::DialogKind;
using platform::DialogRequest;

namespace {

// Waits, inside the box's own modal loop, until a message box is the active modal widget,
// then hands it to `act`, which is expected to close it.
void whenBoxShown(std::function<void(QMessageBox*)> act) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act = std::move(act)] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            act(box);
        }
    });
    poll->start();
}

QMessageBox::StandardButton standardOf(DialogButton button) {
    switch (button) {
    case DialogButton::Yes:
        return QMessageBox::Yes;
    case DialogButton::No:
        return QMessageBox::No;
    case DialogButton::Cancel:
        return QMessageBox::Cancel;
    case DialogButton::Ok:
        return QMessageBox::Ok;
    case DialogButton::None:
        break;
    }
    return QMessageBox::NoButton;
}

} // namespace

class tst_Dialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void messageBox_data();
    void messageBox();
    void displayText_data();
    void displayText();
};

void tst_Dialogs::messageBox_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QList<DialogButton>>("buttons");
    QTest::addColumn<int>("defaultButton");
    QTest::addColumn<int>("press");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("shownTitle");

    const QList<DialogButton> ok{DialogButton::Ok};
    const QList<DialogButton> yesNo{DialogButton::Yes, DialogButton::No};
    QTest::newRow("information") << int(DialogKind::Information) << QString() << ok << int(DialogButton::Ok)
                                 << int(DialogButton::Ok) << int(QMessageBox::Information)
                                 << QStringLiteral("Information");
    QTest::newRow("warning") << int(DialogKind::Warning) << QString() << ok << int(DialogButton::Ok)
                             << int(DialogButton::Ok) << int(QMessageBox::Warning)
                             << QStringLiteral("Warning");
    QTest::newRow("error") << int(DialogKind::Error) << QString() << ok << int(DialogButton::Ok)
                           << int(DialogButton::Ok) << int(QMessageBox::Critical) << QStringLiteral("Error");
    QTest::newRow("confirmation, Yes")
        << int(DialogKind::Confirmation) << QString() << yesNo << int(DialogButton::Yes)
        << int(DialogButton::Yes) << int(QMessageBox::Question) << QStringLiteral("Confirm");
    QTest::newRow("confirmation, No")
        << int(DialogKind::Confirmation) << QString() << yesNo << int(DialogButton::Yes)
        << int(DialogButton::No) << int(QMessageBox::Question) << QStringLiteral("Confirm");
    QTest::newRow("question with own title and Cancel default")
        << int(DialogKind::Question) << QStringLiteral("Ravlek")
        << QList<DialogButton>{DialogButton::Yes, DialogButton::No, DialogButton::Cancel}
        << int(DialogButton::Cancel) << int(DialogButton::Cancel) << int(QMessageBox::Question)
        << QStringLiteral("Ravlek");
}

void tst_Dialogs::messageBox() {
    QFETCH(int, kind);
    QFETCH(QString, title);
    QFETCH(QList<DialogButton>, buttons);
    QFETCH(int, defaultButton);
    QFETCH(int, press);
    QFETCH(int, icon);
    QFETCH(QString, shownTitle);

    DialogRequest request;
    request.kind = static_cast<DialogKind>(kind);
    request.title = title;
    request.text = QStringLiteral("Kunde inte spara!\r\rFörsök igen.\r\nSista raden");
    request.buttons = buttons;
    request.defaultButton = static_cast<DialogButton>(defaultButton);

    // What the box showed is noted first and compared after it has closed, so that a failed
    // comparison cannot leave the box open.
    struct Seen {
        bool shown = false;
        QString text;
        QString title;
        int icon = -1;
        int buttonCount = 0;
        bool allButtons = false;
        bool rightDefault = false;
    } seen;
    whenBoxShown([&](QMessageBox* box) {
        seen.shown = true;
        seen.text = box->text();
        seen.title = box->windowTitle();
        seen.icon = int(box->icon());
        seen.buttonCount = int(box->buttons().size());
        seen.allButtons = std::all_of(buttons.cbegin(), buttons.cend(),
                                      [box](DialogButton button) { return box->button(standardOf(button)); });
        seen.rightDefault =
            box->defaultButton() == box->button(standardOf(static_cast<DialogButton>(defaultButton)));
        if (QAbstractButton* pressed = box->button(standardOf(static_cast<DialogButton>(press))))
            pressed->click();
        else
            box->done(0);
    });
    QCOMPARE(platform::QtDialogService().show(request), static_cast<DialogButton>(press));
    QVERIFY(seen.shown);
    QCOMPARE(seen.text, QStringLiteral("Kunde inte spara!\n\nFörsök igen.\nSista raden"));
    QCOMPARE(seen.title, shownTitle);
    QCOMPARE(seen.icon, icon);
    QCOMPARE(seen.buttonCount, int(buttons.size()));
    QVERIFY(seen.allButtons);
    QVERIFY(seen.rightDefault);
}

void tst_Dialogs::displayText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("carriage returns") << QStringLiteral("a\r\rb") << QStringLiteral("a\n\nb");
    QTest::newRow("CRLF is one break") << QStringLiteral("a\r\nb") << QStringLiteral("a\nb");
    QTest::newRow("line feed kept") << QStringLiteral("a\nb") << QStringLiteral("a\nb");
    QTest::newRow("LF CR is two breaks") << QStringLiteral("a\n\rb") << QStringLiteral("a\n\nb");
}

void tst_Dialogs::displayText() {
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(platform::DisplayText(text), shown);
}

QTEST_MAIN(tst_Dialogs)
#include "tst_dialogs.moc"
