// The module's entry point and the registration of everything it offers.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "pyfacade/api.hpp"
#include "pyfacade/convert.hpp"
#include "pyfacade/errors.hpp"
#include "pyfacade/ref.hpp"

namespace norvel::py {
namespace {

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_norvel_core",
    .m_doc =
        "The binding layer's module entry point for kestrova's native core. "
        "Wired as `kestrova._norvel_core`.",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

// The module keeps process-wide state for one interpreter only.
std::atomic<std::int64_t> first_interpreter{-1};

// Write-once caches, filled under the GIL and never freed.
PyObject* cached_module = nullptr;
PyObject* all_name = nullptr;
PyObject* dunder_name = nullptr;

PyObject* interned(PyObject*& slot, const char* text) {
    if (slot == nullptr) {
        slot = check(PyUnicode_InternFromString(text)).release();
    }
    return slot;
}

// The module's __all__ list, created when absent (borrowed by the returned Ref).
Ref all_list(PyObject* module) {
    PyObject* name = interned(all_name, "__all__");
    Ref all = Ref::steal(PyObject_GetAttr(module, name));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            throw_pending();
        }
        PyErr_Clear();
        all = check(PyList_New(0));
        if (PyObject_SetAttr(module, name, all.get()) < 0) {
            throw_pending();
        }
    }
    if (!PyList_Check(all.get())) {
        fail_conversion(all.get(), "PyList");
    }
    return all;
}

void add(PyObject* module, PyObject* name, PyObject* value) {
    Ref all = all_list(module);
    if (PyList_Append(all.get(), name) < 0 || PyObject_SetAttr(module, name, value) < 0) {
        throw_pending();
    }
}

template <typename Cls>
void add_class(PyObject* module) {
    Ref name = check(
        PyUnicode_FromStringAndSize(Cls::name.data(), static_cast<Py_ssize_t>(Cls::name.size())));
    add(module, name.get(), reinterpret_cast<PyObject*>(Cls::type()));
}

void add_function(PyObject* module, PyMethodDef* def) {
    Ref module_name = check(PyModule_GetNameObject(module));
    Ref function = check(PyCMethod_New(def, module, module_name.get(), nullptr));
    Ref name = check(PyObject_GetAttr(function.get(), interned(dunder_name, "__name__")));
    add(module, name.get(), function.get());
}

void register_contents(PyObject* module) {
    add_class<FormulasRegistryClass>(module);
    add_class<QuarkRegistryClass>(module);
    add_class<CKMMatrixClass>(module);
    add_function(module, &list_constants_def);
    add_function(module, &list_quarks_def);
    add_function(module, &get_constant_def);
    Ref version = check(PyUnicode_FromString(kVersion));
    Ref name = check(PyUnicode_FromString("__version__"));
    add(module, name.get(), version.get());
}

Ref initialise() {
    std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        throw_pending();
    }
    std::int64_t expected = -1;
    if (!first_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        fail(PyExc_ImportError,
             "kestrova._norvel_core does not support subinterpreters yet: it is bound to the "
             "first interpreter that imported it");
    }
    if (cached_module != nullptr) {
        return Ref::borrow(cached_module);
    }
    create_panic_exception_type();
    intern_datasheet_names();
    // On a registration failure the half-filled module is released and nothing
    // is cached, so a later import starts over.
    Ref module = check(PyModule_Create2(&module_def, PYTHON_API_VERSION));
    register_contents(module.get());
    if (cached_module == nullptr) {
        cached_module = Ref(module).release();
    }
    return Ref::borrow(cached_module);
}

}  // namespace
}  // namespace norvel::py

PyMODINIT_FUNC PyInit__norvel_core(void) {
    return norvel::py::boundary([] { return norvel::py::initialise(); });
}
