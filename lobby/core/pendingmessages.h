#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

// One received private message that the user has not opened yet: the sender's name and
// the text, as bytes off the wire.
struct PendingMessage
{
    QByteArray sender;
    QByteArray text;

    // The sender's name as shown.
    QString senderName() const;
    bool operator==(const PendingMessage &) const = default;
};

// The private messages waiting to be read, oldest first. The tray, the mail button and
// the mail icons beside players follow it through `changed`.
class PendingMessages : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    void add(const QByteArray &sender, const QByteArray &text);
    // Takes the message at `index` out of the queue (an empty record for a bad index).
    PendingMessage take(int index);

    int count() const { return int(m_messages.size()); }
    bool isEmpty() const { return m_messages.isEmpty(); }
    const PendingMessage &at(int index) const { return m_messages.at(index); }
    const QList<PendingMessage> &messages() const { return m_messages; }
    // The oldest message of a sender by shown name, or -1; `cs` says how names compare.
    int indexOf(const QString &senderName, Qt::CaseSensitivity cs = Qt::CaseSensitive) const;
    // Whether a message of that sender waits, without regard to case, without a scan.
    bool hasFrom(const QString &senderName) const;

signals:
    void changed();

private:
    QList<PendingMessage> m_messages;
    // Waiting messages per case-folded sender name.
    QHash<QString, int> m_bySender;
};
