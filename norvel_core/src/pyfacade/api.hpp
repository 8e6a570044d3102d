// What the module offers Python: the three classes and the three functions,
// as the registration routine sees them.
#pragma once

#include <Python.h>

#include <string_view>

#include "constants/registry.hpp"
#include "flavour/ckm.hpp"
#include "flavour/quark.hpp"

namespace norvel::py {

inline constexpr const char* kVersion = KESTROVA_VERSION;  // from the build

// Each type() creates the class on first request and caches it in `cached`
// for the rest of the process; creation failures propagate to the caller.
struct FormulasRegistryClass {
    using Value = FormulasRegistry;
    static constexpr std::string_view name = "PyFormulasRegistry";
    static PyTypeObject* type();
    static inline PyTypeObject* cached = nullptr;
};

struct QuarkRegistryClass {
    using Value = QuarkRegistry;
    static constexpr std::string_view name = "PyQuarkRegistry";
    static PyTypeObject* type();
    static inline PyTypeObject* cached = nullptr;
};

struct CKMMatrixClass {
    using Value = CKMMatrix;
    static constexpr std::string_view name = "PyCKMMatrix";
    static PyTypeObject* type();
    static inline PyTypeObject* cached = nullptr;
};

// Makes the names py_get_constant looks up on every call; run at module initialisation.
void intern_datasheet_names();

// Method entries of the module functions (static storage, as the interpreter requires).
extern PyMethodDef list_constants_def;
extern PyMethodDef get_constant_def;
extern PyMethodDef list_quarks_def;

}  // namespace norvel::py
