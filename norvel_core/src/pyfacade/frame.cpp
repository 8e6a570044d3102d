#include "pyfacade/frame.hpp"

#include <cstring>
#include <deque>
#include <string>

namespace norvel::py {
namespace {

// Message formatting is kept out of line: it runs only when a call fails.

[[gnu::cold, gnu::noinline]] std::string display_name(const Params& params) {
    std::string name;
    if (!params.cls.empty()) {
        name.append(params.cls).append(".");
    }
    return name.append(params.function).append("()");
}

[[noreturn, gnu::cold, gnu::noinline]] void fail_too_many(const Params& params, Py_ssize_t given) {
    fail(PyExc_TypeError,
         check(PyUnicode_FromFormat("%s takes %zu positional arguments but %zd %s given",
                                    display_name(params).c_str(), params.positional.size(), given,
                                    given == 1 ? "was" : "were")));
}

[[noreturn, gnu::cold, gnu::noinline]] void fail_unexpected_keyword(const Params& params,
                                                                    PyObject* keyword) {
    fail(PyExc_TypeError, check(PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'",
                                                     display_name(params).c_str(), keyword)));
}

[[noreturn, gnu::cold, gnu::noinline]] void fail_multiple_values(const Params& params,
                                                                 std::string_view parameter) {
    fail(PyExc_TypeError, display_name(params) + " got multiple values for argument '" +
                              std::string(parameter) + "'");
}

[[noreturn, gnu::cold, gnu::noinline]] void fail_missing(const Params& params,
                                                         PyObject* const* slots) {
    std::size_t count = 0;
    std::string names;
    for (std::size_t i = 0; i < params.required; ++i) {
        if (slots[i] == nullptr) {
            names.append(count++ == 0 ? "'" : ", '").append(params.positional[i]).append("'");
        }
    }
    fail(PyExc_TypeError, display_name(params) + " missing " + std::to_string(count) +
                              " required positional argument: " + names);
}

// The parameter a keyword names, or -1. A keyword that cannot be read as
// UTF-8 matches nothing.
Py_ssize_t match_keyword(const Params& params, PyObject* keyword) {
    Py_ssize_t size = 0;
    const char* bytes = PyUnicode_AsUTF8AndSize(keyword, &size);
    if (bytes == nullptr) {
        PyErr_Clear();
        return -1;
    }
    std::string_view name(bytes, static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < params.positional.size(); ++i) {
        if (params.positional[i] == name) {
            return static_cast<Py_ssize_t>(i);
        }
    }
    return -1;
}

void place_keyword(const Params& params, PyObject* keyword, PyObject* value, PyObject** slots) {
    Py_ssize_t index = match_keyword(params, keyword);
    if (index < 0) {
        fail_unexpected_keyword(params, keyword);
    }
    if (slots[index] != nullptr) {
        fail_multiple_values(params, params.positional[static_cast<std::size_t>(index)]);
    }
    slots[index] = value;
}

void place_positional(const Params& params, PyObject* const* args, Py_ssize_t nargs,
                      PyObject** slots) {
    if (static_cast<std::size_t>(nargs) > params.positional.size()) {
        fail_too_many(params, nargs);
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        slots[i] = args[i];
    }
}

void check_required(const Params& params, PyObject* const* slots) {
    for (std::size_t i = 0; i < params.required; ++i) {
        if (slots[i] == nullptr) {
            fail_missing(params, slots);
        }
    }
}

Ref type_qualname(PyObject* object) { return check(PyType_GetQualName(Py_TYPE(object))); }

}  // namespace

void parse_fastcall(const Params& params, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots) {
    place_positional(params, args, nargs, slots);
    if (kwnames != nullptr) {
        Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < count; ++i) {
            place_keyword(params, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], slots);
        }
    }
    check_required(params, slots);
}

void parse_tuple_dict(const Params& params, PyObject* args, PyObject* kwargs, PyObject** slots) {
    place_positional(params, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), slots);
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject *keyword = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &position, &keyword, &value)) {
            place_keyword(params, keyword, value, slots);
        }
    }
    check_required(params, slots);
}

std::string_view From<std::string_view>::convert(PyObject* obj) {
    if (!PyUnicode_Check(obj)) [[unlikely]] {
        fail(PyExc_TypeError,
             check(PyUnicode_FromFormat("'%U' object cannot be converted to 'PyString'",
                                        type_qualname(obj).get())));
    }
    Py_ssize_t size = 0;
    const char* bytes = PyUnicode_AsUTF8AndSize(obj, &size);
    if (bytes == nullptr) [[unlikely]] {
        throw_pending();  // lone surrogates: the UnicodeEncodeError goes out as it is
    }
    return {bytes, static_cast<std::size_t>(size)};
}

double From<double>::convert_protocol(PyObject* obj) {
    double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) {
        throw_pending();
    }
    return value;
}

void rethrow_for_argument(std::string_view parameter) {
    Ref message;
    Ref cause;
    try {
        throw;
    } catch (const Failure& failure) {
        if (failure.type != PyExc_TypeError) {
            throw;
        }
        message = failure.argument;
    } catch (const FetchedError& error) {
        if (!Py_IS_TYPE(error.value.get(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
            throw;
        }
        message = check(PyObject_Str(error.value.get()));
        cause = Ref::steal(PyException_GetCause(error.value.get()));
    }
    Ref prefixed = check(
        PyUnicode_FromFormat("argument '%s': %U", std::string(parameter).c_str(), message.get()));
    throw Failure{PyExc_TypeError, std::move(prefixed), std::move(cause)};
}

Ref decode_utf8(std::string_view text) {
    return check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref to_python(const std::vector<std::string_view>& texts) {
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(texts.size())));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        // PyList_SET_ITEM steals the new str.
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), to_python(texts[i]).release());
    }
    return list;
}

void fail_registry(const RegistryError& error) { fail(PyExc_KeyError, error.text()); }

void fail_receiver(PyObject* receiver, std::string_view cls) {
    if (receiver == nullptr) {
        fail(PyExc_TypeError, "method called without a receiver");
    }
    fail(PyExc_TypeError,
         check(PyUnicode_FromFormat("'%U' object cannot be converted to '%s'",
                                    type_qualname(receiver).get(), std::string(cls).c_str())));
}

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
