#include "core/webprotocol.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>

#include <cmath>

namespace wendral {
namespace {

// JSON numbers are doubles: integers are exact up to 2^53.
constexpr double kMaxExactInteger = 9007199254740992.0;

QByteArray toLine(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QJsonObject> parseLine(const QByteArray &line)
{
    QByteArray text = line;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

// A whole number in [low, high]; nullopt for anything else (text, fractions,
// numbers too large to be exact).
std::optional<qint64> wholeNumber(const QJsonValue &value, double low, double high)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < low || d > high)
        return std::nullopt;
    return static_cast<qint64>(d);
}

bool isColourName(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^#[0-9a-fA-F]{6}$"));
    return hex.match(text).hasMatch();
}

} // namespace

WebRequest WebRequest::banner(const QUrl &url, int width, int height, const QString &background)
{
    WebRequest r{Kind::Banner};
    r.url = url;
    r.width = width;
    r.height = height;
    r.background = background;
    return r;
}

WebRequest WebRequest::ping(quint64 serial)
{
    WebRequest r{Kind::Ping};
    r.serial = serial;
    return r;
}

WebEvent WebEvent::bannerWindow(quint64 id)
{
    WebEvent e{Kind::BannerWindow};
    e.windowId = id;
    return e;
}

WebEvent WebEvent::pong(quint64 serial)
{
    WebEvent e{Kind::Pong};
    e.serial = serial;
    return e;
}

QByteArray encodeWebRequest(const WebRequest &request)
{
    QJsonObject o;
    switch (request.kind) {
    case WebRequest::Kind::Banner:
        o.insert(QStringLiteral("request"), QStringLiteral("banner"));
        o.insert(QStringLiteral("url"), request.url.toString(QUrl::FullyEncoded));
        o.insert(QStringLiteral("width"), request.width);
        o.insert(QStringLiteral("height"), request.height);
        if (!request.background.isEmpty())
            o.insert(QStringLiteral("background"), request.background);
        break;
    case WebRequest::Kind::CloseBanner:
        o.insert(QStringLiteral("request"), QStringLiteral("closeBanner"));
        break;
    case WebRequest::Kind::Website:
        o.insert(QStringLiteral("request"), QStringLiteral("website"));
        break;
    case WebRequest::Kind::Ping:
        o.insert(QStringLiteral("request"), QStringLiteral("ping"));
        o.insert(QStringLiteral("serial"), static_cast<double>(request.serial));
        break;
    case WebRequest::Kind::Quit:
        o.insert(QStringLiteral("request"), QStringLiteral("quit"));
        break;
    }
    return toLine(o);
}

QByteArray encodeWebEvent(const WebEvent &event)
{
    QJsonObject o;
    switch (event.kind) {
    case WebEvent::Kind::Ready:
        o.insert(QStringLiteral("event"), QStringLiteral("ready"));
        o.insert(QStringLiteral("version"), event.version);
        break;
    case WebEvent::Kind::BannerWindow:
        o.insert(QStringLiteral("event"), QStringLiteral("bannerWindow"));
        o.insert(QStringLiteral("id"), static_cast<double>(event.windowId));
        break;
    case WebEvent::Kind::WebsiteOpened:
        o.insert(QStringLiteral("event"), QStringLiteral("websiteOpened"));
        break;
    case WebEvent::Kind::WebsiteClosed:
        o.insert(QStringLiteral("event"), QStringLiteral("websiteClosed"));
        break;
    case WebEvent::Kind::Pong:
        o.insert(QStringLiteral("event"), QStringLiteral("pong"));
        o.insert(QStringLiteral("serial"), static_cast<double>(event.serial));
        break;
    }
    return toLine(o);
}

std::optional<WebRequest> decodeWebRequest(const QByteArray &line)
{
    const std::optional<QJsonObject> o = parseLine(line);
    if (!o)
        return std::nullopt;
    const QString name = o->value(QStringLiteral("request")).toString();
    if (name == QLatin1String("banner")) {
        const QJsonValue urlValue = o->value(QStringLiteral("url"));
        const QUrl url(urlValue.toString(), QUrl::StrictMode);
        const auto width = wholeNumber(o->value(QStringLiteral("width")), 1, kMaxBannerSide);
        const auto height = wholeNumber(o->value(QStringLiteral("height")), 1, kMaxBannerSide);
        if (!urlValue.isString() || !url.isValid() || url.isRelative() || !width || !height)
            return std::nullopt;
        const QJsonValue background = o->value(QStringLiteral("background"));
        if (!background.isUndefined() && !(background.isString() && isColourName(background.toString())))
            return std::nullopt;
        return WebRequest::banner(url, static_cast<int>(*width), static_cast<int>(*height), background.toString());
    }
    if (name == QLatin1String("closeBanner"))
        return WebRequest::closeBanner();
    if (name == QLatin1String("website"))
        return WebRequest::website();
    if (name == QLatin1String("ping")) {
        const auto serial = wholeNumber(o->value(QStringLiteral("serial")), 0, kMaxExactInteger);
        if (!serial)
            return std::nullopt;
        return WebRequest::ping(static_cast<quint64>(*serial));
    }
    if (name == QLatin1String("quit"))
        return WebRequest::quit();
    return std::nullopt;
}

std::optional<WebEvent> decodeWebEvent(const QByteArray &line)
{
    const std::optional<QJsonObject> o = parseLine(line);
    if (!o)
        return std::nullopt;
    const QString name = o->value(QStringLiteral("event")).toString();
    if (name == QLatin1String("ready")) {
        const auto version = wholeNumber(o->value(QStringLiteral("version")), 0, 1 << 30);
        if (!version)
            return std::nullopt;
        WebEvent e = WebEvent::ready();
        e.version = static_cast<int>(*version);
        return e;
    }
    if (name == QLatin1String("bannerWindow")) {
        // X window ids are 32 bits; 0 means "none".
        const auto id = wholeNumber(o->value(QStringLiteral("id")), 0, 4294967295.0);
        if (!id)
            return std::nullopt;
        return WebEvent::bannerWindow(static_cast<quint64>(*id));
    }
    if (name == QLatin1String("websiteOpened"))
        return WebEvent::websiteOpened();
    if (name == QLatin1String("websiteClosed"))
        return WebEvent::websiteClosed();
    if (name == QLatin1String("pong")) {
        const auto serial = wholeNumber(o->value(QStringLiteral("serial")), 0, kMaxExactInteger);
        if (!serial)
            return std::nullopt;
        return WebEvent::pong(static_cast<quint64>(*serial));
    }
    return std::nullopt;
}

QList<QByteArray> LineSplitter::feed(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype from = 0;
    while (from < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', from);
        const qsizetype stop = end < 0 ? bytes.size() : end;
        if (!m_skipping) {
            m_pending.append(bytes.constData() + from, stop - from);
            if (m_pending.size() > m_maxLine) {
                m_pending.clear();
                m_skipping = true;
                ++m_dropped;
            }
        }
        if (end < 0)
            break;
        if (!m_skipping)
            lines.append(m_pending);
        m_pending.clear();
        m_skipping = false;
        from = end + 1;
    }
    return lines;
}

} // namespace wendral
