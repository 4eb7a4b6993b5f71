#pragma once

#include <QThread>

class TSock;

// Emits a blocking listener's OnAutoAccept(listener, NewSock) on a thread of its own, so
// that a handler connected with Qt::DirectConnection may talk to the new connection with
// blocking calls while the user interface goes on. It starts as soon as it is created and
// frees itself when the handlers return. The handlers must not touch the user interface;
// an exception one raises reaches the listener's OnError on the listener's thread.
class TSockThread final : public QThread
{
    Q_OBJECT
public:
    TSockThread(TSock *listener, TSock *newSock);

protected:
    void run() override;

private:
    TSock *m_listener;
    TSock *m_newSock;
};
