// The Python object behind `Ovra`: the handle state, the thread that owns it
// and the exclusive-use marker, plus the entry points the type spec names.
// Only the owner thread ever reads or frees the state.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "command_dispatcher.h"

namespace ovra::binding {

// A token for the calling thread, unique for the life of the process. A
// std::thread::id or pthread_t may be handed to a new thread once the old one
// has ended, which would let a stranger pass for the owner.
std::uint64_t current_thread_token() noexcept;

// The C++ side of one handle: its state, owner and borrow flag.
class HandleCore {
public:
    explicit HandleCore(std::unique_ptr<HandleState> state) noexcept
        : state_(std::move(state)), owner_(current_thread_token()) {}

    bool on_owner_thread() const noexcept { return current_thread_token() == owner_; }

    // free -> in use; false when the handle is already in use (re-entry).
    bool try_take() noexcept {
        bool expected = false;
        return in_use_.compare_exchange_strong(expected, true, std::memory_order_acquire);
    }
    void give_back() noexcept { in_use_.store(false, std::memory_order_release); }

    HandleState& state() noexcept { return *state_; }

    // Gives up the state without freeing it: a foreign thread must not touch
    // the spec or dataset, so on such a drop their memory stays allocated.
    void leak_state() noexcept { (void)state_.release(); }

private:
    std::unique_ptr<HandleState> state_;
    std::uint64_t owner_;
    std::atomic<bool> in_use_{false};
};

// Object layout. `core` is constructed in place after tp_alloc and destroyed
// by hand in dealloc, so the object memory itself stays the interpreter's.
struct PyOvra {
    PyObject_HEAD
    HandleCore core;
};

// Type slots and methods (wired up in module.cpp).
PyObject* ovra_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
void ovra_dealloc(PyObject* self);
PyObject* ovra_command(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* ovra_version(PyObject* unused_self, PyObject* unused_args);

}  // namespace ovra::binding
