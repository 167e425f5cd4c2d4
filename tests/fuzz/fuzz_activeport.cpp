// libFuzzer entry for the DevToolsActivePort file a browser writes into its
// profile folder (any local process can write one there): any bytes give
// either no endpoint or one with a port in 1..65535 and a browser path of the
// form /devtools/browser/<id>, both read from the file's first two lines.

#include "blocking/cdp/cdpdiscovery.h"
#include "fuzzsupport.h"

#include <cstddef>
#include <cstdint>

using namespace wendral;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::initialize("fuzz_activeport");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString folder = fuzz::scratchFolder();
    fuzz::writeFile(folder + QStringLiteral("/DevToolsActivePort"), content);
    const std::optional<cdp::CdpEndpoint> endpoint = cdp::CdpDiscovery::readActivePort(folder);
    if (!endpoint)
        return 0;
    fuzz::check(endpoint->port >= 1, "a port is never 0");
    fuzz::check(endpoint->content == content, "the endpoint keeps the file's bytes");
    const QList<QByteArray> lines = content.split('\n');
    fuzz::check(lines.size() >= 2, "an endpoint needs two lines");
    fuzz::check(lines.at(0).trimmed().toUInt() == endpoint->port, "the port is the first line's number");
    static const QString prefix = QStringLiteral("/devtools/browser/");
    const QString path = endpoint->browserPath;
    fuzz::check(path == QString::fromLatin1(lines.at(1).trimmed()), "the path is the second line");
    fuzz::check(path.startsWith(prefix) && path.size() > prefix.size(), "the path names a browser", path.left(80));
    for (const QChar c : path.mid(prefix.size())) {
        fuzz::check((c.unicode() < 128 && c.isLetterOrNumber()) || c == QLatin1Char('-') || c == QLatin1Char('_'),
                    "the browser id holds letters, digits, - and _ only", path.left(80));
    }
    fuzz::check(endpoint->dataDir == QDir::cleanPath(folder), "the endpoint names its folder");
    return 0;
}
