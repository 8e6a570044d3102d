#include "pyfacade/errors.hpp"

#include <sys/prctl.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <string>

#include "common/panic.hpp"

namespace norvel::py {
namespace {

constexpr const char* kPanicDoc =
    "\nThe exception raised when native code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

constexpr const char* kAnonymousPanic = "panic raised by native code without a message";

// Created while the module initialises, never freed: comparing a fetched
// exception with it must not allocate, or the first error of a process
// raised at the recursion limit or out of memory would have nowhere to go.
PyObject* g_panic_type = nullptr;

// Source paths as the build saw them, shortened to the project-relative part.
std::string_view project_path(const char* file) {
    std::string_view path(file);
    if (auto at = path.rfind("norvel_core/"); at != std::string_view::npos) {
        path.remove_prefix(at);
    }
    return path;
}

std::string thread_name() {
    // prctl names the calling thread on every glibc; the pthread call needs 2.34.
    char name[64] = {};
    if (prctl(PR_GET_NAME, name, 0, 0, 0) == 0 && name[0] != '\0') {
        return name;
    }
    return "<unnamed>";
}

void write_panic_report(std::string_view message, const std::source_location& where) {
    const std::string_view file = project_path(where.file_name());
    std::fprintf(stderr, "\nthread '%s' panicked at %.*s:%u:%u:\n%.*s\n", thread_name().c_str(),
                 static_cast<int>(file.size()), file.data(), where.line(), where.column(),
                 static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
}

// str(exc) as UTF-8, or nothing when str() or the encoding fails.
std::optional<std::string> describe(PyObject* exc) {
    Ref text = Ref::steal(PyObject_Str(exc));
    Py_ssize_t size = 0;
    const char* bytes = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    if (bytes == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(bytes, static_cast<std::size_t>(size));
}

// Hands the fetched exception back to the thread state.
void restore(FetchedError& error) {
    PyErr_Restore(error.type.release(), error.value.release(), error.traceback.release());
}

[[noreturn]] void resume_panic(FetchedError error, const std::source_location& where) {
    std::fputs(
        "A PanicException was raised by Python code called from native code.\n"
        "It resumes as a panic of the native caller; its Python traceback follows.\n",
        stderr);
    std::string message = describe(error.value.get()).value_or("Unwrapped panic from Python code");
    restore(error);
    PyErr_PrintEx(0);
    throw Panic(std::move(message), where);
}

void raise_panic(std::string_view message, const std::source_location& where) {
    write_panic_report(message, where);
    // The class exists once the module does; before that, a panic of the import itself.
    PyObject* type = g_panic_type != nullptr ? g_panic_type : PyExc_SystemError;
    Ref argument = Ref::steal(PyUnicode_DecodeUTF8(
        message.data(), static_cast<Py_ssize_t>(message.size()), "surrogateescape"));
    if (!argument) {
        return;  // the decoding error is already set, and is the best we can report
    }
    PyErr_SetObject(type, argument.get());
}

void raise_failure(const Failure& failure) {
    if (!failure.cause) {
        PyErr_SetObject(failure.type, failure.argument.get());
        return;
    }
    Ref exc = Ref::steal(PyObject_CallOneArg(failure.type, failure.argument.get()));
    if (!exc) {
        return;  // the interpreter's own error stands in for ours
    }
    PyException_SetCause(exc.get(), Ref(failure.cause).release());
    PyErr_SetObject(failure.type, exc.get());
}

}  // namespace

void fail(PyObject* type, Ref argument) { throw Failure{type, std::move(argument), Ref()}; }

void fail(PyObject* type, std::string_view message) {
    fail(type, check(PyUnicode_FromStringAndSize(message.data(),
                                                 static_cast<Py_ssize_t>(message.size()))));
}

void throw_pending(std::source_location where) {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        fail(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr) {
        PyException_SetTraceback(value, traceback);
    }
    FetchedError error{Ref::steal(type), Ref::steal(value), Ref::steal(traceback)};
    if (g_panic_type != nullptr && PyErr_GivenExceptionMatches(error.type.get(), g_panic_type)) {
        resume_panic(std::move(error), where);
    }
    throw error;
}

void panic_with_error(std::string_view what, const FetchedError& error,
                      std::source_location where) {
    std::string message(what);
    message.append(": ").append(reinterpret_cast<PyTypeObject*>(error.type.get())->tp_name);
    if (auto detail = describe(error.value.get()); detail && !detail->empty()) {
        message.append(": ").append(*detail);
    }
    throw Panic(std::move(message), where);
}

void create_panic_exception_type() {
    if (g_panic_type == nullptr) {
        g_panic_type = check(PyErr_NewExceptionWithDoc("kestrova._norvel_core.PanicException",
                                                       kPanicDoc, PyExc_BaseException, nullptr))
                           .release();
    }
}

void raise_current_exception() noexcept {
    try {
        try {
            throw;
        } catch (const Failure& failure) {
            raise_failure(failure);
        } catch (FetchedError& error) {
            restore(error);
        } catch (const Panic& panic) {
            raise_panic(panic.what(), panic.where());
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const std::exception& other) {
            raise_panic(other.what(), std::source_location::current());
        } catch (...) {
            raise_panic(kAnonymousPanic, std::source_location::current());
        }
    } catch (...) {
        // A second failure while the first is being reported cannot reach Python.
        std::fputs("uncaught panic at ffi boundary\n", stderr);
        std::fflush(stderr);
        std::abort();
    }
}

void report_unraisable_current_exception() noexcept {
    raise_current_exception();
    PyErr_WriteUnraisable(nullptr);
}

}  // namespace norvel::py
