#include "devices/TRadioGroup.h"

#include "tools/ElidedText.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// An item's button: each line of its text cut to the button's width, the whole text as the
// tooltip while it is cut. text() stays the whole text.
class TRadioGroupItem : public QRadioButton {
public:
    TRadioGroupItem(const QString& text, QWidget* parent)
        : QRadioButton(text, parent) {}

    void SetText(const QString& text) {
        setText(text);
        updateToolTip();
    }
    QString ShownText() const {
        QStyleOptionButton option;
        initStyleOption(&option);
        const QRect textArea = style()->subElementRect(QStyle::SE_RadioButtonContents, &option, this);
        return ElidedLines(text(), fontMetrics(), textArea.width(), Qt::ElideRight);
    }
    // The indicator and "…": a long text never widens the group.
    QSize minimumSizeHint() const override {
        const QSize whole = sizeHint();
        const int ellipsis = fontMetrics().horizontalAdvance(QStringLiteral("…"));
        const int indicator = style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, this) +
                              style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, this);
        return {std::min(whole.width(), indicator + ellipsis), whole.height()};
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text = ShownText();
        painter.drawControl(QStyle::CE_RadioButton, option);
    }
    void resizeEvent(QResizeEvent* event) override {
        QRadioButton::resizeEvent(event);
        updateToolTip();
    }

private:
    void updateToolTip() { setToolTip(ElisionToolTip(text(), ShownText())); }
};

} // namespace

TRadioGroup::TRadioGroup(QWidget* parent)
    : QGroupBox(parent)
    , m_layout(new QVBoxLayout(this))
    , m_group(new QButtonGroup(this)) {
    m_group->setExclusive(true);
    connect(m_group, &QButtonGroup::idToggled, this, &TRadioGroup::buttonToggled);
}

void TRadioGroup::AddItem(const QString& text, int object) {
    auto* button = new TRadioGroupItem(displayText(text), this);
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
    static_cast<TRadioGroupItem*>(m_buttons[index])->SetText(displayText(text));
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

QString TRadioGroup::ShownItemText(int index) const {
    if (index < 0 || index >= Count())
        return {};
    return static_cast<const TRadioGroupItem*>(m_buttons[index])->ShownText();
}

QString TRadioGroup::displayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}
