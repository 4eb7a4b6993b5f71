#include "tradiogroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

TRadioGroup::TRadioGroup(const QString &title, const QStringList &items, QWidget *parent)
    : QGroupBox(title, parent), m_group(new QButtonGroup(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(4);
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(items[i], this);
        m_group->addButton(button, i);
        layout->addWidget(button);
    }
    connect(m_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            emit itemIndexChanged(id);
    });
}

int TRadioGroup::ItemIndex() const
{
    return m_group->checkedId();
}

void TRadioGroup::setItemIndex(int index)
{
    if (auto *button = m_group->button(index)) {
        button->setChecked(true);
        return;
    }
    if (auto *checked = m_group->checkedButton()) {
        m_group->setExclusive(false);
        checked->setChecked(false);
        m_group->setExclusive(true);
    }
}
