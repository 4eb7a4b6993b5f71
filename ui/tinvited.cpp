#include "tinvited.h"

#include "textcodec.h"
#include "tflatbutton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

TInvited::TInvited(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Invited"));
    setWindowTitle(QStringLiteral("Invitation to Join..."));
    setWindowFlag(Qt::Tool);
    setModal(false);

    // The names and the game come from other players: never read as markup.
    label_iname = new QLabel(this);
    label_iname->setObjectName(QStringLiteral("label_iname"));
    label_iname->setTextFormat(Qt::PlainText);
    label_iname->setAlignment(Qt::AlignHCenter);
    auto *invited = new QLabel(QStringLiteral("Invited you to Join"), this);
    invited->setObjectName(QStringLiteral("label_invited"));
    invited->setAlignment(Qt::AlignHCenter);
    invited->setProperty("role", QStringLiteral("muted"));
    label_igame = new QLabel(this);
    label_igame->setObjectName(QStringLiteral("label_igame"));
    label_igame->setTextFormat(Qt::PlainText);
    label_igame->setAlignment(Qt::AlignHCenter);
    QFont bold = label_igame->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    label_igame->setFont(bold);

    FlatButton1 = new TFlatButton(QStringLiteral("&Decline"), this);
    FlatButton1->setObjectName(QStringLiteral("FlatButton1"));
    FlatButton2 = new TFlatButton(QStringLiteral("&Accept"), this);
    FlatButton2->setObjectName(QStringLiteral("FlatButton2"));
    FlatButton2->setKind(QStringLiteral("accent"));
    FlatButton2->setDefault(true);
    connect(FlatButton1, &QPushButton::clicked, this, &QWidget::close);
    connect(FlatButton2, &QPushButton::clicked, this, &TInvited::FlatButton2Click);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(FlatButton1);
    buttons->addWidget(FlatButton2);
    buttons->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(6);
    layout->addWidget(label_iname);
    layout->addWidget(invited);
    layout->addWidget(label_igame);
    layout->addSpacing(10);
    layout->addLayout(buttons);
    setMinimumWidth(260);
}

void TInvited::showInvitation(const QByteArray &name, const QByteArray &game)
{
    m_name = name;
    m_game = game;
    label_iname->setText(decodeWireText(name));
    label_igame->setText(decodeWireText(game));
    show();
    raise();
}

void TInvited::FlatButton2Click()
{
    const QByteArray entry = m_name + " - " + m_game;
    close();
    if (onAccept)
        onAccept(entry);
}
