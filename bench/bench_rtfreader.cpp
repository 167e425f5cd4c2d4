// Times the RTF reader on generated documents of 1 to 16 MiB in several shapes
// (plain text, a format change every few bytes, paragraphs, \u with fallback,
// skipped destinations, deep nesting, unclosed groups). The time per byte of a
// shape should stay flat as the size grows: the reader is linear. Prints the
// median of 5 runs per cell, and the shipped help document's reading and
// layout time.

#include "ui/rtfreader.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFile>
#include <QTextDocument>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

using namespace wendral;

namespace {

double medianMillis(const std::function<void()> &call, int runs = 5)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        call();
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::nth_element(samples.begin(), samples.begin() + long(samples.size() / 2), samples.end());
    return samples[samples.size() / 2];
}

QByteArray repeat(const QByteArray &head, const QByteArray &unit, qsizetype bytes, const QByteArray &tail)
{
    QByteArray out = head;
    out.reserve(bytes + head.size() + tail.size() + unit.size());
    while (out.size() < bytes)
        out += unit;
    return out + tail;
}

struct Shape
{
    const char *name;
    std::function<QByteArray(qsizetype)> make;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const std::vector<Shape> shapes = {
        {"plain text", [](qsizetype n) { return repeat("{\\rtf1 ", "lorem ipsum dolor sit amet ", n, "}"); }},
        {"format runs", [](qsizetype n) { return repeat("{\\rtf1 ", "\\b x\\b0 y{\\i z}\\cf1 w", n, "}"); }},
        {"paragraphs", [](qsizetype n) { return repeat("{\\rtf1 ", "short line\\par ", n, "}"); }},
        {"unicode+fallback", [](qsizetype n) { return repeat("{\\rtf1\\uc2 ", "\\u8594\\'3f\\'3f\\'e9", n, "}"); }},
        {"skipped pict", [](qsizetype n) { return repeat("{\\rtf1 {\\pict ", "0123456789abcdef", n, "}x}"); }},
        {"deep nesting", [](qsizetype n) { return repeat("{\\rtf1 ", "{", n, "x"); }},
        {"nest/unnest", [](qsizetype n) { return repeat("{\\rtf1 ", "{\\b{\\i{x}}}", n, "}"); }},
    };
    const qsizetype mib = 1024 * 1024;
    std::printf("%-18s %10s %10s %10s %10s   (ns per input byte, median of 5)\n", "shape", "1 MiB", "4 MiB", "16 MiB",
                "16/1");
    for (const Shape &shape : shapes) {
        double perByte[3] = {};
        int i = 0;
        for (const qsizetype size : {mib, 4 * mib, 16 * mib}) {
            const QByteArray input = shape.make(size);
            const double ms = medianMillis([&] {
                QTextDocument doc;
                RtfReader reader;
                reader.read(input, &doc);
            });
            perByte[i++] = ms * 1e6 / double(input.size());
        }
        std::printf("%-18s %10.1f %10.1f %10.1f %10.2f\n", shape.name, perByte[0], perByte[1], perByte[2],
                    perByte[2] / perByte[0]);
    }

#ifdef WENDRAL_SOURCE_DIR
    QFile help(QStringLiteral(WENDRAL_SOURCE_DIR "/assets/programfiles/Help.rtf"));
#else
    QFile help(QStringLiteral("Help.rtf"));
#endif
    if (help.open(QIODevice::ReadOnly)) {
        const QByteArray rtf = help.readAll();
        const double readMs = medianMillis(
            [&] {
                QTextDocument doc;
                RtfReader reader;
                reader.read(rtf, &doc);
            },
            21);
        const double layoutMs = medianMillis(
            [&] {
                QTextDocument doc;
                RtfReader reader;
                reader.read(rtf, &doc);
                doc.setTextWidth(685);
                (void)doc.documentLayout()->documentSize();
            },
            21);
        std::printf("\nHelp.rtf (%lld bytes): read %.2f ms, read and lay out %.2f ms (median of 21)\n",
                    static_cast<long long>(rtf.size()), readMs, layoutMs);
    }
    return 0;
}
