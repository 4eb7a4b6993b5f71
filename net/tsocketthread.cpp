#include "tsocketthread.h"

#include <QTcpSocket>

TSocketThread::TSocketThread(QTcpSocket *socket, QObject *parent)
    : QObject(parent), m_socket(socket)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &TSocketThread::SendQueued);
}

void TSocketThread::Enqueue(const QByteArray &line)
{
    if (m_terminated)
        return;
    m_queue.push_back(line);
    if (!m_timer.isActive())
        m_timer.start();
}

void TSocketThread::SendNow(const QByteArray &line)
{
    if (m_terminated)
        return;
    if (m_queue.empty() && m_socket && m_socket->state() == QAbstractSocket::ConnectedState &&
        m_socket->bytesToWrite() <= kSocketHighWater && m_socket->write(line) >= 0)
        return;
    Enqueue(line);
}

void TSocketThread::SendQueued()
{
    if (m_terminated)
        return;
    auto connected = [this]() {
        return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
    };
    while (!m_queue.empty() && connected()) {
        if (m_socket->bytesToWrite() > kSocketHighWater)
            break;
        if (m_socket->write(m_queue.front()) < 0)
            break;
        m_queue.pop_front();
    }
    if (!m_queue.empty() && connected())
        m_timer.start();
}

void TSocketThread::Terminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    m_timer.stop();
    m_queue.clear();
    deleteLater();
}
