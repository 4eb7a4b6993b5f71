#pragma once

#include "torvexuser.h"

#include <QDialog>

#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class TFlatButton;
class TOrvexUserInfoDialog;

// The login dialog: user ID, password and whether to keep the password, plus account
// creation. A fresh dialog is made for every login; it remembers an account created in
// it until the lobby takes it over.
class TfrmConnectionInfo : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmConnectionInfo(QWidget *parent = nullptr);
    ~TfrmConnectionInfo() override;

    QLineEdit *edtUserId;
    QLineEdit *edtPassword;
    // "1 to 9 characters" beside the password, flashing when a key is refused.
    class TLimitHint *label_passwordhint;
    QCheckBox *checkbox_savepass;
    QLabel *label_firsttime;
    QLabel *label_createhint;
    TFlatButton *button_createaccount;
    TFlatButton *BitBtn2;
    TFlatButton *button_cancel;
    QGroupBox *groupbox_server;
    QComboBox *edtHostAddress;
    TOrvexUserInfoDialog *dlgNewUser = nullptr;

    // The server address the login goes to: the combo box's text.
    QString serverAddress() const;
    void setServerAddress(const QString &address);

    // Set once the user filled in a new account; the record stays with the dialog.
    bool isNewAccount() const { return m_isNew; }
    const ostrel::TOrvexUser *newUser() const { return m_newUser.get(); }
    std::unique_ptr<ostrel::TOrvexUser> takeNewUser() { return std::move(m_newUser); }

    void button_createaccountClick();

private:
    bool m_isNew = false;
    std::unique_ptr<ostrel::TOrvexUser> m_newUser;
};
