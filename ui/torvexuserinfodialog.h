#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace ostrel {
class TOrvexUser;
}

// Shows one user record in the profile window, modally, and lets the user edit it when
// allowed. The record is edited in place; sending it to the server is the caller's job.
class TOrvexUserInfoDialog : public QObject
{
    Q_OBJECT

public:
    explicit TOrvexUserInfoDialog(QObject *parent = nullptr);

    // The window caption.
    QString Title = QStringLiteral("User Info");
    // Kept with the component for its owner; the window does not use it.
    QStringList ValidInfoTokens;

    // True when the user confirmed an edit; the record has then been changed in place.
    // A record without a user name is a new account and is always editable.
    bool Execute(ostrel::TOrvexUser *record, bool AllowEdit);
};
