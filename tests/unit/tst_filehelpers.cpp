// fileExists and fileNameOf over the Linux file system.

#include "core/filehelpers.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace wendral;

class TestFileHelpers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void trimPath_data();
    void trimPath();

    void normalFileFoundWhateverItsCase();
    void hiddenFilesAndFoldersNotFound();
    void specialFilesAndLinks();
    void wildcardsNeedTheLiteralName();
    void oddPaths();

private:
    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }
    QTemporaryDir m_dir;
};

void TestFileHelpers::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const char *name : {"Help.rtf", "a1.txt", "b2.txt", ".hidden", "readonly.txt", "[ab].txt"})
        QVERIFY(test::writeFile(path(QString::fromLatin1(name)), "x"));
    QVERIFY(QFile::setPermissions(path("readonly.txt"), QFile::ReadOwner | QFile::ReadGroup));
    QVERIFY(QDir(m_dir.path()).mkdir("sub"));
    QVERIFY(QDir(m_dir.path()).mkdir("wild"));
    QVERIFY(test::writeFile(path("wild/*.log"), "x"));
    QVERIFY(test::writeFile(path("wild/z.log"), "x"));
}

void TestFileHelpers::trimPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("bare name") << "allowed.txt"
                               << "allowed.txt";
    QTest::newRow("slashes") << "/home/u/.local/share/Wendral/allowed.txt"
                             << "allowed.txt";
    QTest::newRow("backslashes") << "C:\\Program Files\\Wendral\\Help.rtf"
                                 << "Help.rtf";
    QTest::newRow("mixed") << "a\\b/c\\d.txt"
                           << "d.txt";
    QTest::newRow("ends in slash") << "/tmp/dir/"
                                   << "";
    QTest::newRow("ends in backslash") << "dir\\"
                                       << "";
    QTest::newRow("root") << "/"
                          << "";
}

void TestFileHelpers::trimPath()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(fileNameOf(path), name);
}

void TestFileHelpers::normalFileFoundWhateverItsCase()
{
    QVERIFY(fileExists(path("Help.rtf")));
    QVERIFY(fileExists(path("HELP.RTF")));
    QVERIFY(fileExists(path("help.rtf")));
    QVERIFY(fileExists(path("readonly.txt")));
    QVERIFY(fileExists(m_dir.path() + "\\Help.rtf")); // either separator
    QVERIFY(!fileExists(path("Help.rtf.bak")));
    QVERIFY(!fileExists(path("Help.rt")));
    QVERIFY(!fileExists(path("nowhere/Help.rtf")));
}

void TestFileHelpers::hiddenFilesAndFoldersNotFound()
{
    QVERIFY(QFileInfo::exists(path(".hidden")));
    QVERIFY(!fileExists(path(".hidden")));
    QVERIFY(!fileExists(path(".HIDDEN")));
    QVERIFY(!fileExists(path("sub")));
    QVERIFY(!fileExists(path("SUB")));
    QVERIFY(!fileExists(path("sub/")));
    QVERIFY(!fileExists(path(".")));
    QVERIFY(!fileExists(path("..")));
}

void TestFileHelpers::specialFilesAndLinks()
{
    QVERIFY(QFile::link(path("Help.rtf"), path("link.rtf")));
    QVERIFY(QFile::link(path("gone.rtf"), path("broken.rtf")));
    QVERIFY(mkfifo(QFile::encodeName(path("pipe")).constData(), 0600) == 0);
    QVERIFY(fileExists(path("link.rtf")));
    QVERIFY(fileExists(path("LINK.rtf")));
    QVERIFY(!fileExists(path("broken.rtf")));
    QVERIFY(!fileExists(path("pipe")));
    QVERIFY(!fileExists(path("PIPE")));
}

void TestFileHelpers::wildcardsNeedTheLiteralName()
{
    QVERIFY(!fileExists(path("a?.txt")));
    QVERIFY(!fileExists(path("*.rtf")));
    QVERIFY(!fileExists(path("*")));
    // The first name in name order that matches is "*.log" itself.
    QVERIFY(fileExists(path("wild/*.log")));
    QVERIFY(fileExists(path("wild/*.LOG")));
    // "z.log" matches "?.log" but is not called that.
    QVERIFY(!fileExists(path("wild/?.log")));
    // Brackets are ordinary characters.
    QVERIFY(fileExists(path("[ab].txt")));
    QVERIFY(!fileExists(path("[ab]1.txt")));
}

void TestFileHelpers::oddPaths()
{
    QVERIFY(!fileExists(QString()));
    QVERIFY(!fileExists("/"));
    QVERIFY(!fileExists(path("")));
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    QVERIFY(fileExists("help.RTF")); // relative to the current folder
    QVERIFY(QDir::setCurrent(old));
}

QTEST_GUILESS_MAIN(TestFileHelpers)
#include "tst_filehelpers.moc"
