#include "pyfacade/convert.hpp"

#include <string>

namespace norvel::py {

void fail_conversion(PyObject* object, const char* target) {
    Ref type_name = check(PyType_GetQualName(Py_TYPE(object)));
    fail(PyExc_TypeError, check(PyUnicode_FromFormat("'%U' object cannot be converted to '%s'",
                                                     type_name.get(), target)));
}

std::string_view From<std::string_view>::convert(PyObject* obj) {
    if (!PyUnicode_Check(obj)) [[unlikely]] {
        fail_conversion(obj, "PyString");
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

}  // namespace norvel::py
