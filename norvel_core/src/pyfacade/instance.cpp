#include "pyfacade/instance.hpp"

#include <deque>
#include <string>
#include <vector>

#include "pyfacade/convert.hpp"

namespace norvel::py {
namespace {

// tp_new of a class without a constructor.
PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    return boundary([&]() -> Ref {
        Ref name = Ref::steal(PyType_GetName(type));
        if (!name) {
            PyErr_Clear();
            fail(PyExc_TypeError, "No constructor defined for <unknown>");
        }
        fail(PyExc_TypeError,
             check(PyUnicode_FromFormat("No constructor defined for %U", name.get())));
    });
}

}  // namespace

void fail_receiver(PyObject* receiver, std::string_view cls) {
    if (receiver == nullptr) {
        fail(PyExc_TypeError, "method called without a receiver");
    }
    fail_conversion(receiver, std::string(cls).c_str());
}

PyTypeObject* create_type(const char* name, int basicsize, destructor dealloc,
                          const ClassSpec& spec) {
    // The interpreter keeps pointers to the name and documentation texts, so
    // they are held for the life of the process.
    static std::deque<std::string> texts;
    const std::string& full_name = texts.emplace_back(std::string("builtins.") + name);
    const std::string& doc =
        spec.text_signature == nullptr
            ? texts.emplace_back(spec.doc)
            : texts.emplace_back(std::string(name) + spec.text_signature + "\n--\n\n" + spec.doc);

    std::vector<PyType_Slot> slots;
    slots.push_back({Py_tp_doc, const_cast<char*>(doc.c_str())});
    if (spec.new_slot != nullptr) {
        slots.push_back({Py_tp_new, reinterpret_cast<void*>(spec.new_slot)});
    }
    if (spec.length != nullptr) {
        slots.push_back({Py_mp_length, reinterpret_cast<void*>(spec.length)});
    }
    slots.push_back({Py_tp_methods, spec.methods});
    slots.push_back({Py_tp_base, &PyBaseObject_Type});
    if (spec.new_slot == nullptr) {
        slots.push_back({Py_tp_new, reinterpret_cast<void*>(&no_constructor)});
    }
    slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(dealloc)});
    slots.push_back({0, nullptr});

    PyType_Spec type_spec{
        .name = full_name.c_str(),
        .basicsize = basicsize,
        .itemsize = 0,
        // Immutable: code that replaced __new__ or a method could reach an
        // instance whose core value was never built.
        .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        .slots = slots.data(),
    };
    return reinterpret_cast<PyTypeObject*>(check(PyType_FromSpec(&type_spec)).release());
}

}  // namespace norvel::py
