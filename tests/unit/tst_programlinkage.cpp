// What the built programs load: the main program must start without the web
// engine (it is what makes it small in the tray), and the web helper beside it
// must have it. Read from `ldd`, as the dynamic loader resolves them here.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

// The libraries the loader would map for `program`, by their file names
// (libQt6Core.so.6, ...). Empty when ldd could not be run.
QStringList loadedLibraries(const QString &program, QString *error)
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {program});
    if (!ldd.waitForFinished(30000) || ldd.exitStatus() != QProcess::NormalExit || ldd.exitCode() != 0) {
        *error = QStringLiteral("ldd %1 failed: %2").arg(program, QString::fromLocal8Bit(ldd.readAllStandardError()));
        return {};
    }
    QStringList names;
    const QStringList lines = QString::fromLocal8Bit(ldd.readAllStandardOutput()).split(QLatin1Char('\n'));
    // "\tlibQt6Core.so.6 => /lib/x86_64-linux-gnu/libQt6Core.so.6 (0x...)"
    static const QRegularExpression entry(QStringLiteral("^\\s*(\\S+)\\s*(=>\\s*(\\S+))?"));
    for (const QString &line : lines) {
        const QRegularExpressionMatch m = entry.match(line);
        if (!m.hasMatch())
            continue;
        if (m.captured(3) == QLatin1String("not")) {
            *error = QStringLiteral("%1 misses %2").arg(program, m.captured(1));
            return {};
        }
        names << QFileInfo(m.captured(1)).fileName();
    }
    return names;
}

QStringList webEngineLibraries(const QStringList &libraries)
{
    QStringList found;
    for (const QString &name : libraries)
        if (name.startsWith(QLatin1String("libQt6WebEngine")))
            found << name;
    return found;
}

} // namespace

class TestProgramLinkage : public QObject
{
    Q_OBJECT
private slots:
    void programLoadsNoWebEngine();
    void helperBesideItLoadsTheWebEngine();
};

void TestProgramLinkage::programLoadsNoWebEngine()
{
    const QString program = QDir(QStringLiteral(WENDRAL_BUILD_DIR)).filePath(QStringLiteral("wendral"));
    QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
    QString error;
    const QStringList libraries = loadedLibraries(program, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // The list is read right: the widgets the program is made of are there.
    QVERIFY2(libraries.contains(QLatin1String("libQt6Widgets.so.6")), qPrintable(libraries.join(QLatin1Char(' '))));
    QVERIFY2(libraries.contains(QLatin1String("libQt6Core.so.6")), qPrintable(libraries.join(QLatin1Char(' '))));
    const QStringList web = webEngineLibraries(libraries);
    QVERIFY2(web.isEmpty(), qPrintable(QStringLiteral("wendral loads ") + web.join(QLatin1Char(' '))));
    // Nor anything that would pull the engine in indirectly.
    QVERIFY(!libraries.contains(QLatin1String("libQt6Quick.so.6")));
    QVERIFY(!libraries.contains(QLatin1String("libQt6WebChannel.so.6")));
}

void TestProgramLinkage::helperBesideItLoadsTheWebEngine()
{
    const QString helper = QDir(QStringLiteral(WENDRAL_BUILD_DIR)).filePath(QStringLiteral("wendral-web"));
    QVERIFY2(QFileInfo(helper).isExecutable(), qPrintable(helper));
    QString error;
    const QStringList libraries = loadedLibraries(helper, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QStringList web = webEngineLibraries(libraries);
    QVERIFY2(web.contains(QLatin1String("libQt6WebEngineWidgets.so.6")), qPrintable(libraries.join(QLatin1Char(' '))));
    QVERIFY(web.contains(QLatin1String("libQt6WebEngineCore.so.6")));
}

QTEST_GUILESS_MAIN(TestProgramLinkage)
#include "tst_programlinkage.moc"
