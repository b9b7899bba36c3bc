#include "devices/TRadioGroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

TRadioGroup::TRadioGroup(QWidget* parent)
    : QGroupBox(parent)
    , m_layout(new QVBoxLayout(this))
    , m_group(new QButtonGroup(this)) {
    m_group->setExclusive(true);
    connect(m_group, &QButtonGroup::idToggled, this, &TRadioGroup::buttonToggled);
}

void TRadioGroup::AddItem(const QString& text, int object) {
    auto* button = new QRadioButton(displayText(text), this);
    m_group->addButton(button, int(m_buttons.size()));
    m_layout->addWidget(button);
    m_texts.append(text);
    m_objects.append(object);
    m_buttons.append(button);
}

void TRadioGroup::Clear() {
    for (QRadioButton* button : std::as_const(m_buttons)) {
        m_group->removeButton(button);
        delete button;
    }
    m_buttons.clear();
    m_texts.clear();
    m_objects.clear();
    m_itemIndex = -1;
}

void TRadioGroup::SetItemText(int index, const QString& text) {
    if (index < 0 || index >= Count())
        return;
    m_texts[index] = text;
    m_buttons[index]->setText(displayText(text));
}

void TRadioGroup::SetItemIndex(int index) {
    if (index >= Count())
        index = Count() - 1;
    if (index < 0)
        index = -1;
    if (index == m_itemIndex)
        return;
    m_itemIndex = index;
    {
        // The buttons follow the index; the toggles this causes are not clicks of their own.
        const QSignalBlocker blocker(m_group);
        if (index >= 0) {
            m_buttons[index]->setChecked(true);
        } else {
            m_group->setExclusive(false);
            for (QRadioButton* button : std::as_const(m_buttons))
                button->setChecked(false);
            m_group->setExclusive(true);
        }
    }
    Q_EMIT Click();
}

void TRadioGroup::buttonToggled(int id, bool checked) {
    if (!checked || id == m_itemIndex)
        return;
    m_itemIndex = id;
    Q_EMIT Click();
}

QString TRadioGroup::displayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}
