#include "core/paths.h"
#include "core/productinfo.h"
#include "core/textfile.h"
#include "ui/twips.h"
#include "support/testenv.h"

#include <QtTest>

using namespace wendral;

class TestRuntime : public QObject
{
    Q_OBJECT
private slots:
    void twips_data();
    void twips();
    void splitLines_data();
    void splitLines();
    void invalidUtf8KeepsEveryByte();
    void pathsFollowOverrides();
};

void TestRuntime::twips_data()
{
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("exact") << 7605 << 507;
    QTest::newRow("rounds half up") << 1045 << 70; // 69.67
    QTest::newRow("small") << 200 << 13;           // 13.33
    QTest::newRow("negative") << -150 << -10;
}

void TestRuntime::twips()
{
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(twipsToPixels(twips), pixels);
}

void TestRuntime::splitLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << QByteArray() << QStringList{};
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("lone cr ends a line") << QByteArray("a\rb\r") << QStringList{"a", "b"};
    QTest::newRow("lone lf does not") << QByteArray("a\nb\nc") << QStringList{"a\nb\nc"};
    QTest::newRow("no final end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
    QTest::newRow("empty lines kept") << QByteArray("\r\n\r\nx\r\n") << QStringList{"", "", "x"};
    QTest::newRow("cr cr lf") << QByteArray("a\r\r\nb") << QStringList{"a", "", "b"};
}

void TestRuntime::splitLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, lines);
    QCOMPARE(TextFile::splitLines(content), lines);
}

void TestRuntime::invalidUtf8KeepsEveryByte()
{
    const QByteArray latin = "caf\xe9.example";
    const QString decoded = TextFile::decodeLine(latin);
    QCOMPARE(decoded.size(), latin.size());
    QCOMPARE(decoded.toLatin1(), latin);
    QCOMPARE(TextFile::decodeLine("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
}

void TestRuntime::pathsFollowOverrides()
{
    test::TestEnvironment env;
    QCOMPARE(Paths::dataFile("allowed.txt"), env.wendralDataDir() + "/allowed.txt");
    QCOMPARE(Paths::programFile("\\sounds\\pop.wav"), test::TestEnvironment::buildDir() + "/sounds/pop.wav");
    QCOMPARE(Paths::settingsFile(), env.wendralConfigDir() + "/Wendral.conf");
}

QTEST_GUILESS_MAIN(TestRuntime)
#include "tst_runtime.moc"
