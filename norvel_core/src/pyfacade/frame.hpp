// The call frame: every entry point from Python is an instantiation of one of
// the templates below around a plain C++ body. The frame parses and converts
// the arguments, borrows the receiver, runs the body and converts its result,
// all inside the boundary that turns any failure into the Python exception.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "pyfacade/args.hpp"
#include "pyfacade/convert.hpp"
#include "pyfacade/errors.hpp"
#include "pyfacade/instance.hpp"

namespace norvel::py {

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

// Method tables hold every calling convention under the one PyCFunction type.
template <typename F>
PyCFunction as_cfunction(F* entry) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

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

}  // namespace norvel::py
