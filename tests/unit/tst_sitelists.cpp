// The site lists in their three forms (string, list box, file): the file
// format, the list operations and editing sequences, and files that are odd,
// huge, unreadable or unwritable.

#include "core/paths.h"
#include "core/sitelists.h"
#include "support/specialfiles.h"
#include "support/stringlistbox.h"
#include "support/testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

using namespace wendral;
using test::ReadOnlyFolder;

namespace {
const QString kDefaultHost = QStringLiteral("www.brindlemark.example");

QByteArray dataFile(const QString &name)
{
    QFile f(QStringLiteral(WENDRAL_TEST_DATA "/sitelists/") + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(name));
    return f.readAll();
}

QString joined(const QStringList &entries)
{
    QString s;
    for (const QString &e : entries)
        s += e + "\r\n";
    return s;
}

// Files may not grow past the limit while it lives, as on a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = m_old;
        lim.rlim_cur = bytes;
        m_done = setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool isActive() const { return m_done; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_done = false;
};
} // namespace

class TestSiteLists : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    // Start-up and the file format.
    void firstStartCreatesFiles();
    void existingFilesAreKeptAtStart();
    void loadReadsTheFileFormat_data();
    void loadReadsTheFileFormat();
    void loadReplacesStringButAddsToListBox();

    // Adding.
    void addingAppendsToAllThreeFormsEvenTwice();
    void appendNeverJoinsAnUnendedLastLine();
    void blockAlwaysAppendsWithoutRewriting();
    void addCommandRefusesEmptyAndSingleSpace();
    void addCommandRewritesFileFromListBox();
    void allowAlwaysWithEmptyTextAddsIgnoredLine();

    // Deleting.
    void removeRewritesFileWithoutContainingLines();
    void deleteKeepsLongerEntriesInMemory();
    void deleteEmptyItemKeepsTheOtherEntries();
    void deleteOneOfTwoCopies();
    void deleteWithoutSelectionChangesNothing();
    void operationsWithoutListBoxes();

    // Bad input and failing files.
    void oddBytesSurviveRoundTrip();
    void directoryInPlaceOfListFile();
    void readOnlyDataFolderLosesNoList();
    void fullDiskLeavesOldFileWhole();
    void hugeFileLoadsAndRewrites();

    // Files that are no regular file, files that cannot be read, edits on
    // disk while the program runs, and the bounds.
    void specialFilesAreNeverReadOrWritten_data();
    void specialFilesAreNeverReadOrWritten();
    void unreadableListIsNeverRewritten();
    void handEditsAreTakenInBeforeARewrite();
    void handDeletionBeforeTheSelectedItem();
    void removedFileIsWrittenBackWhole();
    void rewritesKeepBytesAndSpaceLines();
    void tooLargeListIsRefusedAndLeftAlone();
    void listMayNotGrowPastItsBounds();
    void siteNamesAreBounded();

private:
    QString filePath(const QString &name) const { return Paths::dataFile(name); }
    void putFile(const QString &name, const QByteArray &content);
    QByteArray fileBytes(const QString &name) const { return test::readFile(filePath(name)); }

    SiteList &allowed() { return m_lists->allowed(); }
    SiteList &disallowed() { return m_lists->disallowed(); }

    std::unique_ptr<test::TestEnvironment> m_env;
    std::unique_ptr<SiteLists> m_lists;
    test::StringListBox m_list1;
    test::StringListBox m_list2;
};

void TestSiteLists::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
    m_lists = std::make_unique<SiteLists>(); // in the environment's data folder
    m_list1.clear();
    m_list2.clear();
    allowed().setListBox(&m_list1);
    disallowed().setListBox(&m_list2);
}

void TestSiteLists::cleanup()
{
    m_lists.reset();
    m_env.reset();
}

void TestSiteLists::putFile(const QString &name, const QByteArray &content)
{
    QDir().mkpath(Paths::dataDir());
    QVERIFY(test::writeFile(filePath(name), content));
}

void TestSiteLists::firstStartCreatesFiles()
{
    QVERIFY(!QFileInfo::exists(Paths::dataDir()));
    QCOMPARE(allowed().filePath(), Paths::dataFile("allowed.txt"));
    QCOMPARE(disallowed().filePath(), Paths::dataFile("disallowed.txt"));
    QVERIFY(m_lists->ensureFiles(kDefaultHost));
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("www.brindlemark.example\r\n"));
    QCOMPARE(fileBytes("disallowed.txt"), QByteArray("\r\n"));
    QVERIFY(allowed().load());
    QVERIFY(disallowed().load());
    QCOMPARE(allowed().text(), kDefaultHost + "\r\n");
    QCOMPARE(m_list1.items(), QStringList{kDefaultHost});
    QCOMPARE(disallowed().text(), QString()); // one empty line loads as nothing
    QCOMPARE(m_list2.count(), 0);
}

void TestSiteLists::existingFilesAreKeptAtStart()
{
    putFile("allowed.txt", "mine.example\r\n");
    putFile("disallowed.txt", "bad.example");
    QVERIFY(m_lists->ensureFiles(kDefaultHost));
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("mine.example\r\n"));
    QCOMPARE(fileBytes("disallowed.txt"), QByteArray("bad.example"));
}

void TestSiteLists::loadReadsTheFileFormat_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("crlf, final empty line") << "crlf.txt" << QStringList{"www.brindlemark.example", "example.org"};
    QTest::newRow("lone lf is one entry") << "lone_lf.txt" << QStringList{"a.example\nb.example\nc.example\n"};
    QTest::newRow("lone cr ends lines") << "lone_cr.txt" << QStringList{"a.example", "b.example", "c.example"};
    QTest::newRow("blank and one-space lines skipped")
        << "blank_lines.txt" << QStringList{"  ", "a.example", "b.example"};
    QTest::newRow("no final line end") << "no_final_line_end.txt" << QStringList{"a.example", "b.example"};
    QTest::newRow("mixed ends") << "mixed_ends.txt" << QStringList{"a.example", "b.example\n", "c.example"};
}

void TestSiteLists::loadReadsTheFileFormat()
{
    QFETCH(QString, file);
    QFETCH(QStringList, entries);
    putFile("allowed.txt", dataFile(file));
    QVERIFY(allowed().load());
    QCOMPARE(m_list1.items(), entries);
    QCOMPARE(allowed().text(), joined(entries));
    QCOMPARE(disallowed().text(), QString()); // the other list is untouched
}

void TestSiteLists::loadReplacesStringButAddsToListBox()
{
    allowed().setText("old.example\r\n");
    m_list1.addItem("old.example");
    putFile("allowed.txt", "new.example\r\n");
    QVERIFY(allowed().load());
    QCOMPARE(allowed().text(), QString("new.example\r\n"));
    QCOMPARE(m_list1.items(), (QStringList{"old.example", "new.example"}));
}

void TestSiteLists::addingAppendsToAllThreeFormsEvenTwice()
{
    putFile("allowed.txt", "a.example\r\n\r\n");
    QVERIFY(allowed().load());
    QVERIFY(allowed().add("x.example"));
    QVERIFY(allowed().add("x.example"));
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("a.example\r\n\r\nx.example\r\nx.example\r\n"));
    QCOMPARE(m_list1.items(), (QStringList{"a.example", "x.example", "x.example"}));
    QCOMPARE(allowed().text(), QString("a.example\r\nx.example\r\nx.example\r\n"));
    // Adding to a missing file creates it.
    QVERIFY(disallowed().add("bad.example"));
    QCOMPARE(fileBytes("disallowed.txt"), QByteArray("bad.example\r\n"));
    QCOMPARE(disallowed().text(), QString("bad.example\r\n"));
}

void TestSiteLists::appendNeverJoinsAnUnendedLastLine()
{
    putFile("disallowed.txt", dataFile("no_final_line_end.txt"));
    QVERIFY(disallowed().add("c.example"));
    QCOMPARE(fileBytes("disallowed.txt"), QByteArray("a.example\r\nb.example\r\nc.example\r\n"));
    putFile("allowed.txt", "a.example\r"); // a lone CR already ends the line
    QVERIFY(allowed().add("b.example"));
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("a.example\rb.example\r\n"));
    putFile("allowed.txt", "a.example\n"); // a lone LF does not
    QVERIFY(allowed().add("b.example"));
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("a.example\n\r\nb.example\r\n"));
}

void TestSiteLists::blockAlwaysAppendsWithoutRewriting()
{
    QVERIFY(m_lists->ensureFiles(kDefaultHost));
    QVERIFY(disallowed().load());
    // "Block Always": add alone, no rewrite, so the file keeps its empty line.
    QVERIFY(disallowed().add("bad.example"));
    QCOMPARE(fileBytes("disallowed.txt"), QByteArray("\r\nbad.example\r\n"));
    QCOMPARE(m_list2.items(), QStringList{"bad.example"});
    QVERIFY(isSiteListed("bad.example", disallowed().text()));
}

void TestSiteLists::addCommandRefusesEmptyAndSingleSpace()
{
    putFile("allowed.txt", "a.example\r\n");
    QVERIFY(allowed().load());
    QVERIFY(!allowed().commandAdd(""));
    QVERIFY(!allowed().commandAdd(" "));
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("a.example\r\n"));
    QCOMPARE(m_list1.count(), 1);
    QVERIFY(disallowed().commandAdd("  ")); // two spaces are an entry
    QCOMPARE(m_list2.items(), QStringList{"  "});
    QCOMPARE(fileBytes("disallowed.txt"), QByteArray("  \r\n\r\n"));
}

void TestSiteLists::addCommandRewritesFileFromListBox()
{
    putFile("allowed.txt", dataFile("blank_lines.txt"));
    QVERIFY(allowed().load());
    QVERIFY(allowed().commandAdd("new.example"));
    // Empty lines go; a line of one space stays after the entry it followed
    // (the one before any entry stays first).
    QCOMPARE(fileBytes("allowed.txt"), QByteArray(" \r\n  \r\na.example\r\n \r\nb.example\r\nnew.example\r\n\r\n"));
    QCOMPARE(allowed().text(), QString("  \r\na.example\r\nb.example\r\nnew.example\r\n"));
}

void TestSiteLists::allowAlwaysWithEmptyTextAddsIgnoredLine()
{
    putFile("allowed.txt", "a.example\r\n");
    QVERIFY(allowed().load());
    QVERIFY(allowed().add(""));
    QVERIFY(allowed().save());
    QCOMPARE(m_list1.items(), (QStringList{"a.example", ""}));
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("a.example\r\n\r\n\r\n"));
    // The next start ignores the empty line.
    m_list1.clear();
    QVERIFY(allowed().load());
    QCOMPARE(m_list1.items(), QStringList{"a.example"});
}

void TestSiteLists::removeRewritesFileWithoutContainingLines()
{
    putFile("allowed.txt", dataFile("contains.txt"));
    QVERIFY(allowed().load());
    QVERIFY(allowed().remove("example.com"));
    // Every line holding the text in any capitals goes; empty lines stay.
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("\r\nexample.org\r\nother.example\r\n\r\n\r\n"));
    // Nothing in the list box equals the text: the string is the list box.
    QCOMPARE(allowed().text(), joined(m_list1.items()));
    QCOMPARE(m_list1.count(), 4);
}

void TestSiteLists::deleteKeepsLongerEntriesInMemory()
{
    putFile("allowed.txt", "example.com\r\nwww.example.com\r\nEXAMPLE.COM.au\r\n\r\n");
    QVERIFY(allowed().load());
    m_list1.setSelected(0);
    QVERIFY(allowed().commandDelete());
    const QStringList rest{"www.example.com", "EXAMPLE.COM.au"};
    QCOMPARE(m_list1.items(), rest);
    QCOMPARE(allowed().text(), joined(rest));
    QCOMPARE(fileBytes("allowed.txt"), (joined(rest) + "\r\n").toUtf8());
    QVERIFY(isSiteListed("www.example.com", allowed().text()));
    QVERIFY(isSiteListed("example.com.AU", allowed().text()));
    // The next start agrees with this run.
    m_list1.clear();
    QVERIFY(allowed().load());
    QCOMPARE(m_list1.items(), rest);
}

void TestSiteLists::deleteEmptyItemKeepsTheOtherEntries()
{
    putFile("allowed.txt", "a.example\r\nb.example\r\n");
    QVERIFY(allowed().load());
    allowed().add(""); // from the prompt with an emptied site box
    QVERIFY(allowed().save());
    m_list1.setSelected(2);
    QVERIFY(allowed().commandDelete());
    QCOMPARE(m_list1.items(), (QStringList{"a.example", "b.example"}));
    QCOMPARE(allowed().text(), QString("a.example\r\nb.example\r\n"));
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("a.example\r\nb.example\r\n\r\n"));
}

void TestSiteLists::deleteOneOfTwoCopies()
{
    putFile("disallowed.txt", "x.example\r\ny.example\r\nx.example\r\n");
    QVERIFY(disallowed().load());
    m_list2.setSelected(2);
    QVERIFY(disallowed().commandDelete());
    QCOMPARE(m_list2.items(), (QStringList{"x.example", "y.example"}));
    QCOMPARE(disallowed().text(), QString("x.example\r\ny.example\r\n"));
    QCOMPARE(fileBytes("disallowed.txt"), QByteArray("x.example\r\ny.example\r\n\r\n"));
}

void TestSiteLists::deleteWithoutSelectionChangesNothing()
{
    putFile("allowed.txt", dataFile("contains.txt"));
    QVERIFY(allowed().load());
    const QString before = allowed().text();
    QVERIFY(!allowed().commandDelete());
    QCOMPARE(allowed().text(), before);
    QCOMPARE(m_list1.count(), 4);
    QCOMPARE(fileBytes("allowed.txt"), dataFile("contains.txt"));
}

void TestSiteLists::operationsWithoutListBoxes()
{
    allowed().setListBox(nullptr);
    disallowed().setListBox(nullptr);
    putFile("allowed.txt", "a.example\r\nb.example\r\na.example\r\n");
    QVERIFY(allowed().load());
    QCOMPARE(allowed().text(), QString("a.example\r\nb.example\r\na.example\r\n"));
    allowed().remove("a.example");
    QCOMPARE(allowed().text(), QString("b.example\r\na.example\r\n")); // one entry leaves
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("b.example\r\n\r\n"));
    // Nothing to save from: the file is left alone.
    QVERIFY(!allowed().save());
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("b.example\r\n\r\n"));
    QVERIFY(!allowed().commandDelete());
}

void TestSiteLists::oddBytesSurviveRoundTrip()
{
    putFile("allowed.txt", dataFile("nul_byte.txt"));
    putFile("disallowed.txt", dataFile("invalid_utf8.txt"));
    QVERIFY(allowed().load());
    QVERIFY(disallowed().load());
    const QStringList withNul{"a.example", QString::fromLatin1("b\0ad.example", 12), "c.example"};
    QCOMPARE(m_list1.items(), withNul);
    const QStringList odd{QString::fromLatin1("caf\xe9.example"), QString::fromUtf8("valid-\xc3\xa9.example"),
                          QString::fromLatin1("\xff\xfe")};
    QCOMPARE(m_list2.items(), odd);

    QVERIFY(allowed().save());
    QVERIFY(disallowed().save());
    QVERIFY(fileBytes("allowed.txt").contains(QByteArray("b\0ad.example\r\n", 14)));
    m_list1.clear();
    m_list2.clear();
    QVERIFY(allowed().load());
    QVERIFY(disallowed().load());
    QCOMPARE(m_list1.items(), withNul);
    QCOMPARE(m_list2.items(), odd);
}

void TestSiteLists::directoryInPlaceOfListFile()
{
    QVERIFY(QDir().mkpath(filePath("allowed.txt")));
    allowed().setText("kept.example\r\n");
    m_list1.addItem("kept.example");

    QVERIFY(!m_lists->ensureFiles(kDefaultHost)); // cannot create the allowed file
    QCOMPARE(fileBytes("disallowed.txt"), QByteArray("\r\n"));
    QVERIFY(!allowed().load());
    QVERIFY(allowed().problem().contains("not a regular file"));
    QCOMPARE(allowed().text(), QString("kept.example\r\n"));
    QCOMPARE(m_list1.items(), QStringList{"kept.example"});

    // A list whose file is no file cannot be edited: nothing changes.
    QVERIFY(!allowed().add("new.example"));
    QVERIFY(!allowed().save());
    m_list1.setSelected(0);
    QVERIFY(!allowed().commandDelete());
    QVERIFY(!allowed().commandAdd("other.example"));
    QCOMPARE(allowed().text(), QString("kept.example\r\n"));
    QCOMPARE(m_list1.items(), QStringList{"kept.example"});
    QVERIFY(QFileInfo(filePath("allowed.txt")).isDir());
    QVERIFY(QDir(filePath("allowed.txt")).isEmpty());
}

void TestSiteLists::readOnlyDataFolderLosesNoList()
{
    putFile("allowed.txt", "a.example\r\nb.example\r\n\r\n");
    putFile("disallowed.txt", "\r\nbad.example\r\n");
    {
        ReadOnlyFolder readOnly(Paths::dataDir());
        if (!readOnly.isReadOnly())
            QSKIP("cannot make the data folder read-only here");
        QVERIFY(m_lists->ensureFiles(kDefaultHost));
        QVERIFY(allowed().load());
        QVERIFY(disallowed().load());

        // The rewrite cannot place its new file in the folder: the old one stays.
        m_list1.setSelected(0);
        QVERIFY(allowed().commandDelete());
        QCOMPARE(m_list1.items(), QStringList{"b.example"});
        QCOMPARE(allowed().text(), QString("b.example\r\n"));
        QCOMPARE(fileBytes("allowed.txt"), QByteArray("a.example\r\nb.example\r\n\r\n"));
        QVERIFY(!allowed().save());

        // Appending to an existing file still works.
        QVERIFY(disallowed().add("worse.example"));
        QCOMPARE(fileBytes("disallowed.txt"), QByteArray("\r\nbad.example\r\nworse.example\r\n"));
    }
    // A read-only folder without list files: nothing is created, nothing breaks.
    QFile::remove(filePath("allowed.txt"));
    QFile::remove(filePath("disallowed.txt"));
    ReadOnlyFolder readOnly(Paths::dataDir());
    QVERIFY(readOnly.isReadOnly());
    QVERIFY(!m_lists->ensureFiles(kDefaultHost));
    QVERIFY(!allowed().load());
    QCOMPARE(allowed().text(), QString("b.example\r\n"));
    QVERIFY(!allowed().add("c.example"));
    QCOMPARE(allowed().text(), QString("b.example\r\nc.example\r\n"));
}

void TestSiteLists::fullDiskLeavesOldFileWhole()
{
    QStringList entries;
    for (int i = 0; i < 200; ++i)
        entries << QStringLiteral("entry-%1.example.com").arg(i);
    const QByteArray old = (joined(entries) + "\r\n").toUtf8();
    putFile("allowed.txt", old);
    QVERIFY(allowed().load());
    {
        // No file may grow past 1 KB: every rewrite of the 5 KB list runs out of room.
        FileSizeLimit limit(1024);
        QVERIFY(limit.isActive());
        QVERIFY(!allowed().save());
        m_list1.setSelected(0);
        QVERIFY(allowed().commandDelete());
        QVERIFY(!allowed().add("new.example"));
    }
    QCOMPARE(fileBytes("allowed.txt"), old);
    entries.removeFirst();
    entries << "new.example";
    QCOMPARE(m_list1.items(), entries);
    QCOMPARE(allowed().text(), joined(entries)); // memory keeps the edits
    // No temporary files are left behind.
    QCOMPARE(QDir(Paths::dataDir()).entryList(QDir::Files | QDir::Hidden), QStringList{"allowed.txt"});
    QVERIFY(allowed().save());
    QCOMPARE(fileBytes("allowed.txt"), (joined(entries) + "\r\n").toUtf8());
}

void TestSiteLists::hugeFileLoadsAndRewrites()
{
    // About 50 MB: 500 000 entries of 100 bytes, written at test time.
    constexpr int kEntries = 500000;
    QDir().mkpath(Paths::dataDir());
    {
        QFile f(filePath("allowed.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray line(98, 'x');
        for (int i = 0; i < kEntries; ++i) {
            const QByteArray number = QByteArray::number(i).rightJustified(8, '0');
            line.replace(0, 8, number);
            QVERIFY(f.write(line + "\r\n") == 100);
        }
    }
    QVERIFY(QFileInfo(filePath("allowed.txt")).size() >= 50000000);
    QVERIFY(allowed().load());
    QCOMPARE(m_list1.count(), kEntries);
    QCOMPARE(allowed().text().size(), qsizetype(kEntries) * 100);
    QVERIFY(m_list1.item(kEntries - 1).startsWith("00499999"));

    QVERIFY(allowed().add("tail.example"));
    m_list1.setSelected(kEntries - 1);
    QVERIFY(allowed().commandDelete());
    QCOMPARE(m_list1.count(), kEntries);
    QCOMPARE(QFileInfo(filePath("allowed.txt")).size(), qint64(kEntries - 1) * 100 + 14 + 2);
    QCOMPARE(allowed().text().size(), qsizetype(kEntries - 1) * 100 + 14);
    QVERIFY(isSiteListed("tail.example", allowed().text()));
    QVERIFY(!isSiteListed("00499999", allowed().text()));
}

void TestSiteLists::specialFilesAreNeverReadOrWritten_data()
{
    test::addSpecialFileRows();
}

void TestSiteLists::specialFilesAreNeverReadOrWritten()
{
    QFETCH(QString, kind);
    QDir().mkpath(Paths::dataDir());
    const QString list = filePath("allowed.txt");
    QString special;
    const test::Placed placed = test::placeSpecialFile(kind, list, m_env->home() + "/special", &special);
    if (placed == test::Placed::NoDeviceNodes)
        QSKIP("device nodes cannot be made here");
    QVERIFY(placed == test::Placed::Done);
    const test::PathKind before = test::pathKind(special);
    const test::PathKind linkBefore = test::pathKind(list);
    QStringList told;
    allowed().setProblemObserver([&told](const QString &m) { told << m; });

    {
        // A FIFO opened for reading or writing would wait here for ever.
        test::FifoGuard guard(kind.contains("fifo") ? special : QString(), 3000);
        QVERIFY(!m_lists->ensureFiles(kDefaultHost));
        QVERIFY(!allowed().load());
        QVERIFY(!allowed().add("new.example")); // "Allow Always"
        QVERIFY(!allowed().save());
        QVERIFY(!allowed().commandAdd("typed.example"));
        QVERIFY(!allowed().remove("x"));
        QVERIFY(!guard.fired());
    }
    QVERIFY(!told.isEmpty());
    QVERIFY2(allowed().problem().contains("not a regular file"), qPrintable(allowed().problem()));
    QVERIFY(allowed().problem().contains(list));
    QCOMPARE(allowed().text(), QString());
    QCOMPARE(m_list1.count(), 0);
    QVERIFY(!allowed().contains("unblocked.example"));
    // The very same thing is still there, and still what it was.
    QCOMPARE(test::pathKind(special), before);
    QCOMPARE(test::pathKind(list), linkBefore);
    QCOMPARE(QDir(Paths::dataDir()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{"allowed.txt", "disallowed.txt"}));
    // The other list is not affected.
    QVERIFY(disallowed().load());
    QVERIFY(disallowed().add("bad.example"));
    QCOMPARE(fileBytes("disallowed.txt"), QByteArray("\r\nbad.example\r\n"));
}

void TestSiteLists::unreadableListIsNeverRewritten()
{
    const QByteArray four("a.example\r\nb.example\r\nc.example\r\nd.example\r\n");
    putFile("allowed.txt", four);
    QVERIFY(QFile::setPermissions(filePath("allowed.txt"), QFile::WriteOwner)); // mode 200
    {
        test::PermissionsObeyed obeyed;
        QVERIFY(obeyed.isActive());
        QVERIFY(m_lists->ensureFiles(kDefaultHost)); // it exists
        QVERIFY(!allowed().load());
        QVERIFY2(allowed().problem().contains("cannot be read"), qPrintable(allowed().problem()));
        // "Allow Always" and the main window's edits are refused: the entries
        // the program could not see stay in the file.
        QVERIFY(!allowed().add("new.example"));
        QVERIFY(!allowed().save());
        QVERIFY(!allowed().commandAdd("typed.example"));
        QCOMPARE(allowed().text(), QString());
        QCOMPARE(m_list1.count(), 0);
    }
    QCOMPARE(fileBytes("allowed.txt"), four);

    // Once the file can be read again, the next edit takes it in whole.
    QVERIFY(QFile::setPermissions(filePath("allowed.txt"), QFile::WriteOwner | QFile::ReadOwner));
    QVERIFY(allowed().add("new.example"));
    QVERIFY(allowed().save());
    const QStringList all{"a.example", "b.example", "c.example", "d.example", "new.example"};
    QCOMPARE(m_list1.items(), all);
    QCOMPARE(allowed().text(), joined(all));
    QCOMPARE(fileBytes("allowed.txt"), (joined(all) + "\r\n").toUtf8());
}

void TestSiteLists::handEditsAreTakenInBeforeARewrite()
{
    putFile("allowed.txt", "a.example\r\nb.example\r\n\r\n");
    QVERIFY(allowed().load());
    // Added by hand while the program runs, then "Allow Always".
    putFile("allowed.txt", "a.example\r\nb.example\r\n\r\nhand.example\r\n");
    QVERIFY(allowed().add("new.example"));
    QVERIFY(allowed().save());
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("a.example\r\nb.example\r\nhand.example\r\nnew.example\r\n\r\n"));
    QCOMPARE(m_list1.items(), (QStringList{"a.example", "b.example", "hand.example", "new.example"}));
    QVERIFY(allowed().contains("hand.example"));

    // Removed by hand, then "Add": it stays removed, everywhere.
    putFile("allowed.txt", "b.example\r\nhand.example\r\nnew.example\r\n");
    QVERIFY(allowed().commandAdd("typed.example"));
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("b.example\r\nhand.example\r\nnew.example\r\ntyped.example\r\n\r\n"));
    QCOMPARE(m_list1.items(), (QStringList{"b.example", "hand.example", "new.example", "typed.example"}));
    QVERIFY(!allowed().contains("a.example"));

    // "Block Always" (an append alone) takes it in too.
    putFile("disallowed.txt", "\r\n");
    QVERIFY(disallowed().load());
    putFile("disallowed.txt", "\r\nhand-bad.example\r\n");
    QVERIFY(disallowed().add("bad.example"));
    QCOMPARE(fileBytes("disallowed.txt"), QByteArray("\r\nhand-bad.example\r\nbad.example\r\n"));
    QCOMPARE(m_list2.items(), (QStringList{"hand-bad.example", "bad.example"}));
    QVERIFY(disallowed().contains("hand-bad.example"));
}

void TestSiteLists::handDeletionBeforeTheSelectedItem()
{
    putFile("allowed.txt", "a.example\r\nb.example\r\nc.example\r\n");
    QVERIFY(allowed().load());
    m_list1.setSelected(2); // c.example
    putFile("allowed.txt", "b.example\r\nc.example\r\n");
    QVERIFY(allowed().commandDelete());
    // The selected entry goes, not the one that moved into its place.
    QCOMPARE(m_list1.items(), QStringList{"b.example"});
    QCOMPARE(allowed().text(), QString("b.example\r\n"));
    QCOMPARE(fileBytes("allowed.txt"), QByteArray("b.example\r\n\r\n"));
}

void TestSiteLists::removedFileIsWrittenBackWhole()
{
    putFile("disallowed.txt", "\r\nbad.example\r\nworse.example\r\n");
    QVERIFY(disallowed().load());
    QVERIFY(QFile::remove(filePath("disallowed.txt")));
    // "Block Always" appends; the list must not shrink to the new entry.
    QVERIFY(disallowed().add("new.example"));
    QCOMPARE(fileBytes("disallowed.txt"), QByteArray("\r\nbad.example\r\nworse.example\r\nnew.example\r\n"));
    QCOMPARE(m_list2.items(), (QStringList{"bad.example", "worse.example", "new.example"}));
}

void TestSiteLists::rewritesKeepBytesAndSpaceLines()
{
    // Latin-1 "é", a lone continuation byte, a BOM that a decoder would drop,
    // lines of one space and an entry that shares its text with another's.
    const QByteArray odd = QByteArray("caf\xe9.example\r\n \r\nvalid-\xc3\xa9.example\r\n\x80x\r\n \r\n \r\n"
                                      "\xef\xbb\xbf"
                                      "bom.example\r\n");
    putFile("allowed.txt", odd);
    QVERIFY(allowed().load());
    QCOMPARE(m_list1.count(), 4);
    QVERIFY(allowed().commandAdd("new.example"));
    QCOMPARE(fileBytes("allowed.txt"), odd + "new.example\r\n\r\n");
    // The same text typed in again is new, and written as UTF-8.
    QVERIFY(allowed().commandAdd(QString::fromLatin1("caf\xe9.example")));
    QCOMPARE(fileBytes("allowed.txt"), odd + "new.example\r\ncaf\xc3\xa9.example\r\n\r\n");

    // "Delete" of an entry keeps the other lines' bytes; the lines of one
    // space that followed it stay where they were.
    m_list1.setSelected(2); // \x80x
    QVERIFY(allowed().commandDelete());
    QCOMPARE(fileBytes("allowed.txt"),
             QByteArray("caf\xe9.example\r\n \r\nvalid-\xc3\xa9.example\r\n \r\n \r\n\xef\xbb\xbf"
                        "bom.example\r\nnew.example\r\ncaf\xc3\xa9.example\r\n\r\n"));
    // And the next start reads the same list.
    const QStringList items = m_list1.items();
    m_list1.clear();
    QVERIFY(allowed().load());
    QCOMPARE(m_list1.items(), items);
}

void TestSiteLists::tooLargeListIsRefusedAndLeftAlone()
{
    QDir().mkpath(Paths::dataDir());
    {
        // Sparse: no disk space is used.
        QFile f(filePath("allowed.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.write("a.example\r\n") == 11);
        QVERIFY(f.resize(kMaxListFileBytes + 1));
    }
    const QDateTime modified = QFileInfo(filePath("allowed.txt")).lastModified();
    QVERIFY(!allowed().load());
    QVERIFY2(allowed().problem().contains("too large"), qPrintable(allowed().problem()));
    QVERIFY(!allowed().add("new.example"));
    QVERIFY(!allowed().commandAdd("typed.example"));
    QCOMPARE(QFileInfo(filePath("allowed.txt")).size(), kMaxListFileBytes + 1);
    QCOMPARE(QFileInfo(filePath("allowed.txt")).lastModified(), modified);
    QCOMPARE(m_list1.count(), 0);

    // Too many lines in a small file: refused the same way.
    const QByteArray lines = QByteArray("x\r").repeated(kMaxListLines + 1);
    putFile("disallowed.txt", lines);
    QVERIFY(!disallowed().load());
    QVERIFY(disallowed().problem().contains("too large"));
    QVERIFY(!disallowed().add("bad.example"));
    QCOMPARE(fileBytes("disallowed.txt"), lines);
    // At the bound it is read.
    putFile("disallowed.txt", QByteArray("x\r").repeated(kMaxListLines));
    QVERIFY(disallowed().load());
    QCOMPARE(m_list2.count(), kMaxListLines);
}

void TestSiteLists::listMayNotGrowPastItsBounds()
{
    const QByteArray full = QByteArray("x\r").repeated(kMaxListLines - 1) + "last.example\r\n";
    putFile("disallowed.txt", full);
    QVERIFY(disallowed().load());
    QVERIFY(!disallowed().add("one-more.example"));
    QVERIFY2(disallowed().problem().contains("would grow beyond"), qPrintable(disallowed().problem()));
    QCOMPARE(m_list2.count(), kMaxListLines);
    QVERIFY(!disallowed().contains("one-more.example"));
    QCOMPARE(fileBytes("disallowed.txt"), full);
}

void TestSiteLists::siteNamesAreBounded()
{
    const QString longest = QString(kMaxSiteNameLength - 8, QLatin1Char('a')) + ".example";
    const QString tooLong = QLatin1Char('b') + longest;
    QCOMPARE(longest.size(), kMaxSiteNameLength);
    allowed().setText("x" + tooLong + "\r\n");
    QVERIFY(allowed().contains(longest));
    QVERIFY(isSiteListed(longest, allowed().text()));
    // Listed letter for letter, yet too long to be a site name: in no list.
    QVERIFY(!allowed().contains(tooLong));
    QVERIFY(!isSiteListed(tooLong, allowed().text()));
    // Nor can it become an entry.
    putFile("allowed.txt", "a.example\r\n");
    QVERIFY(allowed().load());
    QVERIFY(!allowed().add(tooLong));
    QVERIFY(allowed().problem().contains(QString::number(kMaxSiteNameLength)));
    QVERIFY(allowed().add(longest));
    QCOMPARE(m_list1.items(), (QStringList{"a.example", longest}));
}

QTEST_GUILESS_MAIN(TestSiteLists)
#include "tst_sitelists.moc"
