#pragma once

#ifndef Q_MOC_RUN // moc cannot read the standard library's concepts, and needs nothing here
#include <coroutine>
#endif
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace vigilor::rules {

template <typename T> class Step;

namespace detail {

struct StepPromiseBase
{
    std::coroutine_handle<> awaiting; // the step that goes on when this one is done
    std::exception_ptr error;

    // A step runs at once, as a call does, up to its first timed wait.
    std::suspend_never initial_suspend() noexcept { return {}; }

    struct Done
    {
        bool await_ready() noexcept { return false; }
        template <typename Promise>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> done) noexcept
        {
            if (std::coroutine_handle<> next = done.promise().awaiting)
                return next;
            return std::noop_coroutine();
        }
        void await_resume() noexcept {}
    };
    // Kept until its Step lets go of it, so that the result can be read.
    Done final_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { error = std::current_exception(); }
};

template <typename T> struct StepPromise : StepPromiseBase
{
    std::optional<T> value;
    Step<T> get_return_object() noexcept;
    void return_value(T result) { value = std::move(result); }
};

template <> struct StepPromise<void> : StepPromiseBase
{
    Step<void> get_return_object() noexcept;
    void return_void() noexcept {}
};

} // namespace detail

// The work of a check or a punishment, which may pause at a timed wait (Context::pause) or
// yield to the event loop (Context::yield) and go on from the event loop, instead of blocking it
// or running it inside. A step runs at once when called, as a function does; one that never
// yields and never waits (or whose clock ends its waits at once, as a test's does) is done when
// the call returns. A step that waits is done later: the step that awaits it (co_await) goes on
// then, in order. Letting go of a step that is not done (the program ends, the checks are
// stopped) ends it where it waits, and every step it awaits.
template <typename T = void> class [[nodiscard]] Step
{
public:
    using promise_type = detail::StepPromise<T>;

    Step(Step&& other) noexcept : m_handle(std::exchange(other.m_handle, {})) {}
    Step& operator=(Step&& other) noexcept
    {
        if (this != &other) {
            release();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    ~Step() { release(); }

    bool done() const { return !m_handle || m_handle.done(); }
    // The result of a step that is done; throws what the step threw.
    T result()
    {
        if (m_handle && m_handle.promise().error)
            std::rethrow_exception(m_handle.promise().error);
        if constexpr (!std::is_void_v<T>)
            return std::move(*m_handle.promise().value);
    }

    // Awaited by another step (co_await), which goes on once this one is done.
    bool await_ready() const noexcept { return done(); }
    void await_suspend(std::coroutine_handle<> awaiting) noexcept
    {
        m_handle.promise().awaiting = awaiting;
    }
    T await_resume() { return result(); }

private:
    friend promise_type;
    explicit Step(std::coroutine_handle<promise_type> handle) : m_handle(handle) {}
    void release()
    {
        if (m_handle)
            std::exchange(m_handle, {}).destroy();
    }

    std::coroutine_handle<promise_type> m_handle;
};

namespace detail {

template <typename T> Step<T> StepPromise<T>::get_return_object() noexcept
{
    return Step<T>(std::coroutine_handle<StepPromise<T>>::from_promise(*this));
}

inline Step<void> StepPromise<void>::get_return_object() noexcept
{
    return Step<void>(std::coroutine_handle<StepPromise<void>>::from_promise(*this));
}

} // namespace detail

} // namespace vigilor::rules
