#pragma once
// The website window's run-time arrangement and address handling, kept free of
// widgets so that they can be checked directly.

#include <QString>
#include <QUrl>

namespace wendral {

// What the arrangement reads, in twips. The window's size is its outer size,
// border and title bar included.
struct WebsiteMetrics
{
    int windowWidth = 0;
    int windowHeight = 0;
    int statusBarHeight = 0;
    int text1Left = 0;
    int command3Width = 0;
    int browserLeft = 0;
    int browserTop = 0;
};

// What it sets, in twips. Every size is the absolute value of its difference,
// so none is ever negative however small the window gets.
struct WebsiteArrangement
{
    int panel1Width = 0;
    int panel2Width = 0;
    int frameHeight = 0;
    int frameWidth = 0;
    int text1Width = 0;
    int command3Left = 0;
    int browserWidth = 0;
    int browserHeight = 0;
};

WebsiteArrangement arrangeWebsiteControls(const WebsiteMetrics &m);

// The address the browser is sent to for a typed or stored address: a bare
// domain ("example.com") becomes "http://example.com", an address with a
// scheme is taken as it is. Empty (invalid) for blank text or text that is no
// address at all.
QUrl websiteAddress(const QString &text);

} // namespace wendral
