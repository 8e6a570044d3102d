// Conversions at the edge: Python arguments into C++ values, and a body's
// result (a value or an error) into a Python object.
#pragma once

#include <Python.h>

#include <cstring>
#include <expected>
#include <string_view>
#include <utility>
#include <vector>

#include "pyfacade/errors.hpp"
#include "pyfacade/ref.hpp"

namespace norvel::py {

// TypeError "'<type>' object cannot be converted to '<target>'".
[[noreturn]] void fail_conversion(PyObject* object, const char* target);

// ---- arguments --------------------------------------------------------------

template <typename T>
struct From;

template <>
struct From<std::string_view> {
    // Borrows the str's cached UTF-8 form for the rest of the call.
    static std::string_view convert(PyObject* obj);
};

template <>
struct From<double> {
    static double convert(PyObject* obj) {
        if (PyFloat_CheckExact(obj)) [[likely]] {
            return PyFloat_AS_DOUBLE(obj);
        }
        return convert_protocol(obj);
    }
    static double convert_protocol(PyObject* obj);
};

// A conversion's TypeError comes back as a new one naming the parameter.
[[noreturn]] void rethrow_for_argument(std::string_view parameter);

template <typename T>
T convert_argument(std::string_view parameter, PyObject* obj) {
    try {
        return From<T>::convert(obj);
    } catch (const Failure&) {
        rethrow_for_argument(parameter);
    } catch (const FetchedError&) {
        rethrow_for_argument(parameter);
    }
}

// ---- results ----------------------------------------------------------------

inline Ref to_python(Ref object) { return object; }
inline Ref to_python(bool value) { return Ref::borrow(value ? Py_True : Py_False); }
inline Ref to_python(double value) { return check(PyFloat_FromDouble(value)); }
Ref decode_utf8(std::string_view text);

inline bool is_ascii(std::string_view text) noexcept {
    unsigned char high = 0;
    for (const char c : text) high |= static_cast<unsigned char>(c);
    return high < 0x80;
}

// Always a new str. For ASCII, the common case, a compact str of the known
// size and kind takes a plain copy, which is cheaper than decoding; texts of
// one byte or none go through the decoder, which hands out the interpreter's
// shared single-character and empty strings, as it always has.
inline Ref to_python(std::string_view text) {
    if (text.size() > 1 && is_ascii(text)) [[likely]] {
        Ref str = check(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127));
        std::memcpy(PyUnicode_1BYTE_DATA(str.get()), text.data(), text.size());
        return str;
    }
    return decode_utf8(text);
}
Ref to_python(const std::vector<std::string_view>& texts);

// How a body's error type reaches Python. The API that owns E specialises
// this with `[[noreturn]] static void fail(const E&)`, which throws a Failure;
// the boundary raises it like any other.
template <typename E>
struct ErrorToPython;

template <typename T, typename E>
Ref to_python(std::expected<T, E>&& result) {
    if (!result) [[unlikely]] {
        ErrorToPython<E>::fail(result.error());
    }
    return to_python(std::move(*result));
}

}  // namespace norvel::py
