// Argument parsing: places the positional and keyword arguments of a call
// into one slot per parameter, with the interpreter's own messages on failure.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>
#include <string_view>

namespace norvel::py {

struct Params {
    std::string_view cls;  // empty for module functions
    std::string_view function;
    std::span<const std::string_view> positional;
    std::size_t required = 0;
};

// Both parsers fill `slots` (one per positional parameter, borrowed, null when
// not given) and allocate nothing on a well-formed call.
void parse_fastcall(const Params& params, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots);
void parse_tuple_dict(const Params& params, PyObject* args, PyObject* kwargs, PyObject** slots);

}  // namespace norvel::py
