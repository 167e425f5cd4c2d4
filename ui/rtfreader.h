#pragma once
// A small RTF reader of our own: Qt has none, and the help window needs one.
// It turns an RTF document into a QTextDocument (text, paragraphs, line
// breaks, bold/italic/underline/strike, fonts and sizes, colours, alignment and
// indents) and ignores everything it does not understand. It is written for
// hostile input: whatever the bytes, it returns in time linear in their length
// with bounded nesting, and never reads outside the input.

#include <QByteArray>
#include <QString>
#include <QStringList>

class QTextDocument;

namespace wendral {

class RtfReader
{
public:
    // Groups nested deeper than this are dropped whole (no real document comes
    // near it); the limit keeps the state stack small whatever the input.
    static constexpr int kMaxDepth = 200;
    // readFile() refuses files larger than this rather than take the memory.
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

    // Replaces the content of `doc` with the document in `rtf`. Returns false,
    // with `doc` left empty and errorString() saying why, when `rtf` is not an
    // RTF document at all (it must begin with "{\rtf", after optional
    // whitespace). Damage inside a document (unbalanced braces, truncation,
    // junk) is not a failure: what can be read is shown, and warnings() lists
    // what was wrong.
    bool read(const QByteArray &rtf, QTextDocument *doc);
    // read() on the content of a file; false when the file cannot be read.
    bool readFile(const QString &path, QTextDocument *doc);

    QString errorString() const { return m_error; }
    QStringList warnings() const { return m_warnings; }

private:
    QString m_error;
    QStringList m_warnings;
};

} // namespace wendral
