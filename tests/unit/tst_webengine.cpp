// Preparing the process for the web engine: when the sandbox, the GPU and
// OpenGL go off, and that settings the user made are kept.

#include "web/webengine.h"

#include <QCoreApplication>
#include <QtTest>

#include <unistd.h>

using namespace wendral;

namespace {
// What prepareWebEngineEnvironment() left in the environment, captured in
// main() before the application object exists (as the program calls it).
struct Prepared
{
    WebEngineSetup setup;
    QByteArray sandbox, flags, rules, quickBackend, glIntegration;
    bool shareContexts = true;
};
Prepared g_prepared;
} // namespace

class TestWebEngine : public QObject
{
    Q_OBJECT
private slots:
    void decisions_data();
    void decisions();
    void chromiumFlags_data();
    void chromiumFlags();
    void loggingRules_data();
    void loggingRules();
    void preparesThisProcess();
};

void TestWebEngine::decisions_data()
{
    QTest::addColumn<bool>("root");
    QTest::addColumn<QString>("platform");
    QTest::addColumn<bool>("renderNode");
    QTest::addColumn<QString>("quickBackend");
    QTest::addColumn<bool>("noSandbox");
    QTest::addColumn<bool>("noGpu");
    QTest::addColumn<bool>("software");
    QTest::newRow("user on a desktop with a GPU") << false << "xcb" << true << "" << false << false << false;
    QTest::newRow("root on a desktop with a GPU") << true << "xcb" << true << "" << true << false << false;
    QTest::newRow("Xvfb: no render node") << false << "xcb" << false << "" << false << true << true;
    QTest::newRow("platform not named") << false << "" << true << "" << false << false << false;
    QTest::newRow("offscreen") << true << "offscreen" << true << "" << true << true << true;
    QTest::newRow("offscreen with options")
        << false << "Offscreen:fontengine=freetype" << true << "" << false << true << true;
    QTest::newRow("minimal") << false << "minimal" << true << "" << false << true << true;
    QTest::newRow("wayland without a node") << false << "wayland" << false << "" << false << true << true;
    // The user's choice of Qt Quick backend is kept: only "software" (in any
    // case) or none at all gives the software scene.
    QTest::newRow("no GPU, software chosen") << false << "xcb" << false << " Software " << false << true << true;
    QTest::newRow("no GPU, OpenGL chosen") << false << "xcb" << false << "opengl" << false << true << false;
    QTest::newRow("GPU, software chosen") << false << "xcb" << true << "software" << false << false << false;
}

void TestWebEngine::decisions()
{
    QFETCH(bool, root);
    QFETCH(QString, platform);
    QFETCH(bool, renderNode);
    QFETCH(QString, quickBackend);
    QFETCH(bool, noSandbox);
    QFETCH(bool, noGpu);
    QFETCH(bool, software);
    const WebEngineSetup s = decideWebEngineSetup(root, platform, renderNode, quickBackend);
    QCOMPARE(s.disableSandbox, noSandbox);
    QCOMPARE(s.disableGpu, noGpu);
    QCOMPARE(s.softwareScene, software);
}

void TestWebEngine::chromiumFlags_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("empty") << QByteArray() << QByteArray("--disable-gpu");
    QTest::newRow("other flags kept") << QByteArray("--foo --bar=1") << QByteArray("--foo --bar=1 --disable-gpu");
    QTest::newRow("already there") << QByteArray("--foo --disable-gpu") << QByteArray("--foo --disable-gpu");
    QTest::newRow("a longer flag is another flag")
        << QByteArray("--disable-gpu-compositing") << QByteArray("--disable-gpu-compositing --disable-gpu");
    QTest::newRow("stray spaces") << QByteArray("  --foo  ") << QByteArray("--foo --disable-gpu");
}

void TestWebEngine::chromiumFlags()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QCOMPARE(withChromiumFlag(before, "--disable-gpu"), after);
}

void TestWebEngine::loggingRules_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    const QByteArray rule = "qt.webenginecontext.info=false";
    QTest::newRow("empty") << QByteArray() << rule;
    QTest::newRow("appended") << QByteArray("qt.foo=true") << QByteArray("qt.foo=true;") + rule;
    QTest::newRow("trailing separator") << QByteArray("qt.foo=true;") << QByteArray("qt.foo=true;") + rule;
    // The user's own choice about the category wins.
    QTest::newRow("user's rule kept") << QByteArray("qt.webenginecontext.info=true")
                                      << QByteArray("qt.webenginecontext.info=true");
}

void TestWebEngine::loggingRules()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QCOMPARE(withLoggingRule(before, "qt.webenginecontext", "qt.webenginecontext.info=false"), after);
}

void TestWebEngine::preparesThisProcess()
{
    // The test runs offscreen: the GPU is always off, the sandbox only as root.
    QVERIFY(g_prepared.setup.disableGpu);
    QCOMPARE(g_prepared.setup.disableSandbox, ::geteuid() == 0);
    if (::geteuid() == 0)
        QCOMPARE(g_prepared.sandbox, QByteArray("1"));
    else
        QVERIFY(g_prepared.sandbox.isEmpty());
    // main() seeded a flag of the user's own, which is kept.
    QCOMPARE(g_prepared.flags, QByteArray("--user-flag --disable-gpu"));
    QVERIFY(g_prepared.rules.contains("qt.webenginecontext.info=false"));
    // Offscreen there is no GPU: the software scene, with no OpenGL at all.
    QVERIFY(g_prepared.setup.softwareScene);
    QCOMPARE(g_prepared.quickBackend, QByteArray("software"));
    QCOMPARE(g_prepared.glIntegration, QByteArray("none"));
    QVERIFY(!g_prepared.shareContexts);
    // Preparing twice changes nothing more.
    prepareWebEngineEnvironment();
    QCOMPARE(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), g_prepared.flags);
    QCOMPARE(qgetenv("QT_LOGGING_RULES"), g_prepared.rules);
}

int main(int argc, char **argv)
{
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--user-flag");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("QT_QUICK_BACKEND");
    qunsetenv("QT_XCB_GL_INTEGRATION");
    // The web engine's library asks for shared contexts when it is loaded.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    g_prepared.setup = prepareWebEngineEnvironment();
    g_prepared.sandbox = qgetenv("QTWEBENGINE_DISABLE_SANDBOX");
    g_prepared.flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    g_prepared.rules = qgetenv("QT_LOGGING_RULES");
    g_prepared.quickBackend = qgetenv("QT_QUICK_BACKEND");
    g_prepared.glIntegration = qgetenv("QT_XCB_GL_INTEGRATION");
    g_prepared.shareContexts = QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts);
    QCoreApplication app(argc, argv);
    TestWebEngine t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_webengine.moc"
