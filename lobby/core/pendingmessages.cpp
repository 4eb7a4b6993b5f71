#include "pendingmessages.h"

#include "textcodec.h"

QString PendingMessage::senderName() const
{
    return decodeWireText(sender);
}

void PendingMessages::add(const QByteArray &sender, const QByteArray &text)
{
    m_messages.append({sender, text});
    ++m_bySender[m_messages.last().senderName().toCaseFolded()];
    emit changed();
}

PendingMessage PendingMessages::take(int index)
{
    if (index < 0 || index >= m_messages.size())
        return {};
    PendingMessage message = m_messages.takeAt(index);
    const QString key = message.senderName().toCaseFolded();
    if (--m_bySender[key] <= 0)
        m_bySender.remove(key);
    emit changed();
    return message;
}

int PendingMessages::indexOf(const QString &senderName, Qt::CaseSensitivity cs) const
{
    if (!hasFrom(senderName))
        return -1;
    for (int i = 0; i < m_messages.size(); ++i) {
        if (m_messages[i].senderName().compare(senderName, cs) == 0)
            return i;
    }
    return -1;
}

bool PendingMessages::hasFrom(const QString &senderName) const
{
    return m_bySender.contains(senderName.toCaseFolded());
}
