#include "torvexuserinfodialog.h"

#include "tfrmuserinfo.h"
#include "torvexuser.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

TOrvexUserInfoDialog::TOrvexUserInfoDialog(QObject *parent) : QObject(parent) {}

bool TOrvexUserInfoDialog::Execute(ostrel::TOrvexUser *record, bool AllowEdit)
{
    if (!record)
        return false;
    QWidget *owner = qobject_cast<QWidget *>(parent());
    if (!owner)
        owner = QApplication::activeWindow();
    // The window lives for this one call; a QPointer guards against its owner being
    // closed (and the window with it) while it runs modally.
    QPointer<TfrmUserInfo> form = new TfrmUserInfo(owner);
    form->LoadUser(record);
    form->SetEditable(false);
    form->SetEditable(AllowEdit || record->UserName.empty());
    form->setWindowTitle(Title);
    form->setAttribute(Qt::WA_DeleteOnClose, false);
    form->adjustSize();
    form->exec();
    if (!form)
        return false;
    const bool confirmed = form->Confirmed();
    delete form.data();
    return confirmed;
}
