#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;

// A titled group of mutually exclusive choices addressed by index.
class TRadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    TRadioGroup(const QString &title, const QStringList &items, QWidget *parent = nullptr);

    // -1 when nothing is chosen.
    int ItemIndex() const;
    void setItemIndex(int index);

signals:
    void itemIndexChanged(int index);

private:
    QButtonGroup *m_group;
};
