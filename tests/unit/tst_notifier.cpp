// Desktop notifications: the freedesktop notification service on a private
// session bus of the test's (with a stand-in service that records what it is
// sent), and the tray icon's message wherever that service is missing, refuses
// a message, or there is no bus at all.

#include "platform/linux/dbusnotifier.h"
#include "platform/notifier.h"
#include "support/fakeplatform.h"
#include "support/sessionbus.h"
#include "support/testenv.h"
#include "support/x11session.h"

#include <QSignalSpy>
#include <QTest>

using namespace wendral;
using namespace wendral::test;

class TestNotifier : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env;

private slots:
    void init() { env = std::make_unique<TestEnvironment>(); }
    void cleanup() { env.reset(); }

    void theTrayOnlyWhenTheServiceCannotShowIt()
    {
        RecordingNotifier service;
        FakeTrayIcon tray;
        tray.show(QIcon());
        FallbackNotifier notifier(service, tray);

        QVERIFY(notifier.notify(QStringLiteral("T1"), QStringLiteral("B1")));
        QCOMPARE(service.messages, QStringList{"T1: B1"});
        QVERIFY(tray.messages.isEmpty());

        // No service: the tray icon says it.
        service.delivers = false;
        QVERIFY(notifier.notify(QStringLiteral("T2"), QStringLiteral("B2")));
        QCOMPARE(tray.messages, QStringList{"T2: B2"});
        QCOMPARE(notifier.trayMessages(), 1);

        // Neither: the caller learns that nothing was shown.
        tray.hide();
        QVERIFY(!notifier.notify(QStringLiteral("T3"), QStringLiteral("B3")));
        QCOMPARE(tray.messages.size(), 1);
    }

    void aMessageRefusedLaterGoesToTheTray()
    {
        RecordingNotifier service;
        FakeTrayIcon tray;
        tray.show(QIcon());
        FallbackNotifier notifier(service, tray);
        QSignalSpy lost(&notifier, &Notifier::undelivered);
        service.refuse(QStringLiteral("T"), QStringLiteral("B"));
        QCOMPARE(tray.messages, QStringList{"T: B"});
        QCOMPARE(lost.count(), 0);
        // Without an icon either, the loss is passed on.
        tray.hide();
        service.refuse(QStringLiteral("T"), QStringLiteral("C"));
        QCOMPARE(lost.count(), 1);
        QCOMPARE(lost.at(0).at(1).toString(), QStringLiteral("C"));
    }

    void noBusAtAll()
    {
        // The tests' environment disables the session bus.
        DBusNotifier bus;
        QVERIFY(!bus.notify(QStringLiteral("T"), QStringLiteral("B")));
        FakeTrayIcon tray;
        tray.show(QIcon());
        FallbackNotifier notifier(bus, tray);
        QVERIFY(notifier.notify(QStringLiteral("T"), QStringLiteral("B")));
        QCOMPARE(tray.messages, QStringList{"T: B"});
    }

    void theNotificationServiceOnAPrivateBus()
    {
        PrivateSessionBus bus;
        if (!bus.start(env->runtimeDir()))
            QSKIP("dbus-daemon cannot be started here");
        FakeNotificationService service;
        QVERIFY(service.start(bus.address()));

        QDBusConnection client = QDBusConnection::connectToBus(bus.address(), QStringLiteral("notifier-client"));
        QVERIFY(client.isConnected());
        {
            DBusNotifier notifier(client);
            FakeTrayIcon tray;
            tray.show(QIcon());
            FallbackNotifier fallback(notifier, tray);
            QSignalSpy lost(&notifier, &Notifier::undelivered);
            QVERIFY(fallback.notify(QStringLiteral("Chromium is not watched"), QStringLiteral("Close it")));
            QVERIFY(waitFor([&] { return !service.messages.isEmpty(); }, 5000));
            QCOMPARE(service.messages.first().summary, QStringLiteral("Chromium is not watched"));
            QCOMPARE(service.messages.first().body, QStringLiteral("Close it"));
            QCOMPARE(service.messages.first().appName, QStringLiteral("Wendral"));
            QTest::qWait(100);
            QCOMPARE(lost.count(), 0);
            QVERIFY(tray.messages.isEmpty());

            // The service goes away: the next message ends up on the tray.
            service.stop();
            QVERIFY(fallback.notify(QStringLiteral("Brave is not watched"), QStringLiteral("Close it")));
            QVERIFY(waitFor([&] { return lost.count() == 1; }, 5000));
            QCOMPARE(tray.messages, QStringList{"Brave is not watched: Close it"});
            QCOMPARE(service.messages.size(), 1);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("notifier-client"));
    }
};

QTEST_MAIN(TestNotifier)
#include "tst_notifier.moc"
