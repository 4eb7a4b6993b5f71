#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <deque>

class QTcpSocket;

// The send pacer of the lobby connection. Lines handed to Enqueue leave in queue order
// within about 20 ms. Everything runs on the thread that owns the socket, so the queue
// needs no lock. The pacer wakes only while lines wait, instead of every 20 ms for the
// whole session.
class TSocketThread : public QObject
{
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 20;
    // The socket's own buffer above this size counts as "would block": the line stays
    // queued for the next cycle instead of piling up inside the socket.
    static constexpr qint64 kSocketHighWater = 256 * 1024;

    explicit TSocketThread(QTcpSocket *socket, QObject *parent = nullptr);

    void Enqueue(const QByteArray &line);
    // Writes the line at once when nothing waits ahead of it and the socket takes it;
    // otherwise queues it behind the waiting lines, so the order stays that of the calls.
    // For relayed game traffic, whose rate the server bounds and whose latency the game
    // feels; everything else keeps the pacer's rhythm.
    void SendNow(const QByteArray &line);
    // Writes queued lines until one would block or the queue is empty.
    void SendQueued();
    // Asks the pacer to end: nothing more is sent, queued lines are dropped, and the
    // object releases itself.
    void Terminate();

    const std::deque<QByteArray> &Queue() const { return m_queue; }

private:
    std::deque<QByteArray> m_queue;
    QPointer<QTcpSocket> m_socket;
    QTimer m_timer;
    bool m_terminated = false;
};
