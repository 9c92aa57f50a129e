// task.h: the coroutine type a session's playback runs as.
#pragma once
#include <coroutine>
#include <exception>
#include <utility>

namespace zentrel::console {

// Starts at once and runs to its first suspension; its owner resumes it from
// the event loop and destroys it once done(). Nothing awaits a Task, so no
// chain of coroutines that complete at once can build up on the stack.
class Task
{
public:
    struct promise_type {
        std::exception_ptr failure;
        Task get_return_object() { return Task(std::coroutine_handle<promise_type>::from_promise(*this)); }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_always final_suspend() noexcept { return {}; }
        void return_void() noexcept {}
        void unhandled_exception() noexcept { failure = std::current_exception(); }
    };

    Task() = default;
    explicit Task(std::coroutine_handle<promise_type> handle) : m_handle(handle) {}
    Task(Task &&other) noexcept : m_handle(std::exchange(other.m_handle, {})) {}
    Task &operator=(Task &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    Task(const Task &) = delete;
    Task &operator=(const Task &) = delete;
    ~Task() { reset(); }

    bool done() const { return !m_handle || m_handle.done(); }

private:
    void reset()
    {
        if (m_handle)
            m_handle.destroy();
        m_handle = {};
    }

    std::coroutine_handle<promise_type> m_handle;
};

} // namespace zentrel::console
