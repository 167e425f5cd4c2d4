#pragma once
// Wendral's own registry. The logon-start value, the browser toolbar entry and
// the other shell entries are kept in a small registry of root keys, key paths
// and typed values that behaves like the Windows one where the program relies
// on it: the same root handles, backslash-separated key paths compared without
// regard to case, named values and the unnamed default value, status codes
// instead of exceptions, keys created on write, a key with subkeys not deleted.
//
// Each root key is one text file in the config folder ("HKEY_LOCAL_MACHINE.reg"
// and so on) in the format the Windows registry editor exports, so a person can
// read it and another tool can import it. A file is read when first needed and
// again whenever it changed on disk; every change is written through at once,
// atomically. A damaged file is read as far as it is sound; before the first
// write over it the damaged original is kept beside the new file.
//
// The handle-based calls below take and give text as UTF-8 bytes: string
// values are stored as UTF-16 like the exported format has them and converted
// on the way in and out.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <map>
#include <memory>
#include <optional>

namespace wendral {

using HKEY = quint32;

// Predefined root keys.
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;

// Value types.
constexpr quint32 REG_NONE = 0;
constexpr quint32 REG_SZ = 1;
constexpr quint32 REG_EXPAND_SZ = 2;
constexpr quint32 REG_BINARY = 3;
constexpr quint32 REG_DWORD = 4;
constexpr quint32 REG_DWORD_BIG_ENDIAN = 5;
constexpr quint32 REG_LINK = 6;
constexpr quint32 REG_MULTI_SZ = 7;
constexpr quint32 REG_QWORD = 11;

// Access rights.
constexpr quint32 KEY_QUERY_VALUE = 0x0001;
constexpr quint32 KEY_SET_VALUE = 0x0002;
constexpr quint32 KEY_CREATE_SUB_KEY = 0x0004;
constexpr quint32 KEY_READ = 0x20019;
constexpr quint32 KEY_WRITE = 0x20006;
constexpr quint32 KEY_ALL_ACCESS = 0xF003F;

// Dispositions of regCreateKeyEx.
constexpr quint32 REG_CREATED_NEW_KEY = 1;
constexpr quint32 REG_OPENED_EXISTING_KEY = 2;

// Status codes.
constexpr qint32 ERROR_SUCCESS = 0;
constexpr qint32 ERROR_FILE_NOT_FOUND = 2;
constexpr qint32 ERROR_ACCESS_DENIED = 5;
constexpr qint32 ERROR_INVALID_HANDLE = 6;
constexpr qint32 ERROR_WRITE_FAULT = 29;
constexpr qint32 ERROR_INVALID_PARAMETER = 87;
constexpr qint32 ERROR_BAD_PATHNAME = 161;
constexpr qint32 ERROR_MORE_DATA = 234;
constexpr qint32 ERROR_KEY_DELETED = 1018;

// Limits of the store (those of the Windows registry).
constexpr int kMaxKeyNameLength = 255;
constexpr int kMaxValueNameLength = 16383;
constexpr int kMaxKeyDepth = 512;

// --- Handle-based calls ------------------------------------------------------
// Key paths are relative to the given key; "" names the key itself. A path may
// end with one backslash; a leading backslash or an empty part is refused
// (ERROR_BAD_PATHNAME). An empty value name is the default value.

// Opens with the most access the hive allows (read and write, or read only).
qint32 regOpenKey(HKEY key, const QString &subKey, HKEY *result);
// Opens with the given access; write access to a read-only hive gives ERROR_ACCESS_DENIED.
qint32 regOpenKeyEx(HKEY key, const QString &subKey, quint32 options, quint32 access, HKEY *result);
// Creates every missing key on the path, or opens the existing key.
qint32 regCreateKey(HKEY key, const QString &subKey, HKEY *result);
qint32 regCreateKeyEx(HKEY key, const QString &subKey, quint32 reserved, const QString &keyClass, quint32 options,
                      quint32 access, HKEY *result, quint32 *disposition);
// With data == nullptr only the type and the size are returned. Otherwise *size
// is the buffer's length on the way in; a buffer too small gives ERROR_MORE_DATA.
// *size is always set to the data's size in bytes (string types: UTF-8 bytes,
// terminating NUL included when the stored value has one).
qint32 regQueryValueEx(HKEY key, const QString &valueName, quint32 *reserved, quint32 *type, char *data, quint32 *size);
// String types take UTF-8 bytes (normally with a terminating NUL); other types raw bytes.
qint32 regSetValueEx(HKEY key, const QString &valueName, quint32 reserved, quint32 type, const QByteArray &data);
qint32 regDeleteValue(HKEY key, const QString &valueName);
// Deletes the key with its values; a key that has subkeys is not deleted (ERROR_ACCESS_DENIED).
qint32 regDeleteKey(HKEY key, const QString &subKey);
qint32 regCloseKey(HKEY key);

// --- The store as a whole ----------------------------------------------------

struct RegValue
{
    QString name; // as stored (first spelling seen); "" = default value
    quint32 type = REG_NONE;
    QByteArray data;   // raw: string types as UTF-16LE, as the exported format has them
    quint64 order = 0; // position among the key's values (insertion order)
};

struct RegKey
{
    QString name;                                       // as stored
    std::map<QString, std::unique_ptr<RegKey>> subKeys; // by case-folded name
    QHash<QString, RegValue> values;                    // by case-folded name

    RegKey *subKey(const QString &name) const;
    RegKey *ensureSubKey(const QString &name);
    const RegValue *value(const QString &name) const;
    // Sets a value, keeping the stored spelling and position of an existing one.
    // Returns true when an existing value with different data was replaced.
    bool setValue(const QString &name, quint32 type, const QByteArray &data);
    bool removeValue(const QString &name);
    QList<const RegValue *> orderedValues() const;
    quint64 nextOrder = 0;
};

// What reading a hive file found.
struct RegParseReport
{
    bool clean = true;    // false: something was skipped, repaired or overridden
    QStringList problems; // short descriptions with line numbers (capped)
    int sections = 0;
    int values = 0;
};

namespace RegistryStore {

// "HKEY_LOCAL_MACHINE" etc.; empty for a handle that is no root key.
QString rootName(HKEY root);
// The hive file of a root key in the current config folder.
QString hiveFile(HKEY root);

// Parses a hive file's bytes (UTF-8, UTF-16 with BOM, or the older ANSI
// "REGEDIT4" form) into the tree under root. Sections of other roots are skipped.
RegParseReport parse(const QByteArray &content, HKEY root, RegKey &tree);
// The file content for the tree: "Windows Registry Editor Version 5.00", CR LF
// line ends, UTF-8.
QByteArray serialize(HKEY root, const RegKey &tree);
// Escapes a name or string for a quoted field.
QString quoted(const QString &text);

// Read-only views for callers that want to look without handles.
bool keyExists(HKEY root, const QString &path);
QStringList subKeyNames(HKEY root, const QString &path);
QStringList valueNames(HKEY root, const QString &path); // in stored order
std::optional<RegValue> value(HKEY root, const QString &path, const QString &name);
// A string value's text (UTF-16 data up to its end), for display and tests.
QString decodeString(const QByteArray &utf16le);
QByteArray encodeString(const QString &text); // UTF-16LE with a terminating NUL

// The report of the last read of a hive (clean when it was never read).
RegParseReport lastReport(HKEY root);
// Number of handles not yet closed.
int openHandleCount();
// Forgets every loaded hive (they are read again when next needed).
void unloadAll();

} // namespace RegistryStore

} // namespace wendral
