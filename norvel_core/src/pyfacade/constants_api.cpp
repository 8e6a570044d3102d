// PyFormulasRegistry, py_list_constants and py_get_constant.
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "common/panic.hpp"
#include "constants/datasheet.hpp"
#include "constants/entry.hpp"
#include "constants/registry.hpp"
#include "pyfacade/api.hpp"
#include "pyfacade/frame.hpp"

namespace norvel::py {

// A registry error of any kind reaches Python as a KeyError carrying its text form.
template <>
struct ErrorToPython<RegistryError> {
    [[noreturn, gnu::cold, gnu::noinline]] static void fail(const RegistryError& error) {
        py::fail(PyExc_KeyError, error.text());
    }
};

namespace {

using Cls = FormulasRegistryClass;

FormulasRegistry make_registry() { return FormulasRegistry(); }

std::expected<double, RegistryError> get(const FormulasRegistry& registry, std::string_view name) {
    return registry.value(name);
}

std::size_t length(const FormulasRegistry& registry) { return registry.len(); }

std::string_view version() { return kVersion; }

// The names are turned into str objects while the registry still holds them,
// so each key is copied once, straight into its str.
Ref list_constants() { return to_python(FormulasRegistry().name_views()); }

// The two names the datasheet needs, made once: the import and the method
// lookup still happen on every call.
PyObject* json_name = nullptr;
PyObject* loads_name = nullptr;

// The datasheet is parsed by the interpreter's own json module, so the dict
// callers get is exactly what json.loads makes of the text.
std::expected<Ref, RegistryError> get_constant(std::string_view name) {
    if (name.empty()) {
        panic("py_get_constant: name must be non-empty");
    }
    std::string text;
    {
        auto entry = FormulasRegistry().get(name);
        if (!entry) {
            return std::unexpected(std::move(entry.error()));
        }
        text = datasheet_json(*entry);
    }
    Ref json = check(PyImport_Import(json_name));
    Ref argument = to_python(std::string_view(text));
    std::string().swap(text);
    // loads is a plain function of the module, so the interpreter drops args[0]
    // and may borrow it as the offset slot.
    PyObject* args[] = {json.get(), argument.get()};
    return check(
        PyObject_VectorcallMethod(loads_name, args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

constexpr std::string_view kNameParam[] = {"name"};
constexpr Params kGetParams{
    .cls = Cls::name, .function = "get", .positional = kNameParam, .required = 1};
constexpr Params kNewParams{
    .cls = Cls::name, .function = "__new__", .positional = {}, .required = 0};
constexpr Params kGetConstantParams{
    .cls = {}, .function = "py_get_constant", .positional = kNameParam, .required = 1};

PyMethodDef methods[] = {
    {.ml_name = "get",
     .ml_meth = as_cfunction(&method_fastcall<Cls, &get, kGetParams>),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "get($self, name)\n--\n\nRetrieve the numeric value for `name`."},
    {.ml_name = "version",
     .ml_meth = &function_noargs<&version>,
     .ml_flags = METH_NOARGS | METH_STATIC,
     .ml_doc = "version()\n--\n\nLibrary-version round-trip helper."},
    {},
};

}  // namespace

void intern_datasheet_names() {
    if (json_name == nullptr) json_name = check(PyUnicode_InternFromString("json")).release();
    if (loads_name == nullptr) loads_name = check(PyUnicode_InternFromString("loads")).release();
}

PyTypeObject* FormulasRegistryClass::type() {
    return class_type<FormulasRegistryClass>({
        .text_signature = "()",
        .doc = "Python wrapper for [`FormulasRegistry`].",
        .new_slot = &constructor<Cls, &make_registry, kNewParams>,
        .length = &length_slot<Cls, &length>,
        .methods = methods,
    });
}

PyMethodDef list_constants_def = {
    .ml_name = "py_list_constants",
    .ml_meth = &function_noargs<&list_constants>,
    .ml_flags = METH_NOARGS,
    .ml_doc =
        "py_list_constants()\n--\n\n"
        "Natively accelerated twin of `kestrova.list_constants`.\n\n"
        "Returns all known constant names from the FormulasRegistry.",
};

PyMethodDef get_constant_def = {
    .ml_name = "py_get_constant",
    .ml_meth = as_cfunction(&function_fastcall<&get_constant, kGetConstantParams>),
    .ml_flags = METH_FASTCALL | METH_KEYWORDS,
    .ml_doc =
        "py_get_constant(name)\n--\n\n"
        "Natively accelerated twin of `kestrova.Get` for the constants branch.\n\n"
        "Returns a JSON-serialised dict with `name`, `value`, `units`,\n"
        "`uncertainty`, and `status` fields — matching the Python constant\n"
        "datasheet schema so callers don't need to branch.\n\n"
        "Raises `PyKeyError` when `name` is not in the registry.",
};

}  // namespace norvel::py
