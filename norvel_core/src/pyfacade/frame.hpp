// The call frame: every entry point from Python is an instantiation of one of
// the templates below around a plain C++ body. The frame parses and converts
// the arguments, borrows the receiver, runs the body, converts its result and
// hands any failure to raise_current_exception(), the one translation point.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "constants/entry.hpp"
#include "pyfacade/errors.hpp"
#include "pyfacade/ref.hpp"

namespace norvel::py {

// ---- parameters -------------------------------------------------------------

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

// ---- argument conversion ----------------------------------------------------

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

// ---- result conversion ------------------------------------------------------

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

[[noreturn]] void fail_registry(const RegistryError& error);

template <typename T>
Ref to_python(std::expected<T, RegistryError>&& result) {
    if (!result) [[unlikely]] {
        fail_registry(result.error());
    }
    return to_python(std::move(*result));
}

// ---- instances --------------------------------------------------------------

// Header, the wrapped core value, and the count of shared borrows active on it.
template <typename Value>
struct Instance {
    PyObject_HEAD Value value;
    Py_ssize_t borrows;
};

// A class trait names the core type, the Python class and its cached type:
//   struct SomeClass { using Value = ...; static constexpr std::string_view name = "...";
//                      static PyTypeObject* type(); };
template <typename Cls>
Instance<typename Cls::Value>* instance_of(PyObject* self) noexcept {
    return reinterpret_cast<Instance<typename Cls::Value>*>(self);
}

[[noreturn]] void fail_receiver(PyObject* receiver, std::string_view cls);

template <typename Cls>
class SharedBorrow {
public:
    explicit SharedBorrow(PyObject* self) {
        // The class exists once any instance does; only subtypes need the full check.
        if (self == nullptr || (Py_TYPE(self) != Cls::cached &&
                                !PyType_IsSubtype(Py_TYPE(self), Cls::type()))) [[unlikely]] {
            fail_receiver(self, Cls::name);
        }
        instance_ = instance_of<Cls>(self);
        hold_ = Ref::borrow(self);
        ++instance_->borrows;
    }
    ~SharedBorrow() { --instance_->borrows; }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;

    const typename Cls::Value& value() const noexcept { return instance_->value; }

private:
    Instance<typename Cls::Value>* instance_ = nullptr;
    Ref hold_;
};

// A new instance of `type` owning `value`. Allocation goes through the
// class's own tp_alloc; on failure `value` dies with this frame.
template <typename Cls>
Ref new_instance(PyTypeObject* type, typename Cls::Value&& value) {
    static_assert(std::is_nothrow_move_constructible_v<typename Cls::Value>);
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    Ref object = check(alloc(type, 0));
    auto* instance = instance_of<Cls>(object.get());
    std::construct_at(&instance->value, std::move(value));
    instance->borrows = 0;
    return object;
}

// For factories whose contract is that creation cannot fail: a failed
// allocation there is a panic that carries the interpreter's error.
template <typename Cls>
Ref new_instance_or_panic(PyTypeObject* type, typename Cls::Value&& value,
                          std::source_location where = std::source_location::current()) {
    try {
        return new_instance<Cls>(type, std::move(value));
    } catch (const FetchedError& error) {
        panic_with_error("failed to create a " + std::string(Cls::name) + " object", error, where);
    }
}

// ---- the boundary -----------------------------------------------------------

template <typename R, typename Body>
R boundary(R on_error, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        raise_current_exception();
        return on_error;
    }
}

template <typename Body>
PyObject* boundary(Body&& body) noexcept {
    return boundary<PyObject*>(nullptr, [&] { return body().release(); });
}

namespace detail {
template <typename F>
struct Signature;
template <typename R, typename... A>
struct Signature<R (*)(A...)> {
    using Args = std::tuple<std::decay_t<A>...>;
};

template <typename Tuple, std::size_t First, std::size_t... I>
auto convert_all(const Params& params, PyObject* const* slots, std::index_sequence<I...>) {
    // Braced initialisation converts left to right, so the first bad argument is reported.
    return std::tuple<std::tuple_element_t<First + I, Tuple>...>{
        convert_argument<std::tuple_element_t<First + I, Tuple>>(params.positional[I],
                                                                 slots[I])...};
}

template <const Params& P>
constexpr std::size_t slot_count() {
    return P.positional.size() == 0 ? 1 : P.positional.size();
}
}  // namespace detail

// Module function or static method with no arguments.
template <auto Body>
PyObject* function_noargs(PyObject*, PyObject*) noexcept {
    return boundary([] { return to_python(Body()); });
}

// Module function with the fast-call-with-keywords convention.
template <auto Body, const Params& P>
PyObject* function_fastcall(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) noexcept {
    return boundary([&] {
        std::array<PyObject*, detail::slot_count<P>()> slots{};
        parse_fastcall(P, args, nargs, kwnames, slots.data());
        using Args = typename detail::Signature<decltype(Body)>::Args;
        auto converted = detail::convert_all<Args, 0>(
            P, slots.data(), std::make_index_sequence<std::tuple_size_v<Args>>{});
        return to_python(std::apply(Body, std::move(converted)));
    });
}

// Instance method with no arguments.
template <typename Cls, auto Body>
PyObject* method_noargs(PyObject* self, PyObject*) noexcept {
    return boundary([&] {
        SharedBorrow<Cls> borrow(self);
        return to_python(Body(borrow.value()));
    });
}

// Instance method with the fast-call-with-keywords convention.
template <typename Cls, auto Body, const Params& P>
PyObject* method_fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) noexcept {
    return boundary([&] {
        std::array<PyObject*, detail::slot_count<P>()> slots{};
        parse_fastcall(P, args, nargs, kwnames, slots.data());
        SharedBorrow<Cls> borrow(self);
        using Args = typename detail::Signature<decltype(Body)>::Args;
        auto converted = detail::convert_all<Args, 1>(
            P, slots.data(), std::make_index_sequence<std::tuple_size_v<Args> - 1>{});
        return to_python(std::apply(
            [&](auto&&... a) { return Body(borrow.value(), std::forward<decltype(a)>(a)...); },
            std::move(converted)));
    });
}

// The mapping-length slot.
template <typename Cls, auto Body>
Py_ssize_t length_slot(PyObject* self) noexcept {
    return boundary<Py_ssize_t>(-1, [&] {
        SharedBorrow<Cls> borrow(self);
        return static_cast<Py_ssize_t>(Body(borrow.value()));
    });
}

// tp_new of a class with a constructor that takes no arguments.
template <typename Cls, auto Make, const Params& P>
PyObject* constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return boundary([&] {
        parse_tuple_dict(P, args, kwargs, nullptr);
        return new_instance<Cls>(type, Make());
    });
}

// tp_new of a class without a constructor.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;

template <typename Cls>
void deallocate(PyObject* self) noexcept {
    // An instance of a heap type holds a reference to its class.
    Ref type = Ref::steal(reinterpret_cast<PyObject*>(Py_TYPE(self)));
    try {
        std::destroy_at(&instance_of<Cls>(self)->value);
    } catch (...) {
        report_unraisable_current_exception();
    }
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(Py_TYPE(self), Py_tp_free));
    free_slot(self);
}

// ---- classes ----------------------------------------------------------------

// What sets one class apart; the name, layout and deallocator follow from its trait.
struct ClassSpec {
    const char* text_signature;  // null for a class without a constructor
    const char* doc;
    newfunc new_slot;  // null for a class without a constructor
    lenfunc length;    // null when the class has no __len__
    PyMethodDef* methods;
};

// Builds the heap type "builtins.<name>". The type and its documentation text
// live for the rest of the process.
PyTypeObject* create_type(const char* name, int basicsize, destructor dealloc,
                          const ClassSpec& spec);

// The class's type object, created on first request and cached in the trait.
template <typename Cls>
PyTypeObject* class_type(const ClassSpec& spec) {
    if (Cls::cached == nullptr) [[unlikely]] {
        Cls::cached = create_type(Cls::name.data(), sizeof(Instance<typename Cls::Value>),
                                  &deallocate<Cls>, spec);
    }
    return Cls::cached;
}

}  // namespace norvel::py
