// Times the periodic process scan that finds this desktop's browsers (run
// every 500 ms): the first scan of the machine's real process table, when
// every process is looked at, and the steady state, when only new or changed
// processes are. Prints the number of processes and the median of many scans.

#include "blocking/cdp/cdpdiscovery.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace wendral::cdp;

namespace {

double millisOf(CdpDiscovery &discovery)
{
    const auto t0 = std::chrono::steady_clock::now();
    discovery.scan();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qsizetype processes = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs).size();

    std::vector<double> first;
    std::vector<double> steady;
    for (int round = 0; round < 21; ++round) {
        CdpDiscovery discovery;
        discovery.setProfileDirs({}); // the process table only
        discovery.setScanInterval(3600 * 1000);
        const auto t0 = std::chrono::steady_clock::now();
        discovery.start(); // runs the first scan
        first.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        for (int i = 0; i < 20; ++i)
            steady.push_back(millisOf(discovery));
    }
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    std::printf("processes in /proc: %lld\n", static_cast<long long>(processes));
    std::printf("first scan (every process looked at): median %.2f ms\n", median(first));
    std::printf("steady scan (every 500 ms):           median %.2f ms\n", median(steady));
    return 0;
}
