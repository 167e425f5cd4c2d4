#include "web/webengine.h"

#include <QCoreApplication>
#include <QDir>

#include <fcntl.h>
#include <unistd.h>

namespace wendral {
namespace {

bool anyRenderNodeUsable()
{
    const QDir dri(QStringLiteral("/dev/dri"));
    const QStringList nodes = dri.entryList({QStringLiteral("renderD*")}, QDir::System | QDir::Files);
    for (const QString &node : nodes) {
        const int fd = ::open(QFile::encodeName(dri.filePath(node)).constData(), O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
    }
    return false;
}

} // namespace

WebEngineSetup decideWebEngineSetup(bool effectiveRoot, const QString &qpaPlatform, bool renderNodeUsable,
                                    const QString &quickBackend)
{
    WebEngineSetup setup;
    setup.disableSandbox = effectiveRoot;
    const QString platform = qpaPlatform.section(QLatin1Char(':'), 0, 0).trimmed().toLower();
    const bool headless = platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
    setup.disableGpu = headless || !renderNodeUsable;
    const QString backend = quickBackend.trimmed().toLower();
    setup.softwareScene = setup.disableGpu && (backend.isEmpty() || backend == QLatin1String("software"));
    return setup;
}

QByteArray withChromiumFlag(const QByteArray &flags, const QByteArray &flag)
{
    const QList<QByteArray> parts = flags.simplified().split(' ');
    for (const QByteArray &part : parts) {
        if (part == flag)
            return flags;
    }
    QByteArray out = flags.trimmed();
    if (!out.isEmpty())
        out += ' ';
    return out + flag;
}

QByteArray withLoggingRule(const QByteArray &rules, const QByteArray &category, const QByteArray &rule)
{
    if (rules.contains(category))
        return rules;
    QByteArray out = rules.trimmed();
    if (!out.isEmpty() && !out.endsWith(';'))
        out += ';';
    return out + rule;
}

WebEngineSetup prepareWebEngineEnvironment()
{
    const WebEngineSetup setup = decideWebEngineSetup(::geteuid() == 0, qEnvironmentVariable("QT_QPA_PLATFORM"),
                                                      anyRenderNodeUsable(), qEnvironmentVariable("QT_QUICK_BACKEND"));
    if (setup.disableSandbox)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (setup.disableGpu)
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", withChromiumFlag(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), "--disable-gpu"));
    if (setup.softwareScene) {
        qputenv("QT_QUICK_BACKEND", "software");
        if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
            qputenv("QT_XCB_GL_INTEGRATION", "none");
    }
    qputenv("QT_LOGGING_RULES",
            withLoggingRule(qgetenv("QT_LOGGING_RULES"), "qt.webenginecontext", "qt.webenginecontext.info=false"));
    // Too late once the application object exists (Qt would only warn).
    if (!QCoreApplication::instance())
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts, !setup.softwareScene);
    return setup;
}

} // namespace wendral
