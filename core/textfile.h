#pragma once
// Text files of lines: a line ends at CR LF or at a lone CR; a lone LF is an
// ordinary character. Writing a line appends CR LF.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace wendral::TextFile {

// Splits raw file content into lines as above. Text after the last line end is
// the last line; a file that ends with a line end has no extra empty line.
QStringList splitLines(const QByteArray &content);
// The same split, keeping each line's bytes exactly as they are.
QList<QByteArray> splitRawLines(const QByteArray &content);
// Decodes one line: UTF-8 where it is valid, otherwise byte for byte (Latin-1),
// so that nothing a user typed is ever replaced by placeholder characters.
QString decodeLine(const QByteArray &bytes);
QByteArray encode(const QString &text);

} // namespace wendral::TextFile
