// Binding of the single text argument of `Ovra.__new__` and `Ovra.command`,
// by position or keyword, with TypeError texts worded as the interpreter
// words them for functions written in Python.
#pragma once

#include <Python.h>

#include <string_view>

namespace ovra::binding {

// One callable's single parameter, for the messages.
struct Parameter {
    const char* function;  // "Ovra.command"
    const char* name;      // "cmd_json"
};

// Finds the one argument in (args, kwargs). Returns a borrowed reference, or
// nullptr with a TypeError set. Checks in the interpreter's order: keywords
// first, then the positional count, then a missing argument:
//   "Ovra.command() got an unexpected keyword argument 'x'"
//   "Ovra.command() got multiple values for argument 'cmd_json'"
//   "Ovra.command() takes 1 positional argument but 2 were given"
//   "Ovra.command() missing 1 required positional argument: 'cmd_json'"
// The count leaves out self and cls, which the caller never writes.
PyObject* bind_single_argument(const Parameter& parameter, PyObject* args, PyObject* kwargs);

// True when the argument is a str (subclasses included). Reads no Python
// state and runs no Python code, so it is safe while a handle is in use.
bool is_text(PyObject* argument) noexcept;

// Sets "Ovra.command() argument 'cmd_json' must be str, not int". May run
// Python code (the type's __name__), so call it with no handle in use.
void set_not_text_error(const Parameter& parameter, PyObject* argument);

// The UTF-8 bytes of a str without copying them (they stay owned by the str,
// which must outlive the view). False with the interpreter's encoding error
// set for a str that holds lone surrogates.
bool utf8_view(PyObject* text, std::string_view& out);

}  // namespace ovra::binding
