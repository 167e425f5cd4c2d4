#include "web/websitelayout.h"

#include <QtGlobal>

#include <cstdlib>
#include <limits>

namespace wendral {
namespace {

// |a - b| without overflow, clamped to what an int can hold.
int absDiff(qint64 a, qint64 b)
{
    const qint64 d = std::llabs(a - b);
    return static_cast<int>(qMin<qint64>(d, std::numeric_limits<int>::max()));
}

} // namespace

WebsiteArrangement arrangeWebsiteControls(const WebsiteMetrics &m)
{
    WebsiteArrangement a;
    a.panel1Width = absDiff(m.windowWidth / 2, 0);
    a.panel2Width = absDiff(m.windowWidth / 2, 0);
    a.frameHeight = absDiff(m.windowHeight, m.statusBarHeight);
    a.frameWidth = absDiff(m.windowWidth, 300);
    a.text1Width = absDiff(a.frameWidth, qint64(m.text1Left) + 300 + m.command3Width);
    a.command3Left =
        static_cast<int>(qMin<qint64>(qint64(a.text1Width) + m.text1Left + 100, std::numeric_limits<int>::max()));
    a.browserWidth = absDiff(a.frameWidth, qint64(m.browserLeft) + 100);
    a.browserHeight = absDiff(a.frameHeight, qint64(m.browserTop) + 800 + m.statusBarHeight);
    return a;
}

QUrl websiteAddress(const QString &text)
{
    const QString address = text.trimmed();
    if (address.isEmpty())
        return {};
    // fromUserInput turns "example.com" and "host:8080/x" into http
    // addresses and keeps addresses that carry a scheme.
    const QUrl url = QUrl::fromUserInput(address);
    if (!url.isValid() || url.scheme().isEmpty())
        return {};
    return url;
}

} // namespace wendral
