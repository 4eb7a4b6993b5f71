#include "tchatlog.h"
#include "accessibility.h"

#include "assets.h"
#include "tchatpane.h"
#include "tflatbutton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

Tchatlog::Tchatlog(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("chatlog"));
    setWindowTitle(QStringLiteral("Halvane - Private Message Logs"));
    setWindowIcon(assets::appIcon());
    // Closing it by its frame only hides it, and never ends the program.
    setAttribute(Qt::WA_QuitOnClose, false);

    label_caption = new QLabel(QStringLiteral("Private Message Logs"), this);
    label_caption->setObjectName(QStringLiteral("label_caption"));
    label_caption->setProperty("role", QStringLiteral("title"));

    log = new TChatPane(this);
    log->setObjectName(QStringLiteral("log"));
    log->setCursorWidth(0);

    button_close = new TFlatButton(QStringLiteral("&Close"), this);
    button_close->setObjectName(QStringLiteral("button_close"));
    button_close->setMinimumWidth(84);
    connect(button_close, &QPushButton::clicked, this, [this] { button_closeClick(); });

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(button_close);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 14);
    layout->setSpacing(10);
    layout->addWidget(label_caption);
    layout->addWidget(log, 1);
    layout->addLayout(buttons);

    setMinimumSize(320, 220);
    resize(520, 380);
    accessibility::closeOnEscape(this);
    accessibility::nameControls(this, {{"log", "Private message log"}});
}

void Tchatlog::addlinetolog(const QString &text, const QColor &color)
{
    if (text.isEmpty() || (LogEnabled && !LogEnabled()))
        return;
    // One redraw for the whole append, however many lines the text holds.
    log->setUpdatesEnabled(false);
    log->addline(text, color, false);
    log->setUpdatesEnabled(true);
}

void Tchatlog::button_closeClick()
{
    hide();
}
