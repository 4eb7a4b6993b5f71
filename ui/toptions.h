#pragma once

#include <QWidget>

#include <array>

class QComboBox;
class TColorButton;
class TFlatButton;
class TRadioGroup;
class TSwitch;

// The options window: notices, the on/off switches, chat colours, text sizes and
// font. Its controls are the live option state that the rest of the lobby reads; sizes
// and fonts go to the main window at once through signals, "Done" stores everything.
class TOptions : public QWidget
{
    Q_OBJECT
public:
    // settingsPath: the settings file that "Done" and the reset of the message windows'
    // places write to.
    explicit TOptions(const QString &settingsPath, QWidget *parent = nullptr);

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

signals:
    void textSizeChanged(const QString &size);
    void boxTextSizeChanged(const QString &size);
    void fontChanged(const QString &family);
    // "Restore Defaults": the main window's panels go back to their places.
    void defaultLayoutRequested();
    // The private message windows open at their first places again.
    void pmLocationsReset();
    // "Edit Profile": the main window asks the server for the user's own record.
    void profileEditRequested();

private:
    QString m_settingsPath;
};
