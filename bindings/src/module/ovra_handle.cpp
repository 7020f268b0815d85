// Construction, `command` and deallocation of an `Ovra` handle: argument
// binding, owner-thread check, exclusive use, and the spec text of the
// constructor. Raises only for the binding's own conditions.
#include "ovra_handle.h"

#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "arguments.h"
#include "boundary.h"
#include "responses.h"
#include "spec_reader.h"
#include "spec_validation.h"
#include "text_strip.h"

namespace ovra::binding {

namespace {

constexpr Parameter kNewParameter{"Ovra.__new__", "spec_json"};
constexpr Parameter kCommandParameter{"Ovra.command", "cmd_json"};

constexpr const char* kSentToAnotherThread = "_tavrin_ovra::PyOvra is unsendable, but sent to another thread";
constexpr const char* kDroppedOnAnotherThread =
    "_tavrin_ovra::PyOvra is unsendable, but is being dropped on another thread";

PyOvra* as_ovra(PyObject* self) noexcept { return reinterpret_cast<PyOvra*>(self); }

// Our texts are UTF-8 built from UTF-8 input; "replace" only guards against a
// broken invariant, so that a response can never turn into an exception.
PyObject* to_python_text(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

void raise_value_error(const std::string& message) {
    PyObject* text = to_python_text(message);
    if (text == nullptr) return;
    PyErr_SetObject(PyExc_ValueError, text);
    Py_DecRef(text);
}

// The spec of a new handle from its stripped text: none for "" and "{}"
// (nothing else, not even "{ }" or "null"), else read and validated.
bool read_initial_spec(std::string_view stripped, std::optional<OvraSpec>& spec) {
    if (stripped.empty() || stripped == "{}") return true;
    auto read = spec_from_json_text(stripped);
    if (!read) {
        raise_value_error(OvraError{ErrorKind::Parse, std::move(read).error()}.display());
        return false;
    }
    if (auto valid = validate_spec(read.value()); !valid) {
        raise_value_error(valid.error().display());
        return false;
    }
    spec = std::move(read).value();
    return true;
}

PyObject* allocate(PyTypeObject* type, std::unique_ptr<HandleState> state) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (self == nullptr) return nullptr;  // the state is released by its owner here
    new (&as_ovra(self)->core) HandleCore(std::move(state));
    return self;
}

// Holds the handle for exclusive use; gives it back on every way out,
// exceptions included.
class InUse {
public:
    explicit InUse(HandleCore& core) noexcept : core_(core) {}
    ~InUse() { core_.give_back(); }
    InUse(const InUse&) = delete;
    InUse& operator=(const InUse&) = delete;

private:
    HandleCore& core_;
};

enum class Outcome { Answered, NotText, EncodingFailed };

// Steps that run with the handle taken. No Python code runs here except what
// the interpreter itself does to report an encoding error.
Outcome run_in_use(HandleCore& core, PyObject* argument, std::string& response) {
    InUse in_use(core);
    if (!is_text(argument)) return Outcome::NotText;
    std::string_view text;
    if (!utf8_view(argument, text)) return Outcome::EncodingFailed;
    response = dispatch_command(core.state(), text);
    return Outcome::Answered;
}

void report_foreign_drop() {
    // A dealloc may run while an exception is being raised; keep it.
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_SetString(PyExc_RuntimeError, kDroppedOnAnotherThread);
    // No object is named: the handle is mid-destruction and must not be
    // handed to a hook that might keep it.
    PyErr_WriteUnraisable(nullptr);
    PyErr_Restore(type, value, traceback);
}

}  // namespace

std::uint64_t current_thread_token() noexcept {
    static std::atomic<std::uint64_t> next_token{1};
    thread_local const std::uint64_t token = next_token.fetch_add(1, std::memory_order_relaxed);
    return token;
}

PyObject* ovra_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&]() -> PyObject* {
            PyObject* argument = bind_single_argument(kNewParameter, args, kwargs);
            if (argument == nullptr) return nullptr;
            if (!is_text(argument)) {
                set_not_text_error(kNewParameter, argument);
                return nullptr;
            }
            std::string_view text;
            if (!utf8_view(argument, text)) return nullptr;
            auto state = std::make_unique<HandleState>();
            if (!read_initial_spec(strip_unicode_white_space(text), state->spec)) return nullptr;
            return allocate(type, std::move(state));
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* ovra_command(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&]() -> PyObject* {
            PyObject* argument = bind_single_argument(kCommandParameter, args, kwargs);
            if (argument == nullptr) return nullptr;
            HandleCore& core = as_ovra(self)->core;
            // Only the immutable owner token is read before this check.
            if (!core.on_owner_thread()) {
                PyErr_SetString(PyExc_RuntimeError, kSentToAnotherThread);
                return nullptr;
            }
            if (!core.try_take()) {
                PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
                return nullptr;
            }
            std::string response;
            switch (run_in_use(core, argument, response)) {
                case Outcome::Answered: return to_python_text(response);
                case Outcome::NotText: set_not_text_error(kCommandParameter, argument); return nullptr;
                case Outcome::EncodingFailed: return nullptr;
            }
            return nullptr;
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* ovra_version(PyObject*, PyObject*) { return PyUnicode_FromString(kVersion); }

void ovra_dealloc(PyObject* self) {
    HandleCore& core = as_ovra(self)->core;
    if (!core.on_owner_thread()) {
        core.leak_state();
        report_foreign_drop();
    }
    core.~HandleCore();
    PyTypeObject* type = Py_TYPE(self);
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    // Instances of a heap type hold a reference to it.
    Py_DecRef(reinterpret_cast<PyObject*>(type));
}

}  // namespace ovra::binding
