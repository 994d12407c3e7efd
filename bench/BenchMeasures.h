#pragma once

// What the screen benchmark measures with: a steady clock, milliseconds between two of its points, the
// resident memory of this process, and running the event loop until a condition
// holds. It sleeps between events (a 1 ms timer wakes it to look again), so the waiting itself takes no
// processor time from what is measured.

#include <QCoreApplication>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <functional>
#include <vector>

namespace rirudez::benchmeasures {

using Clock = std::chrono::steady_clock;

inline double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Current (not peak) resident memory of this process.
inline double residentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Runs the event loop until `condition` holds or the deadline passes; returns whether it held.
inline bool waitUntil(const std::function<bool()> &condition,
                      std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    const auto end = Clock::now() + deadline;
    QTimer wake;
    wake.start(1);
    while (!condition()) {
        if (Clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace rirudez::benchmeasures
