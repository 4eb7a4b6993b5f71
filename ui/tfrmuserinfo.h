#pragma once

#include <QDialog>

#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace ostrel {
class TOrvexUser;
}

// The profile window: one user record, shown read-only or editable. Its controls carry
// their design names as objectName.
class TfrmUserInfo : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmUserInfo(QWidget *parent = nullptr);

    // Fills the controls from the record, which must outlive the window (not owned).
    void LoadUser(ostrel::TOrvexUser *user);
    void SetEditable(bool E);
    bool Editable() const { return m_editable; }
    // True once the window closed through a confirmed edit.
    bool Confirmed() const { return m_confirmed; }

    // The wire keeps a record on one line with "^" between its fields and "|" between
    // the line's fields: these characters may not enter a field. Line breaks and other
    // control characters become spaces, "^" and "|" are dropped.
    static QString CleanFieldText(const QString &text);
    // Comments travel with every space as "/r/"; line breaks count as spaces.
    static std::string EncodeComments(const QString &text);
    static QString DecodeComments(const std::string &wire);
    // "h:mm" from minutes played.
    static QString HoursPlayedText(int minutes);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void btnOkClick();
    void image_awayClick();
    void combo_hatsActivated(int index);
    void ClearCommentBox1Click();
    void edtHomePageClick();
    void memoCommentsChange();
    bool Validate();
    void WriteRecord();
    void SetAwayImage(int hat, const QString &hint);
    static int HatAt(int position);

    ostrel::TOrvexUser *m_user = nullptr;
    QString m_accountClass;
    bool m_editable = false;
    bool m_confirmed = false;
    bool m_cleaningComments = false;
    // The comments as last accepted, to tell typing past the limit from a longer text
    // that came with the record.
    QString m_comments;
    // The list position to return to from the away hat; a remembered "nothing selected"
    // is -1, so every hat (hat 2 at position 0 included) can be switched back to.
    std::optional<int> m_formerHat;

    QLineEdit *edtUserId = nullptr;
    QLineEdit *edtPassword1 = nullptr;
    QLineEdit *edtPassword2 = nullptr;
    QLabel *labelPassword1 = nullptr;
    QLabel *labelPassword2 = nullptr;
    // "1 to 9 characters" beside the password, flashing when a key is refused.
    class TLimitHint *label_passwordhint = nullptr;
    QLineEdit *edtFirstName = nullptr;
    QLineEdit *edtCity = nullptr;
    QLineEdit *edtCountry = nullptr;
    QComboBox *combo_gender = nullptr;
    QLineEdit *edtHomePage = nullptr;
    QLineEdit *edtIcq = nullptr;
    QPlainTextEdit *memoComments = nullptr;
    QLabel *lbcreationdate = nullptr;
    QLabel *lbrdate = nullptr;
    QLabel *lblogin = nullptr;
    QLineEdit *edttimeonline = nullptr;
    QLineEdit *edtsilence = nullptr;
    QComboBox *combo_hats = nullptr;
    QLabel *label_hats = nullptr;
    QToolButton *image_away = nullptr;
    QPushButton *btnOk = nullptr;
    QPushButton *btnCancel = nullptr;
    QPushButton *btnEdit = nullptr;
    QLineEdit *edit_lastname = nullptr;
    QLineEdit *edtEMail = nullptr;
};
