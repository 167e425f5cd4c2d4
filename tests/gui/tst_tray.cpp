// The tray icon's bookkeeping and its click mapping: only a click and a
// context click open the menu, at the mouse position and never twice; the icon
// carries no tooltip; add and remove go by identifier.

#include "platform/trayicon.h"

#include <QCursor>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <memory>

using namespace wendral;

class TestTray : public QObject
{
    Q_OBJECT

    std::unique_ptr<QMenu> menu;

    QIcon appIcon() const { return QIcon(QStringLiteral(":/icons/wendral.svg")); }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(assets); }

    void init()
    {
        menu = std::make_unique<QMenu>();
        for (const char *text : {"Close this menu", "Show program", "Allow next popup (win-z)", "Exit"})
            menu->addAction(QString::fromLatin1(text));
        setTrayMenuProvider([this] { return menu.get(); });
    }
    void cleanup()
    {
        setTrayMenuProvider(nullptr);
        menu.reset();
        for (quint32 id : {1u, 2u, 7u})
            RemoveTrayIcon(id);
    }

    void activationMapping_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("opens");
        QTest::newRow("click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("context click") << int(QSystemTrayIcon::Context) << true;
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << false;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
        QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false;
    }
    void activationMapping()
    {
        QFETCH(int, reason);
        QFETCH(bool, opens);
        const auto r = static_cast<QSystemTrayIcon::ActivationReason>(reason);
        QCOMPARE(trayActionFor(r) == TrayAction::OpenMenu, opens);
        handleTrayActivation(r);
        QCOMPARE(menu->isVisible(), opens);
    }

    void menuOpensAtTheMousePosition()
    {
        QCursor::setPos(QPoint(200, 150));
        if (QCursor::pos() != QPoint(200, 150))
            QSKIP("this platform does not move the cursor");
        handleTrayActivation(QSystemTrayIcon::Trigger);
        QVERIFY(menu->isVisible());
        QCOMPARE(menu->pos(), QPoint(200, 150));
    }

    void openMenuIsNotOpenedAgain()
    {
        QSignalSpy shown(menu.get(), &QMenu::aboutToShow);
        handleTrayActivation(QSystemTrayIcon::Trigger);
        handleTrayActivation(QSystemTrayIcon::Context);
        handleTrayActivation(QSystemTrayIcon::Trigger);
        QCOMPARE(shown.count(), 1);
    }

    void noMenuNoProblem()
    {
        setTrayMenuProvider([] { return static_cast<QMenu *>(nullptr); });
        handleTrayActivation(QSystemTrayIcon::Trigger);
        setTrayMenuProvider(nullptr);
        handleTrayActivation(QSystemTrayIcon::Context);
        QVERIFY(!menu->isVisible());
    }

    void iconHasNoTooltipAndOpensTheMenu()
    {
        QWidget form;
        AddTrayIcon(&form, 7, appIcon(), QStringLiteral("Animated TrayIcon"));
        QSystemTrayIcon *icon = trayIcon(7);
        QVERIFY(icon);
        QVERIFY(icon->isVisible());
        QVERIFY(!icon->icon().isNull());
        QVERIFY(icon->toolTip().isEmpty());
        QCOMPARE(trayTip(7), QStringLiteral("Animated TrayIcon"));
        QVERIFY(!icon->contextMenu()); // the click handler opens it, not Qt

        emit icon->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!menu->isVisible());
        emit icon->activated(QSystemTrayIcon::Trigger);
        QVERIFY(menu->isVisible());
    }

    void removeGoesByIdentifier()
    {
        QWidget form;
        AddTrayIcon(&form, 1, appIcon(), QString());
        AddTrayIcon(&form, 2, appIcon(), QString());
        RemoveTrayIcon(99); // unknown: nothing happens
        QVERIFY(trayIcon(1));
        QVERIFY(trayIcon(2));
        QPointer<QSystemTrayIcon> first = trayIcon(1);
        RemoveTrayIcon(1);
        QVERIFY(!trayIcon(1));
        QVERIFY(!first); // the icon object is gone, not only forgotten
        QVERIFY(trayIcon(2));
        QVERIFY(trayTip(1).isEmpty());
        RemoveTrayIcon(1); // twice is harmless
    }

    void addingAnIdentifierAgainReplacesItsIcon()
    {
        QWidget form;
        AddTrayIcon(&form, 1, appIcon(), QStringLiteral("first"));
        QSystemTrayIcon *icon = trayIcon(1);
        const QIcon other(QStringLiteral(":/icons/prompt.svg"));
        AddTrayIcon(&form, 1, other, QStringLiteral("second"));
        QCOMPARE(trayIcon(1), icon);
        QCOMPARE(icon->icon().cacheKey(), other.cacheKey());
        QCOMPARE(trayTip(1), QStringLiteral("second"));
        QCOMPARE(form.findChildren<QSystemTrayIcon *>().size(), 1);
    }

    void iconGoesWithItsForm()
    {
        auto form = std::make_unique<QWidget>();
        AddTrayIcon(form.get(), 2, appIcon(), QString());
        form.reset();
        QVERIFY(!trayIcon(2));
        RemoveTrayIcon(2);
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
