#include "desktopplatform.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

using Route = platform::DesktopPlatform::NotifyRoute;

namespace {

// A notification service as the desktop runs one, recording what it is asked to show.
class RecordingNotificationService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call
    {
        QString appName;
        uint replacesId = 0;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout = 0;
    };

    QStringList capabilities{QStringLiteral("body")};
    bool refuse = false;
    std::vector<Call> calls;

public slots:
    QStringList GetCapabilities() { return capabilities; }
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion)
    {
        vendor = QStringLiteral("tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("recorder");
    }
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int expireTimeout)
    {
        if (refuse) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("not now"));
            return 0;
        }
        calls.push_back(
            {appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout});
        return static_cast<uint>(calls.size());
    }

signals:
    void ActionInvoked(uint id, const QString &actionKey);
    void NotificationClosed(uint id, uint reason);
};

// A session bus of the test's own, with no services to start on demand, so that what
// is on it is exactly what the test put there.
class DesktopNotifyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus-daemon)";
        ASSERT_TRUE(m_dir.isValid());
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC "
                                  "\"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                                  "\"http://www.freedesktop.org/standards/dbus/1.0/"
                                  "busconfig.dtd\">\n"
                                  "<busconfig><type>session</type>"
                                  "<listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                                  "<policy context=\"default\"><allow send_destination=\"*\"/>"
                                  "<allow receive_sender=\"*\"/><allow own=\"*\"/>"
                                  "</policy></busconfig>\n")
                       .arg(m_dir.path())
                       .toUtf8());
        file.close();

        m_daemon.start(daemon, {QStringLiteral("--config-file=") + config,
                                QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        ASSERT_TRUE(m_daemon.waitForStarted(5000));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return m_daemon.canReadLine() || m_daemon.waitForReadyRead(100); }, 5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_daemon.canReadLine(); }, 5000));
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        m_client = connect(QStringLiteral("client"));
        ASSERT_TRUE(m_client.isConnected()) << m_client.lastError().message().toStdString();
    }

    void TearDown() override
    {
        for (const QString &name : std::as_const(m_connections))
            QDBusConnection::disconnectFromBus(name);
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            if (!m_daemon.waitForFinished(5000))
                m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }

    QDBusConnection connect(const QString &role)
    {
        static int serial = 0;
        const QString name = QStringLiteral("notify-test-%1-%2").arg(role).arg(++serial);
        m_connections << name;
        return QDBusConnection::connectToBus(m_address, name);
    }

    // Puts the service on the bus under the well-known name.
    void offer(RecordingNotificationService &service)
    {
        QDBusConnection bus = connect(QStringLiteral("service"));
        ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                       QDBusConnection::ExportAllSlots |
                                           QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    // Notifies and waits until the platform knows which way the notification went.
    Route notify(platform::DesktopPlatform &desktop, const QString &summary, const QString &body,
                 const std::function<void()> &onClick = {})
    {
        std::vector<Route> routes;
        desktop.onNotified = [&](Route r) { routes.push_back(r); };
        desktop.notify(summary, body, onClick);
        const bool done = QTest::qWaitFor([&] { return !routes.empty(); }, 8000);
        desktop.onNotified = nullptr;
        EXPECT_TRUE(done) << "no outcome for the notification";
        return done ? routes.front() : Route::Dropped;
    }

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QDBusConnection m_client{QString()};
    QStringList m_connections;
};

TEST_F(DesktopNotifyTest, TheServiceGetsTheNotificationWithTheBodyEscapedOnlyForMarkupReaders)
{
    const QString body = QStringLiteral("ann: 1 < 2 & <b>bold</b> > 0");
    struct Case
    {
        QStringList capabilities;
        QString expectedBody;
    };
    const Case cases[] = {
        {{QStringLiteral("body")}, body},
        {{QStringLiteral("body"), QStringLiteral("body-markup")},
         QStringLiteral("ann: 1 &lt; 2 &amp; &lt;b&gt;bold&lt;/b&gt; &gt; 0")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.capabilities.join(QLatin1Char(',')).toStdString());
        RecordingNotificationService service;
        service.capabilities = c.capabilities;
        offer(service);
        QSystemTrayIcon tray;
        platform::DesktopPlatform desktop(m_client);
        desktop.setTrayIcon(&tray);

        ASSERT_EQ(notify(desktop, QStringLiteral("Private message from ann"), body), Route::Bus);
        // A second one uses what the service said about itself the first time.
        ASSERT_EQ(notify(desktop, QStringLiteral("ann is online"), QStringLiteral("a & b")),
                  Route::Bus);

        ASSERT_EQ(service.calls.size(), 2u);
        const auto &call = service.calls[0];
        EXPECT_EQ(call.appName, QStringLiteral("Halvane"));
        EXPECT_EQ(call.replacesId, 0u);
        // The program's icon from the icon theme, and the desktop entry it belongs to.
        EXPECT_EQ(call.appIcon, QStringLiteral("halvane"));
        EXPECT_EQ(call.hints.value(QStringLiteral("desktop-entry")).toString(),
                  QStringLiteral("halvane"));
        EXPECT_EQ(call.summary, QStringLiteral("Private message from ann"));
        EXPECT_EQ(call.body, c.expectedBody);
        EXPECT_TRUE(call.actions.isEmpty());
        EXPECT_EQ(call.expireTimeout, -1);
        EXPECT_EQ(service.calls[1].body,
                  c.capabilities.contains(QStringLiteral("body-markup")) ? "a &amp; b" : "a & b");
        for (const QString &name : std::as_const(m_connections))
            if (name.contains(QStringLiteral("service")))
                QDBusConnection::disconnectFromBus(name);
        // The name is free again before the next case offers its own service.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return !m_client.interface()
                            ->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications"))
                            .value();
            },
            5000));
    }
}

TEST_F(DesktopNotifyTest, WithoutAServiceTheTrayBalloonShowsIt)
{
    QSystemTrayIcon tray;
    platform::DesktopPlatform desktop(m_client);
    desktop.setTrayIcon(&tray);
    int clicks = 0;
    EXPECT_EQ(
        notify(desktop, QStringLiteral("bob is online"), QStringLiteral("hi"), [&] { ++clicks; }),
        Route::Tray);
    // A click on the balloon runs what the notification asked for.
    emit tray.messageClicked();
    EXPECT_EQ(clicks, 1);

    // With nothing to fall back on the notification is dropped, quietly.
    platform::DesktopPlatform trayless(m_client);
    EXPECT_EQ(notify(trayless, QStringLiteral("bob is online"), QStringLiteral("hi")),
              Route::Dropped);
}

TEST_F(DesktopNotifyTest, AServiceThatRefusesFallsBackToTheTray)
{
    RecordingNotificationService service;
    service.refuse = true;
    offer(service);
    QSystemTrayIcon tray;
    platform::DesktopPlatform desktop(m_client);
    desktop.setTrayIcon(&tray);
    EXPECT_EQ(notify(desktop, QStringLiteral("Invitation from ann"), QStringLiteral("Plumbrix")),
              Route::Tray);

    // Once it accepts again, notifications go back to it.
    service.refuse = false;
    EXPECT_EQ(notify(desktop, QStringLiteral("Invitation from ann"), QStringLiteral("Plumbrix")),
              Route::Bus);
    EXPECT_EQ(service.calls.size(), 1u);
}

TEST_F(DesktopNotifyTest, AClickOnTheNotificationRunsItsActionUntilTheServiceClosesIt)
{
    RecordingNotificationService service;
    offer(service);
    platform::DesktopPlatform desktop(m_client);
    int clicks = 0;
    ASSERT_EQ(notify(desktop, QStringLiteral("Private message from ann"), QStringLiteral("hi"),
                     [&] { ++clicks; }),
              Route::Bus);
    ASSERT_EQ(service.calls.size(), 1u);
    EXPECT_EQ(service.calls[0].actions,
              (QStringList{QStringLiteral("default"), QStringLiteral("Open")}));

    // Another program's notification, another action, then a click on ours.
    emit service.ActionInvoked(7, QStringLiteral("default"));
    emit service.ActionInvoked(1, QStringLiteral("reply"));
    emit service.ActionInvoked(1, QStringLiteral("default"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return clicks > 0; }, 5000));

    emit service.NotificationClosed(1, 2);
    emit service.ActionInvoked(1, QStringLiteral("default"));
    // The service's signals reach us in order, ahead of its answer to the next call.
    ASSERT_EQ(notify(desktop, QStringLiteral("ann is online"), QStringLiteral("hi")), Route::Bus);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(service.calls[1].actions.isEmpty());
}

TEST(DesktopNotifyNoBus, ADisconnectedBusFallsBackToTheTray)
{
    QSystemTrayIcon tray;
    platform::DesktopPlatform desktop(QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("notify-test-nowhere")));
    desktop.setTrayIcon(&tray);
    std::vector<Route> routes;
    desktop.onNotified = [&](Route r) { routes.push_back(r); };
    desktop.notify(QStringLiteral("bob is online"), QStringLiteral("hi"), {});
    EXPECT_EQ(routes, std::vector<Route>{Route::Tray});
    QDBusConnection::disconnectFromBus(QStringLiteral("notify-test-nowhere"));
}

} // namespace

#include "test_desktopnotify.moc"
