#include "blocking/cdp/browserprocesses.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace wendral::cdp {

namespace {

QString decode(const QByteArray &bytes)
{
    return QFile::decodeName(bytes);
}

bool matchesSwitch(const QString &argument, QLatin1String name, QString *value)
{
    if (!argument.startsWith(QLatin1String("--")) || !QStringView(argument).mid(2).startsWith(name))
        return false;
    const qsizetype end = 2 + name.size();
    if (argument.size() == end) {
        if (value)
            value->clear();
        return true;
    }
    if (argument.at(end) != u'=')
        return false;
    if (value)
        *value = argument.mid(end + 1);
    return true;
}

// "/tmp/.X11-unix/X3" -> ":3".
std::optional<QString> x11SocketDisplay(QStringView path)
{
    static const QLatin1String folder("/tmp/.X11-unix/X");
    if (!path.startsWith(folder) || path.size() == folder.size() || path.size() > folder.size() + 9)
        return std::nullopt;
    for (const QChar c : path.mid(folder.size())) {
        if (!c.isDigit() || c.unicode() > 127)
            return std::nullopt;
    }
    return QStringLiteral(":") + path.mid(folder.size()).toString();
}

bool isDisplayServerSocket(QStringView name)
{
    if (x11SocketDisplay(name))
        return true;
    const qsizetype slash = name.lastIndexOf(u'/');
    const QStringView base = name.mid(slash + 1);
    return base.startsWith(QLatin1String("wayland-")) && !base.endsWith(QLatin1String(".lock"));
}

QStringView withoutAbstractMark(const QString &name)
{
    return name.startsWith(u'@') ? QStringView(name).mid(1) : QStringView(name);
}

} // namespace

// ------------------------------------------------------------ command line

BrowserCommandLine BrowserCommandLine::parse(const QByteArray &raw)
{
    BrowserCommandLine out;
    QList<QByteArray> parts = raw.split('\0');
    parts.removeAll(QByteArray());
    if (parts.isEmpty())
        return out;
    if (parts.size() > 1) {
        out.program = decode(parts.at(0));
        for (qsizetype i = 1; i < parts.size(); ++i)
            out.arguments << decode(parts.at(i));
        return out;
    }
    // One string: either a program without arguments or a rewritten command
    // line. Switches begin at " --"; the program name is what comes before the
    // first one, spaces and all.
    const QString text = decode(parts.at(0));
    static const QLatin1String mark(" --");
    qsizetype at = text.indexOf(mark);
    if (at < 0) {
        out.program = text;
        return out;
    }
    out.rewritten = true;
    out.program = text.left(at);
    while (at >= 0) {
        const qsizetype next = text.indexOf(mark, at + mark.size());
        out.arguments << text.mid(at + 1, next < 0 ? -1 : next - at - 1);
        at = next;
    }
    return out;
}

bool BrowserCommandLine::has(QLatin1String name) const
{
    return std::any_of(arguments.begin(), arguments.end(),
                       [&](const QString &a) { return matchesSwitch(a, name, nullptr); });
}

std::optional<QString> BrowserCommandLine::value(QLatin1String name) const
{
    std::optional<QString> found;
    for (const QString &a : arguments) {
        QString v;
        if (matchesSwitch(a, name, &v) && a.size() > 2 + name.size())
            found = v;
    }
    return found;
}

// ------------------------------------------------------------ browser kinds

std::optional<BrowserKind> browserKindOfProgram(const QString &path)
{
    QString clean = path;
    // A program replaced by an update while it runs.
    if (clean.endsWith(QLatin1String(" (deleted)")))
        clean.chop(10);
    const QString name = clean.section(u'/', -1);
    if (name.isEmpty())
        return std::nullopt;
    if (name == QLatin1String("chromium") || name == QLatin1String("chromium-browser") ||
        name == QLatin1String("chromium-freeworld") || name == QLatin1String("ungoogled-chromium"))
        return BrowserKind::Chromium;
    if (name == QLatin1String("chrome")) {
        // Google's builds live in .../google/chrome*/chrome; a chrome anywhere
        // else (a snap, a build of one's own) is Chromium.
        return clean.contains(QLatin1String("/google/")) || clean.contains(QLatin1String("google-chrome"))
                   ? BrowserKind::GoogleChrome
                   : BrowserKind::Chromium;
    }
    if (name.startsWith(QLatin1String("google-chrome")))
        return BrowserKind::GoogleChrome;
    if (name == QLatin1String("msedge") || name.startsWith(QLatin1String("microsoft-edge")))
        return BrowserKind::MicrosoftEdge;
    if (name == QLatin1String("brave") || name.startsWith(QLatin1String("brave-browser")))
        return BrowserKind::Brave;
    if (name == QLatin1String("vivaldi-bin") || name == QLatin1String("vivaldi") ||
        name.startsWith(QLatin1String("vivaldi-")))
        return BrowserKind::Vivaldi;
    return std::nullopt;
}

QString defaultProfileFolder(BrowserKind kind, const QString &programPath)
{
    switch (kind) {
    case BrowserKind::Chromium:
        return QStringLiteral("chromium");
    case BrowserKind::GoogleChrome:
        if (programPath.contains(QLatin1String("chrome-beta")))
            return QStringLiteral("google-chrome-beta");
        if (programPath.contains(QLatin1String("chrome-unstable")))
            return QStringLiteral("google-chrome-unstable");
        return QStringLiteral("google-chrome");
    case BrowserKind::MicrosoftEdge:
        if (programPath.contains(QLatin1String("edge-beta")))
            return QStringLiteral("microsoft-edge-beta");
        if (programPath.contains(QLatin1String("edge-dev")))
            return QStringLiteral("microsoft-edge-dev");
        return QStringLiteral("microsoft-edge");
    case BrowserKind::Brave:
        return QStringLiteral("BraveSoftware/Brave-Browser");
    case BrowserKind::Vivaldi:
        return QStringLiteral("vivaldi");
    }
    return QString();
}

// ------------------------------------------------------------ environment and display

QHash<QByteArray, QByteArray> parseEnvironment(const QByteArray &raw)
{
    QHash<QByteArray, QByteArray> out;
    for (const QByteArray &entry : raw.split('\0')) {
        const qsizetype eq = entry.indexOf('=');
        if (eq > 0)
            out.insert(entry.left(eq), entry.mid(eq + 1));
    }
    return out;
}

DesktopIdentity DesktopIdentity::current()
{
    return DesktopIdentity{qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY"),
                           qEnvironmentVariable("XDG_RUNTIME_DIR")};
}

DesktopIdentity DesktopIdentity::fromEnvironment(const QHash<QByteArray, QByteArray> &environment)
{
    return DesktopIdentity{decode(environment.value("DISPLAY")), decode(environment.value("WAYLAND_DISPLAY")),
                           decode(environment.value("XDG_RUNTIME_DIR"))};
}

std::optional<QString> normalisedX11Display(const QString &display)
{
    const QString d = display.trimmed();
    if (d.isEmpty())
        return std::nullopt;
    if (d.startsWith(u'/'))
        return x11SocketDisplay(QDir::cleanPath(d));
    const qsizetype colon = d.lastIndexOf(u':');
    if (colon < 0)
        return std::nullopt;
    QString host = d.left(colon).toLower();
    const QString number = d.mid(colon + 1).section(u'.', 0, 0);
    if (number.isEmpty() || number.size() > 9)
        return std::nullopt;
    for (const QChar c : number) {
        if (!c.isDigit() || c.unicode() > 127)
            return std::nullopt;
    }
    if (host == QLatin1String("unix") || host.startsWith(QLatin1String("unix/")))
        host.clear();
    return host + QLatin1Char(':') + QString::number(number.toUInt());
}

std::optional<QString> DesktopIdentity::x11Display() const
{
    return normalisedX11Display(display);
}

QString DesktopIdentity::waylandSocket() const
{
    if (waylandDisplay.isEmpty())
        return QString();
    if (waylandDisplay.startsWith(u'/'))
        return QDir::cleanPath(waylandDisplay);
    if (runtimeDir.isEmpty())
        return QString();
    return QDir::cleanPath(runtimeDir + QLatin1Char('/') + waylandDisplay);
}

Placement placementByEnvironment(const DesktopIdentity &theirs, const DesktopIdentity &ours)
{
    if (!ours.hasDisplay()) {
        const QString mine = QDir::cleanPath(ours.runtimeDir);
        return !ours.runtimeDir.isEmpty() && !theirs.runtimeDir.isEmpty() && QDir::cleanPath(theirs.runtimeDir) == mine
                   ? Placement::ThisDesktop
                   : Placement::OtherDesktop;
    }
    const auto ourX = ours.x11Display();
    const auto theirX = theirs.x11Display();
    if (ourX && theirX && *ourX == *theirX)
        return Placement::ThisDesktop;
    const QString ourWayland = ours.waylandSocket();
    if (!ourWayland.isEmpty() && theirs.waylandSocket() == ourWayland)
        return Placement::ThisDesktop;
    return Placement::OtherDesktop;
}

Placement placementBySocketPeers(const QStringList &peerNames, const DesktopIdentity &ours)
{
    if (!ours.hasDisplay()) {
        if (ours.runtimeDir.isEmpty())
            return Placement::Unknown;
        const QString prefix = QDir::cleanPath(ours.runtimeDir) + QLatin1Char('/');
        for (const QString &name : peerNames) {
            if (withoutAbstractMark(name).startsWith(prefix))
                return Placement::ThisDesktop;
        }
        return Placement::Unknown;
    }
    const auto ourX = ours.x11Display();
    const QString ourWayland = ours.waylandSocket();
    bool elsewhere = false;
    for (const QString &name : peerNames) {
        const QStringView path = withoutAbstractMark(name);
        if (ourX && x11SocketDisplay(path) == ourX)
            return Placement::ThisDesktop;
        if (!ourWayland.isEmpty() && path == ourWayland)
            return Placement::ThisDesktop;
        elsewhere = elsewhere || isDisplayServerSocket(path);
    }
    return elsewhere ? Placement::OtherDesktop : Placement::Unknown;
}

// ------------------------------------------------------------ sockets

QList<quint64> socketInodes(const QString &procPidDir, int maxFiles)
{
    QList<quint64> out;
    const QByteArray dirPath = QFile::encodeName(procPidDir + QStringLiteral("/fd"));
    DIR *dir = ::opendir(dirPath.constData());
    if (!dir)
        return out;
    const int dirFd = ::dirfd(dir);
    int seen = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        if (++seen > maxFiles)
            break;
        char target[64];
        const ssize_t n = ::readlinkat(dirFd, entry->d_name, target, sizeof target - 1);
        if (n <= 0)
            continue;
        const QByteArray link(target, n);
        if (!link.startsWith("socket:[") || !link.endsWith(']'))
            continue;
        bool ok = false;
        const quint64 inode = link.mid(8, link.size() - 9).toULongLong(&ok);
        if (ok)
            out << inode;
    }
    ::closedir(dir);
    return out;
}

QHash<quint64, QString> readUnixSocketPeers(int maxSockets)
{
    QHash<quint64, QString> result;
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return result;
    // The kernel answers at once; a second at most, so a scan never hangs.
    timeval timeout{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    struct
    {
        nlmsghdr header;
        unix_diag_req request;
    } query{};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    query.request.sdiag_family = AF_UNIX;
    query.request.udiag_states = ~0u;
    query.request.udiag_show = UDIAG_SHOW_NAME | UDIAG_SHOW_PEER;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &query, sizeof query, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0) {
        ::close(fd);
        return result;
    }

    QHash<quint64, QString> names; // inode -> bound name
    QHash<quint64, quint64> peers; // inode -> peer inode
    alignas(nlmsghdr) char buffer[65536];
    int records = 0;
    bool done = false;
    while (!done && records < maxSockets) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        size_t offset = 0;
        const size_t total = static_cast<size_t>(got);
        while (offset + sizeof(nlmsghdr) <= total) {
            const auto *header = reinterpret_cast<const nlmsghdr *>(buffer + offset);
            const size_t length = header->nlmsg_len;
            if (length < sizeof(nlmsghdr) || offset + length > total) {
                done = true;
                break;
            }
            if (header->nlmsg_type == NLMSG_DONE || header->nlmsg_type == NLMSG_ERROR) {
                done = true;
                break;
            }
            const size_t bodyStart = offset + NLMSG_HDRLEN;
            if (length >= NLMSG_HDRLEN + sizeof(unix_diag_msg) && ++records <= maxSockets) {
                const auto *message = reinterpret_cast<const unix_diag_msg *>(buffer + bodyStart);
                const quint64 inode = message->udiag_ino;
                size_t at = bodyStart + NLMSG_ALIGN(sizeof(unix_diag_msg));
                const size_t end = offset + length;
                while (at + sizeof(rtattr) <= end) {
                    const auto *attribute = reinterpret_cast<const rtattr *>(buffer + at);
                    const size_t attributeLength = attribute->rta_len;
                    if (attributeLength < sizeof(rtattr) || at + attributeLength > end)
                        break;
                    const char *payload = buffer + at + RTA_LENGTH(0);
                    const size_t payloadLength = attributeLength - RTA_LENGTH(0);
                    if (attribute->rta_type == UNIX_DIAG_NAME && payloadLength > 0) {
                        QByteArray name(payload, static_cast<qsizetype>(payloadLength));
                        if (name.at(0) == '\0')
                            name[0] = '@';
                        else if (const qsizetype nul = name.indexOf('\0'); nul >= 0)
                            name.truncate(nul);
                        names.insert(inode, decode(name));
                    } else if (attribute->rta_type == UNIX_DIAG_PEER && payloadLength >= sizeof(quint32)) {
                        quint32 peer = 0;
                        std::memcpy(&peer, payload, sizeof peer);
                        if (peer != 0)
                            peers.insert(inode, peer);
                    }
                    at += RTA_ALIGN(attributeLength);
                }
            }
            offset += NLMSG_ALIGN(length);
        }
    }
    ::close(fd);
    for (auto it = peers.cbegin(); it != peers.cend(); ++it) {
        const auto name = names.constFind(it.value());
        if (name != names.cend())
            result.insert(it.key(), *name);
    }
    return result;
}

} // namespace wendral::cdp
