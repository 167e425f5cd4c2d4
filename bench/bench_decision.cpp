// Times the popup decision and the list lookup behind it for allowed lists of
// 10 to 100 000 entries, and one request that waits for the setup question
// until it is answered. Prints the median of many runs per cell.

#include "core/popupdecision.h"
#include "core/programstate.h"
#include "core/sitelists.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
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
double medianMicros(const std::function<void()> &call)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> samples;
    const auto start = Clock::now();
    while (samples.size() < 21 || (samples.size() < 20001 && Clock::now() - start < std::chrono::milliseconds(300))) {
        const auto t0 = Clock::now();
        call();
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
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

    std::printf("%-9s %10s %14s %14s %16s %16s %16s\n", "entries", "list KiB", "lookup miss", "lookup last",
                "decide blocked", "decide allowed", "ask and answer");
    std::printf("%-9s %10s %14s %14s %16s %16s %16s\n", "", "", "(us)", "(us)", "(us)", "(us)", "(us)");
    for (int entries : {10, 1000, 10000, 100000}) {
        const QString list = makeList(entries);
        const QString last = QStringLiteral("WWW.Site%1.Example.com").arg(entries - 1, 6, 10, QLatin1Char('0'));
        const QString missing = QStringLiteral("popups.example.net");
        lists.allowed().setText(list);

        const double miss = medianMicros([&] { sink = isSiteListed(missing, list); });
        const double hit = medianMicros([&] { sink = isSiteListed(last, list); });
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
        std::printf("%-9d %10.0f %14.2f %14.2f %16.2f %16.2f %16.2f\n", entries, double(list.size()) * 2 / 1024, miss,
                    hit, blocked, allowed, asked);
    }
    decider.setOptions(nullptr);
    decider.setQuestion(nullptr);
    return sounds > 0 ? 0 : 1;
}
