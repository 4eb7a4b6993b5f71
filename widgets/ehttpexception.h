#pragma once

#include <QString>

#include <stdexcept>

// What THttpCli's synchronous GET raises when a transfer does not end with the whole
// document: a failed connection, an HTTP error status, a body cut short, or an abort.
class EHttpException : public std::runtime_error
{
public:
    enum Code {
        Failed = 1,   // the network or the server failed
        HttpStatus,   // the server answered with a status other than 2xx
        Truncated,    // fewer body bytes than announced
        Aborted,      // Abort() was called
        TooLarge,     // more body bytes than the client accepts
        Busy,         // a GET was already running on this client
        BadAddress,   // the URL is not an http or https address
        StreamFailed, // the receive stream refused the bytes
    };

    EHttpException(const QString &message, Code code)
        : std::runtime_error(message.toStdString()), m_code(code)
    {
    }

    Code ErrorCode() const { return m_code; }

private:
    Code m_code;
};
