// PyQuarkRegistry, PyCKMMatrix and py_list_quarks.
#include <string>
#include <vector>

#include "flavour/ckm.hpp"
#include "flavour/quark.hpp"
#include "pyfacade/api.hpp"
#include "pyfacade/frame.hpp"

namespace norvel::py {
namespace {

QuarkRegistry make_quark_registry() { return QuarkRegistry(); }

std::size_t quark_count(const QuarkRegistry& registry) { return registry.len(); }

// Each key is copied once, straight into its str, while the registry holds it.
Ref list_quarks() { return to_python(QuarkRegistry::standard_model().name_views()); }

Ref from_topology() {
    return new_instance_or_panic<CKMMatrixClass>(CKMMatrixClass::type(),
                                                 CKMMatrix::from_topology());
}

bool is_unitary(const CKMMatrix& matrix, double tol) { return matrix.is_unitary(tol); }

double jarlskog(const CKMMatrix& matrix) { return matrix.jarlskog(); }

constexpr std::string_view kTolParam[] = {"tol"};
constexpr Params kIsUnitaryParams{
    .cls = CKMMatrixClass::name, .function = "is_unitary", .positional = kTolParam, .required = 1};
constexpr Params kQuarkNewParams{
    .cls = QuarkRegistryClass::name, .function = "__new__", .positional = {}, .required = 0};

PyMethodDef quark_methods[] = {{}};

PyMethodDef ckm_methods[] = {
    {.ml_name = "from_topology",
     .ml_meth = &function_noargs<&from_topology>,
     .ml_flags = METH_NOARGS | METH_STATIC,
     .ml_doc = "from_topology()\n--\n\nBuild the CKM matrix from the underlying topology."},
    {.ml_name = "is_unitary",
     .ml_meth = as_cfunction(&method_fastcall<CKMMatrixClass, &is_unitary, kIsUnitaryParams>),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "is_unitary($self, tol)\n--\n\n`True` when the matrix is unitary within `tol`."},
    {.ml_name = "jarlskog",
     .ml_meth = &method_noargs<CKMMatrixClass, &jarlskog>,
     .ml_flags = METH_NOARGS,
     .ml_doc = "jarlskog($self)\n--\n\nCP-violation Jarlskog invariant J."},
    {},
};

}  // namespace

PyTypeObject* QuarkRegistryClass::type() {
    return class_type<QuarkRegistryClass>({
        .text_signature = "()",
        .doc = "Python wrapper for [`QuarkRegistry`].",
        .new_slot = &constructor<QuarkRegistryClass, &make_quark_registry, kQuarkNewParams>,
        .length = &length_slot<QuarkRegistryClass, &quark_count>,
        .methods = quark_methods,
    });
}

PyTypeObject* CKMMatrixClass::type() {
    return class_type<CKMMatrixClass>({
        .text_signature = nullptr,
        .doc = "Python wrapper for [`CKMMatrix`].",
        .new_slot = nullptr,
        .length = nullptr,
        .methods = ckm_methods,
    });
}

PyMethodDef list_quarks_def = {
    .ml_name = "py_list_quarks",
    .ml_meth = &function_noargs<&list_quarks>,
    .ml_flags = METH_NOARGS,
    .ml_doc =
        "py_list_quarks()\n--\n\n"
        "Natively accelerated twin of `kestrova.list_quarks`.\n\n"
        "Returns all SM quark names from the QuarkRegistry.",
};

}  // namespace norvel::py
