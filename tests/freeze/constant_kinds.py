"""Every kind of constant and code object that the compiler makes, frozen
into the test's own table: the launcher's modules hold no float, complex
number, frozenset, Ellipsis, big negative int or wide string."""

INTS = (0, 1, -1, -5, -6, 255, 256, 257, 2**30 - 1, 2**30, 2**62, -(2**62), 10**40, -(10**40))
FLOATS = (0.0, -0.0, 1.5, -2.25, 5e-324, 1.7976931348623157e308, 1e999, -1e999)
COMPLEX = (1j, -0j, 1.5 + 2j, -1e999j, complex(0.0, -0.0))
STRINGS = ("", "a", "\xe9", "\xff", "\u0101", "\u20ac", "\U0001f600",
           "wider: \xe9 \u2603 \U0001f600", "nul\0inside", 'quote " back \\ ??( trigraph',
           "\udc80 lone surrogate", "Name_chars_1", "not a name")
BYTES = (b"", b"x", b"\x00", b"\xff", b"\x00\x01\xfe\xff longer bytes")
SINGLETONS = (None, True, False, ...)
NESTED = (1, (2.5, (b"three", ("four", (5j,)))), ())


def member(x):
    return x in {"alpha", "beta", 3, 4.5, (1, "tuple"), b"bytes"}


def closure(first, /, second, *rest, third=3, **options):
    cell = first

    def inner():
        nonlocal cell
        cell = [item for item in rest if item]
        return cell, second, third, options

    return inner


class Sample:
    """A class with a method that needs __class__."""

    def method(self):
        return __class__, super()

    @staticmethod
    def handler(value):
        try:
            return 1 / value
        except ZeroDivisionError:
            return None
        finally:
            pass


async def coroutine(awaitable):
    async with awaitable as entered:
        await entered


def generator(values):
    yield from (value * 2 for value in values)


square = lambda x: x * x  # noqa: E731


def dotted_name():
    # A module name that is a name of the code (interned) and, equal to it,
    # a string constant (which the compiler leaves uninterned).
    import os.path
    return os.path, "os.path"
