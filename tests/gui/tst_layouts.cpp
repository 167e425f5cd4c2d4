// The designed layouts of the main window, the site prompt and the splash:
// names, containers, geometry (twips at 15 per pixel), captions and tooltips.

#include "core/profile.h"
#include "forms/formtools.h"
#include "forms/twips.h"
#include "support/mainwindowfixture.h"
#include "support/testenv.h"
#include "ui/mainwindow.h"
#include "ui/siteprompt.h"
#include "ui/splashwindow.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

using namespace wendral;

namespace {
QRect twips(int l, int t, int w, int h)
{
    return twipsRect(l, t, w, h);
}

template <typename T = QWidget> T *child(QWidget *root, const char *name)
{
    return root->findChild<T *>(QString::fromLatin1(name));
}

// Geometry relative to the client area (the central widget plus status bar).
QRect clientGeometry(QMainWindow *w, QWidget *control)
{
    const QPoint origin = w->centralWidget()->mapTo(w, QPoint(0, 0));
    return QRect(control->mapTo(w, QPoint(0, 0)) - origin, control->size());
}
} // namespace

class TestLayouts : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void mainWindowTopLevelGeometry_data();
    void mainWindowTopLevelGeometry();
    void mainWindowClientAreaAndStyle();
    void optionRowsShowNoTextOfTheirOwn();
    void optionCaptionsAndTooltips();
    void siteListControls_data();
    void siteListControls();
    void buttonCaptionsAndTooltips();
    void hotkeyBoxLiesOutsideTheClientArea();
    void menusAndTrayMenu();
    void promptLayout();
    void splashLayout();

private:
    UiContext &context() { return m_fx->program.context; }

    std::unique_ptr<test::TestEnvironment> m_env;
    std::unique_ptr<test::MainWindowFixture> m_fx;
    MainWindow *m_main = nullptr;
};

void TestLayouts::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
    m_fx = std::make_unique<test::MainWindowFixture>();
    m_fx->program.profile = BrandingProfile::fromBuild();
    // As designed: constructed, never loaded.
    m_main = &m_fx->create();
}

void TestLayouts::cleanup()
{
    m_main = nullptr;
    m_fx.reset();
    m_env.reset();
}

void TestLayouts::mainWindowTopLevelGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    QTest::newRow("StatusBar1") << "StatusBar1" << twips(0, 6615, 7605, 315);
    QTest::newRow("wbPicture") << "wbPicture" << twips(7110, 1110, 330, 920);
    QTest::newRow("Command7") << "Command7" << twips(3180, 60, 4395, 975);
    QTest::newRow("Command6") << "Command6" << twips(1620, 60, 1515, 975);
    QTest::newRow("Command5") << "Command5" << twips(60, 60, 1515, 975);
    QTest::newRow("Frame2") << "Frame2" << twips(60, 1080, 7515, 1755);
    QTest::newRow("Frame1") << "Frame1" << twips(60, 2880, 7515, 3675);
    QTest::newRow("pctHotkey") << "pctHotkey" << twips(9660, 120, 1155, 675);
    QTest::newRow("wbBanner") << "wbBanner" << twips(300, 1080, 7335, 945);
}

void TestLayouts::mainWindowTopLevelGeometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    QWidget *control = m_main->findChild<QWidget *>(name);
    QVERIFY2(control, qPrintable(name));
    if (name != QLatin1String("StatusBar1"))
        QCOMPARE(control->parentWidget(), m_main->centralWidget());
    QCOMPARE(clientGeometry(m_main, control), rect);
}

void TestLayouts::mainWindowClientAreaAndStyle()
{
    const int clientHeight = m_main->centralWidget()->height() + m_main->statusBar()->height();
    QCOMPARE(QSize(m_main->centralWidget()->width(), clientHeight), twips(0, 0, 7605, 6930).size());
    const Qt::WindowFlags f = m_main->windowFlags();
    QVERIFY(!(f & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(f & Qt::WindowMaximizeButtonHint));
    QVERIFY(f & Qt::WindowCloseButtonHint);
    QCOMPARE(m_main->minimumSize(), m_main->maximumSize()); // fixed border
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Your Program Name by Your Company"));
    QVERIFY(!m_main->windowIcon().isNull());
    // Verdana 8.25 (or the desktop sans font standing in for it).
    QCOMPARE(child(m_main, "Label5")->font().pointSizeF(), 8.25);
    QVERIFY(child(m_main, "Label3")->font().bold());
}

void TestLayouts::optionRowsShowNoTextOfTheirOwn()
{
    const QList<std::pair<const char *, int>> rows = {{"Check1", 240}, {"Check2", 480},  {"Check6", 720},
                                                      {"Check5", 960}, {"Check3", 1200}, {"Check4", 1440}};
    auto *frame = child<QGroupBox>(m_main, "Frame2");
    for (const auto &[name, top] : rows) {
        auto *box = child<QCheckBox>(m_main, name);
        QVERIFY(box);
        QCOMPARE(box->parentWidget(), frame);
        QVERIFY2(box->text().isEmpty(), name);
        QCOMPARE(box->geometry(), twips(120, top, 200, 200));
        QVERIFY2(!box->isChecked(), name); // cleared at design time
    }
    QVERIFY(child(m_main, "Check1")->styleSheet().contains(QStringLiteral("192, 192, 255")));
}

void TestLayouts::optionCaptionsAndTooltips()
{
    struct Row
    {
        const char *check, *label;
        int top;
        QString caption, tip;
    };
    const QList<Row> rows = {
        {"Check1", "Label5", 240, "Popup Blocking: Stop Popups from all sites that aren't on my allowed list",
         "This controls whether popup blocking is on or off."},
        {"Check2", "Label6", 480, "Setup Mode: Add sites to my Allowed or Disallowed list as I browse",
         "When in Setup Mode, whenever a site attempts to open a popup you be prompted to either allow it or "
         "disallow it.  We recommend using Setup Mode for a few days to collect a list of allowed and disallowed "
         "sites."},
        {"Check6", "Label4", 720, "Exceptions: Allow popups when my mouse is over a link",
         "The program can detect when your mouse is over a link, which will allow links that open in new windows to "
         "be opened.  The program will be less accurate with this option on, but it may be more convenient for you."},
        {"Check5", "Label2", 960, "Audio: Play a sound when a popup is blocked",
         "If selected, every time a popup is blocked you will hear a POP! sound."},
        {"Check3", "Label7", 1200, "Visual: Keep this window on top of all others",
         "This causes the program to stay on top of other windows."},
        {"Check4", "Label8", 1440, "Automation: Run at startup and block popups automatically",
         "This will enable the program to be run every time you start your computer, so that you don't have to "
         "remember to open it before browsing."},
    };
    for (const Row &r : rows) {
        auto *label = child<QLabel>(m_main, r.label);
        QVERIFY(label);
        QCOMPARE(label->parentWidget()->objectName(), QStringLiteral("Frame2"));
        QCOMPARE(label->text(), r.caption);
        QCOMPARE(label->toolTip(), r.tip);
        QCOMPARE(child(m_main, r.check)->toolTip(), r.tip);
        QCOMPARE(label->geometry(), twips(360, r.top, 7035, 255));
    }
    QWidget *tmpl = child(m_main, "SkinLabel1_0");
    QVERIFY(tmpl && tmpl->parentWidget()->objectName() == QLatin1String("Frame2") && !tmpl->isVisibleTo(m_main));
}

void TestLayouts::siteListControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("tip");
    QTest::newRow("List1") << "List1" << twips(120, 900, 3615, 2595) << QString()
                           << "sites that are allowed will not be prevented from opening popups";
    QTest::newRow("Text1")
        << "Text1" << twips(120, 600, 1815, 285) << QString()
        << "Type the domain (ex: Website.com) of the site you would like to allow and click the Add button.";
    QTest::newRow("Command1") << "Command1" << twips(2040, 180, 795, 695) << "Add"
                              << "Allow popups from the site typed in the text box to the left.";
    QTest::newRow("Command2") << "Command2" << twips(2880, 180, 795, 695) << "Delete"
                              << "Remove the selected site from the Allowed List";
    QTest::newRow("Command3") << "Command3" << twips(6540, 180, 795, 695) << "Delete"
                              << "Remove the selected site from the Disallowed List";
    QTest::newRow("Command4") << "Command4" << twips(5700, 180, 795, 695) << "Add"
                              << "Prevent popups from the site typed in the text box to the left.";
    QTest::newRow("Text2")
        << "Text2" << twips(3780, 600, 1815, 285) << QString()
        << "Type the domain (ex: Website.com) of the site you would like to disallow and click the Add button.";
    QTest::newRow("List2") << "List2" << twips(3780, 900, 3615, 2595) << QString()
                           << "all sites that are not \"allowed\" are blocked by Wendral.  disallowed sites will not "
                              "prompt you from setup mode.";
    QTest::newRow("Label3") << "Label3" << twips(120, 255, 1815, 255) << "Allowed Sites:"
                            << "allowed sites will be able to open popup windows.  however, the windows that popup "
                               "are not affected by Wendral and will be able to launch popups.";
    QTest::newRow("Label1") << "Label1" << twips(3780, 255, 1815, 255) << "Disallowed Sites:"
                            << "by default, Wendral.  adding a site to the disallowed list  prevents it from "
                               "notifying you of popups while in setup mode.";
}

void TestLayouts::siteListControls()
{
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    QFETCH(QString, caption);
    QFETCH(QString, tip);
    QWidget *control = m_main->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget()->objectName(), QStringLiteral("Frame1"));
    QCOMPARE(control->geometry(), rect);
    QCOMPARE(control->toolTip(), tip);
    if (auto *b = qobject_cast<QAbstractButton *>(control))
        QCOMPARE(b->text(), caption);
    else if (auto *l = qobject_cast<QLabel *>(control))
        QCOMPARE(l->text(), caption);
}

void TestLayouts::buttonCaptionsAndTooltips()
{
    auto *c5 = child<QAbstractButton>(m_main, "Command5");
    auto *c6 = child<QAbstractButton>(m_main, "Command6");
    auto *c7 = child<QAbstractButton>(m_main, "Command7");
    QCOMPARE(c5->text(), QStringLiteral("Allow Next Popup"));
    QCOMPARE(c5->toolTip(), QStringLiteral("This will allow the next popup to be opened.  You can also press Win + Z "
                                           "or right click the Program Icon.  This is useful if a legitimate window "
                                           "is being misinterpreted as a popup."));
    QCOMPARE(c6->text(), QStringLiteral("Minimize to Taskbar"));
    QCOMPARE(c6->toolTip(),
             QStringLiteral("The program will run silently in the taskbar while you browse.  You can right click the "
                            "program icon for a list of options, or to maximize the program."));
    QCOMPARE(c7->text(), QStringLiteral("Visit YourWebsite.com"));
    QVERIFY(c7->toolTip().isEmpty());
    for (auto *b : {c5, c6, c7})
        QCOMPARE(b->iconSize(), QSize(32, 32));
    QCOMPARE(child<QAbstractButton>(m_main, "Command1")->iconSize(), QSize(24, 24));
}

void TestLayouts::hotkeyBoxLiesOutsideTheClientArea()
{
    QWidget *box = child(m_main, "pctHotkey");
    const QRect client(QPoint(0, 0), m_main->centralWidget()->size());
    QVERIFY(!client.intersects(box->geometry()));
    QVERIFY(box->x() >= m_main->width());
}

void TestLayouts::menusAndTrayMenu()
{
    QStringList titles;
    for (QAction *a : m_main->menuBar()->actions())
        titles << a->text();
    QCOMPARE(titles, (QStringList{"File", "Action", "Tools", "Help", "About"}));
    auto texts = [this](const char *menu) {
        QStringList t;
        for (QAction *a : child<QMenu>(m_main, menu)->actions())
            t << a->text();
        return t;
    };
    QCOMPARE(texts("mnuFile"), QStringList{"Exit"});
    QCOMPARE(texts("mnuAction"), (QStringList{"Minimize to Taskbar", "Allow the Next Popup (Win-Z)"}));
    // The layout's two items, then what watching browsers adds: the count and
    // the option.
    QCOMPARE(texts("mnuTools"), (QStringList{"Add Program to IE Tools Menu", "Remove Program from IE Tools Menu", "",
                                             "No browser watched", "Watch browsers started from the desktop"}));
    QCOMPARE(texts("mnuHelp"), QStringList{"View Help"});
    QCOMPARE(texts("mnuAbout"), QStringList{"About this software"});
    // The File menu's only item carries index 1.
    QVERIFY(m_main->findChild<QAction *>("mnuFileItem_1"));
    QCOMPARE(texts("Popup"), (QStringList{"No browser watched", "", "Close this menu", "Show program",
                                          "Allow next popup (win-z)", "Exit"}));
    QMenu *popup = m_main->trayMenu();
    QCOMPARE(popup->objectName(), QStringLiteral("Popup"));
    QVERIFY(!m_main->menuBar()->actions().contains(popup->menuAction()));
}

void TestLayouts::promptLayout()
{
    SitePrompt prompt(context(), m_main);
    QCOMPARE(prompt.windowTitle(), QStringLiteral("Popup Detected!"));
    QCOMPARE(prompt.size(), twips(0, 0, 6840, 3285).size());
    QVERIFY(!(prompt.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(prompt.windowFlags() & Qt::WindowCloseButtonHint);

    struct Ctl
    {
        const char *name;
        QRect rect;
        QString caption, tip;
        int icon;
    };
    const QList<Ctl> controls = {
        {"Command4", twips(60, 2400, 1455, 855), "Block Now", QString(), 24},
        {"Command3", twips(3780, 2400, 1455, 855), "Allow Now",
         "ignore this prompt for now.  this window will be displayed the next time a popup window appears.", 24},
        {"Command2", twips(1560, 2400, 1455, 855), "Block Always",
         "prevents this site from displaying popups.  you will not see this window again for this site.", 32},
        {"Command1", twips(5280, 2400, 1455, 855), "Allow Always",
         "allow this site to display popups.  you will not see this window again for this site.", 32},
    };
    for (const Ctl &c : controls) {
        auto *b = child<QAbstractButton>(&prompt, c.name);
        QVERIFY(b);
        QCOMPARE(b->geometry(), c.rect);
        QCOMPARE(b->text(), c.caption);
        QCOMPARE(b->toolTip(), c.tip);
        QCOMPARE(b->iconSize(), QSize(c.icon, c.icon));
    }
    // Left to right the buttons read: Block Now, Block Always, Allow Now, Allow Always.
    QList<QAbstractButton *> buttons = prompt.findChildren<QAbstractButton *>();
    std::sort(buttons.begin(), buttons.end(), [](auto *a, auto *b) { return a->x() < b->x(); });
    QStringList order;
    for (auto *b : buttons)
        order << b->text();
    QCOMPARE(order, (QStringList{"Block Now", "Block Always", "Allow Now", "Allow Always"}));

    QCOMPARE(child(&prompt, "Text1")->geometry(), twips(120, 1560, 6555, 285));
    auto *l3 = child<QLabel>(&prompt, "Label3");
    QCOMPARE(l3->text(), QStringLiteral("Current Site:"));
    QCOMPARE(l3->geometry(), twips(120, 1320, 6555, 255));
    auto *l1 = child<QLabel>(&prompt, "Label1");
    QCOMPARE(l1->geometry(), twips(120, 120, 6555, 1035));
    QCOMPARE(l1->text(), QStringLiteral("While in setup mode you can choose to allow or block new windows from certain "
                                        "sites.  Chosing either \"Always\" option will prevent you from seeing this "
                                        "prompt again for the current site, and add it to your allowed or disallowed "
                                        "list."));
    QVERIFY(l1->font().bold() && l3->font().bold());
    // Tab order over the controls that take focus.
    QWidget *w = child(&prompt, "Text1");
    QStringList tabs{w->objectName()};
    for (int i = 0; i < 4; ++i) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        tabs << w->objectName();
    }
    QCOMPARE(tabs, (QStringList{"Text1", "Command1", "Command2", "Command3", "Command4"}));
}

void TestLayouts::splashLayout()
{
    SplashWindow splash(context(), {});
    QCOMPARE(splash.size(), twips(0, 0, 7170, 4770).size());
    QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
    auto *image = child<QLabel>(&splash, "Image1");
    QVERIFY(image);
    QCOMPARE(image->geometry(), twips(0, 0, 7170, 4770));
    QVERIFY(!image->pixmap().isNull());
    QCOMPARE(splash.timer()->objectName(), QStringLiteral("Timer2"));
    QCOMPARE(splash.timer()->interval(), 2);
    QVERIFY(!splash.timer()->isActive()); // disabled until the splash loads
}

QTEST_MAIN(TestLayouts)
#include "tst_layouts.moc"
