"""The arithmetic a pending constant's expression may hold, read without ``eval``.

Numbers, names of other constants, ``+ - * /``, parentheses and unary minus:
nothing else, so an expression can neither call nor import anything. Every
refusal is a ``ValueError`` that quotes the expression.
"""

from __future__ import annotations

import math
import re
from collections.abc import Callable

__all__ = ["evaluate"]

_TOKEN = re.compile(
    r"\s*(?:(?P<number>(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)"
    r"|(?P<name>[A-Za-z_]\w*)|(?P<op>[-+*/()]))"
)


def evaluate(expression: str, lookup: Callable[[str], float]) -> float:
    """Return the value of ``expression``; ``lookup`` gives a name's value.

    ``lookup`` raises ``KeyError`` for a name it does not know. Raises
    ``ValueError`` for anything outside the grammar, an unknown name, a
    division by zero or a result that is not a finite number.
    """
    return _Reader(expression, lookup).read()


class _Reader:
    def __init__(self, text: str, lookup: Callable[[str], float]) -> None:
        self.text = text
        self.lookup = lookup
        self.tokens = self._scan(text)
        self.at = 0

    def _fail(self, why: str) -> ValueError:
        return ValueError(f"cannot evaluate {self.text!r}: {why}")

    def _scan(self, text: str) -> list[tuple[str, str]]:
        tokens, at = [], 0
        while text[at:].strip():
            found = _TOKEN.match(text, at)
            if found is None:
                bad = text[at:].lstrip()[0]
                raise self._fail(f"{bad!r} is not a number, a name, + - * / or a parenthesis")
            kind = found.lastgroup
            assert kind is not None
            tokens.append((kind, found.group(kind)))
            at = found.end()
        return tokens

    def _peek(self) -> str | None:
        return self.tokens[self.at][1] if self.at < len(self.tokens) else None

    def read(self) -> float:
        if not self.tokens:
            raise self._fail("it is empty")
        value = self._sum()
        if self.at < len(self.tokens):
            raise self._fail(f"unexpected {self.tokens[self.at][1]!r}")
        if not math.isfinite(value):
            raise self._fail("it does not come to a finite number")
        return value

    def _sum(self) -> float:
        value = self._product()
        while (op := self._peek()) in ("+", "-"):
            self.at += 1
            right = self._product()
            value = value + right if op == "+" else value - right
        return value

    def _product(self) -> float:
        value = self._unary()
        while (op := self._peek()) in ("*", "/"):
            self.at += 1
            right = self._unary()
            if op == "*":
                value *= right
            elif right == 0.0:
                raise self._fail("division by zero")
            else:
                value /= right
        return value

    def _unary(self) -> float:
        if self._peek() == "-":
            self.at += 1
            return -self._unary()
        return self._atom()

    def _atom(self) -> float:
        if self.at == len(self.tokens):
            raise self._fail("it ends too early")
        kind, text = self.tokens[self.at]
        self.at += 1
        if kind == "number":
            return float(text)
        if kind == "name":
            try:
                return self.lookup(text)
            except KeyError:
                raise self._fail(f"no constant is named {text!r}") from None
        if text == "(":
            value = self._sum()
            if self._peek() != ")":
                raise self._fail("a parenthesis is not closed")
            self.at += 1
            return value
        raise self._fail(f"unexpected {text!r}")
