#include "tsockthread.h"

#include "platform.h"
#include "tsock.h"

#include <QCoreApplication>

TSockThread::TSockThread(TSock *listener, TSock *newSock) : m_listener(listener), m_newSock(newSock)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start();
}

void TSockThread::run()
{
    QString failure;
    try {
        if (m_listener->OnAutoAccept)
            m_listener->OnAutoAccept(m_listener, m_newSock);
    } catch (const std::exception &e) {
        failure = QString::fromUtf8(e.what());
    } catch (...) {
        failure = QStringLiteral("Unexpected socket error");
    }
    if (!failure.isEmpty() && QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [failure] { platform::Platform::instance().showError(failure); }, Qt::QueuedConnection);
    }
}
