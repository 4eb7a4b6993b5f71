#pragma once

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

// One session of the test game. It behaves towards the lobby like one of our real games:
// it holds the running marker (an exclusive lock on the game lock file) for as long as
// it runs and keeps a connection to the lobby's presence port; as host it listens for
// the joiner's game, as joiner it connects to the host's game. The two exchange three
// lines (HELLO, WELCOME, GOODBYE), the first two each followed by a block of raw bytes
// holding every byte value, record what they send and receive (and whether each block
// arrived intact), and then end.
class TTestGame : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString name;
        QHostAddress address;
        bool host = false;
        QString mode;
        quint16 presencePort = 9001;
        quint16 gamePort = 7772;
        QString recordPath; // empty: record nothing
        QString lockPath;
        // How long a joiner keeps trying to reach a host whose game is not up yet.
        int connectPatienceMs = 15000;
    };

    explicit TTestGame(Options options, QObject *parent = nullptr);
    ~TTestGame() override;

    // False (with a line in the record and on standard error) when the game cannot run.
    bool start();

    // Every line of the exchange and the notable events, as recorded.
    std::function<void(const QString &line)> onRecord;

signals:
    // The game is over; the code is the process's exit code.
    void finished(int code);

private:
    void record(const QString &line);
    void fail(const QString &why);
    void finish(int code);
    void takeRunningMarker();
    void connectPresence();
    void acceptPeer();
    void connectToHost();
    void sendLine(const QByteArray &line);
    void readPeer();
    void handleLine(const QByteArray &line);
    void sendBlock();
    void handleBlock(const QByteArray &block);

    Options m_options;
    QFile m_record;
    int m_lockHandle = -1;
    QTcpSocket m_presence;
    QTcpServer m_listener;
    QTcpSocket *m_peer = nullptr;
    QTimer m_retry;
    qint64 m_connectDeadline = 0;
    bool m_said = false;
    // The size of the raw block announced by the peer and not read yet.
    qint64 m_blockPending = 0;
    QByteArray m_joiner; // the host's: who said hello
    bool m_done = false;
};
