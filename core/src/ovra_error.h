// The error record of the command layer, spec reading and validation:
// a kind and an owned message; callers see the display form.
#pragma once

#include <string>

namespace ovra {

enum class ErrorKind {
    Parse,    // a text is not JSON, or a member cannot be converted to its record
    BadSpec,  // protocol errors of the command document, no spec, spec rule failures
    Data,     // an operation that needs records finds none, or cannot hold its result
};

struct OvraError {
    ErrorKind kind;
    std::string message;

    // Prefix and message, as the caller sees it ("parse: ...", "bad spec: ...").
    std::string display() const;
};

const char* error_prefix(ErrorKind kind) noexcept;

}  // namespace ovra
