// The extension module `_tavrin_ovra`: multi-phase init, the exec step and
// the `Ovra` type spec. Seen from Python it is:
//
//     """The native module (`tavrin_ovra._tavrin_ovra`)."""
//     __all__ = ["__version__", "Ovra"]
//     __version__ = "0.1.6"
//
//     class Ovra:                       # __module__ == "builtins"
//         def __new__(cls, spec_json: str) -> "Ovra": ...
//         def command(self, cmd_json: str) -> str: ...
//         @staticmethod
//         def version() -> str: ...
//
// Built against the limited API of 3.10 (Py_LIMITED_API is set by the build),
// so the compiler refuses any newer call. PyInit__tavrin_ovra is the only
// exported symbol.
#include <Python.h>

#include "boundary.h"
#include "ovra_handle.h"
#include "responses.h"

namespace ovra::binding {

namespace {

PyMethodDef ovra_methods[] = {
    {"command", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ovra_command)),
     METH_VARARGS | METH_KEYWORDS,
     "command($self, cmd_json)\n--\n\nApply a command JSON and return the resulting response JSON."},
    {"version", ovra_version, METH_NOARGS | METH_STATIC, "version()\n--\n\nThe library version."},
    {nullptr, nullptr, 0, nullptr},
};

// The part before "\n--\n\n" becomes __text_signature__ "(spec_json)".
char ovra_doc[] =
    "Ovra(spec_json)\n--\n\nAn ovra instance driven by JSON commands.\n\n"
    "`unsendable`: a handle owns a mutable dataset and spec, so it is bound to the\n"
    "thread that created it.";

PyType_Slot ovra_slots[] = {
    {Py_tp_doc, ovra_doc},
    // Construction reads and validates the spec before any object exists.
    {Py_tp_new, reinterpret_cast<void*>(ovra_new)},
    // Frees the state on the owner thread only (leaks it elsewhere).
    {Py_tp_dealloc, reinterpret_cast<void*>(ovra_dealloc)},
    {Py_tp_methods, ovra_methods},
    {0, nullptr},
};

// "builtins." gives the class __module__ "builtins" and the name "Ovra". No
// GC flag: a handle holds no Python object, so it can be in no cycle. Not a
// base type: the thread binding and dealloc rule assume the exact layout.
PyType_Spec ovra_spec = {"builtins.Ovra", static_cast<int>(sizeof(PyOvra)), 0, Py_TPFLAGS_DEFAULT, ovra_slots};

// The class is created once per process and kept. That makes it shared by
// every module object, so the module refuses to load in a second interpreter
// (which would otherwise use objects of the first).
PyObject* ovra_type = nullptr;
std::int64_t ovra_type_interpreter = -1;

PyObject* ovra_type_for_this_interpreter() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter < 0) return nullptr;
    if (ovra_type == nullptr) {
        ovra_type = PyType_FromSpec(&ovra_spec);
        if (ovra_type == nullptr) return nullptr;
        ovra_type_interpreter = interpreter;
    } else if (ovra_type_interpreter != interpreter) {
        PyErr_SetString(PyExc_ImportError, "_tavrin_ovra cannot be loaded in more than one interpreter");
        return nullptr;
    }
    return ovra_type;
}

// Adds a module attribute and records its name in __all__, in the order the
// attributes are added.
int export_attribute(PyObject* module, PyObject* exported, const char* name, PyObject* value) {
    if (PyModule_AddObjectRef(module, name, value) < 0) return -1;
    PyObject* key = PyUnicode_FromString(name);
    if (key == nullptr) return -1;
    const int appended = PyList_Append(exported, key);
    Py_DecRef(key);
    return appended;
}

int add_attributes(PyObject* module) {
    PyObject* exported = PyList_New(0);
    if (exported == nullptr) return -1;
    int status = PyModule_AddObjectRef(module, "__all__", exported);
    PyObject* version = status < 0 ? nullptr : PyUnicode_FromString(kVersion);
    if (version == nullptr) status = -1;
    if (status == 0) status = export_attribute(module, exported, "__version__", version);
    PyObject* type = status < 0 ? nullptr : ovra_type_for_this_interpreter();
    if (type == nullptr) status = -1;
    if (status == 0) status = export_attribute(module, exported, "Ovra", type);
    if (version != nullptr) Py_DecRef(version);
    Py_DecRef(exported);
    return status;
}

int module_exec(PyObject* module) {
    return guarded([&] { return add_attributes(module); }, -1);
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_tavrin_ovra",
    "The native module (`tavrin_ovra._tavrin_ovra`).",
    0,  // no per-module state: nothing is held at module level
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace ovra::binding

PyMODINIT_FUNC PyInit__tavrin_ovra(void) { return PyModuleDef_Init(&ovra::binding::module_def); }
