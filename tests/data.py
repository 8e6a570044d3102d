"""The facts the tests hold the package to, each written once: the registry's
tables, the call frame's messages and the entry points' signatures. They are
not read from the package: the native module is checked against its pure twin,
and both against these."""

# name -> (value, units, status, expression). A pending constant holds its
# figure as an expression nothing evaluates; its value is 0.0.
CONSTANTS = {
    "b3": (24.0, "dimensionless", "Seed", None),
    "chi_eff": (72.0, "dimensionless", "Seed", None),
    "gamma_em": (0.5772156649015329, "dimensionless", "Seed", None),
    "h0_central": (0.0, "km/s/Mpc", "Pending", "70"),
    "jc_constant": (153.0, "count", "Seed", None),
    "logic_closure": (288.0, "count", "Seed", None),
    "m_tau_mev": (0.0, "MeV", "Pending", "1776.86"),
    "n_gen": (3.0, "count", "Seed", None),
    "n_gen_sq": (0.0, "count", "Pending", "n_gen * n_gen"),
    "phi": (1.618033988749895, "dimensionless", "Seed", None),
    "roots_total": (288.0, "count", "Seed", None),
    "sterile_check": (0.0, "count", "Pending", "roots_total - visible_sector"),
    "sterile_sector": (163.0, "count", "Seed", None),
    "topo_gen_check": (0.0, "count", "Pending", "chi_eff / b3"),
    "v_higgs_mev": (0.0, "MeV", "Pending", "246220"),
    "visible_sector": (125.0, "count", "Seed", None),
    "w0_central": (0.0, "dimensionless", "Pending", "-1"),
}
NAMES = sorted(CONSTANTS)
VALUES = {name: row[0] for name, row in CONSTANTS.items()}
EXPRESSIONS = {name: row[3] for name, row in CONSTANTS.items() if row[3] is not None}
KEYS = ["name", "status", "uncertainty", "units", "value"]


def datasheet(name):
    value, units, status, _ = CONSTANTS[name]
    return {"name": name, "status": status, "uncertainty": None, "units": units, "value": value}


# name -> (generation, phi_exponent, mass_mev, vev_fraction): the mass ladder,
# 246220.0 / phi**phi_exponent, as double arithmetic gives it.
QUARKS = {
    "bottom": (3, 4, 35923.013870002665, 0.14589803375031543),
    "charm": (2, 5, 22201.643549995544, 0.09016994374947422),
    "down": (1, 11, 1237.2551899207474, 0.005024998740641489),
    "strange": (2, 8, 5241.0970900186985, 0.02128623625220818),
    "top": (3, 0, 246220.0, 1.0),
    "up": (1, 12, 764.665760128228, 0.003105620015141857),
}
QUARK_NAMES = sorted(QUARKS)

# ---- messages ------------------------------------------------------------------

PANIC = "py_get_constant: name must be non-empty"
NO_CONSTRUCTOR = "No constructor defined for PyCKMMatrix"


def not_found(name):
    return f"constant `{name}` not found in registry"


def not_a_name(type_name):
    return f"argument 'name': '{type_name}' object cannot be converted to 'PyString'"


def too_many(display, takes, given):
    return (
        f"{display} takes {takes} positional arguments but {given} "
        f"{'was' if given == 1 else 'were'} given"
    )


def unexpected(display, key):
    return f"{display} got an unexpected keyword argument '{key}'"


def twice(display, parameter):
    return f"{display} got multiple values for argument '{parameter}'"


def missing(display, parameter):
    return f"{display} missing 1 required positional argument: '{parameter}'"


def no_arguments(display, given):
    return f"{display} takes no arguments ({given} given)"


def no_keywords(display):
    return f"{display} takes no keyword arguments"


# ---- signatures ----------------------------------------------------------------

# The native entry points: the name their argument errors give, and their
# __text_signature__ ("$self" is the receiver an unbound method takes).
NATIVE = {
    "py_list_constants": ("kestrova._norvel_core.py_list_constants()", "()"),
    "py_list_quarks": ("kestrova._norvel_core.py_list_quarks()", "()"),
    "py_get_constant": ("py_get_constant()", "(name)"),
    "PyFormulasRegistry": ("PyFormulasRegistry.__new__()", "()"),
    "PyFormulasRegistry.get": ("PyFormulasRegistry.get()", "($self, name)"),
    "PyFormulasRegistry.version": ("PyFormulasRegistry.version()", "()"),
    "PyQuarkRegistry": ("PyQuarkRegistry.__new__()", "()"),
    "PyCKMMatrix": ("PyCKMMatrix()", None),
    "PyCKMMatrix.from_topology": ("PyCKMMatrix.from_topology()", "()"),
    "PyCKMMatrix.is_unitary": ("PyCKMMatrix.is_unitary()", "($self, tol)"),
    "PyCKMMatrix.jarlskog": ("PyCKMMatrix.jarlskog()", "($self)"),
}
DISPLAY = {path: display for path, (display, _) in NATIVE.items()}


def unbound(text):
    """A text signature as the interpreter shows it: the receiver positional-only."""
    return text.replace("$self)", "self, /)").replace("$self, ", "self, /, ")


def bound(text):
    return text.replace("$self, ", "").replace("$self", "")


# The pure functions' signatures as inspect shows them, annotations postponed.
PURE = {
    "Get": "(name: 'str') -> 'Datasheet'",
    "list_constants": "() -> 'list[str]'",
    "list_quarks": "() -> 'list[str]'",
    "search": "(text: 'str') -> 'list[str]'",
    "describe": "(name: 'str') -> 'str'",
    "compare": "() -> 'ComparisonTable'",
    "constant": "(name: 'str') -> 'Constant'",
    "constants": "() -> 'Records[Constant]'",
    "quark": "(name: 'str') -> 'QuarkRecord'",
    "quarks": "() -> 'Records[QuarkRecord]'",
    "ckm": "() -> 'CKM'",
}

# What the native module registers, in order.
ALL = [
    "PyFormulasRegistry",
    "PyQuarkRegistry",
    "PyCKMMatrix",
    "py_list_constants",
    "py_list_quarks",
    "py_get_constant",
    "__version__",
]
