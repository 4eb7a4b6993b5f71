#include "tsockstream.h"

#include "tsock.h"

#include <climits>
#include <cstring>

qint64 TSockStream::Read(void *Buffer, qint64 Count)
{
    if (Count <= 0)
        return 0;
    const int wanted = Count > INT_MAX ? INT_MAX : static_cast<int>(Count);
    QByteArray data = m_sock->ReceiveCount(wanted);
    const qint64 copied = qMin<qint64>(data.size(), wanted);
    std::memcpy(Buffer, data.constData(), static_cast<size_t>(copied));
    // A blocking receive hands back everything buffered, which can be more than asked
    // for; the rest goes back to the socket instead of being lost.
    if (data.size() > copied)
        m_sock->unreceive(data.mid(copied));
    return copied;
}

qint64 TSockStream::Write(const void *Buffer, qint64 Count)
{
    if (Count <= 0)
        return 0;
    m_sock->Send(QByteArray(static_cast<const char *>(Buffer), Count));
    return Count;
}

qint64 TSockStream::Seek(qint64, int)
{
    return 0;
}
