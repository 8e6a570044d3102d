// How failures travel through the facade. C++ code throws one of the types
// below; boundary(), around every entry point, catches whatever is in flight
// and raise_current_exception(), the one translation point, turns it into the
// Python exception.
#pragma once

#include <Python.h>

#include <source_location>
#include <string_view>

#include "pyfacade/ref.hpp"

namespace norvel::py {

// An exception the frame raises itself. Only its type and argument exist
// until the boundary materialises it.
struct Failure {
    PyObject* type;  // borrowed: a builtin exception class
    Ref argument;    // a str
    Ref cause;       // the new exception's __cause__, when one is carried over
};

// An exception the interpreter already raised, taken off the thread state.
struct FetchedError {
    Ref type;
    Ref value;  // normalised
    Ref traceback;
};

[[noreturn]] void fail(PyObject* type, Ref argument);
[[noreturn]] void fail(PyObject* type, std::string_view message);

// Call after an interpreter call reported failure. Throws the pending
// exception as FetchedError, SystemError when none is set, or resumes a
// PanicException raised by Python code as a panic.
[[noreturn]] void throw_pending(std::source_location where = std::source_location::current());

// Steals a new reference, or throws the pending exception when it is null.
inline Ref check(PyObject* new_ref, std::source_location where = std::source_location::current()) {
    if (new_ref == nullptr) [[unlikely]] {
        throw_pending(where);
    }
    return Ref::steal(new_ref);
}

// Panics with `what`, followed by the type and text of `error`.
[[noreturn]] void panic_with_error(std::string_view what, const FetchedError& error,
                                   std::source_location where);

// Creates the PanicException class once per process; throws when the
// interpreter cannot, so that the import fails and a later one tries again.
void create_panic_exception_type();

// The one translation point: sets the Python exception for the C++
// exception in flight. Call only from inside a catch block.
void raise_current_exception() noexcept;

// Reports a failure during deallocation to the unraisable hook.
void report_unraisable_current_exception() noexcept;

template <typename R, typename Body>
R boundary(R on_error, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        raise_current_exception();
        return on_error;
    }
}

// For entry points that return a new reference, or null with the exception set.
template <typename Body>
PyObject* boundary(Body&& body) noexcept {
    return boundary<PyObject*>(nullptr, [&] { return body().release(); });
}

}  // namespace norvel::py
