// The settings store: defaults, round trips, the unload save sequence and
// stored values that the program never writes.

#include "core/paths.h"
#include "core/settingsstore.h"
#include "support/specialfiles.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <limits>
#include <memory>
#include <sys/stat.h>

using namespace wendral;

namespace {
constexpr qint32 kMaxCount = std::numeric_limits<qint32>::max();

QByteArray dataFile(const QString &name)
{
    QFile f(QStringLiteral(WENDRAL_TEST_DATA "/settings/") + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(name));
    return f.readAll();
}
} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void emptyStoreGivesDefaults();
    void valuesRoundTrip();
    void writesReachTheFileAtOnce();
    void unloadWritesNineValuesInOrder();
    void largestCountReadsBackExactly();

    void oddToggles_data();
    void oddToggles();
    void oddCounts_data();
    void oddCounts();
    void textsAreReturnedAsStored();
    void corruptFileStillReadsAndWrites();
    void settingsFileThatIsAFolder();

    // Links, special files, folders that cannot be written, bounds.
    void linkToARegularFileIsFollowed();
    void specialFilesAreNeverReadOrWritten_data();
    void specialFilesAreNeverReadOrWritten();
    void readOnlyFolderFailsAndSaysWhy();
    void unreadableFileIsNeverReplaced();
    void oversizedFileIsNeitherReadNorReplaced();
    void valuesAreBounded();
    void writeKeepsHandEditedValues();

private:
    void installConf(const QString &name);
    SettingsStore &store() { return *m_store; }
    std::unique_ptr<test::TestEnvironment> m_env;
    std::unique_ptr<SettingsStore> m_store;
};

void TestSettingsStore::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
    m_store = std::make_unique<SettingsStore>(); // reads the folders the environment set
}

void TestSettingsStore::cleanup()
{
    m_store.reset();
    m_env.reset();
}

void TestSettingsStore::installConf(const QString &name)
{
    QVERIFY(QDir().mkpath(Paths::configDir()));
    QVERIFY(test::writeFile(Paths::settingsFile(), dataFile(name)));
}

void TestSettingsStore::emptyStoreGivesDefaults()
{
    QCOMPARE(store().readToggle(Settings::kStopPop, Settings::kDefaultStopPop), true);
    QCOMPARE(store().readToggle(Settings::kAuto, Settings::kDefaultAuto), true);
    QCOMPARE(store().readToggle(Settings::kOnTop, Settings::kDefaultOnTop), false);
    QCOMPARE(store().readToggle(Settings::kRunAtStart, Settings::kDefaultRunAtStart), false);
    QCOMPARE(store().readToggle(Settings::kSound, Settings::kDefaultSound), true);
    QCOMPARE(store().readToggle(Settings::kLinks, Settings::kDefaultLinks), false);
    QCOMPARE(store().readCount(Settings::kStopped, Settings::kDefaultStopped), 0);
    QCOMPARE(store().read(Settings::kState, Settings::kDefaultState), QString("up"));
    QCOMPARE(store().read(Settings::kShowHelp, Settings::kDefaultShowHelp), QString("1"));
    QVERIFY(!QFileInfo::exists(Paths::settingsFile())); // reading creates nothing
}

void TestSettingsStore::valuesRoundTrip()
{
    const QString list = "a.example\r\nb, c = d.example\r\n  \"quoted\"\r\n\u00e9t\u00e9.example\r\n";
    QVERIFY(store().write(Settings::kAllowed, list));
    QVERIFY(store().write(Settings::kSound, "0"));
    QVERIFY(store().write(Settings::kStopped, "123"));
    QVERIFY(store().write(Settings::kState, "down"));
    QCOMPARE(store().read(Settings::kAllowed, QString()), list);
    QVERIFY(!store().readToggle(Settings::kSound, true));
    QCOMPARE(store().readCount(Settings::kStopped, 0), 123);
    QCOMPARE(store().read(Settings::kState, "up"), QString("down"));
    store().write(Settings::kState, "up"); // overwritten, not added
    QCOMPARE(store().read(Settings::kState, "x"), QString("up"));
    // Options are stored as the digits the file has always held.
    QVERIFY(store().writeToggle(Settings::kLinks, true));
    QCOMPARE(store().read(Settings::kLinks, QString()), QString("1"));
    QVERIFY(store().readToggle(Settings::kLinks, false));
    QVERIFY(store().writeToggle(Settings::kLinks, false));
    QCOMPARE(store().read(Settings::kLinks, QString()), QString("0"));
    // A second store on the same file sees every write at once.
    QCOMPARE(SettingsStore().read(Settings::kState, "x"), QString("up"));
    // The private copies QSettings works on are gone once each read or write
    // is done, so a program killed between them leaves none behind, while
    // the store itself still lives.
    QVERIFY(!qEnvironmentVariable("XDG_RUNTIME_DIR").isEmpty());
    const QStringList left = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR"))
                                 .entryList({"wendral-settings-*"}, QDir::AllEntries | QDir::Hidden);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
}

void TestSettingsStore::writesReachTheFileAtOnce()
{
    store().write(Settings::kSound, "0");
    const QByteArray content = test::readFile(Paths::settingsFile());
    QVERIFY(content.contains("[Settings]"));
    QVERIFY(content.contains("chkSound=0"));
    QCOMPARE(Paths::settingsFile(), m_env->wendralConfigDir() + "/Wendral.conf");
}

void TestSettingsStore::unloadWritesNineValuesInOrder()
{
    QStringList order;
    QStringList values;
    store().setWriteObserver([&](const QString &key, const QString &value) {
        order << key;
        values << value;
    });
    Settings::UnloadSnapshot s;
    s.blockingEnabled = true;
    s.setupMode = false;
    s.alwaysOnTop = true;
    s.runAtStartup = false;
    s.allowLinkPopups = true;
    s.blockedCount = 77;
    s.allowedList = "a.example\r\n";
    s.disallowedList = "";
    s.state = "down";
    QVERIFY(store().saveOnUnload(s));
    QCOMPARE(order, (QStringList{"chkRunAtStart", "chkOnTop", "chkAuto", "chkStopPop", "intStopped", "strAllowed",
                                 "strDisallowed", "chkLinks", "state"}));
    QCOMPARE(values, (QStringList{"0", "1", "0", "1", "77", "a.example\r\n", "", "1", "down"}));
    // All nine are in the store; sound and help are not written at unload.
    QVERIFY(store().readToggle(Settings::kOnTop, false));
    QCOMPARE(store().readCount(Settings::kStopped, 0), 77);
    QCOMPARE(store().read(Settings::kDisallowed, "absent"), QString());
    QCOMPARE(store().read(Settings::kSound, "absent"), QString("absent"));
    QCOMPARE(store().read(Settings::kShowHelp, "absent"), QString("absent"));
}

void TestSettingsStore::largestCountReadsBackExactly()
{
    Settings::UnloadSnapshot s;
    s.blockedCount = kMaxCount;
    QVERIFY(store().saveOnUnload(s));
    QCOMPARE(store().read(Settings::kStopped, QString()), QString("2147483647"));
    QCOMPARE(store().readCount(Settings::kStopped, 0), kMaxCount);
}

void TestSettingsStore::oddToggles_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("def");
    QTest::addColumn<bool>("expected");
    QTest::newRow("word") << "chkStopPop" << true << true;
    QTest::newRow("empty") << "chkAuto" << true << true;
    QTest::newRow("wraps to 1 in 16 bits") << "chkOnTop" << false << false;
    QTest::newRow("2") << "chkRunAtStart" << false << false;
    QTest::newRow("minus zero") << "chkSound" << true << false;
    QTest::newRow("spaces around") << "chkLinks" << false << true;
    QTest::newRow("hex") << "toggleHex" << false << false;
    QTest::newRow("decimal point") << "toggleDecimal" << false << false;
    QTest::newRow("negative") << "toggleNegative" << false << false;
    QTest::newRow("comma list") << "toggleList" << false << false;
}

void TestSettingsStore::oddToggles()
{
    QFETCH(QString, key);
    QFETCH(bool, def);
    QFETCH(bool, expected);
    installConf("odd_values.conf");
    QCOMPARE(store().readToggle(key, def), expected);
}

void TestSettingsStore::oddCounts_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<qint32>("expected");
    QTest::newRow("just above the largest") << "intStopped" << kMaxCount;
    QTest::newRow("largest") << "countMax" << kMaxCount;
    QTest::newRow("padded") << "countPadded" << 42;
    QTest::newRow("plus sign") << "countPlus" << 7;
    QTest::newRow("negative") << "countNegative" << 0;
    QTest::newRow("below the smallest") << "countLowOverflow" << 0;
    QTest::newRow("would wrap to 1") << "countWraps" << kMaxCount;
    QTest::newRow("26 digits") << "countHuge" << kMaxCount;
    QTest::newRow("trailing letters") << "countTrailing" << 5;
    QTest::newRow("empty") << "countEmpty" << 5;
    QTest::newRow("decimal point") << "countDecimal" << 5;
    QTest::newRow("absent") << "countAbsent" << 5;
}

void TestSettingsStore::oddCounts()
{
    QFETCH(QString, key);
    QFETCH(qint32, expected);
    installConf("odd_values.conf");
    QCOMPARE(store().readCount(key, 5), expected);
}

void TestSettingsStore::textsAreReturnedAsStored()
{
    installConf("odd_values.conf");
    // The callers compare these exactly: only "up" and "1" count.
    QCOMPARE(store().read(Settings::kState, "up"), QString("UP"));
    QCOMPARE(store().read(Settings::kShowHelp, "1"), QString("01"));
    QCOMPARE(store().read("toggleList", QString()), QString("1,0"));
}

void TestSettingsStore::corruptFileStillReadsAndWrites()
{
    installConf("garbage.conf");
    QVERIFY(!store().readToggle(Settings::kStopPop, true));
    QCOMPARE(store().readCount(Settings::kStopped, 0), 17);
    QVERIFY(store().readToggle(Settings::kAuto, true));
    QVERIFY(store().write(Settings::kSound, "0"));
    QVERIFY(!store().readToggle(Settings::kSound, true));
    QCOMPARE(store().readCount(Settings::kStopped, 0), 17); // kept by the rewrite
}

void TestSettingsStore::settingsFileThatIsAFolder()
{
    QVERIFY(QDir().mkpath(Paths::settingsFile()));
    QVERIFY(store().readToggle(Settings::kStopPop, true));
    QVERIFY(!store().saveOnUnload(Settings::UnloadSnapshot{})); // reported, not thrown
    QVERIFY(!store().write(Settings::kSound, "0"));
    QVERIFY(store().readToggle(Settings::kSound, true));
    QVERIFY(QFileInfo(Paths::settingsFile()).isDir());
}

void TestSettingsStore::linkToARegularFileIsFollowed()
{
    // As a dotfile manager keeps it: the settings file is a link into a
    // folder of its own.
    const QString dotfiles = m_env->home() + "/dotfiles";
    QVERIFY(QDir().mkpath(dotfiles));
    QVERIFY(QDir().mkpath(Paths::configDir()));
    QVERIFY(test::writeFile(dotfiles + "/wendral.conf", "[Settings]\nchkSound=0\n"));
    QVERIFY(QFile::setPermissions(dotfiles + "/wendral.conf", QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(test::makeSymlink("../../dotfiles/wendral.conf", Paths::settingsFile()));
    QVERIFY(!store().readToggle(Settings::kSound, true));

    Settings::UnloadSnapshot s;
    s.blockedCount = 12;
    s.state = "down";
    QVERIFY(store().saveOnUnload(s));
    QVERIFY(store().write(Settings::kShowHelp, "0"));
    // The link is still the same link; its target holds the values and kept
    // its permissions.
    QCOMPARE(test::pathKind(Paths::settingsFile()).type, 'l');
    QCOMPARE(QFile::symLinkTarget(Paths::settingsFile()), dotfiles + "/wendral.conf");
    const QByteArray content = test::readFile(dotfiles + "/wendral.conf");
    QVERIFY(content.contains("intStopped=12"));
    QVERIFY(content.contains("chkSound=0"));
    QVERIFY(content.contains("showHelp=0"));
    struct stat target
    {
    };
    QCOMPARE(::stat(QFile::encodeName(dotfiles + "/wendral.conf").constData(), &target), 0);
    QCOMPARE(target.st_mode & 07777, mode_t(0600));
    QCOMPARE(QDir(dotfiles).entryList(QDir::Files | QDir::Hidden), QStringList{"wendral.conf"});
    QCOMPARE(SettingsStore().readCount(Settings::kStopped, 0), 12);
    QVERIFY(store().problem().isEmpty());
}

void TestSettingsStore::specialFilesAreNeverReadOrWritten_data()
{
    test::addSpecialFileRows();
}

void TestSettingsStore::specialFilesAreNeverReadOrWritten()
{
    QFETCH(QString, kind);
    QVERIFY(QDir().mkpath(Paths::configDir()));
    // Stands for /dev/zero or /dev/urandom: a node of the test's own.
    QString node;
    const test::Placed placed = test::placeSpecialFile(kind, Paths::settingsFile(), m_env->home() + "/node", &node);
    if (placed == test::Placed::NoDeviceNodes)
        QSKIP("device nodes cannot be made here");
    QVERIFY(placed == test::Placed::Done);
    const bool link = kind.contains("link");
    const test::PathKind before = test::pathKind(node);
    int told = 0;
    store().setProblemObserver([&told](const QString &) { ++told; });
    {
        test::FifoGuard guard(kind.contains("fifo") ? node : QString(), 3000);
        QCOMPARE(store().readToggle(Settings::kStopPop, true), true);
        QCOMPARE(store().readCount(Settings::kStopped, 3), 3);
        QCOMPARE(store().read(Settings::kState, "up"), QString("up"));
        QVERIFY(!store().write(Settings::kSound, "0"));
        QVERIFY(!store().saveOnUnload(Settings::UnloadSnapshot{}));
        QVERIFY(!guard.fired());
    }
    QCOMPARE(test::pathKind(node), before);
    if (link)
        QCOMPARE(test::pathKind(Paths::settingsFile()).type, 'l');
    QVERIFY2(store().problem().contains("not a regular file"), qPrintable(store().problem()));
    // Each failed write is told; the reads once until the problem changes.
    QCOMPARE(told, 3);
    QCOMPARE(store().read(Settings::kState, "up"), QString("up"));
    QCOMPARE(store().read(Settings::kState, "up"), QString("up"));
    QCOMPARE(told, 4);
    QCOMPARE(QDir(Paths::configDir()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"Wendral.conf"});
}

void TestSettingsStore::readOnlyFolderFailsAndSaysWhy()
{
    installConf("odd_values.conf");
    const QByteArray before = test::readFile(Paths::settingsFile());
    test::ReadOnlyFolder readOnly(Paths::configDir());
    QVERIFY(readOnly.isReadOnly());
    QStringList told;
    store().setProblemObserver([&told](const QString &m) { told << m; });
    Settings::UnloadSnapshot s;
    s.blockedCount = 99;
    QVERIFY(!store().saveOnUnload(s));
    QCOMPARE(told.size(), 1); // one save, one message
    QVERIFY2(told.first().contains("cannot be written"), qPrintable(told.first()));
    QVERIFY(told.first().contains(Paths::settingsFile()));
    QCOMPARE(store().problem(), told.first());
    QCOMPARE(test::readFile(Paths::settingsFile()), before);
    QCOMPARE(QDir(Paths::configDir()).entryList(QDir::Files | QDir::Hidden), QStringList{"Wendral.conf"});
    // Reading is not affected.
    QCOMPARE(store().readCount("countPadded", 0), 42);
}

void TestSettingsStore::unreadableFileIsNeverReplaced()
{
    installConf("odd_values.conf");
    const QByteArray before = test::readFile(Paths::settingsFile());
    QVERIFY(QFile::setPermissions(Paths::settingsFile(), QFile::WriteOwner));
    {
        test::PermissionsObeyed obeyed;
        QVERIFY(obeyed.isActive());
        QCOMPARE(store().readCount("countPadded", 5), 5);
        // Replacing it would lose every value the program could not see.
        QVERIFY(!store().write(Settings::kSound, "0"));
        QVERIFY2(store().problem().contains("cannot be read"), qPrintable(store().problem()));
    }
    QVERIFY(QFile::setPermissions(Paths::settingsFile(), QFile::WriteOwner | QFile::ReadOwner));
    QCOMPARE(test::readFile(Paths::settingsFile()), before);
}

void TestSettingsStore::oversizedFileIsNeitherReadNorReplaced()
{
    installConf("odd_values.conf");
    {
        QFile f(Paths::settingsFile());
        QVERIFY(f.resize(SettingsStore::kMaxFileBytes + 1)); // sparse
    }
    QCOMPARE(store().readCount("countPadded", 5), 5);
    QVERIFY(!store().write(Settings::kSound, "0"));
    QVERIFY(store().problem().contains("too large"));
    QCOMPARE(QFileInfo(Paths::settingsFile()).size(), SettingsStore::kMaxFileBytes + 1);
}

void TestSettingsStore::valuesAreBounded()
{
    // Toggles and counts longer than any number this program writes.
    const QString padded = QString(SettingsStore::kMaxNumberLength, QLatin1Char(' ')) + "1";
    QVERIFY(store().write(Settings::kSound, padded));
    QCOMPARE(store().readToggle(Settings::kSound, false), false);
    QVERIFY(store().write(Settings::kStopped, QString(SettingsStore::kMaxNumberLength, QLatin1Char('0')) + "7"));
    QCOMPARE(store().readCount(Settings::kStopped, 3), 3);
    QVERIFY(store().write(Settings::kStopped, QString(SettingsStore::kMaxNumberLength - 1, QLatin1Char('0')) + "7"));
    QCOMPARE(store().readCount(Settings::kStopped, 3), 7);

    // A value above the bound is not written at all.
    QVERIFY(!store().write(Settings::kState, QString(SettingsStore::kMaxValueLength + 1, QLatin1Char('x'))));
    QCOMPARE(store().read(Settings::kState, "absent"), QString("absent"));

    // List copies are cut after the last whole entry that fits.
    const QString entry = QStringLiteral("www.site-with-a-long-name.example\r\n"); // 35 characters
    const qsizetype fits = SettingsStore::kMaxListCopyLength / entry.size();
    Settings::UnloadSnapshot s;
    s.allowedList = entry.repeated(fits + 10);
    s.disallowedList = QString("\u00e9\u0001\r\n").repeated(SettingsStore::kMaxListCopyLength / 4);
    QVERIFY(store().saveOnUnload(s));
    QCOMPARE(store().read(Settings::kAllowed, QString()), entry.repeated(fits));
    QCOMPARE(store().read(Settings::kDisallowed, QString()), s.disallowedList);
    QVERIFY(QFileInfo(Paths::settingsFile()).size() <= SettingsStore::kMaxFileBytes);
}

void TestSettingsStore::writeKeepsHandEditedValues()
{
    // An unquoted list holding an escaped NUL: QSettings writes it back in a
    // form that it reads as a list of variants.
    QVERIFY(QDir().mkpath(Paths::configDir()));
    QVERIFY(test::writeFile(Paths::settingsFile(), "[Settings]\nstrAllowed=x\\0y,\nstate=down\n"));
    const QString list = QStringLiteral("x") + QChar(0) + QStringLiteral("y,");
    QCOMPARE(store().read(Settings::kAllowed, QString()), list);
    QVERIFY(store().write(Settings::kSound, "0"));
    QCOMPARE(store().read(Settings::kAllowed, QString()), list);
    QCOMPARE(SettingsStore().read(Settings::kAllowed, QString()), list);

    // A raw NUL and bytes that are not UTF-8 in an unquoted list read the
    // same after a write.
    const QByteArray raw("[Settings]\nstrAllowed=a\0\xff,b\nstate=down\n", 39);
    QVERIFY(test::writeFile(Paths::settingsFile(), raw));
    const QString before = store().read(Settings::kAllowed, QString());
    QVERIFY(before.startsWith(QStringLiteral("a") + QChar(0)));
    QVERIFY(store().write(Settings::kState, "up"));
    QCOMPARE(store().read(Settings::kAllowed, QString()), before);
    QCOMPARE(store().read(Settings::kState, QString()), QString("up"));
    QVERIFY(store().problem().isEmpty());
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
