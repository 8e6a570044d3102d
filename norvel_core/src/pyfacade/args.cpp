#include "pyfacade/args.hpp"

#include <string>

#include "pyfacade/errors.hpp"

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

}  // namespace norvel::py
