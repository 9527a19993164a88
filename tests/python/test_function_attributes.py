"""Attributes, representation and reduction of function objects."""
import asyncio
import copy
import inspect
import pickle
import sys
import unittest
import warnings

import support
import _kestrune_test_functions as m

FUNC_COROUTINE = 8

DEFAULTS_WARNING = ("changes to native_function.__defaults__ will not currently affect "
                    "the values used in function calls")
KWDEFAULTS_WARNING = ("changes to native_function.__kwdefaults__ will not currently affect "
                      "the values used in function calls")


class NameAndDocTest(unittest.TestCase):
    def test_values_of_a_fresh_function(self):
        f = m.noargs
        self.assertEqual(f.__name__, "noargs")
        self.assertEqual(f.__qualname__, "noargs")
        self.assertEqual(f.__doc__, "noargs()\n\nTakes nothing \u2014 and says so.")
        self.assertEqual(f.func_doc, f.__doc__)
        self.assertEqual(f.__module__, "_kestrune_test_functions")
        self.assertIs(f.__globals__, m.__dict__)
        self.assertIs(f.func_globals, m.__dict__)
        self.assertIsNone(f.__closure__)
        self.assertIsNone(f.func_closure)
        self.assertIsNone(f.__code__)
        self.assertIsNone(f.func_code)
        self.assertIsNone(f.__defaults__)
        self.assertIsNone(f.func_defaults)
        self.assertIsNone(f.__kwdefaults__)
        self.assertEqual(f.__annotations__, {})
        self.assertIs(f._is_coroutine, False)

    def test_rarely_needed_values_are_made_on_first_read_and_kept(self):
        f = m.make("noargs")
        self.assertEqual(m.filled_fields(f), [])
        f.__qualname__, f.__globals__, f.__closure__, f.__code__, f.__module__
        self.assertEqual(m.filled_fields(f), [])
        name = f.__name__
        self.assertEqual(m.filled_fields(f), ["func_name"])
        self.assertIs(f.__name__, name)
        self.assertIs(sys.intern("noargs"), name)
        doc = f.__doc__
        self.assertIs(f.func_doc, doc)
        annotations = f.__annotations__
        self.assertIs(f.__annotations__, annotations)
        self.assertIs(f._is_coroutine, False)
        # No builder: the defaults read None and stay empty.
        self.assertIsNone(f.__defaults__)
        self.assertIsNone(f.__kwdefaults__)
        self.assertEqual(m.filled_fields(f),
                         ["func_name", "func_doc", "func_annotations", "coroutine_marker"])

    def test_a_definition_without_documentation_reads_none(self):
        f = m.make("o")
        self.assertIsNone(f.__doc__)
        self.assertEqual(m.filled_fields(f), [])

    def test_doc_deletion_and_assignment(self):
        f = m.make("noargs")
        del f.__doc__
        self.assertIsNone(f.__doc__)
        f.__doc__ = 5
        self.assertEqual(f.__doc__, 5)
        self.assertEqual(f.func_doc, 5)
        f.func_doc = "other"
        self.assertEqual(f.__doc__, "other")

    def test_name(self):
        f = m.make("noargs", qualname="Outer.noargs")
        for bad in ("f.__name__ = 5", "del f.__name__", "f.func_name = None"):
            with self.assertRaises(TypeError) as caught:
                exec(bad)
            self.assertEqual(str(caught.exception), "__name__ must be set to a string object")
        f.__name__ = "renamed"
        self.assertEqual((f.__name__, f.func_name, f.__qualname__),
                         ("renamed", "renamed", "Outer.noargs"))

        class Sub(str):
            pass
        f.func_name = Sub("sub")
        self.assertIs(type(f.__name__), Sub)

    def test_qualname(self):
        f = m.make("noargs", qualname="Outer.noargs")
        for bad in ("f.__qualname__ = 5", "del f.__qualname__"):
            with self.assertRaises(TypeError) as caught:
                exec(bad)
            self.assertEqual(str(caught.exception), "__qualname__ must be set to a string object")
        f.__qualname__ = "Else.where"
        self.assertEqual((f.__qualname__, f.__name__), ("Else.where", "noargs"))

    def test_read_only_attributes(self):
        f = m.make("noargs")
        for name in ("__globals__", "func_globals", "__closure__", "func_closure",
                     "__code__", "func_code", "_is_coroutine"):
            with self.assertRaises(AttributeError):
                setattr(f, name, None)
            with self.assertRaises(AttributeError):
                delattr(f, name)

    def test_code_when_given(self):
        code = compile("pass", "<test>", "exec")
        f = m.make("noargs", code=code)
        self.assertIs(f.__code__, code)
        self.assertIs(f.func_code, code)


class DefaultsTest(unittest.TestCase):
    def test_assigning_a_tuple_warns_at_the_assigning_line_and_changes_no_call(self):
        f = m.make("noargs")
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            line = sys._getframe().f_lineno + 1
            f.__defaults__ = (1,)
        self.assertEqual(len(caught), 1)
        self.assertIs(caught[0].category, RuntimeWarning)
        self.assertEqual(str(caught[0].message), DEFAULTS_WARNING)
        self.assertEqual(caught[0].filename, __file__)
        self.assertEqual(caught[0].lineno, line)
        self.assertEqual(f.__defaults__, (1,))
        self.assertEqual(f.func_defaults, (1,))
        self.assertEqual(f(), ("noargs", f, True))

    def test_kwdefaults(self):
        f = m.make("noargs")
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            line = sys._getframe().f_lineno + 1
            f.__kwdefaults__ = {"a": 1}
        self.assertEqual([(str(w.message), w.lineno) for w in caught], [(KWDEFAULTS_WARNING, line)])
        self.assertEqual(f.__kwdefaults__, {"a": 1})

    def test_wrong_types_are_refused_without_a_warning(self):
        f = m.make("noargs")
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            with self.assertRaises(TypeError) as e1:
                f.__defaults__ = [1]
            with self.assertRaises(TypeError) as e2:
                f.__kwdefaults__ = [1]
        self.assertEqual(caught, [])
        self.assertEqual(str(e1.exception), "__defaults__ must be set to a tuple object")
        self.assertEqual(str(e2.exception), "__kwdefaults__ must be set to a dict object")
        self.assertIsNone(f.__defaults__)
        self.assertIsNone(f.__kwdefaults__)

    def test_warning_as_error_leaves_the_value(self):
        f = m.make("noargs")
        with warnings.catch_warnings():
            warnings.simplefilter("error", RuntimeWarning)
            with self.assertRaises(RuntimeWarning) as caught:
                f.__defaults__ = (1,)
            self.assertEqual(str(caught.exception), DEFAULTS_WARNING)
            with self.assertRaises(RuntimeWarning):
                f.__kwdefaults__ = {}
        self.assertIsNone(f.__defaults__)
        self.assertIsNone(f.__kwdefaults__)

    def test_deletion_and_none(self):
        f = m.make("noargs")
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            f.__defaults__ = (1,)
            del f.__defaults__
            self.assertIsNone(f.__defaults__)
            f.__kwdefaults__ = None
            self.assertIsNone(f.__kwdefaults__)
        self.assertEqual(len(caught), 3)

    def test_a_builder_fills_both_on_first_read(self):
        f = m.make("noargs")
        calls = []

        def holder():
            calls.append(1)
            return ((1, 2), {"k": 3})
        m.set_defaults_holder(f, holder)
        self.assertEqual(f.__kwdefaults__, {"k": 3})
        self.assertEqual(f.__defaults__, (1, 2))
        self.assertEqual(len(calls), 1)

    def test_a_failing_builder_passes_its_exception_up(self):
        f = m.make("noargs")

        def holder():
            raise LookupError("nothing here")
        m.set_defaults_holder(f, holder)
        with self.assertRaisesRegex(LookupError, "nothing here"):
            f.__defaults__
        with self.assertRaisesRegex(LookupError, "nothing here"):
            f.__kwdefaults__


class AnnotationsTest(unittest.TestCase):
    def test_annotations(self):
        f = m.make("noargs")
        first = f.__annotations__
        self.assertEqual(first, {})
        self.assertIs(f.__annotations__, first)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            f.__annotations__ = None
            second = f.__annotations__
            self.assertEqual(second, {})
            self.assertIsNot(second, first)
            del f.__annotations__
            self.assertIsNot(f.__annotations__, second)
            f.__annotations__ = {"a": int}
            self.assertEqual(f.__annotations__, {"a": int})
            with self.assertRaises(TypeError) as error:
                f.__annotations__ = [1]
        self.assertEqual(caught, [])
        self.assertEqual(str(error.exception), "__annotations__ must be set to a dict object")
        self.assertEqual(f.__annotations__, {"a": int})
        self.assertEqual(inspect.get_annotations(f), {"a": int})


class ModuleAndDictTest(unittest.TestCase):
    def test_module_member(self):
        f = m.make("noargs")
        self.assertEqual(f.__module__, "_kestrune_test_functions")
        obj = object()
        f.__module__ = obj
        self.assertIs(f.__module__, obj)
        del f.__module__
        self.assertIsNone(f.__module__)
        self.assertIsNone(m.make("noargs", null_module=True).__module__)

    def test_arbitrary_attributes(self):
        f = m.make("noargs")
        self.assertEqual(f.__dict__, {})
        f.colour = "blue"
        self.assertEqual(f.colour, "blue")
        self.assertEqual(f.__dict__, {"colour": "blue"})
        self.assertIs(f.func_dict, f.__dict__)
        del f.colour
        self.assertFalse(hasattr(f, "colour"))
        f.__dict__ = {"x": 1}
        self.assertEqual(f.x, 1)

    def test_vars_and_dir(self):
        f = m.make("noargs")
        f.tag = 1
        self.assertEqual(vars(f), {"tag": 1})
        for name in ("__name__", "__qualname__", "__doc__", "__module__", "__globals__",
                     "__defaults__", "__kwdefaults__", "__annotations__", "_is_coroutine",
                     "func_name", "tag", "__reduce__"):
            self.assertIn(name, dir(f))


class CoroutineMarkerTest(unittest.TestCase):
    """Each case runs in a fresh interpreter so that sys.modules is known."""

    def run_fresh(self, source):
        result = support.run_python(
            "import sys\n"
            "import _kestrune_test_functions as m\n" + source)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def test_without_the_bit_false_and_no_import(self):
        out = self.run_fresh(
            "assert 'asyncio.coroutines' not in sys.modules\n"
            "f = m.make('noargs')\n"
            "print(f._is_coroutine, 'asyncio.coroutines' in sys.modules)\n")
        self.assertEqual(out, "False False\n")

    def test_with_the_bit_the_marker_of_asyncio_coroutines(self):
        out = self.run_fresh(
            "f = m.make('noargs')\n"
            "m.set_flags(f, 8)\n"
            "marker = f._is_coroutine\n"
            "print('asyncio.coroutines' in sys.modules)\n"
            "import asyncio, asyncio.coroutines\n"
            "print(marker is asyncio.coroutines._is_coroutine, f._is_coroutine is marker)\n"
            "print(asyncio.iscoroutinefunction(f), asyncio.iscoroutinefunction(m.make('noargs')))\n")
        self.assertEqual(out, "True\nTrue True\nTrue False\n")

    def test_failed_import_gives_true(self):
        out = self.run_fresh(
            "sys.modules['asyncio.coroutines'] = None\n"
            "f = m.make('noargs')\n"
            "m.set_flags(f, 8)\n"
            "print(f._is_coroutine)\n")
        self.assertEqual(out, "True\n")

    def test_in_this_process_too(self):
        f = m.make("noargs")
        m.set_flags(f, FUNC_COROUTINE)
        import asyncio.coroutines
        self.assertIs(f._is_coroutine, asyncio.coroutines._is_coroutine)
        self.assertTrue(asyncio.iscoroutinefunction(f))


class ReduceReprTypeTest(unittest.TestCase):
    def test_reduce_returns_the_qualified_name(self):
        f = m.make("noargs", qualname="Outer.noargs")
        self.assertEqual(f.__reduce__(), "Outer.noargs")
        self.assertEqual(f.__reduce__(1, 2), "Outer.noargs")
        self.assertEqual(m.noargs.__reduce__(), "noargs")

    def test_pickling_is_by_reference(self):
        for f in (m.noargs, m.o, m.varargs_keywords, m.fastcall_keywords,
                  m.method_fastcall_keywords):
            for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
                data = pickle.dumps(f, protocol)
                self.assertIn(b"_kestrune_test_functions", data)
                self.assertIs(pickle.loads(data), f)
        self.assertIs(copy.copy(m.noargs), m.noargs)
        self.assertIs(copy.deepcopy(m.noargs), m.noargs)

    def test_pickling_an_unbound_function_fails_by_reference(self):
        f = m.make("noargs", qualname="not_bound_anywhere")
        with self.assertRaises(pickle.PicklingError):
            pickle.dumps(f)

    def test_repr(self):
        f = m.make("noargs", qualname="Outer.noargs")
        self.assertEqual(repr(f), "<native function Outer.noargs at %#x>" % id(f))
        self.assertEqual(repr(m.noargs), "<native function noargs at %#x>" % id(m.noargs))

    def test_type_names_and_module(self):
        t = type(m.noargs)
        self.assertIs(t, m.function_type)
        self.assertEqual(t.__module__, "_native_abi_1")
        self.assertEqual(t.__name__, "native_function_or_method")
        self.assertEqual(t.__qualname__, "native_function_or_method")
        self.assertIs(type(t), m.metatype)
        self.assertEqual(repr(t), "<class '_native_abi_1.native_function_or_method'>")
        with self.assertRaises((TypeError, AttributeError)):
            t.__module__ = "x"

    def test_identity_hash_and_equality(self):
        f = m.make("noargs")
        g = m.make("noargs")
        self.assertNotEqual(f, g)
        self.assertEqual(f, f)
        self.assertEqual(hash(f), object.__hash__(f))
        self.assertEqual(len({f, g, f}), 2)

    def test_the_type_cannot_be_instantiated(self):
        with self.assertRaises(TypeError) as caught:
            type(m.noargs)()
        self.assertEqual(str(caught.exception),
                         "cannot create '_native_abi_1.native_function_or_method' instances")
        with self.assertRaises(TypeError):
            m.metatype("X", (), {})

    def test_a_method_of_the_type_reads_as_a_builtin(self):
        self.assertTrue(callable(m.noargs))
        self.assertFalse(inspect.isfunction(m.noargs))
        self.assertTrue(inspect.ismethoddescriptor(m.noargs))


if __name__ == "__main__":
    unittest.main()
