#include "ModalWindows.h"

#include "settings/Udataproviders.h"

#include <QListWidget>
#include <QPushButton>
#include <QtTest>

void chooseDataProviderWhenAsked(const QString& name) {
    whenModal<TfrmDataProviders>([name](TfrmDataProviders* chooser) {
        const QList<QListWidgetItem*> items = chooser->ProviderList->findItems(name, Qt::MatchFixedString);
        if (!items.isEmpty())
            chooser->ProviderList->setCurrentItem(items.first());
        QTest::mouseClick(items.isEmpty() ? chooser->CancelButton : chooser->OkButton, Qt::LeftButton);
    });
}
