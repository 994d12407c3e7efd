#pragma once

// The guard-and-catch around the view model's coroutines in one place: await an operation and get its failure
// back as a value (so the caller checks its owner is still alive before touching it), and the two texts of a
// failure.

#include <QCoroTask>
#include <QString>

#include <exception>

namespace rirudez {

struct DesktopCodingTaskFailure {
    // The diagnostic form written into failure events ("turnFailed(...)").
    QString diagnostic;
    // The user-facing sentence written into the refresh error line.
    QString localized;

    static DesktopCodingTaskFailure describe(const std::exception_ptr &failure);
};

// What an awaited operation left behind: its failure, or null when it succeeded.
struct DesktopCodingCaught {
    std::exception_ptr failure;
};

// Awaits `task`; returns its failure, or null when it succeeded. Call it in a statement of its own
// (`auto t = failureOf(f(x)); const auto failure = co_await t;`): g++ 12 may destroy temporaries of a
// co_await operand twice.
QCoro::Task<DesktopCodingCaught> failureOf(QCoro::Task<void> task);

// Lets an operation run on as a task of its own; the operations catch every failure themselves.
inline void startDetached(QCoro::Task<void> task) {
    Q_UNUSED(task);
}

} // namespace rirudez
