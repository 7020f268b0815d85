#include "ovra_error.h"

namespace ovra {

const char* error_prefix(ErrorKind kind) noexcept {
    switch (kind) {
        case ErrorKind::Parse: return "parse: ";
        case ErrorKind::BadSpec: return "bad spec: ";
        case ErrorKind::Data: return "data: ";
    }
    return "";
}

std::string OvraError::display() const {
    std::string text = error_prefix(kind);
    text += message;
    return text;
}

}  // namespace ovra
