// The About window: what it shows after loading, its tab order, and the web
// address asking for the website window (which the web helper shows).

#include "core/productinfo.h"
#include "core/profile.h"
#include "forms/twips.h"
#include "support/programfixture.h"
#include "support/testenv.h"
#include "ui/aboutwindow.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QtTest>

using namespace wendral;

namespace {

// Records the texts of the About window's labels when it is first shown.
class ShowWatcher : public QObject
{
public:
    QHash<QString, QString> shownTexts;
    QString shownCaption;
    bool sawShow = false;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->objectName() == QLatin1String("frmAbout") && !sawShow) {
            auto *w = static_cast<QWidget *>(watched);
            sawShow = true;
            shownCaption = w->windowTitle();
            for (QLabel *l : w->findChildren<QLabel *>()) {
                if (l->isVisibleTo(w))
                    shownTexts.insert(l->objectName(), l->text());
            }
        }
        return false;
    }
};

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void showsProductVersionOwnerAndWebsite();
    void captionComesFromTheProfile();
    void layoutTextsNeverShown();
    void tabOrderAsLaidOut();
    void oneInstanceUntilClosed();
    void websiteRowOpensOrRaisesWebsiteWindow();

private:
    AboutWindow *openAbout() { return AboutWindow::open(m_program->context); }
    test::FakeWebContent &web() { return m_program->web; }

    test::TestEnvironment m_env;
    std::unique_ptr<test::ProgramFixture> m_program;
};

void TestAbout::initTestCase()
{
    QVERIFY(m_env.isValid());
}

void TestAbout::init()
{
    // The identity as the splash loads it from the build.
    m_program = std::make_unique<test::ProgramFixture>();
    m_program->profile = BrandingProfile::fromBuild();
}

void TestAbout::cleanup()
{
    delete m_program->windows.about;
    QVERIFY(!m_program->windows.about);
    m_program.reset();
}

void TestAbout::cleanupTestCase() {}

void TestAbout::showsProductVersionOwnerAndWebsite()
{
    AboutWindow *about = openAbout();
    QVERIFY(about && about->isVisible());
    QCOMPARE(about->windowTitle(), QStringLiteral("About Wendral"));
    QCOMPARE(about->label(QStringLiteral("Label1"))->text(), QStringLiteral("Wendral"));
    QCOMPARE(about->label(QStringLiteral("lblVersion"))->text(), QStringLiteral("1.0"));
    QCOMPARE(about->label(QStringLiteral("lblCompany"))->text(), QStringLiteral("Brindlemark"));
    QCOMPARE(about->label(QStringLiteral("lblWebsite"))->text(), ProductInfo::website());
    QCOMPARE(about->label(QStringLiteral("Label2"))->text(), QStringLiteral("Version:"));
    QCOMPARE(about->label(QStringLiteral("Label3"))->text(), QStringLiteral("Owned By:"));
    QCOMPARE(about->label(QStringLiteral("Label4"))->text(), QStringLiteral("Website:"));

    // The product name sits over the header picture, the web address is blue.
    QLabel *title = about->label(QStringLiteral("Label1"));
    QLabel *picture = about->label(QStringLiteral("Picture1"));
    QCOMPARE(title->parentWidget(), picture);
    QCOMPARE(picture->pixmap().size(), QSize(497, 68));
    QVERIFY(title->font().bold());
    QCOMPARE(title->font().pointSizeF(), 14.25);
    QCOMPARE(about->label(QStringLiteral("lblWebsite"))->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    // A fixed window of the laid-out client size.
    QCOMPARE(about->size(), QSize(twipsToPixels(7455), twipsToPixels(2535)));
    QCOMPARE(about->minimumSize(), about->maximumSize());
    QVERIFY(!(about->windowFlags() & Qt::WindowMaximizeButtonHint));
}

void TestAbout::captionComesFromTheProfile()
{
    // The caption reads the profile while the rows read the metadata.
    m_program->profile.productName = QStringLiteral("Other Name");
    AboutWindow *about = openAbout();
    QCOMPARE(about->windowTitle(), QStringLiteral("About Other Name"));
    QCOMPARE(about->label(QStringLiteral("Label1"))->text(), ProductInfo::productName());
}

void TestAbout::layoutTextsNeverShown()
{
    ShowWatcher watcher;
    qApp->installEventFilter(&watcher);
    AboutWindow *about = openAbout();
    qApp->removeEventFilter(&watcher);
    QVERIFY(about);
    QVERIFY(watcher.sawShow);
    QCOMPARE(watcher.shownCaption, QStringLiteral("About Wendral"));
    const QHash<QString, QString> fixed{{QStringLiteral("Label2"), QStringLiteral("Version:")},
                                        {QStringLiteral("Label3"), QStringLiteral("Owned By:")},
                                        {QStringLiteral("Label4"), QStringLiteral("Website:")}};
    const QStringList layoutTexts{QStringLiteral("Your Program Name"), QStringLiteral("Version:"),
                                  QStringLiteral("Owned By:"), QStringLiteral("Website:")};
    QVERIFY(watcher.shownTexts.size() >= 8);
    for (auto it = watcher.shownTexts.cbegin(); it != watcher.shownTexts.cend(); ++it) {
        if (fixed.contains(it.key())) {
            QCOMPARE(it.value(), fixed.value(it.key()));
            continue;
        }
        QVERIFY2(!layoutTexts.contains(it.value()), qPrintable(it.key() + QStringLiteral(": ") + it.value()));
    }
}

void TestAbout::tabOrderAsLaidOut()
{
    AboutWindow *about = openAbout();
    const QStringList laidOut{
        QStringLiteral("Label2"),     QStringLiteral("Label3"),     QStringLiteral("Label4"),
        QStringLiteral("lblWebsite"), QStringLiteral("lblCompany"), QStringLiteral("lblVersion"),
        QStringLiteral("Picture1"),   QStringLiteral("Label1"),     QStringLiteral("SkinLabel1_0")};
    QStringList chain;
    QWidget *start = about->label(QStringLiteral("Label2"));
    QWidget *w = start;
    do {
        if (laidOut.contains(w->objectName()))
            chain << w->objectName();
        w = w->nextInFocusChain();
    } while (w && w != start && chain.size() < 50);
    QCOMPARE(chain, laidOut);
}

void TestAbout::oneInstanceUntilClosed()
{
    AboutWindow *first = openAbout();
    QCOMPARE(openAbout(), first);
    QCOMPARE(m_program->windows.about.data(), first);
    QPointer<AboutWindow> gone = first;
    QVERIFY(first->close());
    QTRY_VERIFY(gone.isNull());
    QVERIFY(!m_program->windows.about);
    AboutWindow *second = openAbout();
    QVERIFY(second);
    QCOMPARE(second->label(QStringLiteral("lblVersion"))->text(), QStringLiteral("1.0"));
}

void TestAbout::websiteRowOpensOrRaisesWebsiteWindow()
{
    // Whether the window is new or brought forward is the helper's business
    // (tst_website, tst_webhelper); the row only asks for it, each time.
    AboutWindow *about = openAbout();
    QLabel *row = about->label(QStringLiteral("lblWebsite"));
    QVERIFY(QTest::qWaitForWindowExposed(about));

    // Only a left click inside the row asks.
    QTest::mouseClick(row, Qt::RightButton, {}, row->rect().center());
    QTest::mouseClick(row, Qt::MiddleButton, {}, row->rect().center());
    QCOMPARE(web().websiteRequests, 0);

    QTest::mouseClick(row, Qt::LeftButton, {}, row->rect().center());
    QCOMPARE(web().websiteRequests, 1);
    QVERIFY(about->isVisible()); // the About window stays open
    QTest::mouseClick(row, Qt::LeftButton, {}, row->rect().center());
    QCOMPARE(web().websiteRequests, 2);

    // From the keyboard: the address takes focus; Enter, keypad Enter and
    // Space ask, other keys do not.
    QCOMPARE(row->focusPolicy(), Qt::StrongFocus);
    QTest::keyClick(row, Qt::Key_Return);
    QTest::keyClick(row, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(row, Qt::Key_Space);
    QCOMPARE(web().websiteRequests, 5);
    QTest::keyClick(row, Qt::Key_A);
    QCOMPARE(web().websiteRequests, 5);
    QVERIFY(about->isVisible());

    // A program without web content (no helper) shows nothing and survives.
    m_program->context.web = nullptr;
    QTest::mouseClick(row, Qt::LeftButton, {}, row->rect().center());
    m_program->context.web = &web();
    QCOMPARE(web().websiteRequests, 5);
}

// Not a test: shows the About window and saves a picture of it with its
// frame (scripts/screenshot-windows.sh runs it under Xvfb with a window manager).
static int screenshot(const QString &path)
{
    int argc = 1;
    char name[] = "tst_about";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    test::TestEnvironment env;
    test::ProgramFixture program;
    program.profile = BrandingProfile::fromBuild();
    AboutWindow *about = AboutWindow::open(program.context);
    if (!QTest::qWaitForWindowExposed(about))
        return 3;
    QTest::qWait(1000);
    const QRect frame = about->frameGeometry().adjusted(-8, -8, 8, 8);
    const bool saved = about->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).save(path);
    delete about;
    return saved ? 0 : 4;
}

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "--screenshot") == 0)
        return screenshot(QString::fromLocal8Bit(argv[2]));
    QApplication app(argc, argv);
    TestAbout t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_about.moc"
