#include "tfrmconnectioninfo.h"
#include "accessibility.h"

#include "lobbysite.h"
#include "textcodec.h"
#include "tflatbutton.h"
#include "tlimithint.h"
#include "torvexuserinfodialog.h"
#include "ttypinglimit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

TfrmConnectionInfo::TfrmConnectionInfo(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmConnectionInfo"));
    setWindowTitle(QStringLiteral("Ostrel Lobby - Login"));
    setModal(true);
    setMinimumWidth(380);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 22);
    layout->setSpacing(6);

    auto *head = new QHBoxLayout;
    auto *logo = new QLabel(this);
    logo->setPixmap(QIcon(QStringLiteral(":/icons/app.png")).pixmap(40, 40));
    head->addWidget(logo);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(0);
    auto *title = new QLabel(QStringLiteral("Halvane"), this);
    title->setProperty("role", QStringLiteral("title"));
    titles->addWidget(title);
    auto *subtitle = new QLabel(QStringLiteral("Sign in to the game lobby"), this);
    subtitle->setProperty("role", QStringLiteral("muted"));
    titles->addWidget(subtitle);
    head->addLayout(titles, 1);
    layout->addLayout(head);
    layout->addSpacing(14);

    auto field = [&](const QString &caption, QLineEdit *&edit, const char *name, int limit,
                     QWidget *hint) {
        auto *l = new QLabel(caption, this);
        l->setProperty("role", QStringLiteral("heading"));
        auto *captionRow = new QHBoxLayout;
        captionRow->addWidget(l);
        captionRow->addStretch();
        if (hint)
            captionRow->addWidget(hint);
        layout->addLayout(captionRow);
        edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        // The limit holds for typing only: a longer stored value is shown whole. Name and
        // password are fields of the LOGIN line: "|", "^" and control characters would
        // shift them.
        edit->setValidator(new TTypingLimit(edit, limit, TTypingLimit::FieldText));
        l->setBuddy(edit);
        layout->addWidget(edit);
        layout->addSpacing(6);
    };
    // The server keeps passwords of up to 9 characters: the limit is said before it bites.
    label_passwordhint =
        new TLimitHint(QStringLiteral("1 to 9 characters"),
                       QStringLiteral("Passwords have at most 9 characters."), this);
    label_passwordhint->setObjectName(QStringLiteral("label_passwordhint"));
    field(QStringLiteral("&Username:"), edtUserId, "edtUserId", 15, nullptr);
    field(QStringLiteral("&Password:"), edtPassword, "edtPassword", 9, label_passwordhint);
    edtPassword->setEchoMode(QLineEdit::Password);
    label_passwordhint->watch(edtPassword);

    checkbox_savepass = new QCheckBox(QStringLiteral("&Save Password"), this);
    checkbox_savepass->setObjectName(QStringLiteral("checkbox_savepass"));
    layout->addWidget(checkbox_savepass);
    layout->addSpacing(10);

    auto *buttons = new QHBoxLayout;
    button_cancel = new TFlatButton(QStringLiteral("&Cancel"), this);
    button_cancel->setObjectName(QStringLiteral("button_cancel"));
    BitBtn2 = new TFlatButton(QStringLiteral("&Log In"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setKind(QStringLiteral("accent"));
    BitBtn2->setDefault(true);
    BitBtn2->setAutoDefault(true);
    BitBtn2->setMinimumWidth(110);
    buttons->addStretch();
    buttons->addWidget(button_cancel);
    buttons->addWidget(BitBtn2);
    layout->addLayout(buttons);

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(QStringLiteral("color: #dbe1ea;"));
    layout->addSpacing(12);
    layout->addWidget(line);
    layout->addSpacing(8);

    auto *newRow = new QHBoxLayout;
    auto *hints = new QVBoxLayout;
    hints->setSpacing(0);
    label_firsttime = new QLabel(QStringLiteral("First Time Here? "), this);
    label_firsttime->setObjectName(QStringLiteral("label_firsttime"));
    label_firsttime->setProperty("role", QStringLiteral("heading"));
    label_createhint = new QLabel(QStringLiteral("You must Create a New Username"), this);
    label_createhint->setObjectName(QStringLiteral("label_createhint"));
    label_createhint->setProperty("role", QStringLiteral("muted"));
    hints->addWidget(label_firsttime);
    hints->addWidget(label_createhint);
    newRow->addLayout(hints, 1);
    button_createaccount = new TFlatButton(QStringLiteral("Create a &New Username"), this);
    button_createaccount->setObjectName(QStringLiteral("button_createaccount"));
    newRow->addWidget(button_createaccount);
    layout->addLayout(newRow);

    // The server choice stays out of sight: the address is the default text, which the
    // program's --server option may replace.
    groupbox_server = new QGroupBox(QStringLiteral("Ostrel Software - Gaming Lobby"), this);
    groupbox_server->setObjectName(QStringLiteral("groupbox_server"));
    auto *serverLayout = new QVBoxLayout(groupbox_server);
    serverLayout->addWidget(new QLabel(QStringLiteral("Server Address:"), groupbox_server));
    edtHostAddress = new QComboBox(groupbox_server);
    edtHostAddress->setObjectName(QStringLiteral("edtHostAddress"));
    edtHostAddress->setEditable(true);
    edtHostAddress->addItems(lobbysite::kAlternativeServers);
    edtHostAddress->setEditText(lobbysite::kDefaultServer);
    serverLayout->addWidget(edtHostAddress);
    serverLayout->addWidget(new QLabel(QStringLiteral("Trouble Connecting?\nTry another Address "
                                                      "from the \ndrop down menu."),
                                       groupbox_server));
    groupbox_server->setVisible(false);
    layout->addWidget(groupbox_server);

    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::accept);
    connect(button_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(button_createaccount, &QPushButton::clicked, this,
            &TfrmConnectionInfo::button_createaccountClick);
    dlgNewUser = new TOrvexUserInfoDialog(this);
    dlgNewUser->setObjectName(QStringLiteral("dlgNewUser"));
    edtUserId->setFocus();
    accessibility::nameControls(this, {{"edtHostAddress", "Server"}});
}

TfrmConnectionInfo::~TfrmConnectionInfo() = default;

QString TfrmConnectionInfo::serverAddress() const
{
    return edtHostAddress->currentText().trimmed();
}

void TfrmConnectionInfo::setServerAddress(const QString &address)
{
    edtHostAddress->setEditText(address);
}

void TfrmConnectionInfo::button_createaccountClick()
{
    auto record = std::make_unique<ostrel::TOrvexUser>();
    if (!dlgNewUser->Execute(record.get(), true))
        return;
    m_isNew = true;
    TTypingLimit::setText(edtUserId, decodeWireText(QByteArray::fromStdString(record->UserName)));
    TTypingLimit::setText(edtPassword, decodeWireText(QByteArray::fromStdString(record->Password)));
    m_newUser = std::move(record);
}
