#pragma once

#include <QString>

#include <stdexcept>

// The error that TSock raises to its caller; the message is one of the component's fixed
// texts ("Listen - Error Binding Socket", ...).
class ESockException : public std::runtime_error
{
public:
    explicit ESockException(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }

    QString Message() const { return m_message; }

private:
    QString m_message;
};
