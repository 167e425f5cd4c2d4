#include "core/registry.h"

#include "core/paths.h"
#include "core/regularfile.h"
#include "core/textfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace wendral {

// --- The key tree -------------------------------------------------------------

RegKey *RegKey::subKey(const QString &name) const
{
    const auto it = subKeys.find(name.toCaseFolded());
    return it == subKeys.end() ? nullptr : it->second.get();
}

RegKey *RegKey::ensureSubKey(const QString &name)
{
    auto &slot = subKeys[name.toCaseFolded()];
    if (!slot) {
        slot = std::make_unique<RegKey>();
        slot->name = name;
    }
    return slot.get();
}

const RegValue *RegKey::value(const QString &name) const
{
    const auto it = values.constFind(name.toCaseFolded());
    return it == values.constEnd() ? nullptr : &it.value();
}

bool RegKey::setValue(const QString &name, quint32 type, const QByteArray &data)
{
    const QString folded = name.toCaseFolded();
    auto it = values.find(folded);
    if (it == values.end()) {
        values.insert(folded, RegValue{name, type, data, nextOrder++});
        return false;
    }
    const bool differs = it->type != type || it->data != data;
    it->type = type;
    it->data = data;
    return differs;
}

bool RegKey::removeValue(const QString &name)
{
    return values.remove(name.toCaseFolded()) > 0;
}

QList<const RegValue *> RegKey::orderedValues() const
{
    QList<const RegValue *> list;
    list.reserve(values.size());
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        list.append(&it.value());
    std::sort(list.begin(), list.end(), [](const RegValue *a, const RegValue *b) { return a->order < b->order; });
    return list;
}

namespace {

constexpr int kMaxProblems = 50;

bool isStringType(quint32 type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

QByteArray toUtf16le(const QString &text)
{
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), out.data() + 2 * i);
    return out;
}

// Splits a key path into its parts. One trailing backslash is allowed (as the
// platform allows it); a leading one or an empty part in the middle is not.
qint32 splitPath(const QString &path, QStringList *parts)
{
    parts->clear();
    if (path.isEmpty())
        return ERROR_SUCCESS;
    QString p = path;
    if (p.startsWith(QLatin1Char('\\')))
        return ERROR_BAD_PATHNAME;
    if (p.endsWith(QLatin1Char('\\')))
        p.chop(1);
    *parts = p.split(QLatin1Char('\\'));
    if (parts->size() > kMaxKeyDepth)
        return ERROR_INVALID_PARAMETER;
    for (const QString &part : std::as_const(*parts)) {
        if (part.isEmpty())
            return ERROR_BAD_PATHNAME;
        if (part.size() > kMaxKeyNameLength)
            return ERROR_INVALID_PARAMETER;
        for (const QChar c : part) {
            // Names that the hive file could not carry on one line.
            if (c == QChar(0) || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
                return ERROR_INVALID_PARAMETER;
        }
    }
    return ERROR_SUCCESS;
}

bool validValueName(const QString &name)
{
    if (name.size() > kMaxValueNameLength)
        return false;
    for (const QChar c : name) {
        if (c == QChar(0) || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            return false;
    }
    return true;
}

RegKey *findKey(RegKey &tree, const QStringList &path)
{
    RegKey *node = &tree;
    for (const QString &part : path) {
        node = node->subKey(part);
        if (!node)
            return nullptr;
    }
    return node;
}

// --- Hive files ---------------------------------------------------------------

struct Fingerprint
{
    bool exists = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 mtimeSec = 0;
    qint64 mtimeNsec = 0;
    qint64 ctimeSec = 0;
    qint64 ctimeNsec = 0;
    bool operator==(const Fingerprint &) const = default;
};

Fingerprint fingerprintOf(const QString &file)
{
    Fingerprint fp;
    struct stat st;
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return fp;
    fp.exists = true;
    fp.device = st.st_dev;
    fp.inode = st.st_ino;
    fp.size = st.st_size;
    fp.mtimeSec = st.st_mtim.tv_sec;
    fp.mtimeNsec = st.st_mtim.tv_nsec;
    fp.ctimeSec = st.st_ctim.tv_sec;
    fp.ctimeNsec = st.st_ctim.tv_nsec;
    return fp;
}

// Whether the program may change a file or create files in a folder. The
// superuser passes every permission check, so for it a path without any write
// bit counts as read-only too: a hive someone marked read-only stays untouched.
bool pathWritable(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::access(native.constData(), W_OK) != 0)
        return false;
    if (::geteuid() == 0) {
        struct stat st;
        if (::stat(native.constData(), &st) != 0)
            return false;
        return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    }
    return true;
}

struct Hive
{
    HKEY root = 0;
    QString file;
    bool loaded = false;
    bool clean = true;    // the file on disk says exactly what the tree holds
    bool readable = true; // the file could be opened (or does not exist)
    Fingerprint fingerprint;
    RegKey tree;
    RegParseReport report;
};

struct Handle
{
    HKEY root = 0;
    QStringList path;
    bool canWrite = false;
};

struct Store
{
    std::map<QString, Hive> hives; // by file path: the config folder may change
    std::map<HKEY, Handle> handles;
    HKEY nextHandle = 0x1000;
};

// One store for the process, as the registry is one for the machine: open
// handles must be valid wherever they are passed, and every caller must see
// the same cached hives.
Store &store()
{
    static Store s;
    return s;
}

bool isRoot(HKEY key)
{
    return !RegistryStore::rootName(key).isEmpty();
}

// Hive files are small; a larger one is no hive this program wrote (a damaged
// one of some tens of megabytes is still read as far as it is sound).
constexpr qint64 kMaxHiveBytes = 64 * 1024 * 1024;

void loadHive(Hive &hive)
{
    hive.tree = RegKey();
    hive.report = RegParseReport();
    hive.clean = true;
    hive.readable = true;
    hive.fingerprint = fingerprintOf(hive.file);
    hive.loaded = true;
    // Only a regular file is read (a FIFO would hang the program, a device
    // flood it); anything else, like a file that cannot be read, is never
    // replaced either.
    const RegularFile::ReadResult r = RegularFile::read(hive.file, kMaxHiveBytes);
    if (r.status == RegularFile::Status::Missing)
        return;
    if (r.status != RegularFile::Status::Ok) {
        hive.readable = false;
        hive.clean = false;
        hive.report.clean = false;
        hive.report.problems << RegularFile::describe(r.status, r.error, hive.file);
        return;
    }
    hive.report = RegistryStore::parse(r.content, hive.root, hive.tree);
    hive.clean = hive.report.clean;
}

Hive &hiveFor(HKEY root)
{
    const QString file = RegistryStore::hiveFile(root);
    Hive &hive = store().hives[file];
    if (hive.file.isEmpty()) {
        hive.file = file;
        hive.root = root;
    }
    if (!hive.loaded || fingerprintOf(file) != hive.fingerprint)
        loadHive(hive);
    return hive;
}

bool hiveWritable(const Hive &hive)
{
    if (!hive.readable)
        return false; // never replace what could not be read
    const QFileInfo info(hive.file);
    if (hive.fingerprint.exists)
        return pathWritable(hive.file) && pathWritable(info.absolutePath());
    // The folder may not exist yet: the nearest existing ancestor decides.
    QString dir = info.absolutePath();
    while (!QFileInfo::exists(dir)) {
        const QString up = QFileInfo(dir).absolutePath();
        if (up == dir)
            return false;
        dir = up;
    }
    return QFileInfo(dir).isDir() && pathWritable(dir);
}

QString backupName(const QString &file)
{
    const QString base =
        file + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    return name;
}

// Writes the hive's tree to its file. On failure the tree is thrown away, so the
// next access reads the file again and the store shows what really is on disk.
qint32 commitHive(Hive &hive)
{
    const QByteArray content = RegistryStore::serialize(hive.root, hive.tree);
    auto fail = [&hive]() {
        hive.loaded = false;
        hive.tree = RegKey();
        return ERROR_WRITE_FAULT;
    };
    if (!QDir().mkpath(QFileInfo(hive.file).absolutePath()))
        return fail();
    if (!hive.clean && hive.fingerprint.exists) {
        // What could not be read must survive: keep the damaged original.
        if (!QFile::copy(hive.file, backupName(hive.file)))
            return fail();
    }
    // Replaced atomically; through a link only when it leads to a regular file.
    if (RegularFile::replace(hive.file, content).status != RegularFile::Status::Ok)
        return fail();
    hive.clean = true;
    hive.fingerprint = fingerprintOf(hive.file);
    return ERROR_SUCCESS;
}

// The key a handle names and what it may do.
struct Target
{
    HKEY root = 0;
    QStringList path;
    bool canWrite = false;
};

qint32 lookupHandle(HKEY key, Target *target)
{
    if (isRoot(key)) {
        target->root = key;
        target->path.clear();
        target->canWrite = hiveWritable(hiveFor(key));
        return ERROR_SUCCESS;
    }
    const auto it = store().handles.find(key);
    if (it == store().handles.end())
        return ERROR_INVALID_HANDLE;
    target->root = it->second.root;
    target->path = it->second.path;
    target->canWrite = it->second.canWrite;
    return ERROR_SUCCESS;
}

HKEY newHandle(HKEY root, const QStringList &path, bool canWrite)
{
    Store &s = store();
    while (s.handles.count(s.nextHandle) || isRoot(s.nextHandle) || s.nextHandle == 0)
        s.nextHandle += 4;
    const HKEY h = s.nextHandle;
    s.nextHandle += 4;
    s.handles[h] = Handle{root, path, canWrite};
    return h;
}

bool asksForWrite(quint32 access)
{
    constexpr quint32 writeBits =
        KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x10000 /*DELETE*/ | 0x40000 /*WRITE_DAC*/ | 0x80000 /*WRITE_OWNER*/;
    return (access & writeBits) != 0;
}

// The common start of opening and creating a key: the handle it hangs from,
// the full path of the subkey and its hive, or the status that stops the call.
qint32 resolveSubKey(HKEY key, const QString &subKey, HKEY *result, Target *base, QStringList *full, Hive **hive)
{
    if (result)
        *result = 0;
    if (!result)
        return ERROR_INVALID_PARAMETER;
    if (const qint32 rc = lookupHandle(key, base); rc != ERROR_SUCCESS)
        return rc;
    QStringList parts;
    if (const qint32 rc = splitPath(subKey, &parts); rc != ERROR_SUCCESS)
        return rc;
    *hive = &hiveFor(base->root);
    if (!findKey((*hive)->tree, base->path))
        return ERROR_KEY_DELETED;
    *full = base->path + parts;
    return ERROR_SUCCESS;
}

qint32 openKey(HKEY key, const QString &subKey, std::optional<quint32> access, HKEY *result)
{
    Target base;
    QStringList full;
    Hive *hivePtr = nullptr;
    if (const qint32 rc = resolveSubKey(key, subKey, result, &base, &full, &hivePtr); rc != ERROR_SUCCESS)
        return rc;
    Hive &hive = *hivePtr;
    if (!findKey(hive.tree, full))
        return ERROR_FILE_NOT_FOUND;
    const bool writable = hiveWritable(hive);
    bool canWrite = writable;
    if (access) {
        if (asksForWrite(*access) && !writable)
            return ERROR_ACCESS_DENIED;
        canWrite = asksForWrite(*access);
    }
    *result = newHandle(base.root, full, canWrite);
    return ERROR_SUCCESS;
}

qint32 createKey(HKEY key, const QString &subKey, std::optional<quint32> access, HKEY *result, quint32 *disposition)
{
    Target base;
    QStringList full;
    Hive *hivePtr = nullptr;
    if (const qint32 rc = resolveSubKey(key, subKey, result, &base, &full, &hivePtr); rc != ERROR_SUCCESS)
        return rc;
    Hive &hive = *hivePtr;
    const bool writable = hiveWritable(hive);
    if (access && asksForWrite(*access) && !writable)
        return ERROR_ACCESS_DENIED;
    const bool canWrite = access ? asksForWrite(*access) : writable;
    if (findKey(hive.tree, full)) {
        if (disposition)
            *disposition = REG_OPENED_EXISTING_KEY;
        *result = newHandle(base.root, full, canWrite);
        return ERROR_SUCCESS;
    }
    if (!writable)
        return ERROR_ACCESS_DENIED;
    RegKey *node = &hive.tree;
    for (const QString &part : full)
        node = node->ensureSubKey(part);
    if (const qint32 rc = commitHive(hive); rc != ERROR_SUCCESS)
        return rc;
    if (disposition)
        *disposition = REG_CREATED_NEW_KEY;
    *result = newHandle(base.root, full, canWrite);
    return ERROR_SUCCESS;
}

// The bytes a caller of the handle-based calls sees for a stored value (UTF-8 text).
QByteArray callerBytes(const RegValue &v)
{
    if (isStringType(v.type))
        return RegistryStore::decodeString(v.data).toUtf8();
    return v.data;
}

QString hex2(quint8 byte)
{
    static const char digits[] = "0123456789abcdef";
    QString s(2, Qt::Uninitialized);
    s[0] = QLatin1Char(digits[byte >> 4]);
    s[1] = QLatin1Char(digits[byte & 0xF]);
    return s;
}

// --- Reading the exported format ----------------------------------------------

struct Parser
{
    HKEY root;
    RegKey &tree;
    RegParseReport report;
    bool ansi = false; // "REGEDIT4": typed string data is in the ANSI code page
    int hiddenProblems = 0;

    void problem(qsizetype line, const QString &what)
    {
        report.clean = false;
        if (report.problems.size() < kMaxProblems)
            report.problems << QStringLiteral("line %1: %2").arg(line + 1).arg(what);
        else
            ++hiddenProblems;
    }
};

// Splits decoded text at CR LF, LF or CR.
QList<QStringView> splitTextLines(QStringView text)
{
    QList<QStringView> lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines.append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

// Reads a quoted field starting at text[pos] == '"'. Returns the position after
// the closing quote, or -1 when the field does not end on this line.
qsizetype readQuoted(QStringView text, qsizetype pos, QString *out)
{
    out->clear();
    for (qsizetype i = pos + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('"'))
            return i + 1;
        if (c == QLatin1Char('\\') && i + 1 < text.size() &&
            (text[i + 1] == QLatin1Char('\\') || text[i + 1] == QLatin1Char('"'))) {
            out->append(text[i + 1]);
            ++i;
            continue;
        }
        out->append(c);
    }
    return -1;
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

bool isHexDigit(QChar c)
{
    return hexValue(c) >= 0;
}

bool parseHexBytes(QStringView list, QByteArray *out)
{
    out->clear();
    const QStringView trimmed = list.trimmed();
    if (trimmed.isEmpty())
        return true;
    out->reserve(trimmed.size() / 3 + 1);
    qsizetype i = 0;
    const qsizetype n = trimmed.size();
    while (i < n) {
        while (i < n && trimmed[i].isSpace())
            ++i;
        int digits = 0;
        uint byte = 0;
        while (i < n && isHexDigit(trimmed[i])) {
            if (++digits > 2)
                return false;
            byte = byte * 16 + static_cast<uint>(hexValue(trimmed[i]));
            ++i;
        }
        if (digits == 0)
            return false;
        out->append(static_cast<char>(byte));
        while (i < n && trimmed[i].isSpace())
            ++i;
        if (i == n)
            break;
        if (trimmed[i] != QLatin1Char(','))
            return false;
        ++i;
        if (i == n)
            return false; // a trailing comma: the list was cut short
    }
    return true;
}

const QString kHeader5 = QStringLiteral("Windows Registry Editor Version 5.00");
const QString kHeader4 = QStringLiteral("REGEDIT4");

HKEY rootByName(QStringView name)
{
    for (HKEY r : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS}) {
        if (name.compare(RegistryStore::rootName(r), Qt::CaseInsensitive) == 0)
            return r;
    }
    return 0;
}

void parseLines(Parser &p, const QList<QStringView> &lines)
{
    RegKey *current = nullptr;
    bool sawHeader = false;
    bool sawContent = false;
    const qsizetype count = lines.size();
    for (qsizetype i = 0; i < count; ++i) {
        const QStringView t = lines[i].trimmed();
        if (t.isEmpty() || t.startsWith(QLatin1Char(';')))
            continue;
        if (t.contains(QChar(0))) {
            p.problem(i, QStringLiteral("binary data skipped"));
            continue;
        }
        if (t == kHeader5 || t == kHeader4) {
            if (!sawContent) {
                sawHeader = true;
                p.ansi = (t == kHeader4);
            }
            continue;
        }
        if (!sawHeader && !sawContent)
            p.problem(i, QStringLiteral("the file does not begin with the registry editor's header"));
        sawContent = true;

        if (t.startsWith(QLatin1Char('['))) {
            current = nullptr;
            if (!t.endsWith(QLatin1Char(']')) || t.size() < 2) {
                p.problem(i, QStringLiteral("unfinished key line skipped"));
                continue;
            }
            QStringView inner = t.mid(1, t.size() - 2);
            const bool remove = inner.startsWith(QLatin1Char('-'));
            if (remove)
                inner = inner.mid(1);
            const qsizetype slash = inner.indexOf(QLatin1Char('\\'));
            const QStringView rootPart = slash < 0 ? inner : inner.left(slash);
            const HKEY sectionRoot = rootByName(rootPart);
            if (sectionRoot != p.root) {
                p.problem(i, sectionRoot ? QStringLiteral("key of another root skipped")
                                         : QStringLiteral("key with an unknown root skipped"));
                continue;
            }
            QStringList parts;
            const QString rest = slash < 0 ? QString() : inner.mid(slash + 1).toString();
            if (slash >= 0 && rest.isEmpty()) {
                p.problem(i, QStringLiteral("malformed key path skipped"));
                continue;
            }
            if (splitPath(rest, &parts) != ERROR_SUCCESS) {
                p.problem(i, QStringLiteral("malformed key path skipped"));
                continue;
            }
            ++p.report.sections;
            if (remove) {
                if (parts.isEmpty())
                    p.problem(i, QStringLiteral("a root key cannot be removed"));
                else if (RegKey *parent = findKey(p.tree, parts.mid(0, parts.size() - 1)))
                    parent->subKeys.erase(parts.last().toCaseFolded());
                continue;
            }
            current = &p.tree;
            for (const QString &part : std::as_const(parts))
                current = current->ensureSubKey(part);
            continue;
        }

        if (!t.startsWith(QLatin1Char('"')) && !t.startsWith(QLatin1Char('@'))) {
            p.problem(i, QStringLiteral("unrecognised line skipped"));
            continue;
        }

        // A value line: "name"=data or @=data.
        const qsizetype first = i;
        QString name;
        qsizetype pos = 1;
        if (t.startsWith(QLatin1Char('"'))) {
            pos = readQuoted(t, 0, &name);
            if (pos < 0) {
                p.problem(i, QStringLiteral("unfinished value name skipped"));
                continue;
            }
        }
        while (pos < t.size() && t[pos].isSpace())
            ++pos;
        if (pos >= t.size() || t[pos] != QLatin1Char('=')) {
            p.problem(i, QStringLiteral("value line without '=' skipped"));
            continue;
        }
        ++pos;
        while (pos < t.size() && t[pos].isSpace())
            ++pos;
        const QStringView data = t.mid(pos);

        quint32 type = REG_NONE;
        QByteArray bytes;
        bool removeValue = false;
        if (data.startsWith(QLatin1Char('"'))) {
            QString text;
            const qsizetype end = readQuoted(data, 0, &text);
            if (end < 0) {
                p.problem(i, QStringLiteral("unfinished string value skipped"));
                continue;
            }
            if (!data.mid(end).trimmed().isEmpty())
                p.problem(i, QStringLiteral("text after a string value ignored"));
            type = REG_SZ;
            bytes = RegistryStore::encodeString(text);
        } else if (data == QLatin1String("-")) {
            removeValue = true;
        } else if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
            const QStringView digits = data.mid(6).trimmed();
            bool ok = !digits.isEmpty() && digits.size() <= 8 && std::all_of(digits.begin(), digits.end(), isHexDigit);
            const quint32 number = ok ? digits.toUInt(&ok, 16) : 0;
            if (!ok) {
                p.problem(i, QStringLiteral("malformed dword value skipped"));
                continue;
            }
            type = REG_DWORD;
            bytes.resize(4);
            qToLittleEndian<quint32>(number, bytes.data());
        } else if (data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
            const qsizetype colon = data.indexOf(QLatin1Char(':'));
            const QStringView kind = colon < 0 ? QStringView() : data.left(colon);
            bool ok = colon >= 0;
            if (ok && kind.size() == 3) {
                type = REG_BINARY;
            } else if (ok && kind.size() > 5 && kind.size() <= 13 && kind[3] == QLatin1Char('(') &&
                       kind.endsWith(QLatin1Char(')'))) {
                const QStringView n = kind.mid(4, kind.size() - 5);
                ok = std::all_of(n.begin(), n.end(), isHexDigit);
                type = ok ? n.toUInt(&ok, 16) : 0;
            } else {
                ok = false;
            }
            if (!ok) {
                p.problem(i, QStringLiteral("malformed hex value skipped"));
                continue;
            }
            // The byte list may go on over continuation lines ending in a backslash.
            QString list = data.mid(colon + 1).trimmed().toString();
            bool truncated = false;
            while (list.endsWith(QLatin1Char('\\'))) {
                list.chop(1);
                const QStringView next = i + 1 < count ? lines[i + 1].trimmed() : QStringView();
                if (next.isEmpty() || !isHexDigit(next[0])) {
                    truncated = true;
                    break;
                }
                list += next;
                ++i;
            }
            if (truncated || !parseHexBytes(list, &bytes)) {
                p.problem(first, QStringLiteral("incomplete hex value skipped"));
                continue;
            }
            if (p.ansi && isStringType(type))
                bytes = toUtf16le(TextFile::decodeLine(bytes));
        } else {
            p.problem(i, QStringLiteral("value of an unknown form skipped"));
            continue;
        }

        if (!current) {
            p.problem(first, QStringLiteral("value outside a readable key skipped"));
            continue;
        }
        if (!validValueName(name)) {
            p.problem(first, QStringLiteral("value with an impossible name skipped"));
            continue;
        }
        ++p.report.values;
        if (removeValue) {
            current->removeValue(name);
        } else if (current->setValue(name, type, bytes)) {
            p.problem(first, QStringLiteral("value \"%1\" given twice; the later one is used").arg(name.left(80)));
        }
    }
}

// Whether a REG_SZ value can be written as a quoted string and read back the same.
bool plainString(const QByteArray &data, QString *text)
{
    if (data.size() < 2 || data.size() % 2 != 0)
        return false;
    if (data.at(data.size() - 1) != 0 || data.at(data.size() - 2) != 0)
        return false;
    *text = RegistryStore::decodeString(data.left(data.size() - 2));
    for (const QChar c : std::as_const(*text)) {
        if (c == QChar(0) || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            return false;
    }
    return QString::fromUtf8(text->toUtf8()) == *text; // no lone surrogates
}

void appendHexList(QString &out, QString line, const QByteArray &bytes)
{
    // Wrapped like the registry editor does it: at most about 80 columns, a
    // backslash at the end of each full line and two spaces before the next.
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        line += hex2(static_cast<quint8>(bytes.at(i)));
        if (i + 1 < n) {
            line += QLatin1Char(',');
            if (line.size() >= 76) {
                out += line;
                out += QLatin1String("\\\r\n");
                line = QStringLiteral("  ");
            }
        }
    }
    out += line;
    out += QLatin1String("\r\n");
}

void writeKey(QString &out, const RegKey &key, const QString &path, bool isRootKey)
{
    if (!isRootKey || !key.values.isEmpty()) {
        out += QLatin1Char('[') + path + QLatin1String("]\r\n");
        for (const RegValue *v : key.orderedValues()) {
            QString line = v->name.isEmpty() ? QStringLiteral("@=")
                                             : QLatin1Char('"') + RegistryStore::quoted(v->name) + QLatin1String("\"=");
            QString text;
            if (v->type == REG_SZ && plainString(v->data, &text)) {
                out += line + QLatin1Char('"') + RegistryStore::quoted(text) + QLatin1String("\"\r\n");
            } else if (v->type == REG_DWORD && v->data.size() == 4) {
                const quint32 number = qFromLittleEndian<quint32>(v->data.constData());
                out += line + QStringLiteral("dword:%1\r\n").arg(number, 8, 16, QLatin1Char('0'));
            } else if (v->type == REG_BINARY) {
                appendHexList(out, line + QLatin1String("hex:"), v->data);
            } else {
                appendHexList(out, line + QStringLiteral("hex(%1):").arg(v->type, 0, 16), v->data);
            }
        }
        out += QLatin1String("\r\n");
    }
    for (const auto &[folded, sub] : key.subKeys)
        writeKey(out, *sub, path + QLatin1Char('\\') + sub->name, false);
}

} // namespace

// --- Handle-based calls ---------------------------------------------------------

qint32 regOpenKey(HKEY key, const QString &subKey, HKEY *result)
{
    return openKey(key, subKey, std::nullopt, result);
}

qint32 regOpenKeyEx(HKEY key, const QString &subKey, quint32 options, quint32 access, HKEY *result)
{
    Q_UNUSED(options);
    return openKey(key, subKey, access, result);
}

qint32 regCreateKey(HKEY key, const QString &subKey, HKEY *result)
{
    return createKey(key, subKey, std::nullopt, result, nullptr);
}

qint32 regCreateKeyEx(HKEY key, const QString &subKey, quint32 reserved, const QString &keyClass, quint32 options,
                      quint32 access, HKEY *result, quint32 *disposition)
{
    Q_UNUSED(keyClass);
    Q_UNUSED(options); // every key is kept on disk
    if (reserved != 0)
        return ERROR_INVALID_PARAMETER;
    return createKey(key, subKey, access, result, disposition);
}

qint32 regQueryValueEx(HKEY key, const QString &valueName, quint32 *reserved, quint32 *type, char *data, quint32 *size)
{
    if (reserved)
        return ERROR_INVALID_PARAMETER;
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    Target target;
    if (const qint32 rc = lookupHandle(key, &target); rc != ERROR_SUCCESS)
        return rc;
    Hive &hive = hiveFor(target.root);
    const RegKey *node = findKey(hive.tree, target.path);
    if (!node)
        return ERROR_KEY_DELETED;
    const RegValue *v = node->value(valueName);
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    const QByteArray bytes = callerBytes(*v);
    if (type)
        *type = v->type;
    const quint32 needed = static_cast<quint32>(bytes.size());
    if (!data) {
        if (size)
            *size = needed;
        return ERROR_SUCCESS;
    }
    const quint32 room = *size;
    *size = needed;
    if (room < needed)
        return ERROR_MORE_DATA;
    std::copy(bytes.cbegin(), bytes.cend(), data);
    return ERROR_SUCCESS;
}

qint32 regSetValueEx(HKEY key, const QString &valueName, quint32 reserved, quint32 type, const QByteArray &data)
{
    if (reserved != 0 || !validValueName(valueName))
        return ERROR_INVALID_PARAMETER;
    Target target;
    if (const qint32 rc = lookupHandle(key, &target); rc != ERROR_SUCCESS)
        return rc;
    if (!target.canWrite)
        return ERROR_ACCESS_DENIED;
    Hive &hive = hiveFor(target.root);
    RegKey *node = findKey(hive.tree, target.path);
    if (!node)
        return ERROR_KEY_DELETED;
    if (!hiveWritable(hive))
        return ERROR_ACCESS_DENIED;
    const QByteArray raw = isStringType(type) ? toUtf16le(TextFile::decodeLine(data)) : data;
    if (const RegValue *old = node->value(valueName); old && old->type == type && old->data == raw)
        return ERROR_SUCCESS; // already so on disk
    node->setValue(valueName, type, raw);
    return commitHive(hive);
}

qint32 regDeleteValue(HKEY key, const QString &valueName)
{
    Target target;
    if (const qint32 rc = lookupHandle(key, &target); rc != ERROR_SUCCESS)
        return rc;
    if (!target.canWrite)
        return ERROR_ACCESS_DENIED;
    Hive &hive = hiveFor(target.root);
    RegKey *node = findKey(hive.tree, target.path);
    if (!node)
        return ERROR_KEY_DELETED;
    if (!node->value(valueName))
        return ERROR_FILE_NOT_FOUND;
    if (!hiveWritable(hive))
        return ERROR_ACCESS_DENIED;
    node->removeValue(valueName);
    return commitHive(hive);
}

qint32 regDeleteKey(HKEY key, const QString &subKey)
{
    Target base;
    if (const qint32 rc = lookupHandle(key, &base); rc != ERROR_SUCCESS)
        return rc;
    QStringList parts;
    if (const qint32 rc = splitPath(subKey, &parts); rc != ERROR_SUCCESS)
        return rc;
    Hive &hive = hiveFor(base.root);
    if (!findKey(hive.tree, base.path))
        return ERROR_KEY_DELETED;
    const QStringList full = base.path + parts;
    if (full.isEmpty())
        return ERROR_ACCESS_DENIED; // a root key cannot be deleted
    RegKey *parent = findKey(hive.tree, full.mid(0, full.size() - 1));
    RegKey *node = parent ? parent->subKey(full.last()) : nullptr;
    if (!node)
        return ERROR_FILE_NOT_FOUND;
    if (!node->subKeys.empty())
        return ERROR_ACCESS_DENIED;
    if (!hiveWritable(hive))
        return ERROR_ACCESS_DENIED;
    parent->subKeys.erase(full.last().toCaseFolded());
    return commitHive(hive);
}

qint32 regCloseKey(HKEY key)
{
    if (isRoot(key))
        return ERROR_SUCCESS;
    return store().handles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// --- The store as a whole ---------------------------------------------------------

namespace RegistryStore {

QString rootName(HKEY root)
{
    switch (root) {
    case HKEY_CLASSES_ROOT:
        return QStringLiteral("HKEY_CLASSES_ROOT");
    case HKEY_CURRENT_USER:
        return QStringLiteral("HKEY_CURRENT_USER");
    case HKEY_LOCAL_MACHINE:
        return QStringLiteral("HKEY_LOCAL_MACHINE");
    case HKEY_USERS:
        return QStringLiteral("HKEY_USERS");
    default:
        return {};
    }
}

QString hiveFile(HKEY root)
{
    return Paths::configDir() + QLatin1Char('/') + rootName(root) + QStringLiteral(".reg");
}

RegParseReport parse(const QByteArray &content, HKEY root, RegKey &tree)
{
    Parser p{root, tree, {}};
    const auto starts = [&content](const char *bom, int n) {
        return content.size() >= n && std::equal(bom, bom + n, content.constData());
    };
    // The registry editor writes UTF-16LE with a byte-order mark; people and
    // other tools write UTF-8. A file without a mark whose second byte is zero
    // is UTF-16LE that lost its mark.
    std::optional<QStringDecoder::Encoding> utf16;
    qsizetype skip = 0;
    if (starts("\xFF\xFE", 2)) {
        utf16 = QStringDecoder::Utf16LE;
        skip = 2;
    } else if (starts("\xFE\xFF", 2)) {
        utf16 = QStringDecoder::Utf16BE;
        skip = 2;
    } else if (starts("\xEF\xBB\xBF", 3)) {
        skip = 3;
    } else if (content.size() >= 2 && content.at(0) != 0 && content.at(1) == 0) {
        utf16 = QStringDecoder::Utf16LE;
    }
    const QByteArrayView body = QByteArrayView(content).sliced(skip);
    if (utf16) {
        if (body.size() % 2 != 0)
            p.problem(0, QStringLiteral("the file ends in the middle of a character"));
        QStringDecoder decoder(*utf16, QStringDecoder::Flag::Stateless);
        const QString text = decoder.decode(body);
        if (decoder.hasError())
            p.problem(0, QStringLiteral("characters that are not UTF-16 were replaced"));
        parseLines(p, splitTextLines(text));
    } else {
        // Decoded line by line, so that a line that is not UTF-8 keeps its bytes
        // (read as Latin-1) and does not spoil the lines around it.
        QStringList decoded;
        QList<QStringView> lines;
        qsizetype start = 0;
        const qsizetype n = body.size();
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        for (qsizetype i = 0; i <= n; ++i) {
            if (i < n && body[i] != '\r' && body[i] != '\n')
                continue;
            const QByteArrayView line = body.sliced(start, i - start);
            QString text = utf8.decode(line);
            if (utf8.hasError()) {
                utf8.resetState();
                text = QString::fromLatin1(line.data(), line.size());
                p.problem(decoded.size(), QStringLiteral("text that is not UTF-8 read as Latin-1"));
            }
            decoded.append(std::move(text));
            if (i < n && body[i] == '\r' && i + 1 < n && body[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
        lines.reserve(decoded.size());
        for (const QString &line : std::as_const(decoded))
            lines.append(line);
        parseLines(p, lines);
    }
    if (p.hiddenProblems > 0)
        p.report.problems << QStringLiteral("and %1 more problems").arg(p.hiddenProblems);
    return p.report;
}

QByteArray serialize(HKEY root, const RegKey &tree)
{
    QString out = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n");
    writeKey(out, tree, rootName(root), true);
    return out.toUtf8();
}

QString quoted(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

bool keyExists(HKEY root, const QString &path)
{
    QStringList parts;
    if (!isRoot(root) || splitPath(path, &parts) != ERROR_SUCCESS)
        return false;
    return findKey(hiveFor(root).tree, parts) != nullptr;
}

QStringList subKeyNames(HKEY root, const QString &path)
{
    QStringList names;
    QStringList parts;
    if (!isRoot(root) || splitPath(path, &parts) != ERROR_SUCCESS)
        return names;
    if (const RegKey *key = findKey(hiveFor(root).tree, parts)) {
        for (const auto &[folded, sub] : key->subKeys)
            names << sub->name;
    }
    return names;
}

QStringList valueNames(HKEY root, const QString &path)
{
    QStringList names;
    QStringList parts;
    if (!isRoot(root) || splitPath(path, &parts) != ERROR_SUCCESS)
        return names;
    if (const RegKey *key = findKey(hiveFor(root).tree, parts)) {
        for (const RegValue *v : key->orderedValues())
            names << v->name;
    }
    return names;
}

std::optional<RegValue> value(HKEY root, const QString &path, const QString &name)
{
    QStringList parts;
    if (!isRoot(root) || splitPath(path, &parts) != ERROR_SUCCESS)
        return std::nullopt;
    const RegKey *key = findKey(hiveFor(root).tree, parts);
    const RegValue *v = key ? key->value(name) : nullptr;
    if (!v)
        return std::nullopt;
    return *v;
}

QString decodeString(const QByteArray &utf16le)
{
    const qsizetype units = utf16le.size() / 2;
    QString text(units, Qt::Uninitialized);
    for (qsizetype i = 0; i < units; ++i)
        text[i] = QChar(qFromLittleEndian<quint16>(utf16le.constData() + 2 * i));
    return text;
}

QByteArray encodeString(const QString &text)
{
    QByteArray out = toUtf16le(text);
    out.append(2, '\0');
    return out;
}

RegParseReport lastReport(HKEY root)
{
    if (!isRoot(root))
        return {};
    return hiveFor(root).report;
}

int openHandleCount()
{
    return static_cast<int>(store().handles.size());
}

void unloadAll()
{
    store().hives.clear();
}

} // namespace RegistryStore

} // namespace wendral
