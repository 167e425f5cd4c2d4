#pragma once
// The small layer over Qt that the windows and modules rely on where Qt does not
// give a thing directly: twips, one pass of pending events, the application
// object and CR LF text files.

#include <QByteArray>
#include <QRect>
#include <QString>
#include <QStringList>

namespace wendral {

// Positions and sizes in the layouts are twips; Qt's logical pixels are 96 dpi,
// so 15 twips make one pixel (Qt applies real screen scaling itself).
constexpr int kTwipsPerPixel = 15;
int twipsToPixels(int twips);
int pixelsToTwips(int pixels);
QRect twipsRect(int left, int top, int width, int height);

// Runs one pass of the event loop from inside a handler, so that other events
// may be handled while a decision waits.
void processPendingMessages();

// The application object: program folder, executable name and product metadata.
namespace App {
QString path();        // program folder, no trailing separator
QString exeName();     // executable base name
QString exeFullPath(); // the real path of the running executable
QString productName();
QString companyName();
QString comments();
int major();
int minor();
} // namespace App

// Sequential text files. A line ends at CR LF or at a lone CR; a lone LF is an
// ordinary character. Writing a line appends CR LF.
namespace TextFile {
// Splits raw file content into lines as above. Text after the last line end is
// the last line; a file that ends with a line end has no extra empty line.
QStringList splitLines(const QByteArray &content);
// Decodes one line: UTF-8 where it is valid, otherwise byte for byte (Latin-1),
// so that nothing a user typed is ever replaced by placeholder characters.
QString decodeLine(const QByteArray &bytes);
QByteArray encode(const QString &text);
} // namespace TextFile

} // namespace wendral
