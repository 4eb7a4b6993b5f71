#pragma once

#include "lobbypreferences.h"

#include <QWidget>

#include <array>

class QComboBox;
class TColorButton;
class TFlatButton;
class TRadioGroup;
class TSwitch;

// The options window: notices, the on/off switches, chat colours, text sizes and font.
// It edits a copy of the preferences and reports every change at once (sizes and fonts
// act on the main window while the user chooses); "Done" hands them on to be stored.
class TOptions : public QWidget
{
    Q_OBJECT
public:
    explicit TOptions(QWidget *parent = nullptr);

    // Shows these preferences in the controls, reporting no change.
    void setPreferences(const LobbyPreferences &preferences);
    // The preferences as the controls show them.
    LobbyPreferences preferences() const;

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

    // The switches, in the order of LobbyPreferences::kSwitches.
    static const std::array<TSwitch * TOptions::*, 10> kSwitchControls;

    // Sets the switch of that objectName to 0 or 1; unknown names change nothing.
    void setimage(const QString &name, int state);
    TSwitch *switchNamed(const QString &name) const;

    void image_flashfriends1Click(TSwitch *sender);
    void button_doneClick();
    void button_restoreClick();
    void button_resetpmClick();
    void button_editClick();

signals:
    void preferencesChanged(const LobbyPreferences &preferences);
    // A font chosen from the list (typed text waits for a choice).
    void fontChosen(const QString &family);
    // "Done": the preferences are to be stored.
    void preferencesDone(const LobbyPreferences &preferences);
    void restoreLayoutRequested();
    void pmLocationsReset();
    void editProfileRequested();

private:
    void reportChange();
    bool m_loading = false;
};
