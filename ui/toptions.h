#pragma once

#include <QWidget>

#include <array>

class QComboBox;
class TColorButton;
class TFlatButton;
class TRadioGroup;
class TSwitch;
class Tlobby;

// The options window: notices, the on/off switches, chat colours, text sizes and
// font. Its controls are the live option state that the rest of the lobby reads; sizes
// and fonts act on the main window at once, "Done" stores everything.
class TOptions : public QWidget
{
    Q_OBJECT
public:
    explicit TOptions(Tlobby *lobby, QWidget *parent = nullptr);

    TRadioGroup *radiogroup_show;
    TSwitch *image_flashfriends1;
    TSwitch *image_pmalert1;
    TSwitch *image_pmsound1;
    TSwitch *image_tourneyalert1;
    TSwitch *image_sentwithenter1;
    TSwitch *image_acceptinvites1;
    TSwitch *image_lobbychat1;
    TSwitch *image_updates;
    TSwitch *image_pmlog;
    TSwitch *image_reconnect;
    TColorButton *textcolor;
    TColorButton *actioncolor;
    QComboBox *textsize;
    QComboBox *boxtextsize;
    QComboBox *combo_fonts;
    TFlatButton *button_edit;
    TFlatButton *button_done;
    TFlatButton *button_restore;
    TFlatButton *button_resetpm;

    // The switches with their settings keys, in the order "Done" writes them.
    struct SwitchKey
    {
        const char *key;
        TSwitch *TOptions::*control;
    };
    static const std::array<SwitchKey, 10> kSwitchKeys;

    // Sets the switch of that objectName to 0 or 1; unknown names change nothing.
    void setimage(const QString &name, int state);
    TSwitch *switchNamed(const QString &name) const;

    void image_flashfriends1Click(TSwitch *sender);
    void button_doneClick();
    void button_restoreClick();
    void button_resetpmClick();
    void button_editClick();

private:
    Tlobby *m_lobby;
};
