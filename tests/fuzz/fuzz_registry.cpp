// libFuzzer entry for the registry's hive files: any bytes are read as far as
// they are sound, and what the store writes for the tree it read reads back
// as the same tree (key names, value names, types and data, in order) with no
// problem reported, and is written again byte for byte the same.

#include "core/registry.h"
#include "fuzzsupport.h"

#include <cstddef>
#include <cstdint>

using namespace wendral;

namespace {
QString describeValue(const RegValue &v)
{
    return QStringLiteral("%1 type %2 data %3").arg(v.name.left(40)).arg(v.type).arg(QString::fromLatin1(v.data.toHex().left(80)));
}

void compareTrees(const RegKey &a, const RegKey &b, const QString &path)
{
    fuzz::check(a.name == b.name, "key names read back", path + QStringLiteral(": ") + a.name + QStringLiteral(" / ") + b.name);
    const QList<const RegValue *> av = a.orderedValues();
    const QList<const RegValue *> bv = b.orderedValues();
    fuzz::check(av.size() == bv.size(), "every value reads back", path);
    for (qsizetype i = 0; i < av.size(); ++i) {
        fuzz::check(av[i]->name == bv[i]->name && av[i]->type == bv[i]->type && av[i]->data == bv[i]->data,
                    "a value reads back with its name, type and data",
                    path + QStringLiteral(": ") + describeValue(*av[i]) + QStringLiteral(" / ") + describeValue(*bv[i]));
    }
    fuzz::check(a.subKeys.size() == b.subKeys.size(), "every subkey reads back", path);
    auto ai = a.subKeys.begin();
    auto bi = b.subKeys.begin();
    for (; ai != a.subKeys.end(); ++ai, ++bi) {
        fuzz::check(ai->first == bi->first, "subkeys read back in order", path);
        compareTrees(*ai->second, *bi->second, path + QLatin1Char('\\') + ai->second->name);
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::initialize("fuzz_registry");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte chooses the hive, the rest is the file.
    fuzz::Bytes input(data, size);
    const HKEY root = (input.take() & 1) ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const QByteArray content = input.rest();
    RegKey first;
    RegistryStore::parse(content, root, first);
    const QByteArray written = RegistryStore::serialize(root, first);

    RegKey second;
    const RegParseReport report = RegistryStore::parse(written, root, second);
    fuzz::check(report.clean, "what the store writes reads back without problems",
                report.problems.join(QLatin1Char('\n')));
    compareTrees(first, second, RegistryStore::rootName(root));
    fuzz::check(RegistryStore::serialize(root, second) == written, "writing again gives the same bytes");
    return 0;
}
