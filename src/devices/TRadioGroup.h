#pragma once

// A group of radio buttons with Delphi's TRadioGroup behaviour: items with a text and an
// integer object each, one selected item (ItemIndex), and one click notice for every
// change of the selection, whether the user or the program made it.

#include <QGroupBox>
#include <QList>
#include <QStringList>

class QButtonGroup;
class QRadioButton;
class QVBoxLayout;

class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit TRadioGroup(QWidget* parent = nullptr);

    int Count() const { return int(m_texts.size()); }
    // Adds an item at the end; `object` is the integer kept with it.
    void AddItem(const QString& text, int object = 0);
    // Removes every item; no item is selected afterwards.
    void Clear();

    // The item's text as stored; a carriage return in it is shown as a line break.
    QString ItemText(int index) const { return m_texts.value(index); }
    void SetItemText(int index, const QString& text);
    // The item's text as its button shows it now: each line cut with "…" when it is wider than
    // the button; the button's tooltip then holds the whole text.
    QString ShownItemText(int index) const;
    int ItemObject(int index) const { return m_objects.value(index); }

    // -1 when no item is selected.
    int ItemIndex() const { return m_itemIndex; }
    // Selects an item as a user's click would: a different index emits Click, the index
    // already selected does nothing, an index beyond the last selects the last item and a
    // negative one clears the selection.
    void SetItemIndex(int index);

    // The button of an item, for a user's click.
    QRadioButton* Button(int index) const { return m_buttons.value(index); }

Q_SIGNALS:
    void Click();

private:
    void buttonToggled(int id, bool checked);
    static QString displayText(const QString& text);

    QVBoxLayout* m_layout;
    QButtonGroup* m_group;
    QStringList m_texts;
    QList<int> m_objects;
    QList<QRadioButton*> m_buttons;
    int m_itemIndex = -1;
};
