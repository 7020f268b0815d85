// The extension module `_tavrin_ovra` (provisional surface: the full
// argument binding, thread binding and docstrings are still to come).
#include <Python.h>

#include <new>
#include <string>
#include <string_view>

#include "command_dispatcher.h"
#include "json/json_value.h"
#include "spec_reader.h"
#include "spec_validation.h"

namespace {

struct PyOvra {
    PyObject_HEAD
    ovra::HandleState* state;
};

bool text_of(PyObject* arg, std::string& out) {
    if (!PyUnicode_Check(arg)) {
        PyErr_SetString(PyExc_TypeError, "argument must be str");
        return false;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(arg, &size);
    if (data == nullptr) return false;
    out.assign(data, static_cast<std::size_t>(size));
    return true;
}

PyObject* ovra_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"spec_json", nullptr};
    PyObject* spec_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:Ovra", const_cast<char**>(kwlist), &spec_arg)) return nullptr;
    std::string text;
    if (!text_of(spec_arg, text)) return nullptr;
    try {
        auto* state = new ovra::HandleState();
        std::string_view stripped = text;
        while (!stripped.empty() && (stripped.front() == ' ' || stripped.front() == '\n')) stripped.remove_prefix(1);
        while (!stripped.empty() && (stripped.back() == ' ' || stripped.back() == '\n')) stripped.remove_suffix(1);
        if (!stripped.empty() && stripped != "{}") {
            auto spec = ovra::spec_from_json_text(stripped);
            if (!spec) {
                delete state;
                PyErr_SetString(PyExc_ValueError, ("parse: " + spec.error()).c_str());
                return nullptr;
            }
            if (auto valid = ovra::validate_spec(spec.value()); !valid) {
                delete state;
                PyErr_SetString(PyExc_ValueError, valid.error().display().c_str());
                return nullptr;
            }
            state->spec = std::move(spec).value();
        }
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        PyObject* self = alloc(type, 0);
        if (self == nullptr) {
            delete state;
            return nullptr;
        }
        reinterpret_cast<PyOvra*>(self)->state = state;
        return self;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

void ovra_dealloc(PyObject* self) {
    delete reinterpret_cast<PyOvra*>(self)->state;
    PyTypeObject* type = Py_TYPE(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(self);
    Py_DecRef(reinterpret_cast<PyObject*>(type));
}

PyObject* ovra_command(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"cmd_json", nullptr};
    PyObject* cmd_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:command", const_cast<char**>(kwlist), &cmd_arg)) return nullptr;
    std::string text;
    if (!text_of(cmd_arg, text)) return nullptr;
    try {
        std::string response = ovra::dispatch_command(*reinterpret_cast<PyOvra*>(self)->state, text);
        return PyUnicode_FromStringAndSize(response.data(), static_cast<Py_ssize_t>(response.size()));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* ovra_version(PyObject*, PyObject*) { return PyUnicode_FromString("0.1.6"); }

PyMethodDef ovra_methods[] = {
    {"command", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ovra_command)),
     METH_VARARGS | METH_KEYWORDS, "command($self, cmd_json)\n--\n\nApply a command JSON and return the resulting response JSON."},
    {"version", ovra_version, METH_NOARGS | METH_STATIC, "version()\n--\n\nThe library version."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot ovra_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(ovra_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(ovra_dealloc)},
    {Py_tp_methods, ovra_methods},
    {0, nullptr},
};

PyType_Spec ovra_spec = {"builtins.Ovra", sizeof(PyOvra), 0, Py_TPFLAGS_DEFAULT, ovra_slots};

int module_exec(PyObject* module) {
    if (PyModule_AddStringConstant(module, "__version__", "0.1.6") < 0) return -1;
    PyObject* type = PyType_FromSpec(&ovra_spec);
    if (type == nullptr) return -1;
    if (PyModule_AddObject(module, "Ovra", type) < 0) {
        Py_DecRef(type);
        return -1;
    }
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_tavrin_ovra", "The native module (`tavrin_ovra._tavrin_ovra`).", 0, nullptr,
    module_slots,          nullptr,        nullptr,                                          nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__tavrin_ovra(void) { return PyModuleDef_Init(&module_def); }
