#include "ui/rtfreader.h"

#include <QFont>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QtTest>

using namespace wendral;

namespace {

struct Run
{
    QString text;
    QTextCharFormat format;
};

// The text runs of a document, in order, block separators left out.
QList<Run> runs(const QTextDocument &doc)
{
    QList<Run> out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (f.isValid())
                out.append({f.text(), f.charFormat()});
        }
    }
    return out;
}

// The format of the first run containing `needle`; fails the test when none does.
QTextCharFormat formatOf(const QTextDocument &doc, const QString &needle)
{
    for (const Run &r : runs(doc)) {
        if (r.text.contains(needle))
            return r.format;
    }
    qWarning() << "no run contains" << needle;
    return {};
}

bool hasRun(const QTextDocument &doc, const QString &needle)
{
    for (const Run &r : runs(doc)) {
        if (r.text.contains(needle))
            return true;
    }
    return false;
}

QStringList blockTexts(const QTextDocument &doc)
{
    QStringList out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        out << b.text();
    return out;
}

QTextBlock blockWith(const QTextDocument &doc, const QString &needle)
{
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (b.text().contains(needle))
            return b;
    }
    return {};
}

QTextBlock blockEqualTo(const QTextDocument &doc, const QString &text)
{
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (b.text() == text)
            return b;
    }
    return {};
}

// Reads `body` wrapped in a minimal document header.
struct Doc
{
    explicit Doc(const QByteArray &rtf) { ok = reader.read(rtf, &doc); }
    QTextDocument doc;
    RtfReader reader;
    bool ok = false;
    // The text with paragraphs as '\n' (line breaks stay U+2028).
    QString text() const { return doc.toRawText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')); }
};

QByteArray wrap(const QByteArray &body)
{
    return "{\\rtf1\\ansi " + body + "}";
}

} // namespace

class TestRtfReader : public QObject
{
    Q_OBJECT
private slots:
    void text_data();
    void text();
    void characterFormatting();
    void groupsRestoreFormatting();
    void fontTable();
    void fontSizes();
    void colourTable();
    void codePages_data();
    void codePages();
    void unicodeFallback_data();
    void unicodeFallback();
    void skippedDestinations_data();
    void skippedDestinations();
    void paragraphFormatting();
    void refusesWhatIsNotRtf_data();
    void refusesWhatIsNotRtf();
    void hostileInput_data();
    void hostileInput();
    void deepNestingIsCapped();
    void randomJunkNeverBreaksTheReader();
    void giantInputIsReadWhole();
    void readingTwiceReplacesTheDocument();
    void unreadableFiles();
    void shippedHelpDocument();
};

void TestRtfReader::text_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");
    const QString ls(QChar::LineSeparator);
    QTest::newRow("plain") << QByteArray("Hello world") << QStringLiteral("Hello world");
    QTest::newRow("par makes paragraphs") << QByteArray("one\\par two\\par three") << QStringLiteral("one\ntwo\nthree");
    QTest::newRow("line breaks inside a paragraph") << QByteArray("a\\line b") << (QStringLiteral("a") + ls + "b");
    QTest::newRow("backslash newline is a paragraph") << QByteArray("a\\\nb") << QStringLiteral("a\nb");
    QTest::newRow("raw line ends are not text") << QByteArray("a\r\nb\nc") << QStringLiteral("abc");
    QTest::newRow("delimiting space is eaten, the next kept") << QByteArray("\\b  x") << QStringLiteral(" x");
    QTest::newRow("word ended by a digit parameter") << QByteArray("\\fs20x") << QStringLiteral("x");
    QTest::newRow("tab") << QByteArray("a\\tab b") << QStringLiteral("a\tb");
    QTest::newRow("escaped syntax") << QByteArray("\\{ \\} \\\\") << QStringLiteral("{ } \\");
    QTest::newRow("special spaces and hyphens")
        << QByteArray("a\\~b\\-c\\_d") << QString::fromUtf16(u"a\u00A0b\u00ADc\u2011d");
    QTest::newRow("typographic symbols") << QByteArray("\\bullet\\emdash\\endash\\lquote\\rquote\\ldblquote\\rdblquote")
                                         << QString::fromUtf16(u"\u2022\u2014\u2013\u2018\u2019\u201C\u201D");
    QTest::newRow("unknown control words are ignored, their text kept")
        << QByteArray("{\\foo bar}\\baz1 qux") << QStringLiteral("barqux");
    QTest::newRow("group around text") << QByteArray("a{b}c") << QStringLiteral("abc");
    QTest::newRow("stray control bytes dropped") << QByteArray("a\x01\x02"
                                                               "b")
                                                 << QStringLiteral("ab");
}

void TestRtfReader::text()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    Doc d(wrap(body));
    QVERIFY(d.ok);
    QCOMPARE(d.text(), expected);
    QVERIFY2(d.reader.warnings().isEmpty(), qPrintable(d.reader.warnings().join("; ")));
}

void TestRtfReader::characterFormatting()
{
    Doc d(wrap("n \\b b\\b0  \\i i\\i0  \\ul u\\ulnone  \\ul v\\ul0  \\strike s\\strike0  "
               "\\b\\i\\ul all\\plain  plain \\super sup\\nosupersub  \\sub sub\\nosupersub  end"));
    QVERIFY(d.ok);
    QCOMPARE(d.text(), QStringLiteral("n b i u v s all plain sup sub end"));
    QCOMPARE(formatOf(d.doc, "n ").fontWeight(), int(QFont::Normal));
    QCOMPARE(formatOf(d.doc, "b").fontWeight(), int(QFont::Bold));
    QVERIFY(formatOf(d.doc, "i").fontItalic());
    QVERIFY(formatOf(d.doc, "u").fontUnderline());
    QVERIFY(formatOf(d.doc, "v").fontUnderline());
    QVERIFY(formatOf(d.doc, "s").fontStrikeOut());
    const QTextCharFormat all = formatOf(d.doc, "all");
    QVERIFY(all.fontWeight() == QFont::Bold && all.fontItalic() && all.fontUnderline());
    const QTextCharFormat plain = formatOf(d.doc, "plain");
    QVERIFY(plain.fontWeight() == QFont::Normal && !plain.fontItalic() && !plain.fontUnderline());
    QCOMPARE(formatOf(d.doc, "sup").verticalAlignment(), QTextCharFormat::AlignSuperScript);
    QCOMPARE(formatOf(d.doc, "sub").verticalAlignment(), QTextCharFormat::AlignSubScript);
    QCOMPARE(formatOf(d.doc, "end").verticalAlignment(), QTextCharFormat::AlignNormal);
}

void TestRtfReader::groupsRestoreFormatting()
{
    Doc d(wrap("a{\\b b{\\i c}d}e"));
    QCOMPARE(d.text(), QStringLiteral("abcde"));
    QCOMPARE(formatOf(d.doc, "a").fontWeight(), int(QFont::Normal));
    QCOMPARE(formatOf(d.doc, "b").fontWeight(), int(QFont::Bold));
    QVERIFY(formatOf(d.doc, "c").fontItalic());
    QCOMPARE(formatOf(d.doc, "c").fontWeight(), int(QFont::Bold));
    QVERIFY(!formatOf(d.doc, "d").fontItalic());
    QCOMPARE(formatOf(d.doc, "d").fontWeight(), int(QFont::Bold));
    QCOMPARE(formatOf(d.doc, "e").fontWeight(), int(QFont::Normal));
}

void TestRtfReader::fontTable()
{
    Doc d("{\\rtf1\\ansi\\deff1{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman;}"
          "{\\f1\\fswiss Verdana{\\*\\falt Arial};}{\\f2\\fmodern Courier New;}}"
          "default {\\f0 serif} {\\f2 mono} {\\f7 unknown}\\f0\\plain  plain}");
    QVERIFY(d.ok);
    QCOMPARE(d.text(), QStringLiteral("default serif mono unknown plain"));
    QCOMPARE(formatOf(d.doc, "default").fontFamilies().toStringList(), QStringList{"Verdana"});
    QCOMPARE(formatOf(d.doc, "default").fontStyleHint(), QFont::SansSerif);
    QCOMPARE(formatOf(d.doc, "serif").fontFamilies().toStringList(), QStringList{"Times New Roman"});
    QCOMPARE(formatOf(d.doc, "serif").fontStyleHint(), QFont::Serif);
    QCOMPARE(formatOf(d.doc, "mono").fontFamilies().toStringList(), QStringList{"Courier New"});
    // A font the table does not name leaves the family to the viewer.
    QVERIFY(!formatOf(d.doc, "unknown").hasProperty(QTextFormat::FontFamilies));
    // \plain goes back to the default font (\deff1), not to font 0.
    QCOMPARE(formatOf(d.doc, "plain").fontFamilies().toStringList(), QStringList{"Verdana"});

    // The older form: entries without groups, separated by semicolons.
    Doc flat("{\\rtf1{\\fonttbl\\f0\\fswiss Helvetica;\\f1\\fmodern Courier;}\\f1 x}");
    QCOMPARE(flat.text(), QStringLiteral("x"));
    QCOMPARE(formatOf(flat.doc, "x").fontFamilies().toStringList(), QStringList{"Courier"});
}

void TestRtfReader::fontSizes()
{
    Doc d(wrap("default \\fs20 ten \\fs17 eight-and-a-half \\fs0 zero \\fs99999999999999 huge \\fs-4 negative"));
    QCOMPARE(formatOf(d.doc, "default").fontPointSize(), 12.0); // RTF's default is \fs24
    QCOMPARE(formatOf(d.doc, "ten").fontPointSize(), 10.0);
    QCOMPARE(formatOf(d.doc, "eight").fontPointSize(), 8.5);
    QCOMPARE(formatOf(d.doc, "zero").fontPointSize(), 12.0);
    QCOMPARE(formatOf(d.doc, "huge").fontPointSize(), 1638.0);
    QCOMPARE(formatOf(d.doc, "negative").fontPointSize(), 12.0);
}

void TestRtfReader::colourTable()
{
    Doc d("{\\rtf1{\\colortbl;\\red255\\green0\\blue0;\\red0\\green128\\blue0;\\red999\\green-5\\blue7;}"
          "auto {\\cf1 red} {\\cf2\\cb1 green-on-red} {\\highlight2 marked} {\\cf0 zero} {\\cf9 outside} "
          "{\\cf3 clamped}}");
    QVERIFY(d.ok);
    QVERIFY(!formatOf(d.doc, "auto").hasProperty(QTextFormat::ForegroundBrush));
    QCOMPARE(formatOf(d.doc, "red").foreground().color(), QColor(255, 0, 0));
    QCOMPARE(formatOf(d.doc, "green-on-red").foreground().color(), QColor(0, 128, 0));
    QCOMPARE(formatOf(d.doc, "green-on-red").background().color(), QColor(255, 0, 0));
    QCOMPARE(formatOf(d.doc, "marked").background().color(), QColor(0, 128, 0));
    // Index 0 is the automatic colour; an index past the table is too.
    QVERIFY(!formatOf(d.doc, "zero").hasProperty(QTextFormat::ForegroundBrush));
    QVERIFY(!formatOf(d.doc, "outside").hasProperty(QTextFormat::ForegroundBrush));
    QCOMPARE(formatOf(d.doc, "clamped").foreground().color(), QColor(255, 0, 7));
}

void TestRtfReader::codePages_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("expected");
    QTest::newRow("1252 by default") << QByteArray("{\\rtf1 caf\\'e9 \\'80 \\'85 \\'93q\\'94}")
                                     << QString::fromUtf16(u"caf\u00E9 \u20AC \u2026 \u201Cq\u201D");
    QTest::newRow("upper-case hex") << QByteArray("{\\rtf1 \\'C9}") << QString::fromUtf16(u"\u00C9");
    QTest::newRow("raw 8-bit bytes are in the code page too")
        << QByteArray("{\\rtf1 caf\xe9}") << QString::fromUtf16(u"caf\u00E9");
    QTest::newRow("ansicpg 1251") << QByteArray("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}")
                                  << QString::fromUtf16(u"\u041F\u0440\u0438");
    QTest::newRow("font charset overrides the document's")
        << QByteArray("{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset204 Arial Cyr;}}"
                      "\\'e9{\\f1\\'e9}\\'e9}")
        << QString::fromUtf16(u"\u00E9\u0439\u00E9");
    QTest::newRow("double-byte code page")
        << QByteArray("{\\rtf1\\ansi\\ansicpg932 \\'82\\'a0}") << QString::fromUtf16(u"\u3042");
    QTest::newRow("utf-8 code page") << QByteArray("{\\rtf1\\ansi\\ansicpg65001 \\'c3\\'a9}")
                                     << QString::fromUtf16(u"\u00E9");
    QTest::newRow("unknown code page falls back to 1252")
        << QByteArray("{\\rtf1\\ansi\\ansicpg4242 \\'e9\\'80}") << QString::fromUtf16(u"\u00E9\u20AC");
    QTest::newRow("one hex digit") << QByteArray("{\\rtf1 \\'4x}") << QStringLiteral("x"); // a control byte, dropped
    QTest::newRow("no hex digit") << QByteArray("{\\rtf1 \\'zz}") << QStringLiteral("zz");
}

void TestRtfReader::codePages()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, expected);
    Doc d(rtf);
    QVERIFY(d.ok);
    QCOMPARE(d.text(), expected);
}

void TestRtfReader::unicodeFallback_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one fallback character skipped") << QByteArray("\\u8594?x") << QString::fromUtf16(u"\u2192x");
    QTest::newRow("space after the number is its delimiter")
        << QByteArray("\\u8594 ?x") << QString::fromUtf16(u"\u2192x");
    QTest::newRow("negative values wrap") << QByteArray("\\u-3913?") << QString::fromUtf16(u"\uF0B7");
    QTest::newRow("uc0 skips nothing") << QByteArray("\\uc0\\u233 e") << QString::fromUtf16(u"\u00E9e");
    QTest::newRow("uc2 with hex fallback") << QByteArray("\\uc2\\u8364\\'80\\'80x") << QString::fromUtf16(u"\u20ACx");
    QTest::newRow("a control word counts as one")
        << QByteArray("\\uc1\\u8364\\bullet x") << QString::fromUtf16(u"\u20ACx");
    QTest::newRow("uc is scoped to its group") << QByteArray("{\\uc3}\\u233??x") << QString::fromUtf16(u"\u00E9?x");
    QTest::newRow("a brace ends the fallback") << QByteArray("\\uc4\\u233 a{b}c") << QString::fromUtf16(u"\u00E9bc");
    QTest::newRow("surrogate pair") << QByteArray("\\u-10179?\\u-8704?") << QString::fromUtf16(u"\U0001F600");
    QTest::newRow("lone high surrogate") << QByteArray("\\u55357?x") << QString::fromUtf16(u"\uFFFDx");
    QTest::newRow("lone low surrogate") << QByteArray("\\u56832?x") << QString::fromUtf16(u"\uFFFDx");
    QTest::newRow("beyond the 16-bit range") << QByteArray("\\u128512?") << QString::fromUtf16(u"\U0001F600");
    QTest::newRow("beyond Unicode") << QByteArray("\\u99999999999?") << QString::fromUtf16(u"\uFFFD");
    QTest::newRow("control characters dropped") << QByteArray("\\u0?\\u7?a\\u9?b") << QStringLiteral("a\tb");
    QTest::newRow("structure characters replaced")
        << QByteArray("\\u-560?\\u-4?\\u8233?") << QString::fromUtf16(u"\uFFFD\uFFFD\u2028");
}

void TestRtfReader::unicodeFallback()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    Doc d(wrap(body));
    QCOMPARE(d.text(), expected);
}

void TestRtfReader::skippedDestinations_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unknown starred destination")
        << QByteArray("{\\rtf1 a{\\*\\unknowndest b{c}\\par d}e}") << QStringLiteral("ae");
    QTest::newRow("picture with hex data")
        << QByteArray("{\\rtf1 a{\\pict\\pngblip\\picw10 89504e470d0a1a0a{\\*\\blipuid 1}}b}") << QStringLiteral("ab");
    QTest::newRow("picture with binary data holding braces")
        << QByteArray("{\\rtf1 a{\\pict\\bin6 }}{{\\}b}c}") << QStringLiteral("ac");
    QTest::newRow("binary outside a destination") << QByteArray("{\\rtf1 a\\bin3 xyzb}") << QStringLiteral("ab");
    QTest::newRow("stylesheet") << QByteArray("{\\rtf1{\\stylesheet{\\s0 Normal;}{\\s1 Heading;}}x}")
                                << QStringLiteral("x");
    QTest::newRow("info") << QByteArray("{\\rtf1{\\info{\\title T}{\\author A}}x}") << QStringLiteral("x");
    QTest::newRow("header and footer") << QByteArray("{\\rtf1{\\header h}{\\footerl f}x}") << QStringLiteral("x");
    QTest::newRow("object") << QByteArray("{\\rtf1{\\object\\objemb{\\*\\objclass P}{\\*\\objdata 0102}{\\result r}}x}")
                            << QStringLiteral("x");
    QTest::newRow("field shows its result only")
        << QByteArray("{\\rtf1{\\field{\\*\\fldinst{HYPERLINK \"http://x\"}}{\\fldrslt{link}}}}")
        << QStringLiteral("link");
    QTest::newRow("field instruction without star")
        << QByteArray("{\\rtf1{\\field{\\fldinst PAGE}{\\fldrslt 3}}}") << QStringLiteral("3");
    QTest::newRow("tables leave no text")
        << QByteArray("{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red1;}x}") << QStringLiteral("x");
    QTest::newRow("par inside a skipped group makes no paragraph")
        << QByteArray("{\\rtf1 a{\\*\\x\\par}b}") << QStringLiteral("ab");
}

void TestRtfReader::skippedDestinations()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, expected);
    Doc d(rtf);
    QVERIFY(d.ok);
    QCOMPARE(d.text(), expected);
}

void TestRtfReader::paragraphFormatting()
{
    Doc d(wrap("\\qc centred\\par right\\qr\\par \\pard left\\par "
               "\\qj\\li720\\ri360\\fi-360\\sb120\\sa240\\tx720\\tx1440 indented\\par \\pard reset"));
    QCOMPARE(blockTexts(d.doc), (QStringList{"centred", "right", "left", "indented", "reset"}));
    QCOMPARE(blockWith(d.doc, "centred").blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    // A paragraph takes the properties in force at its end.
    QCOMPARE(blockWith(d.doc, "right").blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    QCOMPARE(blockWith(d.doc, "left").blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    const QTextBlockFormat f = blockWith(d.doc, "indented").blockFormat();
    QCOMPARE(f.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignJustify);
    QCOMPARE(f.leftMargin(), 48.0); // twips / 15
    QCOMPARE(f.rightMargin(), 24.0);
    QCOMPARE(f.textIndent(), -24.0);
    QCOMPARE(f.topMargin(), 8.0);
    QCOMPARE(f.bottomMargin(), 16.0);
    // Tab stops count from the page margin in RTF and from the first line's
    // start (720 - 360 twips here) in Qt.
    QCOMPARE(f.tabPositions().size(), 2);
    QCOMPARE(f.tabPositions().at(0).position, 24.0);
    QCOMPARE(f.tabPositions().at(1).position, 72.0);
    const QTextBlockFormat r = blockWith(d.doc, "reset").blockFormat();
    QCOMPARE(r.leftMargin(), 0.0);
    QVERIFY(r.tabPositions().isEmpty());
    QCOMPARE(r.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);

    // An empty paragraph keeps the size in force, so blank lines have height.
    Doc blank(wrap("\\fs48 \\par x"));
    QCOMPARE(blank.doc.begin().charFormat().fontPointSize(), 24.0);
}

void TestRtfReader::refusesWhatIsNotRtf_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("plain text") << QByteArray("Hello, this is not RTF");
    QTest::newRow("html") << QByteArray("<html><body>x</body></html>");
    QTest::newRow("brace only") << QByteArray("{");
    QTest::newRow("rtf in capitals") << QByteArray("{\\RTF1 x}");
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11);
}

void TestRtfReader::refusesWhatIsNotRtf()
{
    QFETCH(QByteArray, input);
    QTextDocument doc;
    doc.setPlainText("old content");
    RtfReader reader;
    QVERIFY(!reader.read(input, &doc));
    QVERIFY(!reader.errorString().isEmpty());
    QVERIFY(doc.isEmpty());
}

void TestRtfReader::hostileInput_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("warns");
    QTest::newRow("leading whitespace and BOM")
        << QByteArray("\xEF\xBB\xBF \r\n{\\rtf1 x}") << QStringLiteral("x") << false;
    QTest::newRow("truncated inside a group") << QByteArray("{\\rtf1 a{\\b b{\\i c") << QStringLiteral("abc") << true;
    QTest::newRow("truncated inside a control word") << QByteArray("{\\rtf1 a\\pa") << QStringLiteral("a") << true;
    QTest::newRow("truncated after a backslash") << QByteArray("{\\rtf1 a\\") << QStringLiteral("a") << true;
    QTest::newRow("truncated inside hex") << QByteArray("{\\rtf1 a\\'4") << QStringLiteral("a") << true;
    QTest::newRow("truncated inside a skipped group")
        << QByteArray("{\\rtf1 a{\\*\\x b") << QStringLiteral("a") << true;
    QTest::newRow("extra closing braces end the document")
        << QByteArray("{\\rtf1 a}}} trailing") << QStringLiteral("a") << true;
    QTest::newRow("nothing after the end is fine")
        << QByteArray("{\\rtf1 a}\r\n\0", 12) << QStringLiteral("a") << false;
    QTest::newRow("parameter overflow") << QByteArray("{\\rtf1\\b99999999999999999999999999 x\\b0 y}")
                                        << QStringLiteral("xy") << false;
    QTest::newRow("huge binary length") << QByteArray("{\\rtf1 a\\bin99999999999999 bbbb}") << QStringLiteral("a")
                                        << true;
    QTest::newRow("negative binary length") << QByteArray("{\\rtf1 a\\bin-5 b}") << QStringLiteral("ab") << false;
    QTest::newRow("huge uc") << QByteArray("{\\rtf1\\uc2147483647\\u65?abc}") << QStringLiteral("A") << false;
    QTest::newRow("minus without digits") << QByteArray("{\\rtf1\\fi- x}") << QStringLiteral("- x") << false;
    QTest::newRow("overlong control word")
        << QByteArray("{\\rtf1 a\\" + QByteArray(100000, 'x') + " b}") << QStringLiteral("ab") << false;
    QTest::newRow("colour index overflow")
        << QByteArray("{\\rtf1{\\colortbl;\\red1;}\\cf2147483647 x\\cf-1 y}") << QStringLiteral("xy") << false;
    QTest::newRow("font number overflow")
        << QByteArray("{\\rtf1{\\fonttbl{\\f99999999999 A;}}\\f-99999999999 x}") << QStringLiteral("x") << false;
    QTest::newRow("nul bytes") << QByteArray("{\\rtf1 a\0b\\'00c}", 16) << QStringLiteral("abc") << false;
    QTest::newRow("font name without end")
        << QByteArray("{\\rtf1{\\fonttbl{\\f0 " + QByteArray(5000, 'N') + "}}x}") << QStringLiteral("x") << false;
}

void TestRtfReader::hostileInput()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, expected);
    QFETCH(bool, warns);
    Doc d(rtf);
    QVERIFY(d.ok);
    QCOMPARE(d.text(), expected);
    QCOMPARE(!d.reader.warnings().isEmpty(), warns);
}

void TestRtfReader::deepNestingIsCapped()
{
    const int depth = 100000;
    QByteArray rtf = "{\\rtf1 before";
    rtf += QByteArray(depth, '{') + "deep" + QByteArray(depth, '}');
    rtf += " after}";
    Doc d(rtf);
    QVERIFY(d.ok);
    // Text beyond the depth limit is dropped, and the braces still balance:
    // what follows the deep part is read normally.
    QCOMPARE(d.text(), QStringLiteral("before after"));
    QCOMPARE(d.reader.warnings().size(), 1);

    // Just inside the limit nothing is lost.
    QByteArray ok = "{\\rtf1 ";
    const int inside = RtfReader::kMaxDepth - 1;
    ok += QByteArray(inside, '{') + "\\b deep" + QByteArray(inside, '}') + " flat}";
    Doc d2(ok);
    QCOMPARE(d2.text(), QStringLiteral("deep flat"));
    QCOMPARE(formatOf(d2.doc, "flat").fontWeight(), int(QFont::Normal));
    QVERIFY(d2.reader.warnings().isEmpty());
}

void TestRtfReader::randomJunkNeverBreaksTheReader()
{
    // Deterministic junk: bytes biased towards RTF syntax, behind a valid header.
    QRandomGenerator rng(20240607);
    const char syntax[] = "{}\\'*;0123456789-abfiu ";
    for (int round = 0; round < 200; ++round) {
        QByteArray junk = "{\\rtf1 ";
        const int len = int(rng.bounded(4000));
        for (int i = 0; i < len; ++i) {
            if (rng.bounded(2))
                junk += syntax[rng.bounded(int(sizeof syntax) - 1)];
            else
                junk += char(rng.bounded(256));
        }
        QTextDocument doc;
        RtfReader reader;
        QVERIFY(reader.read(junk, &doc));
        // Whatever came out is text QTextDocument can hold safely.
        for (const QChar ch : doc.toRawText()) {
            QVERIFY(ch != QChar(0xFDD0) && ch != QChar(0xFDD1) && ch != QChar::ObjectReplacementCharacter);
            QVERIFY(ch.unicode() >= 0x20 || ch == QLatin1Char('\t'));
        }
    }
}

void TestRtfReader::giantInputIsReadWhole()
{
    // 4 MiB of alternating formats: every character must arrive.
    const QByteArray unit = "\\b x\\b0 y{\\i z}\\'e9\\u8594?\\par ";
    const int count = 4 * 1024 * 1024 / int(unit.size());
    QByteArray rtf = "{\\rtf1 ";
    rtf.reserve(count * unit.size() + 16);
    for (int i = 0; i < count; ++i)
        rtf += unit;
    rtf += "}";
    Doc d(rtf);
    QVERIFY(d.ok);
    QCOMPARE(d.doc.blockCount(), count + 1);
    QCOMPARE(d.doc.characterCount(), count * 6 + 1); // "xyzé→" plus a separator per paragraph
    const QTextBlock middle = d.doc.findBlockByNumber(count / 2);
    QCOMPARE(middle.text(), QString::fromUtf16(u"xyz\u00E9\u2192"));
}

void TestRtfReader::readingTwiceReplacesTheDocument()
{
    QTextDocument doc;
    RtfReader reader;
    QVERIFY(reader.read("{\\rtf1 first\\par second", &doc));
    QVERIFY(!reader.warnings().isEmpty());
    QVERIFY(reader.read("{\\rtf1 third}", &doc));
    QCOMPARE(doc.toPlainText(), QStringLiteral("third"));
    QVERIFY(reader.warnings().isEmpty());
    QVERIFY(doc.isUndoRedoEnabled()); // the reader turns undo off only while it reads
    QVERIFY(!doc.isUndoAvailable());
}

void TestRtfReader::unreadableFiles()
{
    QTemporaryDir dir;
    QTextDocument doc;
    doc.setPlainText("old");
    RtfReader reader;
    QVERIFY(!reader.readFile(dir.filePath("missing.rtf"), &doc));
    QVERIFY(!reader.errorString().isEmpty());
    QVERIFY(doc.isEmpty());
    doc.setPlainText("old");
    QVERIFY(!reader.readFile(dir.path(), &doc)); // a folder
    QVERIFY(doc.isEmpty());
}

void TestRtfReader::shippedHelpDocument()
{
    const QString path = QStringLiteral(WENDRAL_SOURCE_DIR "/assets/programfiles/Help.rtf");
    QTextDocument doc;
    RtfReader reader;
    QVERIFY2(reader.readFile(path, &doc), qPrintable(reader.errorString()));
    QVERIFY2(reader.warnings().isEmpty(), qPrintable(reader.warnings().join("; ")));

    const QStringList headings{"What Wendral does",
                               "How Wendral finds your browsers",
                               "Program Options",
                               "Buttons",
                               "The setup-mode prompt",
                               "Menus",
                               "The tray icon",
                               "Super+Z",
                               "This window"};
    double bodySize = 0;
    {
        const QTextBlock body = blockWith(doc, "Wendral stops the unwanted windows");
        QVERIFY(body.isValid());
        const QTextCharFormat f = body.begin().fragment().charFormat();
        QCOMPARE(f.fontWeight(), int(QFont::Normal));
        bodySize = f.fontPointSize();
        QVERIFY(bodySize > 0);
    }
    for (const QString &h : headings) {
        const QTextBlock b = blockEqualTo(doc, h); // a heading is a paragraph of its own
        QVERIFY2(b.isValid(), qPrintable(h));
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            QVERIFY2(f.fontWeight() == QFont::Bold, qPrintable(h));
            QVERIFY2(f.fontPointSize() > bodySize, qPrintable(h));
            QVERIFY2(f.foreground().color() == QColor(0, 51, 153), qPrintable(h));
        }
    }
    // Paragraphs of every topic are present, with the escapes turned into text.
    const QString all = doc.toPlainText();
    for (const char *needle : {"--remote-debugging-port",
                               "wendral-browser",
                               "DevToolsActivePort",
                               "Google Chrome",
                               "Popup Blocking",
                               "Setup Mode",
                               "Exceptions",
                               "Audio",
                               "Visual",
                               "Automation",
                               "Allow Next Popup",
                               "Minimize to Taskbar",
                               "Block Now",
                               "Block Always",
                               "Allow Now",
                               "Allow Always",
                               "Add Program to IE Tools Menu",
                               "Close this menu",
                               "Show program",
                               "Win+Z",
                               "Show at Startup"})
        QVERIFY2(all.contains(QLatin1String(needle)), needle);
    QVERIFY(all.contains(QString::fromUtf16(u"File \u2192 Exit")));   // \u with its fallback skipped
    QVERIFY(all.contains(QString::fromUtf16(u"Visit\u2026")));        // \'85 in code page 1252
    QVERIFY(all.contains(QString::fromUtf16(u"\u00A9 Brindlemark"))); // \'a9
    QVERIFY(all.contains(QString::fromUtf16(u"Wendral\u2019s")));     // \rquote
    QVERIFY(!all.contains(QLatin1String("? Exit")));
    QVERIFY(!all.contains(QLatin1String("Wendral Readme and Help"))); // the info group stays hidden
    QVERIFY(!all.contains(QLatin1String("Verdana")));                 // and so does the font table
    QVERIFY(hasRun(doc, QStringLiteral("wendral-browser")));
    QVERIFY(formatOf(doc, "wendral-browser").fontFamilies().toStringList().contains("Courier New"));
    QVERIFY(doc.blockCount() > 40);
}

QTEST_MAIN(TestRtfReader)
#include "tst_rtfreader.moc"
