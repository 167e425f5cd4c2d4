// Times the site index behind the popup decision for lists of 10 to 100 000
// entries: one lookup of a listed and of an unlisted site (median of many),
// building the index (median of at least 5, from nothing and after one entry
// was added), and, for comparison, the plain text search it replaces. Entries are host names like
// "www.site12345.example" with one in fifty made of random letters, digits and a few non-ASCII ones.

#include "core/siteindex.h"

#include <QRandomGenerator>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

using namespace wendral;

namespace {
using Clock = std::chrono::steady_clock;

// Processor time of the program (one thread): the machine may be busy with
// other work, which stretches wall-clock figures but not this one.
double cpuMillis()
{
    return double(std::clock()) * 1000.0 / CLOCKS_PER_SEC;
}

double median(std::vector<double> samples)
{
    std::nth_element(samples.begin(), samples.begin() + long(samples.size() / 2), samples.end());
    return samples[samples.size() / 2];
}

// Median time of one call in microseconds: at least minRuns runs, more for
// fast calls (up to about 0.3 s of measuring per figure).
double medianMicros(const std::function<void()> &call, std::size_t minRuns)
{
    std::vector<double> samples;
    const auto start = Clock::now();
    while (samples.size() < minRuns ||
           (samples.size() < 20001 && Clock::now() - start < std::chrono::milliseconds(300))) {
        const auto t0 = Clock::now();
        call();
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    return median(samples);
}

QString makeList(int entries, QRandomGenerator &random)
{
    static const QString units = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789-.äöüéñøçσжß");
    QString list;
    for (int i = 0; i < entries; ++i) {
        if (i % 50 == 7) {
            const int length = 6 + int(random.bounded(20));
            for (int k = 0; k < length; ++k)
                list += units[int(random.bounded(int(units.size())))];
            list += QStringLiteral(".example\r\n");
        } else {
            list += QStringLiteral("www.site%1.example\r\n").arg(i);
        }
    }
    return list;
}
} // namespace

int main()
{
    QRandomGenerator random(42);
    volatile bool sink = false;

    std::printf("%-8s %8s %9s %9s %9s %9s %9s %9s %9s %9s\n", "entries", "list", "index", "build", "build", "rebuild",
                "lookup", "lookup", "plain", "plain");
    std::printf("%-8s %8s %9s %9s %9s %9s %9s %9s %9s %9s\n", "", "KiB", "KiB", "ms", "cpu ms", "ms", "hit us",
                "miss us", "hit us", "miss us");
    for (int entries : {10, 1000, 10000, 100000}) {
        const QString list = makeList(entries, random);
        // The last ordinary entry, in other case, as a site name arrives.
        int last = entries - 1;
        while (last % 50 == 7)
            --last;
        const QString hit = QStringLiteral("WWW.Site%1.Example").arg(last);
        const QString miss = QStringLiteral("popups.example.net");

        // Each build starts from an empty index, as for a list read at start-up.
        std::vector<double> builds, buildsCpu;
        SiteIndex index;
        const auto buildStart = Clock::now();
        while (builds.size() < 5 || (builds.size() < 51 && Clock::now() - buildStart < std::chrono::seconds(1))) {
            index.rebuild(QString());
            const double cpu0 = cpuMillis();
            const auto t0 = Clock::now();
            index.rebuild(list);
            builds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            buildsCpu.push_back(cpuMillis() - cpu0);
        }
        // And after one entry was added, as when the user adds a site.
        std::vector<double> rebuilds;
        const QString grown = list + QStringLiteral("www.added.example\r\n");
        for (int i = 0; i < 5; ++i) {
            const auto t0 = Clock::now();
            index.rebuild(i % 2 ? list : grown);
            rebuilds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        index.rebuild(list);
        if (!index.contains(hit) || index.contains(miss)) {
            std::fprintf(stderr, "wrong answer for %d entries\n", entries);
            return 1;
        }

        const double lookupHit = medianMicros([&] { sink = index.contains(hit); }, 101);
        const double lookupMiss = medianMicros([&] { sink = index.contains(miss); }, 101);
        const double plainHit = medianMicros([&] { sink = list.contains(hit, Qt::CaseInsensitive); }, 21);
        const double plainMiss = medianMicros([&] { sink = list.contains(miss, Qt::CaseInsensitive); }, 21);
        std::printf("%-8d %8.0f %9.0f %9.3f %9.3f %9.3f %9.2f %9.2f %9.2f %9.2f\n", entries,
                    double(list.size()) * 2 / 1024, double(index.memoryBytes()) / 1024, median(builds),
                    median(buildsCpu), median(rebuilds), lookupHit, lookupMiss, plainHit, plainMiss);
    }
    return 0;
}
