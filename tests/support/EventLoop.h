#pragma once

// Running asynchronous code to completion inside a test, on the test thread's event loop, with a
// deadline instead of fixed sleeps:
//
//     auto hello = rirudez::testing::runTask(client.connect(pairing));            // std::optional<T>
//     ASSERT_TRUE(hello);
//     ASSERT_TRUE(QTest::qWaitFor([&] { return socket.frames().size() >= 3; }, 5000));
//
// runTask() fails the current test (ADD_FAILURE) and returns nothing when the task is still running at
// the deadline; an exception thrown by the task is rethrown to the caller. A task that outlives its
// deadline keeps running and cleans up after itself when it finishes (its frame owns the shared state).

#include "InProcessBridge.h"

#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>

namespace rirudez::testing {

namespace detail {

template <typename T>
struct TaskOutcome {
    bool done = false;
    std::exception_ptr error;
    std::optional<T> value;
    QEventLoop *loop = nullptr;
};
template <>
struct TaskOutcome<void> {
    bool done = false;
    std::exception_ptr error;
    QEventLoop *loop = nullptr;
};

template <typename T>
QCoro::Task<> drive(QCoro::Task<T> task, std::shared_ptr<TaskOutcome<T>> outcome) {
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            outcome->value.emplace(co_await std::move(task));
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
    if (outcome->loop)
        outcome->loop->quit();
}

template <typename T>
std::shared_ptr<TaskOutcome<T>> runUntilDone(QCoro::Task<T> task, std::chrono::milliseconds deadline) {
    ensureCoreApplication();
    auto outcome = std::make_shared<TaskOutcome<T>>();
    auto driver = drive<T>(std::move(task), outcome);
    if (!outcome->done) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        outcome->loop = &loop;
        timer.start(deadline);
        loop.exec();
        outcome->loop = nullptr;
    }
    return outcome;
}

} // namespace detail

// Runs `task` until it finishes or `deadline` passes. Returns its value, or nothing after the deadline
// (the test has then failed). Rethrows what the task threw.
template <typename T>
std::optional<T> runTask(QCoro::Task<T> task, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    auto outcome = detail::runUntilDone<T>(std::move(task), deadline);
    if (!outcome->done) {
        ADD_FAILURE() << "the task did not finish within " << deadline.count() << " ms";
        return std::nullopt;
    }
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    return std::move(outcome->value);
}

// The same for a task without a value: true when it finished in time.
inline bool runTask(QCoro::Task<void> task, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    auto outcome = detail::runUntilDone<void>(std::move(task), deadline);
    if (!outcome->done) {
        ADD_FAILURE() << "the task did not finish within " << deadline.count() << " ms";
        return false;
    }
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    return true;
}

} // namespace rirudez::testing
