// The registry store: keys, values and status codes through the handle calls,
// the hive file format, re-reading on change, damaged and hostile files, and
// atomic writes.

#include "core/paths.h"
#include "core/registry.h"
#include "support/specialfiles.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

using namespace wendral;

namespace {

QString hive()
{
    return RegistryStore::hiveFile(HKEY_LOCAL_MACHINE);
}

qint32 setValue(const QString &path, const QString &name, quint32 type, const QByteArray &data)
{
    HKEY key = 0;
    qint32 rc = regCreateKey(HKEY_LOCAL_MACHINE, path, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = regSetValueEx(key, name, 0, type, data);
    regCloseKey(key);
    return rc;
}

qint32 setText(const QString &path, const QString &name, const QString &text)
{
    return setValue(path, name, REG_SZ, text.toUtf8().append('\0'));
}

// The text of a stored string value, without its terminating NUL; a null
// string when the value is missing.
QString stored(const QString &path, const QString &name)
{
    const auto v = RegistryStore::value(HKEY_LOCAL_MACHINE, path, name);
    if (!v)
        return QString();
    QString text = RegistryStore::decodeString(v->data);
    if (text.endsWith(QChar(0)))
        text.chop(1);
    return text;
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QByteArray utf16leWithBom(const QString &text)
{
    QByteArray out("\xFF\xFE", 2);
    for (const QChar c : text) {
        char b[2];
        qToLittleEndian<quint16>(c.unicode(), b);
        out.append(b, 2);
    }
    return out;
}

const QByteArray kSoundStart = "Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Before]\r\n"
                               "\"Sound1\"=\"kept \\\"one\\\"\"\r\n"
                               "@=\"default before\"\r\n\r\n";
const QByteArray kSoundEnd = "\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\After]\r\n"
                             "\"Sound2\"=dword:0000002a\r\n"
                             "\"Bin\"=hex:01,02,03\r\n";

} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void keysAreCaseInsensitiveAndKeepTheirCase();
    void pathsAndHandles();
    void deletingKeys();
    void queryReportsTypeAndSize();
    void everyTypeSurvivesTheFile();
    void fileIsReadableRegeditText();
    void readsRegeditUtf16Export();
    void readsOlderAnsiFormat();
    void removalLines();
    void rereadsWhenTheFileChanges();
    void duplicates();
    void damagedFileIsReadAsFarAsSound_data();
    void damagedFileIsReadAsFarAsSound();
    void fiftyMegabyteLine();
    void unreadableHiveIsNeverReplaced();
    void specialHiveFilesAreNeverReadOrWritten_data();
    void specialHiveFilesAreNeverReadOrWritten();
    void hiveBehindALinkIsUpdatedInPlace();
    void readOnlyHiveGivesAccessDenied();
    void readOnlyFolderKeepsOldFile();
    void failedSaveKeepsOldFile();

private:
    std::unique_ptr<test::TestEnvironment> m_env;
};

void TestRegistry::init()
{
    RegistryStore::unloadAll();
    m_env = std::make_unique<test::TestEnvironment>();
    QVERIFY(m_env->isValid());
}

void TestRegistry::cleanup()
{
    // Leave folders writable again so the temporary tree can be removed.
    QFile::setPermissions(m_env->wendralConfigDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(RegistryStore::openHandleCount(), 0);
    RegistryStore::unloadAll();
    m_env.reset();
}

void TestRegistry::keysAreCaseInsensitiveAndKeepTheirCase()
{
    HKEY key = 0;
    quint32 disposition = 0;
    QCOMPARE(regCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Foo\\Bar", 0, {}, 0, KEY_ALL_ACCESS, &key, &disposition),
             ERROR_SUCCESS);
    QCOMPARE(disposition, REG_CREATED_NEW_KEY);
    regCloseKey(key);
    QCOMPARE(regCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\foo\\BAR", 0, {}, 0, KEY_ALL_ACCESS, &key, &disposition),
             ERROR_SUCCESS);
    QCOMPARE(disposition, REG_OPENED_EXISTING_KEY);
    QCOMPARE(regSetValueEx(key, "Exec", 0, REG_SZ, QByteArray("one", 4)), ERROR_SUCCESS);
    QCOMPARE(regSetValueEx(key, "Other", 0, REG_SZ, QByteArray("x", 2)), ERROR_SUCCESS);
    // Same value under another spelling: replaced in place, first spelling kept.
    QCOMPARE(regSetValueEx(key, "EXEC", 0, REG_SZ, QByteArray("two", 4)), ERROR_SUCCESS);
    regCloseKey(key);

    QCOMPARE(RegistryStore::subKeyNames(HKEY_LOCAL_MACHINE, "software"), QStringList{"Foo"});
    QCOMPARE(RegistryStore::valueNames(HKEY_LOCAL_MACHINE, "software\\foo\\bar"), (QStringList{"Exec", "Other"}));
    QCOMPARE(stored("Software\\Foo\\Bar", "exec"), QString("two"));

    // Hives are separate files.
    QVERIFY(!RegistryStore::keyExists(HKEY_CURRENT_USER, "Software\\Foo"));
    QVERIFY(QFile::exists(hive()));
    QVERIFY(!QFile::exists(RegistryStore::hiveFile(HKEY_CURRENT_USER)));
}

void TestRegistry::pathsAndHandles()
{
    HKEY key = 0;
    QCOMPARE(regCreateKey(HKEY_LOCAL_MACHINE, "\\Software\\X", &key), ERROR_BAD_PATHNAME);
    QCOMPARE(key, HKEY(0));
    QCOMPARE(regCreateKey(HKEY_LOCAL_MACHINE, "Software\\\\X", &key), ERROR_BAD_PATHNAME);
    QCOMPARE(regCreateKey(HKEY_LOCAL_MACHINE, "Software\\Bad\nName", &key), ERROR_INVALID_PARAMETER);
    QCOMPARE(regCreateKey(HKEY_LOCAL_MACHINE, QString(kMaxKeyNameLength + 1, 'k'), &key), ERROR_INVALID_PARAMETER);
    QCOMPARE(regCreateKey(0x80000009u, "Software", &key), ERROR_INVALID_HANDLE);
    QVERIFY(!QFile::exists(hive())); // nothing was written by refused calls

    // One trailing backslash is accepted.
    QCOMPARE(regCreateKey(HKEY_LOCAL_MACHINE, "Software\\X\\", &key), ERROR_SUCCESS);
    QVERIFY(RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "Software\\X"));

    // A subkey opened relative to an open handle.
    HKEY child = 0;
    QCOMPARE(regCreateKey(key, "Child", &child), ERROR_SUCCESS);
    QVERIFY(RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "Software\\X\\Child"));
    QCOMPARE(regCloseKey(child), ERROR_SUCCESS);
    QCOMPARE(regOpenKey(key, "Missing", &child), ERROR_FILE_NOT_FOUND);
    QCOMPARE(child, HKEY(0));

    // A handle whose key was deleted meanwhile.
    HKEY leaf = 0;
    QCOMPARE(regOpenKey(HKEY_LOCAL_MACHINE, "Software\\X\\Child", &leaf), ERROR_SUCCESS);
    QCOMPARE(regDeleteKey(HKEY_LOCAL_MACHINE, "Software\\X\\Child"), ERROR_SUCCESS);
    quint32 size = 0;
    QCOMPARE(regQueryValueEx(leaf, "", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    QCOMPARE(regSetValueEx(leaf, "v", 0, REG_SZ, QByteArray("a", 2)), ERROR_KEY_DELETED);
    QCOMPARE(regCloseKey(leaf), ERROR_SUCCESS);

    // Closed and made-up handles are refused, not crashed on.
    QCOMPARE(regCloseKey(key), ERROR_SUCCESS);
    QCOMPARE(regCloseKey(key), ERROR_INVALID_HANDLE);
    QCOMPARE(regSetValueEx(key, "v", 0, REG_SZ, QByteArray("a", 2)), ERROR_INVALID_HANDLE);
    QCOMPARE(regQueryValueEx(0, "v", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    QCOMPARE(regCloseKey(0), ERROR_INVALID_HANDLE);
}

void TestRegistry::deletingKeys()
{
    QCOMPARE(setText("A\\B\\C", "v", "1"), ERROR_SUCCESS);
    QCOMPARE(regDeleteKey(HKEY_LOCAL_MACHINE, "A\\B"), ERROR_ACCESS_DENIED); // has a subkey
    QVERIFY(RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "A\\B\\C"));
    QCOMPARE(regDeleteKey(HKEY_LOCAL_MACHINE, "a\\b\\c"), ERROR_SUCCESS); // values go with it
    QVERIFY(!RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "A\\B\\C"));
    QVERIFY(RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "A\\B"));
    QCOMPARE(regDeleteKey(HKEY_LOCAL_MACHINE, "A\\B\\C"), ERROR_FILE_NOT_FOUND);
    QCOMPARE(regDeleteKey(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED); // never the root
    HKEY key = 0;
    QCOMPARE(regOpenKey(HKEY_LOCAL_MACHINE, "A", &key), ERROR_SUCCESS);
    QCOMPARE(regDeleteValue(key, "missing"), ERROR_FILE_NOT_FOUND);
    regCloseKey(key);

    RegistryStore::unloadAll(); // the deletions reached the file
    QVERIFY(RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "A\\B"));
    QVERIFY(!RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "A\\B\\C"));
}

void TestRegistry::queryReportsTypeAndSize()
{
    const QString text = QStringLiteral("héllo €");
    QCOMPARE(setText("K", "s", text), ERROR_SUCCESS);
    QByteArray dword(4, '\0');
    qToLittleEndian<quint32>(0x12345678u, dword.data());
    QCOMPARE(setValue("K", "d", REG_DWORD, dword), ERROR_SUCCESS);

    HKEY key = 0;
    QCOMPARE(regOpenKey(HKEY_LOCAL_MACHINE, "K", &key), ERROR_SUCCESS);
    quint32 type = 0;
    quint32 size = 0;
    QCOMPARE(regQueryValueEx(key, "s", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    QCOMPARE(type, REG_SZ);
    const QByteArray expected = text.toUtf8().append('\0');
    QCOMPARE(size, quint32(expected.size()));

    QByteArray small(3, ' ');
    quint32 room = 3;
    QCOMPARE(regQueryValueEx(key, "s", nullptr, &type, small.data(), &room), ERROR_MORE_DATA);
    QCOMPARE(room, quint32(expected.size()));
    QCOMPARE(small, QByteArray("   ")); // untouched

    QByteArray buffer(size, ' ');
    room = size;
    QCOMPARE(regQueryValueEx(key, "s", nullptr, &type, buffer.data(), &room), ERROR_SUCCESS);
    QCOMPARE(buffer, expected);

    QCOMPARE(regQueryValueEx(key, "d", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    QCOMPARE(type, REG_DWORD);
    QCOMPARE(size, 4u);
    type = 99;
    QCOMPARE(regQueryValueEx(key, "missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    QCOMPARE(type, 99u); // a missing value leaves the type alone
    regCloseKey(key);
}

void TestRegistry::everyTypeSurvivesTheFile()
{
    struct Case
    {
        QString name;
        quint32 type;
        QByteArray raw; // what the store keeps
    };
    QByteArray binary;
    for (int i = 0; i < 300; ++i)
        binary.append(char(i * 7));
    QByteArray qword(8, '\0');
    qToLittleEndian<quint64>(0x0102030405060708ull, qword.data());
    QByteArray dword(4, '\0');
    qToLittleEndian<quint32>(42, dword.data());
    const QList<Case> cases = {
        {"", REG_SZ, RegistryStore::encodeString("the default")},
        {"Quote \"and\" back\\slash", REG_SZ, RegistryStore::encodeString("C:\\dir \"x\" \\\\ end\\")},
        {"Empty", REG_SZ, RegistryStore::encodeString("")},
        {"Lines", REG_SZ, RegistryStore::encodeString("one\r\ntwo\nthree\r")},
        {"Embedded NUL", REG_SZ, RegistryStore::encodeString(QString("A") + QChar(0) + "B")},
        {"No terminator", REG_SZ, QByteArray("A\0B\0", 4)},
        {"Unicode", REG_SZ, RegistryStore::encodeString(QStringLiteral("Grüße € 𝄞 ключ"))},
        {"Tabs\tin name", REG_SZ, RegistryStore::encodeString("\tx\t")},
        {"Expand", REG_EXPAND_SZ, RegistryStore::encodeString("%SystemRoot%\\x")},
        {"Multi", REG_MULTI_SZ, RegistryStore::encodeString(QString("a") + QChar(0) + "b" + QChar(0))},
        {"Dword", REG_DWORD, dword},
        {"Qword", REG_QWORD, qword},
        {"Binary", REG_BINARY, binary},
        {"EmptyBinary", REG_BINARY, {}},
        {"None", REG_NONE, QByteArray("\x01\x02", 2)},
        {"Odd string", REG_SZ, QByteArray("A\0B", 3)},
    };
    // String types go in through the ANSI call; the others as raw bytes.
    for (const Case &c : cases) {
        HKEY key = 0;
        QCOMPARE(regCreateKey(HKEY_LOCAL_MACHINE, "Types\\Sub key [1]", &key), ERROR_SUCCESS);
        QByteArray in = c.raw;
        if (c.type == REG_SZ || c.type == REG_EXPAND_SZ || c.type == REG_MULTI_SZ)
            in = RegistryStore::decodeString(c.raw).toUtf8();
        if (c.raw.size() % 2 == 0 || c.type != REG_SZ)
            QCOMPARE(regSetValueEx(key, c.name, 0, c.type, in), ERROR_SUCCESS);
        regCloseKey(key);
    }
    // An odd-length string cannot come through the text call; put it in the file.
    RegistryStore::unloadAll();
    QByteArray file = test::readFile(hive());
    file.append("\r\n[HKEY_LOCAL_MACHINE\\Types\\Sub key [1]]\r\n\"Odd string\"=hex(1):41,00,42\r\n");
    QVERIFY(test::writeFile(hive(), file));

    for (int round = 0; round < 2; ++round) {
        for (const Case &c : cases) {
            const auto v = RegistryStore::value(HKEY_LOCAL_MACHINE, "types\\sub key [1]", c.name);
            QVERIFY2(v.has_value(), qPrintable(c.name));
            QCOMPARE(v->name, c.name);
            QCOMPARE(v->type, c.type);
            QCOMPARE(v->data, c.raw);
        }
        // Rewrite the file from the tree, read it again: nothing changes.
        QVERIFY(RegistryStore::lastReport(HKEY_LOCAL_MACHINE).clean);
        QCOMPARE(setText("Other", "touch", QString::number(round)), ERROR_SUCCESS);
        RegistryStore::unloadAll();
    }
}

void TestRegistry::fileIsReadableRegeditText()
{
    QCOMPARE(setText("Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Wendral", "/opt/my app/wendral"), 0);
    QCOMPARE(setText("Software\\Q", "", "say \"hi\" C:\\"), 0);
    QByteArray dword(4, '\0');
    qToLittleEndian<quint32>(255, dword.data());
    QCOMPARE(setValue("Software\\Q", "n", REG_DWORD, dword), 0);
    QCOMPARE(setValue("Software\\Q", "b", REG_BINARY, QByteArray(100, '\xAB')), 0);
    QCOMPARE(setText("Software\\Q", "nl", "a\nb"), 0);
    const QByteArray content = test::readFile(hive());
    const QList<QByteArray> lines = content.split('\n');
    QCOMPARE(lines.first(), QByteArray("Windows Registry Editor Version 5.00\r"));
    QVERIFY(content.contains("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
                             "\"Wendral\"=\"/opt/my app/wendral\"\r\n"));
    QVERIFY(content.contains(
        "[HKEY_LOCAL_MACHINE\\Software\\Q]\r\n@=\"say \\\"hi\\\" C:\\\\\"\r\n\"n\"=dword:000000ff\r\n"));
    // Intermediate keys get their own sections, as in an export.
    QVERIFY(content.contains("[HKEY_LOCAL_MACHINE\\Software\\Microsoft]\r\n"));
    // Long hex data is wrapped with a backslash and a two-space indent.
    QVERIFY(content.contains("\"b\"=hex:ab,ab,"));
    QVERIFY(content.contains(",\\\r\n  ab,ab"));
    for (const QByteArray &line : lines)
        QVERIFY2(line.size() <= 81, line.constData());
    // A line break inside a string cannot stay in a quoted string.
    QVERIFY(content.contains("\"nl\"=hex(1):61,00,0a,00,62,00,00,00\r\n"));
}

void TestRegistry::readsRegeditUtf16Export()
{
    const QString text =
        QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE]\r\n"
                       "@=\"C:\\\\Program Files\\\\Internet Explorer\\\\IEXPLORE.EXE\"\r\n"
                       "\"Path\"=hex(2):25,00,50,00,72,00,6f,00,67,00,72,00,61,00,6d,00,46,00,69,00,6c,00,\\\r\n"
                       "  65,00,73,00,25,00,00,00\r\n"
                       "\"Wörter\"=\"Grüße\"\r\n"
                       "\"Flags\"=dword:00000001\r\n\r\n");
    test::writeFile(hive(), utf16leWithBom(text));
    const QString key = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE";
    QCOMPARE(stored(key, ""), QString("C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE"));
    const auto path = RegistryStore::value(HKEY_LOCAL_MACHINE, key, "Path");
    QVERIFY(path);
    QCOMPARE(path->type, REG_EXPAND_SZ);
    QCOMPARE(RegistryStore::decodeString(path->data), QString("%ProgramFiles%") + QChar(0));
    QCOMPARE(stored(key, "wörter"), QString("Grüße"));
    QVERIFY(RegistryStore::lastReport(HKEY_LOCAL_MACHINE).clean);
}

void TestRegistry::readsOlderAnsiFormat()
{
    test::writeFile(hive(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Old]\r\n\"e\"=hex(2):25,54,45,4d,50,25,00\r\n"
                            "\"s\"=\"plain\"\r\n");
    QCOMPARE(stored("Old", "e"), QString("%TEMP%"));
    QCOMPARE(stored("Old", "s"), QString("plain"));
    QVERIFY(RegistryStore::lastReport(HKEY_LOCAL_MACHINE).clean);
}

void TestRegistry::removalLines()
{
    // A file meant for importing may remove keys and values it set earlier.
    QVERIFY(test::writeFile(hive(), "Windows Registry Editor Version 5.00\r\n\r\n"
                                    "[HKEY_LOCAL_MACHINE\\A\\Gone]\r\n\"v\"=\"1\"\r\n"
                                    "[HKEY_LOCAL_MACHINE\\A]\r\n\"keep\"=\"1\"\r\n\"drop\"=\"2\"\r\n"
                                    "\"drop\"=-\r\n"
                                    "[-HKEY_LOCAL_MACHINE\\a\\gone]\r\n"
                                    "\"orphan\"=\"after a removal\"\r\n"));
    QCOMPARE(RegistryStore::valueNames(HKEY_LOCAL_MACHINE, "A"), QStringList{"keep"});
    QVERIFY(!RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "A\\Gone"));
    QVERIFY(!RegistryStore::lastReport(HKEY_LOCAL_MACHINE).clean); // the orphan value
}

void TestRegistry::rereadsWhenTheFileChanges()
{
    QCOMPARE(setText("K", "v", "mine"), ERROR_SUCCESS);
    QCOMPARE(stored("K", "v"), QString("mine"));
    // Another program rewrites the file (a longer file, same inode).
    QVERIFY(test::writeFile(hive(), "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n"
                                    "\"v\"=\"theirs, changed\"\r\n\"w\"=\"new\"\r\n"));
    QCOMPARE(stored("K", "v"), QString("theirs, changed"));
    // Our next write keeps what they added.
    QCOMPARE(setText("K", "x", "ours again"), ERROR_SUCCESS);
    RegistryStore::unloadAll();
    QCOMPARE(stored("K", "w"), QString("new"));
    QCOMPARE(stored("K", "x"), QString("ours again"));
    // The file removed: the hive is empty, not stale.
    QVERIFY(QFile::remove(hive()));
    QVERIFY(!RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "K"));
}

void TestRegistry::duplicates()
{
    // Repeated sections add up; a value given twice takes the later data, as
    // importing the file would. Identical repeats lose nothing.
    const QByteArray same = "Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\Dup]\r\n\"a\"=\"1\"\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\dup]\r\n\"b\"=\"2\"\r\n\"A\"=\"1\"\r\n";
    QVERIFY(test::writeFile(hive(), same));
    QCOMPARE(RegistryStore::valueNames(HKEY_LOCAL_MACHINE, "Dup"), (QStringList{"a", "b"}));
    QCOMPARE(RegistryStore::subKeyNames(HKEY_LOCAL_MACHINE, ""), QStringList{"Dup"});
    QVERIFY(RegistryStore::lastReport(HKEY_LOCAL_MACHINE).clean);
    QCOMPARE(setText("Dup", "c", "3"), ERROR_SUCCESS);
    QCOMPARE(filesIn(m_env->wendralConfigDir()), QStringList{"HKEY_LOCAL_MACHINE.reg"}); // no backup needed

    // Conflicting repeats: the later one wins, and the original is kept aside
    // before the first rewrite because the earlier data is not in the new file.
    const QByteArray conflicting = "Windows Registry Editor Version 5.00\r\n\r\n"
                                   "[HKEY_LOCAL_MACHINE\\Dup]\r\n\"a\"=\"first\"\r\n\r\n"
                                   "[HKEY_LOCAL_MACHINE\\Dup]\r\n\"a\"=\"second\"\r\n";
    QVERIFY(test::writeFile(hive(), conflicting));
    QCOMPARE(stored("Dup", "a"), QString("second"));
    QVERIFY(!RegistryStore::lastReport(HKEY_LOCAL_MACHINE).clean);
    QCOMPARE(setText("Dup", "c", "3"), ERROR_SUCCESS);
    const QStringList files = filesIn(m_env->wendralConfigDir());
    QCOMPARE(files.size(), 2);
    QVERIFY(files.at(1).startsWith("HKEY_LOCAL_MACHINE.reg.damaged-"));
    QCOMPARE(test::readFile(m_env->wendralConfigDir() + "/" + files.at(1)), conflicting);
}

void TestRegistry::damagedFileIsReadAsFarAsSound_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("afterKept"); // whether the part after the damage is still read

    QByteArray junk;
    QRandomGenerator rng(1234);
    for (int i = 0; i < 4096; ++i)
        junk.append(char(rng.bounded(256)));
    junk.replace('\r', 'x').replace('\n', 'x'); // keep it one line, whatever it holds

    QTest::newRow("binary junk line") << kSoundStart + junk + kSoundEnd << true;
    QTest::newRow("NUL bytes") << kSoundStart + QByteArray("\"Bad\"=\"a\0b\"", 11) + kSoundEnd << true;
    QTest::newRow("unfinished string") << kSoundStart + "\"Cut\"=\"no end" + kSoundEnd << true;
    QTest::newRow("unfinished name") << kSoundStart + "\"Cut=\"x\"" + kSoundEnd << true;
    QTest::newRow("broken hex") << kSoundStart + "\"H\"=hex:01,zz,03" + kSoundEnd << true;
    QTest::newRow("hex continuation cut off") << kSoundStart + "\"H\"=hex:01,02,\\\r\n" + kSoundEnd << true;
    QTest::newRow("bad dword") << kSoundStart + "\"D\"=dword:123456789" + kSoundEnd << true;
    QTest::newRow("unknown value form") << kSoundStart + "\"U\"=maybe" + kSoundEnd << true;
    QTest::newRow("unfinished section") << kSoundStart + "[HKEY_LOCAL_MACHINE\\Half\r\n\"x\"=\"y\"" + kSoundEnd << true;
    QTest::newRow("unknown root") << kSoundStart + "[HKEY_NOWHERE\\X]\r\n\"x\"=\"y\"" + kSoundEnd << true;
    QTest::newRow("other root") << kSoundStart + "[HKEY_CURRENT_USER\\X]\r\n\"x\"=\"y\"" + kSoundEnd << true;
    QTest::newRow("empty path part") << kSoundStart + "[HKEY_LOCAL_MACHINE\\a\\\\b]\r\n\"x\"=\"y\"" + kSoundEnd << true;
    QTest::newRow("key name too long") << kSoundStart + "[HKEY_LOCAL_MACHINE\\" + QByteArray(300, 'k') +
                                              "]\r\n\"x\"=\"y\"" + kSoundEnd
                                       << true;
    QByteArray deep = "[HKEY_LOCAL_MACHINE";
    for (int i = 0; i < 100000; ++i)
        deep += "\\d";
    QTest::newRow("key too deep") << kSoundStart + deep + "]\r\n\"x\"=\"y\"" + kSoundEnd << true;
    QTest::newRow("root removal") << kSoundStart + "[-HKEY_LOCAL_MACHINE]" + kSoundEnd << true;
    QTest::newRow("missing header") << kSoundStart.mid(kSoundStart.indexOf('[')) + kSoundEnd << true;
    QTest::newRow("latin-1 line") << kSoundStart + "\"L\"=\"caf\xE9\"" + kSoundEnd << true;
    QTest::newRow("truncated in a string") << kSoundStart + "[HKEY_LOCAL_MACHINE\\Software\\After]\r\n\"Sou" << false;
    QTest::newRow("truncated after a continuation")
        << kSoundStart + "[HKEY_LOCAL_MACHINE\\Software\\After]\r\n\"Bin\"=hex:01,\\" << false;
    QTest::newRow("utf-16 cut in a character")
        << utf16leWithBom(QString::fromUtf8(kSoundStart)).append('\x41') << false;
}

void TestRegistry::damagedFileIsReadAsFarAsSound()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, afterKept);
    QVERIFY(test::writeFile(hive(), content));

    QCOMPARE(stored("Software\\Before", "Sound1"), QString("kept \"one\""));
    QCOMPARE(stored("Software\\Before", ""), QString("default before"));
    if (afterKept) {
        const auto v = RegistryStore::value(HKEY_LOCAL_MACHINE, "Software\\After", "Sound2");
        QVERIFY(v);
        QCOMPARE(v->type, REG_DWORD);
        QCOMPARE(qFromLittleEndian<quint32>(v->data.constData()), 42u);
        QCOMPARE(RegistryStore::value(HKEY_LOCAL_MACHINE, "Software\\After", "Bin")->data, QByteArray("\1\2\3"));
    }
    const RegParseReport report = RegistryStore::lastReport(HKEY_LOCAL_MACHINE);
    QVERIFY(!report.clean);
    QVERIFY(!report.problems.isEmpty());
    // Nothing is written while the program only reads.
    QCOMPARE(test::readFile(hive()), content);

    // The first write keeps the damaged original beside the new file.
    QCOMPARE(setText("Software\\New", "v", "written"), ERROR_SUCCESS);
    const QStringList files = filesIn(m_env->wendralConfigDir());
    QCOMPARE(files.size(), 2);
    QCOMPARE(files.at(0), QString("HKEY_LOCAL_MACHINE.reg"));
    QVERIFY(files.at(1).startsWith("HKEY_LOCAL_MACHINE.reg.damaged-"));
    QCOMPARE(test::readFile(m_env->wendralConfigDir() + "/" + files.at(1)), content);

    // The new file is clean and holds the sound values and the new one.
    RegistryStore::unloadAll();
    QCOMPARE(stored("Software\\Before", "Sound1"), QString("kept \"one\""));
    QCOMPARE(stored("Software\\New", "v"), QString("written"));
    if (afterKept)
        QVERIFY(RegistryStore::value(HKEY_LOCAL_MACHINE, "Software\\After", "Sound2"));
    QVERIFY(RegistryStore::lastReport(HKEY_LOCAL_MACHINE).clean);
    // Later writes need no further copy.
    QCOMPARE(setText("Software\\New", "v", "again"), ERROR_SUCCESS);
    QCOMPARE(filesIn(m_env->wendralConfigDir()).size(), 2);
}

void TestRegistry::fiftyMegabyteLine()
{
    const qint64 lineSize = 50ll * 1024 * 1024;
    {
        QFile f(hive());
        QDir().mkpath(m_env->wendralConfigDir());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kSoundStart);
        const QByteArray chunk(1024 * 1024, 'x');
        f.write("\"Huge\"=\"");
        for (qint64 written = 0; written < lineSize; written += chunk.size())
            f.write(chunk); // never closed: the line just goes on
        f.write(kSoundEnd);
    }
    const qint64 originalSize = QFileInfo(hive()).size();
    QVERIFY(originalSize > lineSize);

    QCOMPARE(stored("Software\\Before", "Sound1"), QString("kept \"one\""));
    QVERIFY(RegistryStore::value(HKEY_LOCAL_MACHINE, "Software\\After", "Sound2"));
    QVERIFY(!RegistryStore::value(HKEY_LOCAL_MACHINE, "Software\\Before", "Huge"));
    QVERIFY(!RegistryStore::lastReport(HKEY_LOCAL_MACHINE).clean);

    QCOMPARE(setText("Software\\New", "v", "1"), ERROR_SUCCESS);
    const QStringList files = filesIn(m_env->wendralConfigDir());
    QCOMPARE(files.size(), 2);
    QCOMPARE(QFileInfo(m_env->wendralConfigDir() + "/" + files.at(1)).size(), originalSize);
    QVERIFY(QFileInfo(hive()).size() < 4096);
    QFile::remove(m_env->wendralConfigDir() + "/" + files.at(1));
    RegistryStore::unloadAll();
}

void TestRegistry::unreadableHiveIsNeverReplaced()
{
    // A folder where the hive file should be: nothing to read, nothing written.
    QVERIFY(QDir().mkpath(hive()));
    QVERIFY(!RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "Software"));
    HKEY key = 0;
    QCOMPARE(regCreateKey(HKEY_LOCAL_MACHINE, "Software", &key), ERROR_ACCESS_DENIED);
    QCOMPARE(regOpenKeyEx(HKEY_LOCAL_MACHINE, "", 0, KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);
    QCOMPARE(regOpenKeyEx(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &key), ERROR_SUCCESS);
    QCOMPARE(regSetValueEx(key, "v", 0, REG_SZ, QByteArray("x", 2)), ERROR_ACCESS_DENIED);
    regCloseKey(key);
    QVERIFY(QFileInfo(hive()).isDir());
    QVERIFY(!RegistryStore::lastReport(HKEY_LOCAL_MACHINE).clean);
}

void TestRegistry::specialHiveFilesAreNeverReadOrWritten_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("fifo") << "fifo";
    QTest::newRow("link to a device node") << "link to device";
}

void TestRegistry::specialHiveFilesAreNeverReadOrWritten()
{
    QFETCH(QString, kind);
    QVERIFY(QDir().mkpath(m_env->wendralConfigDir()));
    QString special;
    const test::Placed placed = test::placeSpecialFile(kind, hive(), m_env->home() + "/node", &special);
    if (placed == test::Placed::NoDeviceNodes)
        QSKIP("device nodes cannot be made here");
    QVERIFY(placed == test::Placed::Done);
    const test::PathKind before = test::pathKind(special);
    const test::PathKind hiveBefore = test::pathKind(hive());
    {
        test::FifoGuard guard(kind == "fifo" ? hive() : QString());
        QVERIFY(!RegistryStore::keyExists(HKEY_LOCAL_MACHINE, "Software"));
        QCOMPARE(setText("Software\\K", "v", "x"), ERROR_ACCESS_DENIED);
        QVERIFY(!guard.fired());
    }
    QVERIFY(RegistryStore::lastReport(HKEY_LOCAL_MACHINE).problems.join(' ').contains("not a regular file"));
    QCOMPARE(test::pathKind(special), before);
    // The link stays a link to the same node, and nothing (no backup, no
    // temporary file) appears beside it.
    QCOMPARE(test::pathKind(hive()), hiveBefore);
    const QStringList left = filesIn(m_env->wendralConfigDir());
    QCOMPARE(left, kind == "fifo" ? QStringList() : QStringList{"HKEY_LOCAL_MACHINE.reg"});
}

void TestRegistry::hiveBehindALinkIsUpdatedInPlace()
{
    QVERIFY(QDir().mkpath(m_env->wendralConfigDir()));
    const QString target = m_env->home() + "/kept.reg";
    QVERIFY(test::writeFile(target, kSoundStart));
    QVERIFY(test::makeSymlink(target, hive()));
    QCOMPARE(setText("Software\\K", "v", "through the link"), ERROR_SUCCESS);
    QCOMPARE(test::pathKind(hive()).type, 'l');
    QVERIFY(test::readFile(target).contains("through the link"));
    RegistryStore::unloadAll();
    QCOMPARE(stored("Software\\Before", "Sound1"), QString("kept \"one\""));
}

void TestRegistry::readOnlyHiveGivesAccessDenied()
{
    QCOMPARE(setText("Software\\K", "v", "old"), ERROR_SUCCESS);
    const QByteArray before = test::readFile(hive());
    QVERIFY(QFile::setPermissions(hive(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    HKEY key = 0;
    QCOMPARE(regOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\K", 0, KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);
    QCOMPARE(regOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\K", 0, KEY_READ, &key), ERROR_SUCCESS);
    quint32 size = 0;
    QCOMPARE(regQueryValueEx(key, "v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    QCOMPARE(regSetValueEx(key, "v", 0, REG_SZ, QByteArray("new", 4)), ERROR_ACCESS_DENIED);
    regCloseKey(key);
    // The plain open gets what the hive allows: reading only.
    QCOMPARE(regOpenKey(HKEY_LOCAL_MACHINE, "Software\\K", &key), ERROR_SUCCESS);
    QCOMPARE(regDeleteValue(key, "v"), ERROR_ACCESS_DENIED);
    regCloseKey(key);
    QCOMPARE(regCreateKey(HKEY_LOCAL_MACHINE, "Software\\K\\New", &key), ERROR_ACCESS_DENIED);
    QCOMPARE(regDeleteKey(HKEY_LOCAL_MACHINE, "Software\\K"), ERROR_ACCESS_DENIED);
    QCOMPARE(test::readFile(hive()), before);
    QCOMPARE(stored("Software\\K", "v"), QString("old"));
}

void TestRegistry::readOnlyFolderKeepsOldFile()
{
    QCOMPARE(setText("Software\\K", "v", "old"), ERROR_SUCCESS);
    const QByteArray before = test::readFile(hive());
    QVERIFY(QFile::setPermissions(m_env->wendralConfigDir(), QFile::ReadOwner | QFile::ExeOwner));
    QCOMPARE(setText("Software\\K", "v", "new"), ERROR_ACCESS_DENIED);
    QCOMPARE(test::readFile(hive()), before);
    QCOMPARE(stored("Software\\K", "v"), QString("old"));
    QCOMPARE(filesIn(m_env->wendralConfigDir()), QStringList{"HKEY_LOCAL_MACHINE.reg"});
}

void TestRegistry::failedSaveKeepsOldFile()
{
    // The disk refuses the new content half-way (a file size limit works even
    // for the superuser): the old file stays whole and the store shows it.
    QCOMPARE(setText("Software\\K", "v", "old"), ERROR_SUCCESS);
    const QByteArray before = test::readFile(hive());
    const QString big(4000, 'n');

    struct rlimit old;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 1000;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const qint32 rc = setText("Software\\K", "v", big);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(rc, ERROR_WRITE_FAULT);
    QCOMPARE(test::readFile(hive()), before);
    QCOMPARE(stored("Software\\K", "v"), QString("old"));
    QCOMPARE(filesIn(m_env->wendralConfigDir()), QStringList{"HKEY_LOCAL_MACHINE.reg"});
    // And the next write goes through.
    QCOMPARE(setText("Software\\K", "v", big), ERROR_SUCCESS);
    RegistryStore::unloadAll();
    QCOMPARE(stored("Software\\K", "v"), big);
}

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_registry.moc"
