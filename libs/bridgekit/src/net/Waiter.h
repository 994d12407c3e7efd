#pragma once

// A one-shot waiter: one coroutine waits for a value or an error that someone else supplies later.
//
// The side that settles it (routing, a socket handler, teardown) never runs the waiting coroutine inline: the
// resumption is posted to the event loop, so the settling code finishes its own work (routing the rest of a
// frame, tearing down a connection) before the waiting code continues. Settling twice is a no-op, so a waiter
// is resumed exactly once even when a failure path and an answer race; callers still take a waiter out of its
// slot before settling it.
//
// UI thread only.

#include <QCoreApplication>
#include <QMetaObject>

#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

namespace rirudez::detail {

inline void resumeLater(std::coroutine_handle<> handle) {
    if (QCoreApplication *app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            app, [handle] { handle.resume(); }, Qt::QueuedConnection);
    } else {
        handle.resume();
    }
}

template <typename T>
class Waiter : public std::enable_shared_from_this<Waiter<T>> {
public:
    static std::shared_ptr<Waiter> make() { return std::make_shared<Waiter>(); }

    bool isSettled() const { return m_value.has_value() || m_error != nullptr; }

    void resume(T value) {
        if (isSettled()) {
            return;
        }
        m_value.emplace(std::move(value));
        wake();
    }

    void fail(std::exception_ptr error) {
        if (isSettled()) {
            return;
        }
        m_error = std::move(error);
        wake();
    }

    template <typename Error>
    void fail(Error error) {
        fail(std::make_exception_ptr(std::move(error)));
    }

    struct Awaiter {
        std::shared_ptr<Waiter> waiter;
        bool await_ready() const noexcept { return waiter->isSettled(); }
        void await_suspend(std::coroutine_handle<> handle) noexcept { waiter->m_handle = handle; }
        T await_resume() {
            if (waiter->m_error) {
                std::rethrow_exception(waiter->m_error);
            }
            return std::move(*waiter->m_value);
        }
    };

    // co_await waiter->wait(): suspends until settled, then returns the value or throws the error.
    Awaiter wait() { return Awaiter{this->shared_from_this()}; }

private:
    void wake() {
        if (m_handle) {
            resumeLater(std::exchange(m_handle, {}));
        }
    }

    std::optional<T> m_value;
    std::exception_ptr m_error;
    std::coroutine_handle<> m_handle;
};

} // namespace rirudez::detail
