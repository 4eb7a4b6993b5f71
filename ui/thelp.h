#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

class QListWidget;
class QStackedWidget;
class QTextBrowser;

// The help window: pages of fixed text chosen from a list on the left, one of them the
// conduct agreement and one the versions of the games the server offers.
class Thelp : public QWidget
{
    Q_OBJECT

public:
    enum Page {
        GettingStarted,
        RoomsAndChat,
        PrivateMessages,
        FriendsAndIgnore,
        HostingAndJoining,
        Options,
        ConductAgreement,
        Versions,
        PageCount
    };

    explicit Thelp(QWidget *parent = nullptr);

    void showPage(Page page);
    Page currentPage() const;

    // The versions page: empties it, then lists every game with its version.
    void setVersions(const QList<QPair<QString, QString>> &gameAndVersion);
    // The same page filled line by line, for callers that compose the lines themselves.
    void clearVersions();
    void addVersionLine(const QString &line);
    QStringList versionLines() const;
    // The versions page as the user reads it.
    QString versionsText();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void versionsChanged();
    void renderVersions();

    QListWidget *m_pages = nullptr;
    QStackedWidget *m_stack = nullptr;
    QTextBrowser *m_versions = nullptr;
    QStringList m_versionLines;
    bool m_versionsDirty = true;
    bool m_renderQueued = false;
};
