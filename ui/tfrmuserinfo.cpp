#include "tfrmuserinfo.h"
#include "accessibility.h"
#include "tlimithint.h"

#include "ttypinglimit.h"

#include "assets.h"
#include "platform.h"
#include "textcodec.h"
#include "torvexuser.h"

#include <QComboBox>
#include <QDate>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QValidator>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kCommentsLimit = 200;
constexpr int kFirstListedHat = 2;

QString fromWire(const std::string &bytes)
{
    return decodeWireText(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

std::string toWire(const QString &text)
{
    return encodeWireText(TfrmUserInfo::CleanFieldText(text)).toStdString();
}

// Dates count days since 30 December 1899. Zero is how a record says "never".
QString shortDate(double days)
{
    if (!std::isfinite(days) || days <= 0 || days > 2958465.0)
        return QStringLiteral("N/A");
    const QDate date = QDate(1899, 12, 30).addDays(qint64(std::floor(days)));
    return date.isValid() ? QLocale().toString(date, QLocale::ShortFormat) : QStringLiteral("N/A");
}

// The length limit holds for typing only: a longer value of the record is shown and
// written back whole, since cutting it would change the record (the password included)
// behind the user's back.
QLineEdit *lineEdit(QWidget *parent, const char *name, int maxLength)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setValidator(new TTypingLimit(edit, maxLength > 0 ? maxLength : edit->maxLength(),
                                        TTypingLimit::FieldText));
    return edit;
}

// Puts a value of the record into its edit. The edit must accept it: one it refused
// would leave the edit without any check on what is typed next.
void setField(QLineEdit *edit, const QString &text)
{
    TTypingLimit::setText(edit, TfrmUserInfo::CleanFieldText(text));
}

QLabel *valueLabel(QWidget *parent, const char *name)
{
    auto *label = new QLabel(QStringLiteral("N/A"), parent);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

TfrmUserInfo::TfrmUserInfo(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmUserInfo"));
    setWindowTitle(QStringLiteral("User Info"));
    setWindowIcon(assets::appIcon());
    setModal(true);

    edtUserId = lineEdit(this, "edtUserId", 15);
    edtPassword1 = lineEdit(this, "edtPassword1", 9);
    edtPassword2 = lineEdit(this, "edtPassword2", 9);
    edtPassword1->setEchoMode(QLineEdit::Password);
    edtPassword2->setEchoMode(QLineEdit::Password);
    edtFirstName = lineEdit(this, "edtFirstName", 24);
    edtCity = lineEdit(this, "edtCity", 24);
    edtCountry = lineEdit(this, "edtCountry", 24);
    combo_gender = new QComboBox(this);
    combo_gender->setObjectName(QStringLiteral("combo_gender"));
    combo_gender->addItems(
        {QStringLiteral("Female"), QStringLiteral("Male"), QStringLiteral("Unknown")});
    edtHomePage = lineEdit(this, "edtHomePage", 48);
    edtHomePage->installEventFilter(this);
    edtIcq = lineEdit(this, "edtIcq", 20);
    edit_lastname = lineEdit(this, "edit_lastname", 0);
    edit_lastname->hide();
    edtEMail = lineEdit(this, "edtEMail", 48);
    edtEMail->hide();

    memoComments = new QPlainTextEdit(this);
    memoComments->setObjectName(QStringLiteral("memoComments"));
    memoComments->setTabChangesFocus(true);
    memoComments->setFixedHeight(memoComments->fontMetrics().lineSpacing() * 4 + 12);
    memoComments->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(memoComments, &QPlainTextEdit::textChanged, this, &TfrmUserInfo::memoCommentsChange);
    connect(memoComments, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        QMenu *menu = memoComments->createStandardContextMenu();
        menu->addSeparator();
        QAction *clear = menu->addAction(QStringLiteral("Clear Comment Box"));
        clear->setObjectName(QStringLiteral("ClearCommentBox1"));
        clear->setEnabled(!memoComments->isReadOnly());
        connect(clear, &QAction::triggered, this, &TfrmUserInfo::ClearCommentBox1Click);
        menu->exec(memoComments->mapToGlobal(pos));
        delete menu;
    });

    lbcreationdate = valueLabel(this, "lbcreationdate");
    lbrdate = valueLabel(this, "lbrdate");
    lblogin = valueLabel(this, "lblogin");
    lblogin->setText(QStringLiteral("0"));
    edttimeonline = lineEdit(this, "edttimeonline", 0);
    edtsilence = lineEdit(this, "edtsilence", 0);
    for (QLineEdit *edit : {edttimeonline, edtsilence}) {
        // Kept by the server: shown, never edited.
        edit->setReadOnly(true);
        edit->setFocusPolicy(Qt::NoFocus);
        edit->setFrame(false);
        edit->setAttribute(Qt::WA_MacShowFocusRect, false);
        edit->setStyleSheet(
            QStringLiteral("QLineEdit { border: none; background: transparent; padding: 0px; }"));
    }
    edtsilence->setText(QStringLiteral("N/A"));
    edttimeonline->setText(QStringLiteral("0:00"));

    combo_hats = new QComboBox(this);
    combo_hats->setObjectName(QStringLiteral("combo_hats"));
    combo_hats->setIconSize(QSize(20, 20));
    // 197 hats read best as a grid that drops down below the box, not as a column that
    // covers the screen.
    combo_hats->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    auto *hatGrid = new QListView(combo_hats);
    hatGrid->setViewMode(QListView::IconMode);
    hatGrid->setFlow(QListView::LeftToRight);
    hatGrid->setWrapping(true);
    hatGrid->setResizeMode(QListView::Adjust);
    hatGrid->setMovement(QListView::Static);
    hatGrid->setUniformItemSizes(true);
    hatGrid->setGridSize(QSize(30, 30));
    hatGrid->setSpacing(0);
    hatGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    hatGrid->setMinimumWidth(12 * 30 + hatGrid->style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                             6);
    combo_hats->setView(hatGrid);
    combo_hats->setMaxVisibleItems(9);
    for (int hat = kFirstListedHat; hat < assets::kHatCount; ++hat) {
        // The same picture when disabled: viewing a profile shows the hat in colour.
        QIcon icon = assets::hatIcon(hat);
        for (QSize size : {QSize(20, 20), QSize(40, 40)})
            icon.addPixmap(icon.pixmap(size), QIcon::Disabled);
        combo_hats->addItem(icon, QString(), hat);
        combo_hats->setItemData(combo_hats->count() - 1,
                                hat == assets::kAwayHat ? QStringLiteral("Away")
                                                        : QStringLiteral("Hat %1").arg(hat),
                                Qt::ToolTipRole);
    }
    combo_hats->setCurrentIndex(-1);
    combo_hats->setMinimumWidth(64);
    connect(combo_hats, &QComboBox::activated, this, &TfrmUserInfo::combo_hatsActivated);
    label_hats = new QLabel(QStringLiteral("H&at:"), this);
    label_hats->setBuddy(combo_hats);
    label_hats->setObjectName(QStringLiteral("label_hats"));

    image_away = new QToolButton(this);
    image_away->setObjectName(QStringLiteral("image_away"));
    image_away->setAutoRaise(true);
    image_away->setIconSize(QSize(20, 20));
    image_away->setCursor(Qt::PointingHandCursor);
    connect(image_away, &QToolButton::clicked, this, &TfrmUserInfo::image_awayClick);
    SetAwayImage(assets::kAwayHat, QStringLiteral("Click to set yourself as away"));

    btnOk = new QPushButton(QStringLiteral("&OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &TfrmUserInfo::btnOkClick);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    btnEdit = new QPushButton(QStringLiteral("&Edit"), this);
    btnEdit->setObjectName(QStringLiteral("btnEdit"));
    btnEdit->hide();

    auto *details = new QGroupBox(QStringLiteral("User Details"), this);
    auto *detailsForm = new QFormLayout(details);
    detailsForm->addRow(QStringLiteral("&Username:"), edtUserId);
    labelPassword1 = new QLabel(QStringLiteral("&Password:"), details);
    labelPassword2 = new QLabel(QStringLiteral("&Re-Type:"), details);
    labelPassword1->setBuddy(edtPassword1);
    labelPassword2->setBuddy(edtPassword2);
    // The server keeps passwords of up to 9 characters: the limit is said before it bites.
    label_passwordhint =
        new TLimitHint(QStringLiteral("1 to 9 characters"),
                       QStringLiteral("Passwords have at most 9 characters."), details);
    label_passwordhint->setObjectName(QStringLiteral("label_passwordhint"));
    label_passwordhint->watch(edtPassword1);
    label_passwordhint->watch(edtPassword2);
    auto *passwordRow = new QHBoxLayout;
    passwordRow->addWidget(edtPassword1, 1);
    passwordRow->addWidget(label_passwordhint);
    detailsForm->addRow(labelPassword1, passwordRow);
    detailsForm->addRow(labelPassword2, edtPassword2);
    detailsForm->addRow(QStringLiteral("&First Name:"), edtFirstName);
    detailsForm->addRow(QStringLiteral("C&ity/State:"), edtCity);
    detailsForm->addRow(QStringLiteral("Countr&y:"), edtCountry);
    detailsForm->addRow(QStringLiteral("&Gender:"), combo_gender);

    auto *info = new QGroupBox(QStringLiteral("User Information"), this);
    auto *infoForm = new QFormLayout(info);
    infoForm->addRow(QStringLiteral("First Logged In:"), lbcreationdate);
    infoForm->addRow(QStringLiteral("Member since:"), lbrdate);
    infoForm->addRow(QStringLiteral("Login Count:"), lblogin);
    infoForm->addRow(QStringLiteral("Hours Played:"), edttimeonline);
    infoForm->addRow(QStringLiteral("Silence Time Left:"), edtsilence);
    auto *hatRow = new QHBoxLayout;
    hatRow->addWidget(combo_hats);
    hatRow->addWidget(image_away);
    hatRow->addStretch();
    infoForm->addRow(label_hats, hatRow);

    auto *contact = new QGroupBox(QStringLiteral("Contact Information"), this);
    auto *contactForm = new QFormLayout(contact);
    contactForm->addRow(QStringLiteral("&Home Page:"), edtHomePage);
    contactForm->addRow(QStringLiteral("IC&Q #:"), edtIcq);
    contactForm->addRow(QStringLiteral("Co&mments:"), memoComments);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(edit_lastname);
    buttons->addWidget(edtEMail);
    buttons->addWidget(btnEdit);
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(14, 14, 14, 14);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    grid->addWidget(details, 0, 0);
    grid->addWidget(info, 0, 1);
    grid->addWidget(contact, 1, 0, 1, 2);
    grid->addLayout(buttons, 2, 0, 1, 2);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 2);
    setMinimumWidth(600);
    accessibility::nameControls(this, {{"edit_lastname", "Last name"},
                                       {"edtEMail", "E-mail"},
                                       {"edtPassword1", "Password"},
                                       {"edtPassword2", "Password again"},
                                       {"combo_hats", "Hat"},
                                       {"image_away", "Away hat"}});
}

int TfrmUserInfo::HatAt(int position)
{
    return position < 0 ? 1 : position + kFirstListedHat;
}

QString TfrmUserInfo::CleanFieldText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == QLatin1Char('^') || c == QLatin1Char('|'))
            continue;
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            out += QLatin1Char(' ');
        else
            out += c;
    }
    return out;
}

std::string TfrmUserInfo::EncodeComments(const QString &text)
{
    std::string wire = toWire(text);
    std::string out;
    out.reserve(wire.size() * 2);
    for (char c : wire) {
        if (c == ' ')
            out += "/r/";
        else
            out += c;
    }
    return out;
}

QString TfrmUserInfo::DecodeComments(const std::string &wire)
{
    QString text = fromWire(wire);
    text.replace(QStringLiteral("/r/"), QStringLiteral(" "));
    return CleanFieldText(text);
}

QString TfrmUserInfo::HoursPlayedText(int minutes)
{
    // A negative count is a server-side fault; it reads as no time played.
    if (minutes < 0)
        minutes = 0;
    return QStringLiteral("%1:%2").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

void TfrmUserInfo::LoadUser(ostrel::TOrvexUser *user)
{
    m_user = user;
    m_formerHat.reset();
    SetAwayImage(assets::kAwayHat, QStringLiteral("Click to set yourself as away"));

    setField(edtUserId, fromWire(user->UserName));
    setField(edtPassword1, fromWire(user->Password));
    setField(edtPassword2, fromWire(user->Password));
    setField(edtFirstName, fromWire(user->FirstName));
    setField(edtCity, fromWire(user->City));
    setField(edtCountry, fromWire(user->Country));
    setField(edtIcq, fromWire(user->ICQ));
    setField(edtHomePage, fromWire(user->HomePage));
    edtEMail->clear();
    m_accountClass = fromWire(user->AccountClass);

    const QString gender = fromWire(user->Gender);
    if (gender.compare(QStringLiteral("female"), Qt::CaseInsensitive) == 0)
        combo_gender->setCurrentIndex(0);
    else if (gender.compare(QStringLiteral("male"), Qt::CaseInsensitive) == 0)
        combo_gender->setCurrentIndex(1);
    else
        combo_gender->setCurrentIndex(2);

    lbcreationdate->setText(shortDate(user->FirstLogin));
    lbrdate->setText(shortDate(user->MemberSince));
    lblogin->setText(QString::number(user->LoginCount));

    m_cleaningComments = true;
    memoComments->clear();
    m_comments = DecodeComments(user->Comments);
    memoComments->setPlainText(m_comments);
    m_cleaningComments = false;

    edttimeonline->setText(HoursPlayedText(user->MinutesPlayed));
    edtsilence->setText(user->SilenceLeft > 0 ? QString::number(user->SilenceLeft)
                                              : QStringLiteral("N/A"));

    bool isNumber = false;
    const int hat = QString::fromStdString(user->Hat).trimmed().toInt(&isNumber);
    if (isNumber) {
        const int position = hat - kFirstListedHat;
        combo_hats->setCurrentIndex(position >= 0 && position < combo_hats->count() ? position
                                                                                    : -1);
    }
    label_hats->setText(QStringLiteral("H&at:"));
}

void TfrmUserInfo::SetEditable(bool E)
{
    m_editable = E;
    for (QLineEdit *edit :
         {edtPassword1, edtPassword2, edtFirstName, edtCity, edtCountry, edtHomePage, edtIcq})
        edit->setReadOnly(!E);
    edtUserId->setReadOnly(!(E && edtUserId->text().isEmpty()));
    memoComments->setReadOnly(!E);
    for (QWidget *w :
         {static_cast<QWidget *>(edtPassword1), static_cast<QWidget *>(edtPassword2),
          static_cast<QWidget *>(labelPassword1), static_cast<QWidget *>(labelPassword2),
          static_cast<QWidget *>(label_passwordhint)})
        w->setVisible(E);
    combo_gender->setEnabled(E);
    combo_hats->setEnabled(E);
    image_away->setVisible(E);
    btnCancel->setVisible(E);
    const bool link = !E && !edtHomePage->text().isEmpty();
    edtHomePage->setCursor(link ? Qt::PointingHandCursor : Qt::IBeamCursor);
    edtHomePage->setToolTip(link ? QStringLiteral("Click to open this page") : QString());
}

void TfrmUserInfo::SetAwayImage(int hat, const QString &hint)
{
    image_away->setIcon(assets::hatIcon(hat));
    image_away->setToolTip(hint);
}

void TfrmUserInfo::image_awayClick()
{
    const int away = assets::kAwayHat - kFirstListedHat;
    if (combo_hats->currentIndex() == away) {
        if (!m_formerHat)
            return;
        combo_hats->setCurrentIndex(*m_formerHat);
        m_formerHat.reset();
        SetAwayImage(assets::kAwayHat, QStringLiteral("Click to set yourself as away"));
    } else {
        m_formerHat = combo_hats->currentIndex();
        combo_hats->setCurrentIndex(away);
        SetAwayImage(HatAt(*m_formerHat), QStringLiteral("Click to select your former hat"));
    }
}

void TfrmUserInfo::combo_hatsActivated(int index)
{
    // A hat chosen by hand replaces whatever the away switch remembered, so the switch's
    // picture never points at a hat the user has since moved away from.
    m_formerHat.reset();
    SetAwayImage(assets::kAwayHat, QStringLiteral("Click to set yourself as away"));
    if (HatAt(index) == assets::kAwayHat)
        platform::Platform::instance().messageBox(
            QStringLiteral("This signifies that you are currently away from the keyboard"));
}

void TfrmUserInfo::ClearCommentBox1Click()
{
    if (!memoComments->isReadOnly())
        memoComments->clear();
}

void TfrmUserInfo::memoCommentsChange()
{
    if (m_cleaningComments)
        return;
    // The comments are one line on the wire: a typed or pasted line break becomes a
    // space at once, so what the user sees is what is sent, and the box keeps its limit.
    // A longer text that came with the record stays whole; it may only shrink.
    const QString text = memoComments->toPlainText();
    QString clean = CleanFieldText(text);
    if (clean.size() > kCommentsLimit && clean.size() > m_comments.size())
        clean = m_comments.size() > kCommentsLimit ? m_comments : clean.left(kCommentsLimit);
    m_comments = clean;
    if (clean == text)
        return;
    m_cleaningComments = true;
    QTextCursor cursor = memoComments->textCursor();
    const int position = std::min<int>(cursor.position(), clean.size());
    memoComments->setPlainText(clean);
    cursor = memoComments->textCursor();
    cursor.setPosition(position);
    memoComments->setTextCursor(cursor);
    m_cleaningComments = false;
}

bool TfrmUserInfo::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == edtHomePage && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        edtHomePageClick();
    return QDialog::eventFilter(watched, event);
}

void TfrmUserInfo::edtHomePageClick()
{
    if (!edtHomePage->isReadOnly())
        return;
    const QString text = edtHomePage->text().trimmed();
    if (text.isEmpty())
        return;
    // Another player wrote this address: open it only as a web page, never as a local
    // file or a program.
    const QUrl url = QUrl::fromUserInput(text);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return;
    platform::Platform::instance().openUrl(url);
}

bool TfrmUserInfo::Validate()
{
    auto &seam = platform::Platform::instance();
    const QString name = edtUserId->text();
    if (name.isEmpty()) {
        seam.messageBox(QStringLiteral("Please provide a User ID."));
        edtUserId->setFocus();
        return false;
    }
    for (QChar c : name) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
                        (u >= '0' && u <= '9') || u == ' ' || u == '_' || u == '~';
        if (!ok) {
            seam.messageBox(QStringLiteral("Special Characters are not allowed in User Names."));
            return false;
        }
    }
    if (name.contains(QLatin1Char(' '))) {
        seam.messageBox(QStringLiteral("No Spaces allowed in User ID."));
        edtUserId->setFocus();
        return false;
    }
    if (edtPassword1->text().isEmpty() || edtPassword2->text().isEmpty() ||
        edtPassword1->text() != edtPassword2->text()) {
        seam.messageBox(QStringLiteral("Please make sure the Password fields match."));
        edtPassword1->setFocus();
        return false;
    }
    if (edtPassword1->text().size() >= 10) {
        seam.messageBox(QStringLiteral("Password is too long"));
        return false;
    }
    return true;
}

void TfrmUserInfo::WriteRecord()
{
    ostrel::TOrvexUser &u = *m_user;
    u.UserName = toWire(edtUserId->text());
    u.Password = toWire(edtPassword1->text());
    u.FirstName = toWire(edtFirstName->text());
    u.City = toWire(edtCity->text());
    u.Country = toWire(edtCountry->text());
    u.HomePage = toWire(edtHomePage->text());
    u.ICQ = toWire(edtIcq->text());
    u.LastName = toWire(edit_lastname->text());
    u.EMail = toWire(edtEMail->text());
    const QString gender = combo_gender->currentText();
    u.Gender = gender.isEmpty() ? "Unknown" : toWire(gender);

    const int position = combo_hats->currentIndex();
    auto &seam = platform::Platform::instance();
    if (HatAt(position) == assets::kWizardHat && m_accountClass != QLatin1String("S")) {
        seam.messageBox(QStringLiteral("You must be a Wizard in order to select this hat"));
    } else if (HatAt(position) == assets::kAdminHat && m_accountClass != QLatin1String("T") &&
               m_accountClass != QLatin1String("H")) {
        seam.messageBox(QStringLiteral("You must be an Admin in order to select this hat"));
    } else {
        u.Hat = std::to_string(HatAt(position));
    }

    u.Comments = EncodeComments(memoComments->toPlainText());
}

void TfrmUserInfo::btnOkClick()
{
    if (!m_editable) {
        reject();
        return;
    }
    if (!Validate())
        return;
    WriteRecord();
    m_confirmed = true;
    accept();
}
