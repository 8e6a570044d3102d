// Instances and their classes: the layout of an instance, the shared borrow
// of its value, its creation and destruction, and the heap type of a class.
//
// A class trait names the core type, the Python class and its cached type:
//   struct SomeClass { using Value = ...; static constexpr std::string_view name = "...";
//                      static PyTypeObject* type(); static inline PyTypeObject* cached; };
#pragma once

#include <Python.h>

#include <memory>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "pyfacade/errors.hpp"
#include "pyfacade/ref.hpp"

namespace norvel::py {

// Header, the wrapped core value, and the count of shared borrows active on it.
template <typename Value>
struct Instance {
    PyObject_HEAD Value value;
    Py_ssize_t borrows;
};

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
