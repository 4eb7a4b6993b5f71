#include "tabout.h"

#include "assets.h"
#include "ostrelversion.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TAbout::TAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("About"));
    setWindowTitle(QStringLiteral("Ostrel Lobby - About"));
    setWindowIcon(assets::appIcon());

    auto *logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("image_logo"));
    logo->setPixmap(assets::appIcon().pixmap(QSize(72, 72), devicePixelRatioF()));
    logo->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto *name = new QLabel(QStringLiteral("Halvane"), this);
    name->setObjectName(QStringLiteral("label_name"));
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    name->setFont(big);

    auto *versionCaption = new QLabel(QStringLiteral("Version"), this);
    versionCaption->setProperty("role", QStringLiteral("muted"));
    // Other parts of the program read this label's text as the running version, so it
    // holds the bare dotted number and nothing else.
    // The program declares its version at start; the library's own stands in for tools
    // that declare none.
    const QString declared = QCoreApplication::applicationVersion();
    label_version =
        new QLabel(declared.isEmpty() ? QStringLiteral(OSTREL_VERSION) : declared, this);
    label_version->setObjectName(QStringLiteral("label_version"));
    label_version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *versionRow = new QHBoxLayout;
    versionRow->setSpacing(4);
    versionRow->addWidget(versionCaption);
    versionRow->addWidget(label_version);
    versionRow->addStretch();

    auto *text = new QLabel(
        QStringLiteral("<p>The Ostrel Software lobby: meet other players, chat in the game rooms, "
                       "keep your friends close and start a game of words, dice, cards, dominoes, "
                       "board games or puzzles with a double click.</p>"
                       "<p>Thank you for playing with us, and may the dice be kind to you.</p>"
                       "<p style='color:#5b6678'>&copy; Ostrel Software. All rights reserved.</p>"),
        this);
    text->setObjectName(QStringLiteral("label_about"));
    text->setWordWrap(true);
    text->setTextFormat(Qt::RichText);
    text->setMinimumWidth(320);

    auto *column = new QVBoxLayout;
    column->setSpacing(6);
    column->addWidget(name);
    column->addLayout(versionRow);
    column->addSpacing(6);
    column->addWidget(text);

    auto *body = new QHBoxLayout;
    body->setSpacing(18);
    body->addWidget(logo);
    body->addLayout(column, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("button_ok"));
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 22, 22, 16);
    layout->setSpacing(14);
    layout->addLayout(body);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
