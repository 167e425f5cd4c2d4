#pragma once
// What the libFuzzer targets share: a Qt application object for the run, a
// quiet log, a scratch folder for the files a parser insists on reading (on a
// memory file system where there is one), and a check that stops the run
// with a message when a property of the code under test does not hold.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace wendral::fuzz {

inline void initialize(const char *name)
{
    static int argc = 1;
    static char arg0[64];
    std::snprintf(arg0, sizeof arg0, "%s", name);
    static char *argv[] = {arg0, nullptr};
    // A parser's own warnings about the inputs the fuzzer invents would flood
    // the log and slow the run.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    static QCoreApplication app(argc, argv);
}

// A folder that lives for the whole run.
inline QString scratchFolder()
{
    static std::unique_ptr<QTemporaryDir> dir = [] {
        const QString shm = QStringLiteral("/dev/shm");
        auto d = QDir(shm).exists() ? std::make_unique<QTemporaryDir>(shm + QStringLiteral("/wendral-fuzz-XXXXXX"))
                                    : std::make_unique<QTemporaryDir>();
        if (!d->isValid())
            d = std::make_unique<QTemporaryDir>();
        return d;
    }();
    return dir->path();
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size()) {
        std::fprintf(stderr, "fuzz: cannot write %s\n", qPrintable(path));
        std::abort();
    }
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

[[noreturn]] inline void fail(const char *what, const QString &detail = {})
{
    std::fprintf(stderr, "fuzz: property broken: %s\n%s\n", what, qPrintable(detail));
    std::abort();
}

inline void check(bool holds, const char *what, const QString &detail = {})
{
    if (!holds)
        fail(what, detail);
}

// Reads small numbers from the front of the input, so one input can choose
// modes and split points; what is left is the payload.
class Bytes
{
public:
    Bytes(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    uint8_t take()
    {
        if (m_pos >= m_size)
            return 0;
        return m_data[m_pos++];
    }
    QByteArray rest() const
    {
        return QByteArray(reinterpret_cast<const char *>(m_data + m_pos), qsizetype(m_size - m_pos));
    }
    size_t remaining() const { return m_size - m_pos; }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

} // namespace wendral::fuzz
