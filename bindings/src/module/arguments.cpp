// Positional/keyword binding of one parameter and the TypeError texts of a
// wrong call. Only limited-API (3.10) calls; no C++ exception leaves here
// except std::bad_alloc, which the caller's boundary turns into MemoryError.
#include "arguments.h"

namespace ovra::binding {

namespace {

// Compares a keyword (a str) with the ASCII parameter name.
bool keyword_is(PyObject* keyword, const char* name) {
    return PyUnicode_Check(keyword) && PyUnicode_CompareWithASCIIString(keyword, name) == 0;
}

void set_positional_count_error(const Parameter& parameter, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%s() takes 1 positional argument but %zd were given", parameter.function,
                 given);
}

// Scans the keywords. The single accepted keyword is returned through
// `found`; false with TypeError set on any other keyword or a repeat.
bool scan_keywords(const Parameter& parameter, PyObject* kwargs, Py_ssize_t positional, PyObject*& found) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", parameter.function);
            return false;
        }
        if (!keyword_is(key, parameter.name)) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", parameter.function, key);
            return false;
        }
        if (positional > 0) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", parameter.function,
                         parameter.name);
            return false;
        }
        found = value;
    }
    return true;
}

}  // namespace

PyObject* bind_single_argument(const Parameter& parameter, PyObject* args, PyObject* kwargs) {
    const Py_ssize_t positional = PyTuple_Size(args);
    if (positional < 0) return nullptr;
    PyObject* by_keyword = nullptr;
    if (kwargs != nullptr && !scan_keywords(parameter, kwargs, positional, by_keyword)) return nullptr;
    if (positional > 1) {
        set_positional_count_error(parameter, positional);
        return nullptr;
    }
    if (positional == 1) return PyTuple_GetItem(args, 0);
    if (by_keyword != nullptr) return by_keyword;
    PyErr_Format(PyExc_TypeError, "%s() missing 1 required positional argument: '%s'", parameter.function,
                 parameter.name);
    return nullptr;
}

bool is_text(PyObject* argument) noexcept { return PyUnicode_Check(argument); }

void set_not_text_error(const Parameter& parameter, PyObject* argument) {
    // `__name__` rather than tp_name: the limited API of 3.10 has no
    // PyType_GetName, and `__name__` is the short name users know ("int").
    PyObject* type_name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(argument)), "__name__");
    if (type_name == nullptr) return;
    if (PyUnicode_Check(type_name)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str, not %U", parameter.function, parameter.name,
                     type_name);
    } else {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str", parameter.function, parameter.name);
    }
    Py_DecRef(type_name);
}

bool utf8_view(PyObject* text, std::string_view& out) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) return false;
    out = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

}  // namespace ovra::binding
