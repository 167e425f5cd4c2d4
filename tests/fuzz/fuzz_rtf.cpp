// libFuzzer entry for the RTF reader: any bytes must be read without a crash,
// a sanitizer report, a leak or a hang, and the resulting document must lay
// out (the help window shows whatever the reader produced).

#include "ui/rtfreader.h"

#include <QAbstractTextDocumentLayout>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {
int g_argc = 1;
char g_arg0[] = "fuzz_rtf";
char *g_argv[] = {g_arg0, nullptr};
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's font warnings about the names and scripts the fuzzer invents would
    // flood the log and slow the run.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    // Lives for the whole run: fonts and the layout need it.
    static QGuiApplication app(g_argc, g_argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QTextDocument doc;
    wendral::RtfReader reader;
    const bool ok = reader.read(input, &doc);
    if (!ok && !doc.isEmpty())
        std::abort(); // a refused document must leave nothing behind
    if (ok && !reader.errorString().isEmpty())
        std::abort();
    // Every character the reader produced must be one QTextDocument can take.
    const QString text = doc.toRawText();
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u == 0xFDD0 || u == 0xFDD1 || u == 0xFFFC || u == 0)
            std::abort();
    }
    if (size < 4096) {
        doc.setTextWidth(600);
        (void)doc.documentLayout()->documentSize();
        // Lets Qt's font cache run its clean-up timer, as the program's event
        // loop would; otherwise every font name the fuzzer invents stays cached.
        QCoreApplication::processEvents();
    }
    return 0;
}
