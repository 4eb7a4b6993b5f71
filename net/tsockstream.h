#pragma once

#include <QtGlobal>

class TSock;

// A stream view of a TSock: reads take buffered bytes through ReceiveCount, writes go
// through Send. A socket has no position, so Seek always answers 0.
class TSockStream
{
public:
    explicit TSockStream(TSock *sock) : m_sock(sock) {}

    // Copies up to Count received bytes into Buffer and returns how many were copied.
    qint64 Read(void *Buffer, qint64 Count);
    // Hands Count bytes to Send and returns Count.
    qint64 Write(const void *Buffer, qint64 Count);
    qint64 Seek(qint64 Offset, int Origin);

private:
    TSock *m_sock;
};
