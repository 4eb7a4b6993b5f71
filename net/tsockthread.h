#pragma once

#include <QThread>

class TSock;

// Runs a blocking listener's OnAutoAccept(listener, NewSock) on a thread of its own, so
// that the handler may talk to the new connection with blocking calls while the user
// interface goes on. It starts as soon as it is created and frees itself when the
// handler returns. The handler must not touch the user interface; an exception it raises
// is passed to the error display on the application's thread.
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
