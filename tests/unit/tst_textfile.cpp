// The small helpers under the windows and lists: CR LF text files, twips,
// the program's folders and what the program knows about itself.

#include "core/paths.h"
#include "core/productinfo.h"
#include "core/textfile.h"
#include "forms/twips.h"
#include "support/testenv.h"

#include <QFileInfo>
#include <QtTest>

using namespace wendral;

class TestTextFile : public QObject
{
    Q_OBJECT
private slots:
    void twips_data();
    void twips();
    void splitLines_data();
    void splitLines();
    void rawLinesKeepTheirBytes();
    void invalidUtf8KeepsEveryByte();
    void pathsFollowOverrides();
    void productInfoDescribesThisExecutable();
};

void TestTextFile::twips_data()
{
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("exact") << 7605 << 507;
    QTest::newRow("rounds half up") << 1045 << 70; // 69.67
    QTest::newRow("small") << 200 << 13;           // 13.33
    QTest::newRow("negative") << -150 << -10;
}

void TestTextFile::twips()
{
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(twipsToPixels(twips), pixels);
}

void TestTextFile::splitLines_data()
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

void TestTextFile::splitLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, lines);
    QCOMPARE(TextFile::splitLines(content), lines);
}

void TestTextFile::rawLinesKeepTheirBytes()
{
    // The same lines as splitLines, byte for byte, whatever the bytes are.
    const QByteArray content = QByteArray("caf\xe9\r\n\xff\xfe\r") + QByteArray("\0nul\r", 5) + "last\nline";
    const QList<QByteArray> raw = TextFile::splitRawLines(content);
    QCOMPARE(raw, (QList<QByteArray>{"caf\xe9", "\xff\xfe", QByteArray("\0nul", 4), "last\nline"}));
    const QStringList decoded = TextFile::splitLines(content);
    QCOMPARE(decoded.size(), raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i)
        QCOMPARE(decoded.at(i), TextFile::decodeLine(raw.at(i)));
    QVERIFY(TextFile::splitRawLines(QByteArray()).isEmpty());
    QCOMPARE(TextFile::splitRawLines("\r\r\n"), (QList<QByteArray>{"", ""}));
}

void TestTextFile::invalidUtf8KeepsEveryByte()
{
    const QByteArray latin = "caf\xe9.example";
    const QString decoded = TextFile::decodeLine(latin);
    QCOMPARE(decoded.size(), latin.size());
    QCOMPARE(decoded.toLatin1(), latin);
    QCOMPARE(TextFile::decodeLine("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
}

void TestTextFile::pathsFollowOverrides()
{
    test::TestEnvironment env;
    QCOMPARE(Paths::dataFile("allowed.txt"), env.wendralDataDir() + "/allowed.txt");
    QCOMPARE(Paths::programFile("\\sounds\\pop.wav"), test::TestEnvironment::buildDir() + "/sounds/pop.wav");
    QCOMPARE(Paths::settingsFile(), env.wendralConfigDir() + "/Wendral.conf");
}

void TestTextFile::productInfoDescribesThisExecutable()
{
    const QString exe = ProductInfo::executablePath();
    QVERIFY(QFileInfo(exe).isAbsolute());
    QVERIFY(QFileInfo(exe).isExecutable());
    QCOMPARE(QFileInfo(exe).fileName(), QStringLiteral("tst_textfile"));
    QCOMPARE(QFileInfo(ProductInfo::programFolder()).canonicalFilePath(), QFileInfo(exe).absolutePath());
    QVERIFY(!ProductInfo::programFolder().endsWith('/'));
    QCOMPARE(ProductInfo::productName(), QStringLiteral("Wendral"));
    QVERIFY(ProductInfo::versionText().startsWith(
        QStringLiteral("%1.%2.").arg(ProductInfo::versionMajor()).arg(ProductInfo::versionMinor())));
}

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
