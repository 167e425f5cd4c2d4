#pragma once
// Test helpers for driving a real Chromium: the browser process itself, a
// local HTTP server that counts requests per path, and a small DevTools client
// with blocking calls (it waits by running the event loop).

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTcpServer>

#include <functional>
#include <map>
#include <memory>

class QWebSocket;

namespace wendral::test {

// Runs the event loop until pred() holds or timeoutMs passes; returns pred().
bool waitUntil(const std::function<bool()> &pred, int timeoutMs);

// A local HTTP/1.0 server on 127.0.0.1 with a port of its own choosing.
class HttpCounter : public QObject
{
    Q_OBJECT
public:
    HttpCounter();
    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString &path) const;
    // Serves body for path (the part before any '?'); any other path gets a
    // small page.
    void setPage(const QString &path, const QByteArray &html);
    // Requests seen for the path (query ignored).
    int count(const QString &path) const { return m_counts.value(path); }
    // When the first request for the path came, in ms on clock(); -1 if none.
    qint64 firstSeen(const QString &path) const
    {
        const qint64 ns = firstSeenNs(path);
        return ns < 0 ? -1 : ns / 1000000;
    }
    // The same in ns on clock().
    qint64 firstSeenNs(const QString &path) const { return m_first.value(path, -1); }
    const QElapsedTimer &clock() const { return m_clock; }
    void reset();

private:
    void onConnection();
    QTcpServer m_server;
    QHash<QString, QByteArray> m_pages;
    QHash<QString, int> m_counts;
    QHash<QString, qint64> m_first;
    QElapsedTimer m_clock;
};

// One headless Chromium (Debian's /usr/bin/chromium) with its own profile.
class ChromiumProcess
{
public:
    ChromiumProcess() = default;
    ~ChromiumProcess();
    ChromiumProcess(const ChromiumProcess &) = delete;
    ChromiumProcess &operator=(const ChromiumProcess &) = delete;

    static QString executable();
    static bool available();
    // Starts it with --remote-debugging-port=0 and the test flags, and waits
    // until its DevToolsActivePort names a port (and the file is new).
    bool start(const QString &userDataDir, const QStringList &extraArgs = {}, int timeoutMs = 20000);
    qint64 pid() const;
    quint16 port() const { return m_port; }
    QString browserWsUrl() const;
    QString userDataDir() const { return m_dir; }
    void kill();
    void stop();
    bool isRunning() const;

private:
    std::unique_ptr<QProcess> m_process;
    QString m_dir;
    quint16 m_port = 0;
    QString m_browserPath;
};

// A DevTools client for the tests themselves (never auto-attaches, so it
// holds nothing).
class CdpTestClient : public QObject
{
    Q_OBJECT
public:
    struct Event
    {
        QString method;
        QJsonObject params;
        QString sessionId;
        double receivedMs = 0; // when it arrived, in ms on clock()
    };

    CdpTestClient();
    ~CdpTestClient() override;
    bool open(const QString &wsUrl, int timeoutMs = 5000);
    void close();
    // Sends and waits for the answer: the result, or an object with "error"
    // (also on time-out: {"error": "timeout"}).
    QJsonObject call(const QString &method, const QJsonObject &params = {}, const QString &sessionId = {},
                     int timeoutMs = 5000);
    // Sends without waiting.
    int post(const QString &method, const QJsonObject &params = {}, const QString &sessionId = {});
    // Hands what was posted to the network at once, without running the
    // event loop (so nothing else in this thread gets to read meanwhile).
    bool flush();
    // Waits for an event (seen since the last clearEvents) matching the predicate.
    std::optional<Event> waitEvent(const QString &method, const std::function<bool(const Event &)> &pred,
                                   int timeoutMs);
    const QList<Event> &events() const { return m_events; }
    void clearEvents() { m_events.clear(); }
    bool isOpen() const;
    // The clock that events are stamped with (started with the client).
    const QElapsedTimer &clock() const { return m_clock; }

    // Conveniences on top of the above.
    // Opens a tab (as a user would) and returns its target id.
    QString createTab(const QString &url);
    // Attaches to a target (flat session) and returns the session id.
    QString attach(const QString &targetId);
    // Evaluates an expression on a session and returns its value (by value).
    QJsonValue evaluate(const QString &sessionId, const QString &expression, int timeoutMs = 5000);
    QList<QJsonObject> pageTargets();
    bool targetExists(const QString &targetId);

private:
    QWebSocket *m_socket = nullptr;
    int m_nextId = 1;
    std::map<int, QJsonObject> m_replies;
    QList<Event> m_events;
    QElapsedTimer m_clock;
};

} // namespace wendral::test
