#pragma once
// The channel between the program and its web helper (wendral-web), the
// process that holds everything drawn by the web engine: one JSON object per
// line, UTF-8. Requests go to the helper's standard input, events come back on
// its standard output. A line that is not a known message, or carries a value
// out of range, is dropped by the side that reads it; neither side ever waits
// for the other.
//
// Requests (program -> helper):
//   {"request":"banner","url":"http://...","width":489,"height":63,"background":"#f0f0f0"}
//       show the banner strip's page in a window of that size, ready to be
//       embedded; a second one changes the page or size
//   {"request":"closeBanner"}     the strip is not shown any more
//   {"request":"website"}         open the website window, or bring it forward
//   {"request":"ping","serial":7} answered with a pong of the same serial
//   {"request":"quit"}            end (as does the end of standard input)
// Events (helper -> program):
//   {"event":"ready","version":1}
//   {"event":"bannerWindow","id":12345}  the X window to embed; published once
//                                        the page has loaded and again
//                                        whenever that window is replaced
//   {"event":"websiteOpened"}, {"event":"websiteClosed"}
//   {"event":"pong","serial":7}

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace wendral {

inline constexpr int kWebProtocolVersion = 1;

struct WebRequest
{
    enum class Kind
    {
        Banner,
        CloseBanner,
        Website,
        Ping,
        Quit
    };
    Kind kind = Kind::Ping;
    // Banner only.
    QUrl url;
    int width = 0;
    int height = 0;
    QString background; // "#rrggbb", or empty for the engine's own
    // Ping only.
    quint64 serial = 0;

    static WebRequest banner(const QUrl &url, int width, int height, const QString &background = {});
    static WebRequest closeBanner() { return WebRequest{Kind::CloseBanner}; }
    static WebRequest website() { return WebRequest{Kind::Website}; }
    static WebRequest ping(quint64 serial);
    static WebRequest quit() { return WebRequest{Kind::Quit}; }
};

struct WebEvent
{
    enum class Kind
    {
        Ready,
        BannerWindow,
        WebsiteOpened,
        WebsiteClosed,
        Pong
    };
    Kind kind = Kind::Ready;
    int version = 0;      // Ready
    quint64 windowId = 0; // BannerWindow
    quint64 serial = 0;   // Pong

    static WebEvent ready() { return WebEvent{Kind::Ready, kWebProtocolVersion}; }
    static WebEvent bannerWindow(quint64 id);
    static WebEvent websiteOpened() { return WebEvent{Kind::WebsiteOpened}; }
    static WebEvent websiteClosed() { return WebEvent{Kind::WebsiteClosed}; }
    static WebEvent pong(quint64 serial);
};

// The largest banner window side accepted, in pixels.
inline constexpr int kMaxBannerSide = 8192;

// One line each, ending in '\n'.
QByteArray encodeWebRequest(const WebRequest &request);
QByteArray encodeWebEvent(const WebEvent &event);
// nullopt for anything that is not a well-formed message of that direction.
// The line may end in '\n' or "\r\n".
std::optional<WebRequest> decodeWebRequest(const QByteArray &line);
std::optional<WebEvent> decodeWebEvent(const QByteArray &line);

// Cuts a byte stream into lines. A line longer than the limit is dropped
// whole (up to its end), so a stream of garbage cannot grow the buffer.
class LineSplitter
{
public:
    explicit LineSplitter(qsizetype maxLine = 64 * 1024) : m_maxLine(maxLine) {}
    // The complete lines in what has arrived so far, without their '\n'.
    QList<QByteArray> feed(const QByteArray &bytes);
    int droppedLines() const { return m_dropped; }

private:
    qsizetype m_maxLine;
    QByteArray m_pending;
    bool m_skipping = false; // inside a line that was too long
    int m_dropped = 0;
};

} // namespace wendral
