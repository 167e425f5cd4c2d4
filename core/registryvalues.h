#pragma once
// Registry procedures with tolerant key paths and a plain success result, for
// callers that want to know whether a value was written or deleted. Key paths
// may carry one backslash at either end; the value name "*" stands for the
// key's default (unnamed) value.

#include "core/registry.h" // root keys and value types

#include <QString>
#include <QtGlobal>

namespace wendral::RegistryValues {

// The value's text, or `def` when the key or value cannot be read. Full access
// is asked for first; a refusal falls back to read-only access.
QString readValue(quint32 root, const QString &keyPath, const QString &valueName, const QString &def);
// Creates every missing key on the path and writes a REG_SZ value; true when written.
bool writeValue(quint32 root, const QString &keyPath, const QString &valueName, const QString &data);
// With a value name: deletes that value ("*" = the default value). With an
// empty name: deletes the key itself (only when it has no subkeys), the path
// taken exactly as passed. True when the deletion succeeded.
bool deleteEntry(quint32 root, const QString &keyPath, const QString &valueName);
// Drops one leading, then one trailing backslash.
QString trimKeySlashes(const QString &path);

} // namespace wendral::RegistryValues
