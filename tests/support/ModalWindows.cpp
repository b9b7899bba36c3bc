#include "ModalWindows.h"

#include "settings/Udataproviders.h"

#include <QListWidget>
#include <QPushButton>
#include <QtTest>

void chooseDataProviderWhenAsked(const QString& name) {
    whenModal<TfrmDataProviders>([name](TfrmDataProviders* chooser) {
        const QList<QListWidgetItem*> items = chooser->ListBox1->findItems(name, Qt::MatchFixedString);
        if (!items.isEmpty())
            chooser->ListBox1->setCurrentItem(items.first());
        QTest::mouseClick(items.isEmpty() ? chooser->BitBtn2 : chooser->BitBtn1, Qt::LeftButton);
    });
}
