#include "toptions.h"
#include "accessibility.h"

#include "assets.h"
#include "tcolorbutton.h"
#include "tflatbutton.h"
#include "tradiogroup.h"
#include "tswitch.h"

#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include <utility>

const std::array<TSwitch * TOptions::*, 10> TOptions::kSwitchControls = {
    &TOptions::image_flashfriends1,  &TOptions::image_pmalert1,
    &TOptions::image_pmsound1,       &TOptions::image_sentwithenter1,
    &TOptions::image_acceptinvites1, &TOptions::image_tourneyalert1,
    &TOptions::image_lobbychat1,     &TOptions::image_updates,
    &TOptions::image_pmlog,          &TOptions::image_reconnect,
};

namespace {

QComboBox *sizeBox(const char *name)
{
    auto *box = new QComboBox;
    box->setObjectName(QString::fromLatin1(name));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(
        {QStringLiteral("8"), QStringLiteral("10"), QStringLiteral("12"), QStringLiteral("14")});
    box->setCurrentText(QStringLiteral("8"));
    box->setMaximumWidth(80);
    return box;
}

} // namespace

TOptions::TOptions(QWidget *parent) : QWidget(parent, Qt::Tool)
{
    setObjectName(QStringLiteral("Options"));
    setWindowTitle(QStringLiteral("Options"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("TOptions { background: #f3f5f9; }"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);

    auto *top = new QHBoxLayout;
    top->setSpacing(12);
    radiogroup_show =
        new TRadioGroup(QStringLiteral("Join/Disconnect Notices"),
                        {QStringLiteral("Show &All"), QStringLiteral("Show Only &Friends"),
                         QStringLiteral("Show &None")},
                        this);
    radiogroup_show->setObjectName(QStringLiteral("radiogroup_show"));
    radiogroup_show->setItemIndex(0);
    top->addWidget(radiogroup_show);

    auto *look = new QGroupBox(QStringLiteral("Text"), this);
    auto *lookGrid = new QGridLayout(look);
    lookGrid->setHorizontalSpacing(10);
    textcolor = new TColorButton(look);
    textcolor->setObjectName(QStringLiteral("textcolor"));
    actioncolor = new TColorButton(look);
    actioncolor->setObjectName(QStringLiteral("actioncolor"));
    textsize = sizeBox("textsize");
    boxtextsize = sizeBox("boxtextsize");
    auto addLabelled = [&](const QString &caption, QWidget *control, int row, int col) {
        auto *label = new QLabel(caption, look);
        label->setBuddy(control);
        lookGrid->addWidget(label, row, col);
        lookGrid->addWidget(control, row, col + 1);
    };
    addLabelled(QStringLiteral("&Text Color"), textcolor, 0, 0);
    addLabelled(QStringLiteral("A&ction Color"), actioncolor, 1, 0);
    addLabelled(QStringLiteral("Text &Size"), textsize, 0, 2);
    addLabelled(QStringLiteral("Info &Boxes Text Size"), boxtextsize, 1, 2);
    top->addWidget(look, 1);
    layout->addLayout(top);

    auto *switches = new QGroupBox(QStringLiteral("Alerts and Behaviour"), this);
    auto *grid = new QGridLayout(switches);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(8);
    auto addSwitch = [&](TSwitch *&control, const char *name, const QString &caption, int index) {
        control = new TSwitch(switches);
        control->setObjectName(QString::fromLatin1(name));
        control->setPictures(assets::switchIcon(false).pixmap(44, 24),
                             assets::switchIcon(true).pixmap(44, 24));
        control->setAccessibleName(caption);
        auto *text = new QLabel(caption, switches);
        text->setStyleSheet(QStringLiteral("font-weight: normal;"));
        const int row = index % 5;
        const int col = (index / 5) * 3;
        grid->addWidget(control, row, col);
        grid->addWidget(text, row, col + 1);
        connect(control, &TSwitch::clicked, this,
                [this, control] { image_flashfriends1Click(control); });
        connect(control, &TSwitch::tagChanged, this, &TOptions::reportChange);
    };
    addSwitch(image_flashfriends1, "image_flashfriends1",
              QStringLiteral("Sound on Friends Arrival"), 0);
    addSwitch(image_pmalert1, "image_pmalert1", QStringLiteral("Private Message Alert"), 1);
    addSwitch(image_pmsound1, "image_pmsound1", QStringLiteral("Sound on Private Message"), 2);
    addSwitch(image_tourneyalert1, "image_tourneyalert1", QStringLiteral("Tournament Alert"), 3);
    addSwitch(image_sentwithenter1, "image_sentwithenter1",
              QStringLiteral("PM's Sent with \"Enter\" key"), 4);
    addSwitch(image_acceptinvites1, "image_acceptinvites1", QStringLiteral("Accept Invitations"),
              5);
    addSwitch(image_lobbychat1, "image_lobbychat1", QStringLiteral("Show Lobby Chat"), 6);
    addSwitch(image_updates, "image_updates", QStringLiteral("Automatic Updates"), 7);
    addSwitch(image_pmlog, "image_pmlog", QStringLiteral("Private Message Log"), 8);
    addSwitch(image_reconnect, "image_reconnect", QStringLiteral("Reconnect Automatically"), 9);
    grid->setColumnMinimumWidth(2, 18);
    grid->setColumnStretch(4, 1);
    layout->addWidget(switches);

    auto *fonts = new QGroupBox(QStringLiteral("Font Options"), this);
    auto *fontRow = new QHBoxLayout(fonts);
    auto *fontLabel = new QLabel(QStringLiteral("Text F&ont"), fonts);
    fontRow->addWidget(fontLabel);
    combo_fonts = new QComboBox(fonts);
    fontLabel->setBuddy(combo_fonts);
    combo_fonts->setObjectName(QStringLiteral("combo_fonts"));
    combo_fonts->setEditable(true);
    combo_fonts->setInsertPolicy(QComboBox::NoInsert);
    combo_fonts->addItems(QFontDatabase::families(QFontDatabase::Any));
    combo_fonts->setCurrentIndex(-1);
    combo_fonts->setEditText(QString());
    fontRow->addWidget(combo_fonts, 1);
    layout->addWidget(fonts);

    auto *buttons = new QHBoxLayout;
    button_edit = new TFlatButton(QStringLiteral("&Edit Profile"), this);
    button_edit->setObjectName(QStringLiteral("button_edit"));
    button_resetpm = new TFlatButton(QStringLiteral("Reset &PM Location Settings"), this);
    button_resetpm->setObjectName(QStringLiteral("button_resetpm"));
    button_restore = new TFlatButton(QStringLiteral("&Restore Defaults"), this);
    button_restore->setObjectName(QStringLiteral("button_restore"));
    button_done = new TFlatButton(QStringLiteral("&Done"), this);
    button_done->setObjectName(QStringLiteral("button_done"));
    button_done->setKind(QStringLiteral("accent"));
    button_done->setMinimumWidth(90);
    buttons->addWidget(button_edit);
    buttons->addWidget(button_resetpm);
    buttons->addStretch();
    buttons->addWidget(button_restore);
    buttons->addWidget(button_done);
    layout->addLayout(buttons);

    connect(radiogroup_show, &TRadioGroup::itemIndexChanged, this, &TOptions::reportChange);
    connect(textcolor, &TColorButton::colorChanged, this, &TOptions::reportChange);
    connect(actioncolor, &TColorButton::colorChanged, this, &TOptions::reportChange);
    connect(textsize, &QComboBox::currentTextChanged, this, &TOptions::reportChange);
    connect(boxtextsize, &QComboBox::currentTextChanged, this, &TOptions::reportChange);
    // Only a font chosen from the list applies; typed text waits for a choice.
    connect(combo_fonts, &QComboBox::activated, this,
            [this](int index) { emit fontChosen(combo_fonts->itemText(index)); });
    connect(button_done, &QPushButton::clicked, this, &TOptions::button_doneClick);
    connect(button_restore, &QPushButton::clicked, this, &TOptions::button_restoreClick);
    connect(button_resetpm, &QPushButton::clicked, this, &TOptions::button_resetpmClick);
    connect(button_edit, &QPushButton::clicked, this, &TOptions::button_editClick);

    adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    accessibility::closeOnEscape(this);
}

void TOptions::setPreferences(const LobbyPreferences &p)
{
    // The lobby already holds these: showing them is no change to report.
    const bool wasLoading = std::exchange(m_loading, true);
    radiogroup_show->setItemIndex(p.show);
    for (std::size_t i = 0; i < kSwitchControls.size(); ++i)
        (this->*kSwitchControls[i])->setTag(p.*LobbyPreferences::kSwitches[i].value ? 1 : 0);
    textcolor->setColor(p.textColor);
    actioncolor->setColor(p.actionColor);
    combo_fonts->setCurrentIndex(combo_fonts->findText(p.textFont));
    combo_fonts->setEditText(p.textFont);
    textsize->setCurrentText(p.textSize);
    boxtextsize->setCurrentText(p.boxTextSize);
    m_loading = wasLoading;
}

LobbyPreferences TOptions::preferences() const
{
    LobbyPreferences p;
    p.show = qMax(0, radiogroup_show->ItemIndex());
    for (std::size_t i = 0; i < kSwitchControls.size(); ++i)
        p.*LobbyPreferences::kSwitches[i].value = (this->*kSwitchControls[i])->isOn();
    p.textColor = textcolor->color();
    p.actionColor = actioncolor->color();
    p.textSize = textsize->currentText();
    p.boxTextSize = boxtextsize->currentText();
    p.textFont = combo_fonts->currentText();
    return p;
}

void TOptions::reportChange()
{
    if (!m_loading)
        emit preferencesChanged(preferences());
}

TSwitch *TOptions::switchNamed(const QString &name) const
{
    for (TSwitch *TOptions::*entry : kSwitchControls) {
        TSwitch *control = this->*entry;
        if (control->objectName() == name)
            return control;
    }
    return nullptr;
}

void TOptions::setimage(const QString &name, int state)
{
    if (TSwitch *control = switchNamed(name))
        control->setTag(state == 1 ? 1 : 0);
}

void TOptions::image_flashfriends1Click(TSwitch *sender)
{
    sender->setTag(sender->Tag() == 1 ? 0 : 1);
}

void TOptions::button_doneClick()
{
    emit preferencesDone(preferences());
    hide();
}

void TOptions::button_restoreClick()
{
    textcolor->setColor(TColor(TColor::clBlack));
    actioncolor->setColor(TColor(TColor::clBlack));
    textsize->setCurrentText(QStringLiteral("8"));
    boxtextsize->setCurrentText(QStringLiteral("8"));
    // The original default font is not installed here: the name is kept for the
    // settings file, and the lobby gives the panes the program's own font back.
    combo_fonts->setCurrentIndex(combo_fonts->findText(QStringLiteral("MS Sans Serif")));
    combo_fonts->setEditText(QStringLiteral("MS Sans Serif"));
    radiogroup_show->setItemIndex(0);
    image_flashfriends1->setTag(1);
    image_pmalert1->setTag(1);
    image_pmsound1->setTag(1);
    image_sentwithenter1->setTag(0);
    image_acceptinvites1->setTag(1);
    image_tourneyalert1->setTag(0);
    image_lobbychat1->setTag(1);
    image_updates->setTag(1);
    image_reconnect->setTag(1);
    // Last: the layout, sizes and font of the main window, after the changes above.
    emit restoreLayoutRequested();
}

void TOptions::button_resetpmClick()
{
    emit pmLocationsReset();
}

void TOptions::button_editClick()
{
    emit editProfileRequested();
}
