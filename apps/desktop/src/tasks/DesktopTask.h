#pragma once

// Running coroutines started from slots and from QML. A task that outlives the call that started it must not
// let an exception reach the event loop, and must not touch its owner once the owner is gone. guardedTask()
// does both for one awaited operation: it catches whatever the operation throws and resumes with the outcome
// only while the owner is alive.
//
//     auto loading = guardedTask(this, source->loadHealth()); // a statement of its own: g++ 12 may destroy
//     const auto health = co_await loading;                    // temporaries of a co_await operand twice
//     if (!health)
//         co_return;                                           // the owner went away meanwhile
//     if (health->failure) ...; else use(*health->value);

#include <QCoroTask>
#include <QObject>
#include <QPointer>

#include <concepts>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>

namespace rirudez {

// How an awaited operation ended: its value (none for an operation without one), or the failure it threw.
template <typename T>
struct DesktopTaskOutcome {
    std::optional<T> value;
    std::exception_ptr failure;
};
template <>
struct DesktopTaskOutcome<void> {
    std::exception_ptr failure;
};

// Awaits `task` and returns how it ended; never throws.
template <typename T>
QCoro::Task<DesktopTaskOutcome<T>> settledTask(QCoro::Task<T> task) {
    DesktopTaskOutcome<T> outcome;
    try {
        if constexpr (std::is_void_v<T>)
            co_await task;
        else
            outcome.value.emplace(co_await task);
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    co_return outcome;
}

// Awaits `task` for `owner` and catches whatever it throws; nothing when the owner was destroyed meanwhile.
template <typename Owner, typename T>
requires std::derived_from<Owner, QObject> QCoro::Task<std::optional<DesktopTaskOutcome<T>>>
guardedTask(Owner *owner, QCoro::Task<T> task) {
    const QPointer<Owner> guard(owner);
    QCoro::Task<DesktopTaskOutcome<T>> settling = settledTask(std::move(task));
    DesktopTaskOutcome<T> outcome = co_await settling;
    if (!guard)
        co_return std::nullopt;
    co_return outcome;
}

// The same for an owner that is not a QObject: it is alive while `alive` can be locked.
template <typename Alive, typename T>
QCoro::Task<std::optional<DesktopTaskOutcome<T>>> guardedTask(std::weak_ptr<Alive> alive,
                                                              QCoro::Task<T> task) {
    QCoro::Task<DesktopTaskOutcome<T>> settling = settledTask(std::move(task));
    DesktopTaskOutcome<T> outcome = co_await settling;
    if (alive.expired())
        co_return std::nullopt;
    co_return outcome;
}

// Hands a caught failure to `onMatch` when it is an `E`, else (or without failure) to `otherwise`; both give
// the same type.
template <typename E, typename OnMatch, typename Otherwise>
auto visitFailure(const std::exception_ptr &failure, OnMatch onMatch, Otherwise otherwise)
    -> decltype(otherwise()) {
    if (!failure)
        return otherwise();
    try {
        std::rethrow_exception(failure);
    } catch (const E &e) {
        return onMatch(e);
    } catch (...) {
        return otherwise();
    }
}

// Lets a started operation run on as a task of its own (a task let go of finishes and then frees itself). Use
// it only for operations that catch every failure themselves (through guardedTask or settledTask).
template <typename T>
void startDetached(QCoro::Task<T> task) {
    Q_UNUSED(task);
}

} // namespace rirudez
