#include "ui/rtfreader.h"

#include <QColor>
#include <QFile>
#include <QFont>
#include <QHash>
#include <QList>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace wendral {
namespace {

// ---------------------------------------------------------------------------
// Code pages. 1252 is the default of every RTF writer and is decoded by our own
// table, so the reader never depends on a converter library for the common
// case; other code pages go through Qt's converters where the platform has them
// and fall back to 1252 where it has not.

constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t cp1252(uchar b)
{
    return (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : char16_t(b);
}

// The converter names tried for a Windows code page number, best first.
QList<QByteArray> converterNames(int cp)
{
    switch (cp) {
    case 437:
        return {"IBM437"};
    case 850:
        return {"IBM850"};
    case 852:
        return {"IBM852"};
    case 866:
        return {"IBM866"};
    case 874:
        return {"windows-874"};
    case 932:
        return {"Shift_JIS", "windows-31j"};
    case 936:
        return {"GBK", "GB2312"};
    case 949:
        return {"windows-949", "EUC-KR"};
    case 950:
        return {"Big5"};
    case 10000:
        return {"macintosh"};
    default:
        break;
    }
    if (cp >= 1250 && cp <= 1258)
        return {QByteArray("windows-") + QByteArray::number(cp)};
    if (cp >= 28592 && cp <= 28599)
        return {QByteArray("ISO-8859-") + QByteArray::number(cp - 28590)};
    return {};
}

// RTF \fcharsetN values and the Windows code pages they stand for; 0 means
// "the document's own code page".
int charsetCodePage(int charset)
{
    switch (charset) {
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 254:
        return 437;
    case 255:
        return 850;
    default:
        return 0; // ANSI, default, symbol and anything unknown
    }
}

class CodePages
{
public:
    QString decode(const QByteArray &bytes, int cp)
    {
        if (bytes.isEmpty())
            return {};
        switch (cp) {
        case 65001:
            return QString::fromUtf8(bytes);
        case 20127:
        case 28591:
            return QString::fromLatin1(bytes);
        case 1252:
            return decode1252(bytes);
        default:
            break;
        }
        QStringDecoder *decoder = converter(cp);
        if (!decoder)
            return decode1252(bytes);
        decoder->resetState();
        QString text = decoder->decode(bytes);
        decoder->resetState();
        return text;
    }

private:
    static QString decode1252(const QByteArray &bytes)
    {
        QString text(bytes.size(), Qt::Uninitialized);
        QChar *out = text.data();
        for (const char c : bytes)
            *out++ = QChar(cp1252(uchar(c)));
        return text;
    }

    QStringDecoder *converter(int cp)
    {
        auto it = m_converters.find(cp);
        if (it != m_converters.end())
            return it->second.get();
        std::unique_ptr<QStringDecoder> found;
        // Only known code pages are looked up, so a document cannot make us
        // open converters without end.
        for (const QByteArray &name : converterNames(cp)) {
            auto d = std::make_unique<QStringDecoder>(name.constData(), QStringConverter::Flag::Stateless);
            if (d->isValid()) {
                found = std::move(d);
                break;
            }
        }
        QStringDecoder *result = found.get();
        m_converters.emplace(cp, std::move(found));
        return result;
    }

    std::unordered_map<int, std::unique_ptr<QStringDecoder>> m_converters;
};

// ---------------------------------------------------------------------------
// Control words.

enum class Kw
{
    // document
    Ansi,
    Mac,
    Pc,
    Pca,
    AnsiCpg,
    Deff,
    Uc,
    U,
    Bin,
    // destinations
    FontTbl,
    ColorTbl,
    SkipDest,
    // font table
    FontFamily,
    FCharset,
    Cpg,
    // colour table
    Red,
    Green,
    Blue,
    // character
    Plain,
    B,
    I,
    Ul,
    UlNone,
    Strike,
    F,
    Fs,
    Cf,
    Cb,
    Super,
    Sub,
    NoSuperSub,
    // paragraph
    Par,
    Line,
    Pard,
    Ql,
    Qc,
    Qr,
    Qj,
    Li,
    Ri,
    Fi,
    Sb,
    Sa,
    Tab,
    TabStop,
    Cell,
    // a character of its own
    Symbol,
};

struct KwInfo
{
    Kw kw;
    int value = 0; // code point for Symbol, style hint for FontFamily
};

const std::unordered_map<std::string_view, KwInfo> &keywords()
{
    static const std::unordered_map<std::string_view, KwInfo> table = [] {
        std::unordered_map<std::string_view, KwInfo> t{
            {"ansi", {Kw::Ansi}},
            {"mac", {Kw::Mac}},
            {"pc", {Kw::Pc}},
            {"pca", {Kw::Pca}},
            {"ansicpg", {Kw::AnsiCpg}},
            {"deff", {Kw::Deff}},
            {"uc", {Kw::Uc}},
            {"u", {Kw::U}},
            {"bin", {Kw::Bin}},
            {"fonttbl", {Kw::FontTbl}},
            {"colortbl", {Kw::ColorTbl}},
            {"fnil", {Kw::FontFamily, QFont::AnyStyle}},
            {"froman", {Kw::FontFamily, QFont::Serif}},
            {"fswiss", {Kw::FontFamily, QFont::SansSerif}},
            {"fmodern", {Kw::FontFamily, QFont::Monospace}},
            {"fscript", {Kw::FontFamily, QFont::Cursive}},
            {"fdecor", {Kw::FontFamily, QFont::Decorative}},
            {"ftech", {Kw::FontFamily, QFont::AnyStyle}},
            {"fbidi", {Kw::FontFamily, QFont::AnyStyle}},
            {"fcharset", {Kw::FCharset}},
            {"cpg", {Kw::Cpg}},
            {"red", {Kw::Red}},
            {"green", {Kw::Green}},
            {"blue", {Kw::Blue}},
            {"plain", {Kw::Plain}},
            {"b", {Kw::B}},
            {"i", {Kw::I}},
            {"ul", {Kw::Ul}},
            {"uld", {Kw::Ul}},
            {"uldash", {Kw::Ul}},
            {"uldashd", {Kw::Ul}},
            {"uldashdd", {Kw::Ul}},
            {"uldb", {Kw::Ul}},
            {"ulth", {Kw::Ul}},
            {"ulw", {Kw::Ul}},
            {"ulwave", {Kw::Ul}},
            {"ulnone", {Kw::UlNone}},
            {"strike", {Kw::Strike}},
            {"striked", {Kw::Strike}},
            {"f", {Kw::F}},
            {"fs", {Kw::Fs}},
            {"cf", {Kw::Cf}},
            {"cb", {Kw::Cb}},
            {"highlight", {Kw::Cb}},
            {"super", {Kw::Super}},
            {"sub", {Kw::Sub}},
            {"nosupersub", {Kw::NoSuperSub}},
            {"par", {Kw::Par}},
            {"sect", {Kw::Par}},
            {"page", {Kw::Par}},
            {"row", {Kw::Par}},
            {"nestrow", {Kw::Par}},
            {"line", {Kw::Line}},
            {"pard", {Kw::Pard}},
            {"ql", {Kw::Ql}},
            {"qc", {Kw::Qc}},
            {"qr", {Kw::Qr}},
            {"qj", {Kw::Qj}},
            {"li", {Kw::Li}},
            {"lin", {Kw::Li}},
            {"ri", {Kw::Ri}},
            {"rin", {Kw::Ri}},
            {"fi", {Kw::Fi}},
            {"sb", {Kw::Sb}},
            {"sa", {Kw::Sa}},
            {"tab", {Kw::Tab}},
            {"tx", {Kw::TabStop}},
            {"cell", {Kw::Cell}},
            {"nestcell", {Kw::Cell}},
            {"bullet", {Kw::Symbol, 0x2022}},
            {"emdash", {Kw::Symbol, 0x2014}},
            {"endash", {Kw::Symbol, 0x2013}},
            {"lquote", {Kw::Symbol, 0x2018}},
            {"rquote", {Kw::Symbol, 0x2019}},
            {"ldblquote", {Kw::Symbol, 0x201C}},
            {"rdblquote", {Kw::Symbol, 0x201D}},
            {"emspace", {Kw::Symbol, 0x2003}},
            {"enspace", {Kw::Symbol, 0x2002}},
            {"qmspace", {Kw::Symbol, 0x2005}},
            {"zwj", {Kw::Symbol, 0x200D}},
            {"zwnj", {Kw::Symbol, 0x200C}},
            {"ltrmark", {Kw::Symbol, 0x200E}},
            {"rtlmark", {Kw::Symbol, 0x200F}},
        };
        // Destinations whose content is never shown: skipped whole, with
        // everything nested in them.
        for (std::string_view d : {"stylesheet",
                                   "info",
                                   "header",
                                   "headerl",
                                   "headerr",
                                   "headerf",
                                   "footer",
                                   "footerl",
                                   "footerr",
                                   "footerf",
                                   "pict",
                                   "object",
                                   "objdata",
                                   "fldinst",
                                   "themedata",
                                   "colorschememapping",
                                   "latentstyles",
                                   "datastore",
                                   "xmlnstbl",
                                   "listtable",
                                   "listoverridetable",
                                   "rsidtbl",
                                   "generator",
                                   "filetbl",
                                   "revtbl",
                                   "footnote",
                                   "annotation",
                                   "atnid",
                                   "atnauthor",
                                   "shp",
                                   "shpinst",
                                   "nonshppict",
                                   "bkmkstart",
                                   "bkmkend",
                                   "pn",
                                   "private",
                                   "xe",
                                   "tc",
                                   "txe",
                                   "docvar",
                                   "userprops",
                                   "ftnsep",
                                   "ftnsepc",
                                   "aftnsep",
                                   "aftnsepc",
                                   "ftncn",
                                   "aftncn",
                                   "template",
                                   "pgdsctbl",
                                   "mmathPr",
                                   "falt",
                                   "panose",
                                   "fname",
                                   "leveltext",
                                   "levelnumbers",
                                   "protusertbl",
                                   "wgrffmtfilter",
                                   "passwordhash",
                                   "background"})
            t.emplace(d, KwInfo{Kw::SkipDest});
        return t;
    }();
    return table;
}

// ---------------------------------------------------------------------------
// The parser proper.

enum class Dest : quint8
{
    Body,
    FontTable,
    ColorTable,
    Skip
};

struct CharProps
{
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int font = -1; // -1: the document's default font (\deff)
    int halfPoints = 24;
    int fg = 0; // colour table index, 0 = automatic
    int bg = 0;
    int vertical = 0; // 1 superscript, -1 subscript
    bool operator==(const CharProps &) const = default;
};

struct ParaProps
{
    Qt::Alignment align = Qt::AlignLeft;
    int left = 0; // twips
    int right = 0;
    int first = 0;
    int before = 0;
    int after = 0;
    // Tab stops (\txN), in twips; a fixed array keeps the state plain.
    std::array<int, 32> tabs{};
    int tabCount = 0;
};

struct Group
{
    CharProps chr;
    ParaProps para;
    Dest dest = Dest::Body;
    int uc = 1; // characters of fallback after each \u
};

struct FontEntry
{
    QString name;
    QFont::StyleHint hint = QFont::AnyStyle;
    int codePage = 0; // 0: the document's code page
};

constexpr int kMaxFontName = 256;
constexpr int kMaxHalfPoints = 3276; // 1638 pt, the largest size RTF knows
constexpr int kMaxIndent = 31680;    // 22 inches
constexpr int kMaxUc = 1000;

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Bytes that are text wherever they stand (no syntax, no control byte).
bool isPlainText(char c)
{
    return uchar(c) >= 0x20 && c != '{' && c != '}' && c != '\\';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Parser
{
public:
    Parser(const QByteArray &input, qsizetype start, QTextDocument *doc, QStringList *warnings)
        : m_p(input.constData() + start), m_end(input.constData() + input.size()), m_cursor(doc), m_warnings(warnings)
    {}

    void run()
    {
        m_cursor.beginEditBlock();
        while (m_p < m_end && !m_done) {
            const char c = *m_p++;
            switch (c) {
            case '{':
                openGroup();
                break;
            case '}':
                closeGroup();
                break;
            case '\\':
                control();
                break;
            case '\r':
            case '\n':
                break;
            default:
                if (uchar(c) >= 0x20 && m_skipPending == 0 && !ignoring() && top().dest == Dest::Body) {
                    // A stretch of plain text is taken in one piece.
                    const char *from = m_p - 1;
                    while (m_p < m_end && isPlainText(*m_p))
                        ++m_p;
                    startText();
                    m_bytes.append(from, m_p - from);
                } else {
                    textByte(uchar(c));
                }
                break;
            }
        }
        finish();
        m_cursor.endEditBlock();
    }

private:
    // --- state --------------------------------------------------------------

    Group &top() { return m_stack.back(); }
    bool ignoring() const { return m_stack.isEmpty() || m_overflow > 0 || m_stack.back().dest == Dest::Skip; }

    enum Warning
    {
        TooDeep,
        Unclosed,
        TrailingText
    };

    // Each kind of damage is reported once; the text is only built then (a
    // hostile document may hit the same damage millions of times).
    void warnOnce(Warning kind)
    {
        if (m_warned & (1u << kind))
            return;
        m_warned |= 1u << kind;
        switch (kind) {
        case TooDeep:
            m_warnings->append(
                QStringLiteral("groups nested deeper than %1 levels were left out").arg(RtfReader::kMaxDepth));
            break;
        case Unclosed:
            m_warnings->append(QStringLiteral("the document ends before all its groups are closed"));
            break;
        case TrailingText:
            m_warnings->append(QStringLiteral("text after the end of the document was ignored"));
            break;
        }
    }

    void openGroup()
    {
        m_skipPending = 0;
        if (m_overflow > 0 || m_stack.size() >= RtfReader::kMaxDepth) {
            ++m_overflow;
            warnOnce(TooDeep);
            return;
        }
        if (m_stack.isEmpty())
            m_stack.append(Group{});
        else
            m_stack.append(m_stack.back());
    }

    void closeGroup()
    {
        m_skipPending = 0;
        if (m_overflow > 0) {
            --m_overflow;
            return;
        }
        if (m_stack.isEmpty())
            return;
        if (top().dest == Dest::FontTable)
            commitFont();
        if (m_stack.size() == 1) {
            m_done = true; // the document's outermost group is closed
            return;
        }
        m_stack.removeLast();
    }

    // --- tokens -------------------------------------------------------------

    void control()
    {
        if (m_p >= m_end)
            return; // a lone backslash at the very end
        const char c = *m_p;
        if (!isLetter(c)) {
            ++m_p;
            symbol(c);
            return;
        }
        const char *start = m_p;
        while (m_p < m_end && isLetter(*m_p))
            ++m_p;
        const std::string_view name(start, size_t(m_p - start));
        bool hasParam = false;
        int param = 0;
        bool negative = false;
        if (m_p + 1 < m_end && *m_p == '-' && isDigit(m_p[1])) {
            negative = true;
            ++m_p;
        }
        if (m_p < m_end && isDigit(*m_p)) {
            hasParam = true;
            qint64 value = 0;
            constexpr qint64 limit = std::numeric_limits<int>::max();
            // Every digit is consumed; the value saturates instead of overflowing.
            while (m_p < m_end && isDigit(*m_p)) {
                if (value <= limit)
                    value = value * 10 + (*m_p - '0');
                ++m_p;
            }
            value = std::min(value, limit);
            param = int(negative ? -value : value);
        }
        if (m_p < m_end && *m_p == ' ')
            ++m_p; // the delimiting space belongs to the control word

        const auto &table = keywords();
        const auto it = table.find(name);
        if (it != table.end() && it->second.kw == Kw::Bin) {
            // Binary data is skipped wherever it is; it may hold any byte, braces too.
            if (hasParam && param > 0)
                m_p += std::min<qint64>(param, m_end - m_p);
            return;
        }
        if (m_skipPending > 0) {
            --m_skipPending;
            return;
        }
        if (ignoring() || it == table.end())
            return;
        word(it->second, hasParam, param);
    }

    void symbol(char c)
    {
        if (c == '\'') {
            int value = 0;
            int digits = 0;
            while (digits < 2 && m_p < m_end && hexValue(*m_p) >= 0) {
                value = value * 16 + hexValue(*m_p++);
                ++digits;
            }
            if (digits > 0)
                textByte(uchar(value), true);
            return;
        }
        if (m_skipPending > 0) {
            --m_skipPending;
            return;
        }
        if (ignoring())
            return;
        switch (c) {
        case '\\':
        case '{':
        case '}':
            textByte(uchar(c), true);
            break;
        case '~':
            textChar(0x00A0);
            break;
        case '-':
            textChar(0x00AD);
            break;
        case '_':
            textChar(0x2011);
            break;
        case '*':
            top().dest = Dest::Skip; // a destination this reader may not know
            break;
        case '\r':
        case '\n':
            paragraph();
            break;
        case '\t':
            textChar(u'\t');
            break;
        default:
            break;
        }
    }

    void word(const KwInfo &info, bool hasParam, int param)
    {
        Group &g = top();
        CharProps &c = g.chr;
        ParaProps &p = g.para;
        const bool on = !hasParam || param != 0;
        switch (info.kw) {
        case Kw::Ansi:
            m_codePage = 1252;
            break;
        case Kw::Mac:
            m_codePage = 10000;
            break;
        case Kw::Pc:
            m_codePage = 437;
            break;
        case Kw::Pca:
            m_codePage = 850;
            break;
        case Kw::AnsiCpg:
            if (param > 0)
                m_codePage = param;
            break;
        case Kw::Deff:
            m_defaultFont = param;
            break;
        case Kw::Uc:
            g.uc = std::clamp(param, 0, kMaxUc);
            break;
        case Kw::U:
            unicode(param);
            m_skipPending = g.uc;
            break;
        case Kw::Bin:
            break; // handled by the tokenizer
        case Kw::FontTbl:
            g.dest = Dest::FontTable;
            m_fontNumber = 0;
            m_fontEntry = FontEntry{};
            m_fontBytes.clear();
            break;
        case Kw::ColorTbl:
            g.dest = Dest::ColorTable;
            resetColour();
            break;
        case Kw::SkipDest:
            g.dest = Dest::Skip;
            break;
        case Kw::FontFamily:
            if (g.dest == Dest::FontTable)
                m_fontEntry.hint = QFont::StyleHint(info.value);
            break;
        case Kw::FCharset:
            if (g.dest == Dest::FontTable && m_fontEntry.codePage == 0)
                m_fontEntry.codePage = charsetCodePage(param);
            break;
        case Kw::Cpg:
            if (g.dest == Dest::FontTable && param > 0)
                m_fontEntry.codePage = param;
            break;
        case Kw::Red:
            m_red = std::clamp(param, 0, 255);
            m_colourGiven = true;
            break;
        case Kw::Green:
            m_green = std::clamp(param, 0, 255);
            m_colourGiven = true;
            break;
        case Kw::Blue:
            m_blue = std::clamp(param, 0, 255);
            m_colourGiven = true;
            break;
        case Kw::Plain:
            c = CharProps{};
            break;
        case Kw::B:
            c.bold = on;
            break;
        case Kw::I:
            c.italic = on;
            break;
        case Kw::Ul:
            c.underline = on;
            break;
        case Kw::UlNone:
            c.underline = false;
            break;
        case Kw::Strike:
            c.strike = on;
            break;
        case Kw::F:
            if (g.dest == Dest::FontTable) {
                // A new entry; the previous one may have lacked its ';'.
                if (!m_fontName.isEmpty() || !m_fontBytes.isEmpty())
                    commitFont();
                m_fontNumber = param;
            } else {
                c.font = param;
            }
            break;
        case Kw::Fs:
            c.halfPoints = hasParam && param > 0 ? std::min(param, kMaxHalfPoints) : 24;
            break;
        case Kw::Cf:
            c.fg = std::max(param, 0);
            break;
        case Kw::Cb:
            c.bg = std::max(param, 0);
            break;
        case Kw::Super:
            c.vertical = 1;
            break;
        case Kw::Sub:
            c.vertical = -1;
            break;
        case Kw::NoSuperSub:
            c.vertical = 0;
            break;
        case Kw::Par:
            if (g.dest == Dest::Body)
                paragraph();
            break;
        case Kw::Line:
            textChar(QChar::LineSeparator);
            break;
        case Kw::Pard:
            p = ParaProps{};
            break;
        case Kw::Ql:
            p.align = Qt::AlignLeft;
            break;
        case Kw::Qc:
            p.align = Qt::AlignHCenter;
            break;
        case Kw::Qr:
            p.align = Qt::AlignRight;
            break;
        case Kw::Qj:
            p.align = Qt::AlignJustify;
            break;
        case Kw::Li:
            p.left = std::clamp(param, 0, kMaxIndent);
            break;
        case Kw::Ri:
            p.right = std::clamp(param, 0, kMaxIndent);
            break;
        case Kw::Fi:
            p.first = std::clamp(param, -kMaxIndent, kMaxIndent);
            break;
        case Kw::Sb:
            p.before = std::clamp(param, 0, kMaxIndent);
            break;
        case Kw::Sa:
            p.after = std::clamp(param, 0, kMaxIndent);
            break;
        case Kw::TabStop:
            if (p.tabCount < int(p.tabs.size()))
                p.tabs[size_t(p.tabCount++)] = std::clamp(param, 0, kMaxIndent);
            break;
        case Kw::Tab:
        case Kw::Cell:
            textChar(u'\t');
            break;
        case Kw::Symbol:
            textChar(char16_t(info.value));
            break;
        }
    }

    // --- text ---------------------------------------------------------------

    // A byte of text in the document's (or the current font's) code page.
    // `escaped` bytes came from \'hh or \{ and are never syntax.
    void textByte(uchar b, bool escaped = false)
    {
        if (ignoring())
            return;
        if (m_skipPending > 0) {
            --m_skipPending;
            return;
        }
        const Dest dest = top().dest;
        if (dest == Dest::ColorTable) {
            if (b == ';' && !escaped)
                commitColour();
            return;
        }
        if (dest == Dest::FontTable) {
            if (b == ';' && !escaped)
                commitFont();
            else if (b >= 0x20 && m_fontBytes.size() < kMaxFontName)
                m_fontBytes.append(char(b));
            return;
        }
        if (b == '\t') {
            textChar(u'\t');
            return;
        }
        if (b < 0x20 && !escaped)
            return; // stray control bytes of a damaged file
        startText();
        m_bytes.append(char(b));
    }

    // A character known as Unicode.
    void textChar(char16_t ch)
    {
        if (ignoring())
            return;
        const Dest dest = top().dest;
        if (dest == Dest::FontTable) {
            if (m_fontName.size() + m_fontBytes.size() < kMaxFontName) {
                m_fontName += fontBytesDecoded();
                m_fontName += QChar(ch);
            }
            return;
        }
        if (dest != Dest::Body)
            return;
        startText();
        flushBytes();
        m_run += QChar(ch);
    }

    void unicode(int value)
    {
        if (value < 0)
            value += 65536;
        if (value >= 0xD800 && value <= 0xDBFF) {
            if (m_highSurrogate)
                textChar(0xFFFD);
            m_highSurrogate = char16_t(value);
            return;
        }
        if (value >= 0xDC00 && value <= 0xDFFF) {
            if (m_highSurrogate) {
                const char16_t high = m_highSurrogate;
                m_highSurrogate = 0;
                textChar(high);
                textChar(char16_t(value));
            } else {
                textChar(0xFFFD);
            }
            return;
        }
        if (m_highSurrogate) {
            m_highSurrogate = 0;
            textChar(0xFFFD);
        }
        if (value > 0xFFFF && value <= 0x10FFFF) {
            const char32_t cp = char32_t(value);
            textChar(QChar::highSurrogate(cp));
            textChar(QChar::lowSurrogate(cp));
            return;
        }
        if (value < 0 || value > 0x10FFFF) {
            textChar(0xFFFD);
            return;
        }
        const char16_t ch = char16_t(value);
        if (ch == u'\t')
            textChar(ch);
        else if (ch >= 0x20)
            textChar(ch);
    }

    // Called before text is added: text with other properties than the
    // current run starts a new run.
    void startText()
    {
        if (m_highSurrogate) {
            // A high surrogate followed by anything but its low half.
            m_highSurrogate = 0;
            flushBytes();
            m_run += QChar(0xFFFD);
        }
        const CharProps &now = top().chr;
        if (!(now == m_runProps)) {
            flushRun();
            m_runProps = now;
        }
        m_blockHasText = true;
    }

    void flushBytes()
    {
        if (m_bytes.isEmpty())
            return;
        m_run += m_codePages.decode(m_bytes, codePageOf(m_runProps));
        m_bytes.clear();
    }

    void flushRun()
    {
        flushBytes();
        if (m_run.isEmpty())
            return;
        sanitize(m_run);
        m_cursor.insertText(m_run, charFormat(m_runProps));
        m_run.clear();
    }

    // Characters that QTextDocument treats as structure (paragraph and frame
    // marks, embedded objects) or that have no place in shown text.
    static void sanitize(QString &text)
    {
        // Control characters (escaped bytes like \'00, or a converter's
        // output) are dropped; structure marks become harmless characters;
        // surrogates without their other half are replaced.
        QChar *out = text.data();
        const QChar *in = text.constData();
        const qsizetype n = text.size();
        qsizetype kept = 0;
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t u = in[i].unicode();
            if (u == QChar::ParagraphSeparator || u == u'\n' || u == u'\r') {
                out[kept++] = QChar::LineSeparator;
            } else if ((u < 0x20 && u != u'\t') || u == 0x7F) {
                continue;
            } else if (u == 0xFDD0 || u == 0xFDD1 || u == QChar::ObjectReplacementCharacter) {
                out[kept++] = QChar(0xFFFD);
            } else if (QChar::isHighSurrogate(u) && i + 1 < n && in[i + 1].isLowSurrogate()) {
                out[kept++] = in[i];
                out[kept++] = in[++i];
            } else if (QChar::isSurrogate(u)) {
                out[kept++] = QChar(0xFFFD);
            } else {
                out[kept++] = in[i];
            }
        }
        text.truncate(kept);
    }

    void paragraph()
    {
        if (ignoring() || top().dest != Dest::Body)
            return;
        flushRun();
        if (!m_blockHasText)
            m_cursor.setBlockCharFormat(charFormat(top().chr));
        m_cursor.setBlockFormat(blockFormat(top().para));
        m_cursor.insertBlock(QTextBlockFormat(), charFormat(top().chr));
        m_blockHasText = false;
    }

    void finish()
    {
        if (m_highSurrogate) {
            m_highSurrogate = 0;
            if (!ignoring() && top().dest == Dest::Body)
                m_run += QChar(0xFFFD);
        }
        flushRun();
        const ParaProps para = m_stack.isEmpty() ? ParaProps{} : m_stack.back().para;
        m_cursor.setBlockFormat(blockFormat(para));
        if (!m_done) {
            warnOnce(Unclosed);
        } else {
            for (const char *q = m_p; q < m_end; ++q) {
                if (*q != ' ' && *q != '\r' && *q != '\n' && *q != '\t' && *q != '\0') {
                    warnOnce(TrailingText);
                    break;
                }
            }
        }
    }

    // --- formats ------------------------------------------------------------

    const FontEntry *fontOf(const CharProps &c) const
    {
        const auto it = m_fonts.constFind(c.font < 0 ? m_defaultFont : c.font);
        return it == m_fonts.constEnd() ? nullptr : &it.value();
    }

    int codePageOf(const CharProps &c) const
    {
        const FontEntry *f = fontOf(c);
        return f && f->codePage > 0 ? f->codePage : m_codePage;
    }

    QColor colour(int index) const
    {
        if (index <= 0 || index >= m_colours.size())
            return {};
        return m_colours.at(index);
    }

    QTextCharFormat charFormat(const CharProps &c) const
    {
        QTextCharFormat f;
        f.setFontWeight(c.bold ? QFont::Bold : QFont::Normal);
        f.setFontItalic(c.italic);
        f.setFontUnderline(c.underline);
        f.setFontStrikeOut(c.strike);
        f.setFontPointSize(c.halfPoints / 2.0);
        if (const FontEntry *font = fontOf(c); font && !font->name.isEmpty()) {
            f.setFontFamilies(QStringList{font->name});
            f.setFontStyleHint(font->hint);
        }
        if (const QColor fg = colour(c.fg); fg.isValid())
            f.setForeground(fg);
        if (const QColor bg = colour(c.bg); bg.isValid())
            f.setBackground(bg);
        if (c.vertical > 0)
            f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
        else if (c.vertical < 0)
            f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
        return f;
    }

    static QTextBlockFormat blockFormat(const ParaProps &p)
    {
        QTextBlockFormat f;
        f.setAlignment(p.align);
        // Twips to the document's logical pixels (15 twips each).
        f.setLeftMargin(p.left / 15.0);
        f.setRightMargin(p.right / 15.0);
        f.setTextIndent(p.first / 15.0);
        f.setTopMargin(p.before / 15.0);
        f.setBottomMargin(p.after / 15.0);
        if (p.tabCount > 0) {
            // RTF measures tab stops from the page margin; Qt from where the
            // line starts. Measured from the first line's start, a hanging
            // indent with a tab stop at the indent ("\fi-240\li480\tx480
            // \bullet\tab text") lines the text up with the lines below.
            const int lineStart = p.left + p.first;
            QList<QTextOption::Tab> tabs;
            for (int i = 0; i < p.tabCount; ++i) {
                const int at = p.tabs[size_t(i)] - lineStart;
                if (at > 0)
                    tabs.append(QTextOption::Tab(at / 15.0, QTextOption::LeftTab));
            }
            f.setTabPositions(tabs);
        }
        return f;
    }

    // --- tables -------------------------------------------------------------

    QString fontBytesDecoded()
    {
        const int cp = m_fontEntry.codePage > 0 ? m_fontEntry.codePage : m_codePage;
        QString text = m_codePages.decode(m_fontBytes, cp);
        m_fontBytes.clear();
        return text;
    }

    void commitFont()
    {
        m_fontName += fontBytesDecoded();
        QString name = m_fontName.trimmed();
        m_fontName.clear();
        sanitize(name);
        if (!name.isEmpty()) {
            m_fontEntry.name = name.left(kMaxFontName);
            m_fonts.insert(m_fontNumber, m_fontEntry);
        }
        m_fontEntry = FontEntry{};
    }

    void resetColour()
    {
        m_red = m_green = m_blue = 0;
        m_colourGiven = false;
    }

    void commitColour()
    {
        // An entry without components is "automatic" (the first one, usually).
        m_colours.append(m_colourGiven ? QColor(m_red, m_green, m_blue) : QColor());
        resetColour();
    }

    // input
    const char *m_p;
    const char *m_end;
    bool m_done = false;

    // groups
    QList<Group> m_stack;
    qint64 m_overflow = 0; // groups opened beyond the depth limit, still open
    int m_skipPending = 0;
    char16_t m_highSurrogate = 0;

    // document
    int m_codePage = 1252;
    int m_defaultFont = 0;
    QHash<int, FontEntry> m_fonts;
    QList<QColor> m_colours;
    CodePages m_codePages;

    // table being read
    int m_fontNumber = 0;
    FontEntry m_fontEntry;
    QByteArray m_fontBytes;
    QString m_fontName;
    int m_red = 0;
    int m_green = 0;
    int m_blue = 0;
    bool m_colourGiven = false;

    // output
    QTextCursor m_cursor;
    CharProps m_runProps;
    QByteArray m_bytes;
    QString m_run;
    bool m_blockHasText = false;

    QStringList *m_warnings;
    quint32 m_warned = 0;
};

} // namespace

bool RtfReader::read(const QByteArray &rtf, QTextDocument *doc)
{
    m_error.clear();
    m_warnings.clear();
    if (!doc) {
        m_error = QStringLiteral("no document to read into");
        return false;
    }
    const bool undo = doc->isUndoRedoEnabled();
    doc->setUndoRedoEnabled(false);
    doc->clear();

    qsizetype start = 0;
    if (rtf.startsWith("\xEF\xBB\xBF"))
        start = 3;
    while (start < rtf.size() &&
           (rtf.at(start) == ' ' || rtf.at(start) == '\t' || rtf.at(start) == '\r' || rtf.at(start) == '\n'))
        ++start;
    if (rtf.mid(start, 5) != QByteArrayLiteral("{\\rtf")) {
        m_error = QStringLiteral("not an RTF document");
        doc->setUndoRedoEnabled(undo);
        return false;
    }

    Parser parser(rtf, start, doc, &m_warnings);
    parser.run();
    doc->setUndoRedoEnabled(undo);
    return true;
}

bool RtfReader::readFile(const QString &path, QTextDocument *doc)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_warnings.clear();
        m_error = file.errorString();
        if (doc)
            doc->clear();
        return false;
    }
    if (file.size() > kMaxFileSize) {
        m_warnings.clear();
        m_error = QStringLiteral("the file is too large");
        if (doc)
            doc->clear();
        return false;
    }
    return read(file.readAll(), doc);
}

} // namespace wendral
