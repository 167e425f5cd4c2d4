// Always-on-top under a real window manager (openbox on Xvfb): the "above"
// state is set and cleared, keeps the window in front of others, survives
// hiding, and never moves or resizes the window.

#include "platform/linux/desktopplatform.h"
#include "platform/linux/x11windowstacker.h"
#include "platform/platformservices.h"
#include "platform/windowstacker.h"
#include "support/testenv.h"
#include "support/x11session.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <memory>

using namespace wendral;
using wendral::test::waitFor;
using wendral::test::X11Session;

namespace {

xcb_window_t idOf(const QWidget &w)
{
    return static_cast<xcb_window_t>(w.winId());
}

bool hasAbove(const QWidget &w)
{
    return X11Session::current()->netWmState(idOf(w)).contains(QStringLiteral("_NET_WM_STATE_ABOVE"));
}

// As another program sees it: xprop's reading of the property.
QByteArray xpropState(const QWidget &w)
{
    return test::runTool(QStringLiteral("xprop"),
                         {QStringLiteral("-id"), QString::number(w.winId()), QStringLiteral("_NET_WM_STATE")});
}

std::unique_ptr<QWidget> makeWindow(const QString &title, const QPoint &at)
{
    auto w = std::make_unique<QWidget>();
    w->setWindowTitle(title);
    w->setGeometry(QRect(at, QSize(320, 200)));
    return w;
}

bool showManaged(QWidget &w)
{
    w.show();
    return waitFor([&] { return X11Session::current()->wmState(idOf(w)) == 1; }) && QTest::qWaitForWindowExposed(&w);
}

// Index in the root's stacking order (bottom = 0) of the frame around w.
int stackIndex(const QWidget &w)
{
    X11Session *s = X11Session::current();
    return s->stackingOrder().indexOf(s->topLevelOf(idOf(w)));
}

} // namespace

class TestX11Stacking : public QObject
{
    Q_OBJECT

    // The desktop services the program gets; their stacker is the one used.
    std::unique_ptr<DesktopPlatform> m_platform;
    WindowStacker &stacker() const { return *m_platform->services().stacker; }

private slots:
    void initTestCase()
    {
        QVERIFY(X11Session::current());
        m_platform = std::make_unique<DesktopPlatform>();
        // On X11 the program's stacker is the window manager's one.
        QVERIFY(dynamic_cast<X11WindowStacker *>(m_platform->services().stacker));
    }

    void cleanupTestCase() { m_platform.reset(); }

    void aboveIsSetAndClearedWithoutMovingTheWindow()
    {
        auto w = makeWindow(QStringLiteral("stack-a"), {200, 150});
        QVERIFY(showManaged(*w));
        X11Session *s = X11Session::current();
        const xcb_window_t frame = s->topLevelOf(idOf(*w));
        const QRect client = s->geometry(idOf(*w));
        const QRect outer = s->geometry(frame);
        QVERIFY(!xpropState(*w).contains("_NET_WM_STATE_ABOVE"));

        stacker().keepOnTop(w.get(), true);
        QVERIFY(waitFor([&] { return xpropState(*w).contains("_NET_WM_STATE_ABOVE"); }));
        QVERIFY(stacker().isAbove(w.get()));
        QCOMPARE(s->geometry(idOf(*w)), client);
        QCOMPARE(s->geometry(frame), outer);

        stacker().keepOnTop(w.get(), false);
        QVERIFY(waitFor([&] { return !xpropState(*w).contains("_NET_WM_STATE_ABOVE"); }));
        QVERIFY(!stacker().isAbove(w.get()));
        QCOMPARE(s->geometry(idOf(*w)), client);
        QCOMPARE(s->geometry(frame), outer);
    }

    void topmostWindowStaysInFrontOfOthers()
    {
        auto a = makeWindow(QStringLiteral("stack-a"), {100, 100});
        auto b = makeWindow(QStringLiteral("stack-b"), {150, 150});
        QVERIFY(showManaged(*a));
        stacker().keepOnTop(a.get(), true);
        QVERIFY(waitFor([&] { return hasAbove(*a); }));
        QVERIFY(showManaged(*b));
        QVERIFY(X11Session::current()->activate(idOf(*b)));
        QVERIFY(stackIndex(*a) > stackIndex(*b));

        // Back in the ordinary band it stays in front (on top of that band)
        // until another window is raised over it.
        stacker().keepOnTop(a.get(), false);
        QVERIFY(waitFor([&] { return !hasAbove(*a); }));
        QVERIFY(waitFor([&] { return stackIndex(*a) > stackIndex(*b); }));
        QVERIFY(X11Session::current()->activate(idOf(*a)));
        QVERIFY(X11Session::current()->activate(idOf(*b)));
        QVERIFY(stackIndex(*b) > stackIndex(*a));
    }

    void topmostTwiceStaysTopmost()
    {
        auto w = makeWindow(QStringLiteral("stack-a"), {200, 150});
        auto marker = makeWindow(QStringLiteral("marker"), {700, 500});
        QVERIFY(showManaged(*w));
        QVERIFY(showManaged(*marker));
        const QRect before = X11Session::current()->geometry(idOf(*w));
        stacker().keepOnTop(w.get(), true);
        stacker().keepOnTop(w.get(), true);
        // The manager handles requests in order: once the marker's change is
        // visible, both of the window's have been handled.
        stacker().keepOnTop(marker.get(), true);
        QVERIFY(waitFor([&] { return hasAbove(*marker); }));
        QVERIFY(hasAbove(*w));
        QCOMPARE(X11Session::current()->geometry(idOf(*w)), before);
    }

    void makeNormalOnANormalWindowChangesNothing()
    {
        auto a = makeWindow(QStringLiteral("stack-a"), {100, 100});
        auto b = makeWindow(QStringLiteral("stack-b"), {150, 150});
        auto marker = makeWindow(QStringLiteral("marker"), {700, 500});
        QVERIFY(showManaged(*a));
        QVERIFY(showManaged(*b));
        QVERIFY(showManaged(*marker));
        QVERIFY(X11Session::current()->activate(idOf(*b)));
        QVERIFY(stackIndex(*b) > stackIndex(*a));
        X11Session *s = X11Session::current();
        const QStringList state = s->netWmState(idOf(*a));
        const QRect geometry = s->geometry(idOf(*a));

        stacker().keepOnTop(a.get(), false);
        stacker().keepOnTop(marker.get(), true);
        QVERIFY(waitFor([&] { return hasAbove(*marker); }));
        QCOMPARE(s->netWmState(idOf(*a)), state);
        QCOMPARE(s->geometry(idOf(*a)), geometry);
        QVERIFY(stackIndex(*b) > stackIndex(*a)); // not brought forward either
    }

    void stateAskedForWhileHiddenAppliesWhenShown()
    {
        auto w = makeWindow(QStringLiteral("stack-a"), {100, 100});
        auto other = makeWindow(QStringLiteral("stack-b"), {150, 150});
        stacker().keepOnTop(w.get(), true); // never shown yet
        QVERIFY(stacker().isAbove(w.get()));
        QVERIFY(showManaged(*w));
        QVERIFY(waitFor([&] { return hasAbove(*w); }));
        QVERIFY(showManaged(*other));
        QVERIFY(X11Session::current()->activate(idOf(*other)));
        QVERIFY(stackIndex(*w) > stackIndex(*other));

        // Hidden and shown again (the window manager forgets the state of a
        // withdrawn window): still above.
        w->hide();
        QVERIFY(waitFor([&] { return X11Session::current()->wmState(idOf(*w)) != 1; }));
        QVERIFY(showManaged(*w));
        QVERIFY(waitFor([&] { return hasAbove(*w); }));

        // Taken out of the band while hidden: shown as an ordinary window.
        w->hide();
        QVERIFY(waitFor([&] { return X11Session::current()->wmState(idOf(*w)) != 1; }));
        stacker().keepOnTop(w.get(), false);
        QVERIFY(showManaged(*w));
        stacker().keepOnTop(other.get(), true); // marker: handled after the map
        QVERIFY(waitFor([&] { return hasAbove(*other); }));
        QVERIFY(!hasAbove(*w));
    }

    void minimisedWindowKeepsItsRequest()
    {
        auto w = makeWindow(QStringLiteral("stack-a"), {100, 100});
        QVERIFY(showManaged(*w));
        w->showMinimized();
        QVERIFY(waitFor([&] { return X11Session::current()->wmState(idOf(*w)) == 3; }));
        stacker().keepOnTop(w.get(), true);
        QVERIFY(waitFor([&] { return hasAbove(*w); }));
        w->showNormal();
        QVERIFY(waitFor([&] { return X11Session::current()->wmState(idOf(*w)) == 1; }));
        QVERIFY(hasAbove(*w));
    }

    void childWidgetStacksItsWindow()
    {
        auto w = makeWindow(QStringLiteral("stack-a"), {100, 100});
        auto *child = new QWidget(w.get());
        QVERIFY(showManaged(*w));
        stacker().keepOnTop(child, true);
        QVERIFY(waitFor([&] { return hasAbove(*w); }));
        QVERIFY(stacker().isAbove(child));
    }
};

WENDRAL_X11_TEST_MAIN(TestX11Stacking)
#include "tst_x11stacking.moc"
