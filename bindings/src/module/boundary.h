// The one place where C++ exceptions stop: every entry point the interpreter
// calls runs its body through `guarded`, so none ever unwinds into C frames.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

namespace ovra::binding {

// Runs body() and returns its result; an escaping exception becomes a Python
// exception and the result `failed` (nullptr or -1). std::bad_alloc is
// MemoryError; anything else is a broken invariant, reported as SystemError
// rather than terminating the interpreter.
template <class Body, class R = decltype(std::declval<Body&>()())>
R guarded(Body&& body, R failed) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "_tavrin_ovra: internal error");
    }
    return failed;
}

}  // namespace ovra::binding
