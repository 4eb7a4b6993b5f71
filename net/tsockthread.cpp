#include "tsockthread.h"

#include "tsock.h"

TSockThread::TSockThread(TSock *listener, TSock *newSock) : m_listener(listener), m_newSock(newSock)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start();
}

void TSockThread::run()
{
    QString failure;
    try {
        emit m_listener->OnAutoAccept(m_listener, m_newSock);
    } catch (const std::exception &e) {
        failure = QString::fromUtf8(e.what());
    } catch (...) {
        failure = QStringLiteral("Unexpected socket error");
    }
    if (failure.isEmpty())
        return;
    // Reported on the listener's own thread, where its owner listens; a listener gone
    // meanwhile takes the report with it.
    TSock *listener = m_listener;
    QMetaObject::invokeMethod(
        listener, [listener, failure] { listener->reportRaised(failure); }, Qt::QueuedConnection);
}
