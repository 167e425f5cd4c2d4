// Times the popup decision and the list lookup behind it for allowed lists of
// 10 to 100 000 entries, and one request that waits for the setup question
// until it is answered. The lookup is the site list's own (answered from its
// index); the plain text search it replaced is shown beside it, and so is the
// time to build the index when the list is set (median of at least 5).
// Prints the median of many runs per cell.

#include "core/popupdecision.h"
#include "core/programstate.h"
#include "core/sitelists.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

using namespace wendral;

namespace {
struct Options : DecisionOptions
{
    bool setup = false;
    bool blockingEnabled() const override { return true; }
    bool setupMode() const override { return setup; }
    bool soundOnBlock() const override { return true; }
    bool allowLinkPopups() const override { return false; }
};

// Shown at once; the benchmark answers it itself.
struct Question : SiteQuestion
{
    bool ask(const QString &) override { return true; }
    void withdraw() override {}
};

// Median time of one call in microseconds: at least 21 runs, more for fast
// calls (up to about 0.3 s of measuring per cell).
double medianMicros(const std::function<void()> &call, std::size_t minRuns = 21)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> samples;
    const auto start = Clock::now();
    while (samples.size() < minRuns ||
           (samples.size() < 20001 && Clock::now() - start < std::chrono::milliseconds(300))) {
        const auto t0 = Clock::now();
        call();
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::nth_element(samples.begin(), samples.begin() + long(samples.size() / 2), samples.end());
    return samples[samples.size() / 2];
}

// Median processor time of one call in ms over runs calls: on a machine busy
// with other work this is what the call itself costs.
double medianCpuMillis(const std::function<void()> &call, int runs)
{
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        const std::clock_t t0 = std::clock();
        call();
        samples.push_back(double(std::clock() - t0) * 1000.0 / CLOCKS_PER_SEC);
    }
    std::nth_element(samples.begin(), samples.begin() + long(samples.size() / 2), samples.end());
    return samples[samples.size() / 2];
}

QString makeList(int entries)
{
    QString list;
    for (int i = 0; i < entries; ++i)
        list += QStringLiteral("www.site%1.example.com\r\n").arg(i, 6, 10, QLatin1Char('0'));
    return list;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder; // the lists are never written, but never name a real file either
    ProgramState state;
    SiteLists lists(folder.filePath(QStringLiteral("allowed.txt")), folder.filePath(QStringLiteral("disallowed.txt")));
    PopupDecider decider(state, lists);
    Options options;
    Question question;
    int sounds = 0;
    decider.setOptions(&options);
    decider.setQuestion(&question);
    decider.setBlockSound([&sounds] { ++sounds; });
    volatile bool sink = false;
    const auto decide = [&](const QString &url) {
        decider.decide(url, [&sink](Verdict v) { sink = v == Verdict::Block; });
    };

    std::printf("%-9s %9s %8s %9s %12s %12s %12s %15s %15s %15s\n", "entries", "list KiB", "build", "build",
                "lookup miss", "lookup last", "plain scan", "decide blocked", "decide allowed", "ask and answer");
    std::printf("%-9s %9s %8s %9s %12s %12s %12s %15s %15s %15s\n", "", "", "(ms)", "(cpu ms)", "(us)", "(us)", "(us)",
                "(us)", "(us)", "(us)");
    for (int entries : {10, 1000, 10000, 100000}) {
        const QString list = makeList(entries);
        const QString last = QStringLiteral("WWW.Site%1.Example.com").arg(entries - 1, 6, 10, QLatin1Char('0'));
        const QString missing = QStringLiteral("popups.example.net");
        const double build = medianMicros([&] { lists.allowed().setText(list); }, 5) / 1000;
        const double buildCpu = medianCpuMillis([&] { lists.allowed().setText(list); }, 5);

        const double miss = medianMicros([&] { sink = lists.allowed().contains(missing); });
        const double hit = medianMicros([&] { sink = lists.allowed().contains(last); });
        const double scan = medianMicros([&] { sink = isSiteListed(last, list); });
        const QString blockedUrl = QStringLiteral("http://popups.example.net/ad?id=1");
        const double blocked = medianMicros([&] { decide(blockedUrl); });
        const QString allowedUrl = QStringLiteral("https://") + last + QStringLiteral("/page.html");
        const double allowed = medianMicros([&] { decide(allowedUrl); });
        // Setup mode: both lists searched, the request waits, one answer settles it.
        options.setup = true;
        const double asked = medianMicros([&] {
            decide(blockedUrl);
            decider.answer(SiteAnswer::BlockOnce, missing);
        });
        options.setup = false;
        std::printf("%-9d %9.0f %8.2f %9.2f %12.2f %12.2f %12.2f %15.2f %15.2f %15.2f\n", entries,
                    double(list.size()) * 2 / 1024, build, buildCpu, miss, hit, scan, blocked, allowed, asked);
    }
    decider.setOptions(nullptr);
    decider.setQuestion(nullptr);
    return sounds > 0 ? 0 : 1;
}
