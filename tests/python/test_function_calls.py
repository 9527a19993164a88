"""Calls of function objects of the shared type, seen from Python.

The function objects come from the test-only module _kestrune_test_functions,
built from runtime/. Each of its entry functions returns what it received:
  noargs                    ("noargs", self, second argument was NULL)
  o                         ("o", self, arg)
  varargs_keywords          ("varargs_keywords", self, args, kwargs or None)
  fastcall_keywords         ("fastcall_keywords", self, positional, kwnames, kwvalues, nargs)
  method_fastcall_keywords  ("method_fastcall_keywords", self, cls, positional, kwnames,
                             kwvalues, nargsf)
"""
import textwrap
import types
import unittest

import support  # (puts the test modules on sys.path)
import _kestrune_test_functions as m

FUNC_STATIC = 1
FUNC_METHOD = 4
FUNC_COROUTINE = 8


class Instance:
    pass


class CallingConventionsTest(unittest.TestCase):
    def test_noargs(self):
        f = m.make("noargs")
        self.assertEqual(f(), ("noargs", f, True))
        with self.assertRaisesRegex(TypeError, r"^noargs\(\) takes no arguments \(1 given\)$"):
            f(1)
        with self.assertRaisesRegex(TypeError, r"^noargs\(\) takes no arguments \(3 given\)$"):
            f(1, 2, 3)

    def test_keywords_are_refused_before_the_count_is_looked_at(self):
        f = m.make("noargs")
        for call in (lambda: f(x=1), lambda: f(1, x=1), lambda: f(1, 2, x=1, y=2)):
            with self.assertRaises(TypeError) as caught:
                call()
            self.assertEqual(str(caught.exception), "noargs() takes no keyword arguments")
        g = m.make("o")
        with self.assertRaises(TypeError) as caught:
            g(x=1)
        self.assertEqual(str(caught.exception), "o() takes no keyword arguments")

    def test_o(self):
        f = m.make("o")
        value = object()
        self.assertEqual(f(value), ("o", f, value))
        for args, count in (((), 0), ((1, 2), 2)):
            with self.assertRaises(TypeError) as caught:
                f(*args)
            self.assertEqual(str(caught.exception),
                             "o() takes exactly one argument (%d given)" % count)

    def test_varargs_keywords(self):
        f = m.make("varargs_keywords")
        self.assertEqual(f(), ("varargs_keywords", f, (), None))
        self.assertEqual(f(1, 2, a=3), ("varargs_keywords", f, (1, 2), {"a": 3}))

    def test_fastcall_keywords(self):
        f = m.make("fastcall_keywords")
        self.assertEqual(f(), ("fastcall_keywords", f, (), None, (), 0))
        self.assertEqual(f(1, 2, a=3, b=4),
                         ("fastcall_keywords", f, (1, 2), ("a", "b"), (3, 4), 2))
        self.assertEqual(f(*[1], **{"k": 2}),
                         ("fastcall_keywords", f, (1,), ("k",), (2,), 1))

    def test_method_fastcall_keywords_gets_the_defining_class(self):
        f = m.make("method_fastcall_keywords")
        self.assertEqual(f(1, k=2),
                         ("method_fastcall_keywords", f, None, (1,), ("k",), (2,), 1))
        m.set_mm_class(f, Instance)
        result = f(1, 2, k=3)
        self.assertIs(result[2], Instance)
        self.assertEqual(result[3:], ((1, 2), ("k",), (3,), 2))

    def test_bits_outside_the_mask_do_not_take_part(self):
        self.assertEqual(m.make("noargs_class")()[0], "noargs")
        self.assertEqual(m.make("o_coexist")(5)[0], "o")
        self.assertEqual(m.make("fastcall_keywords_static")(1)[2], (1,))

    def test_refused_flag_combinations(self):
        for kind in ("varargs", "fastcall", "keywords", "no_flags", "noargs_o",
                     "noargs_keywords", "method_noargs", "method_fastcall",
                     "method_varargs_keywords"):
            with self.subTest(kind=kind):
                with self.assertRaises(SystemError) as caught:
                    m.make(kind)
                self.assertEqual(str(caught.exception), "Bad call flags for NativeFunction")

    def test_the_vectorcall_field_holds_no_entry_for_varargs_keywords(self):
        # __vectorcalloffset__ is an instance member on the vectorcall field,
        # so it reads the field's raw value.
        self.assertEqual(m.make("varargs_keywords").__vectorcalloffset__, 0)
        for kind in ("noargs", "o", "fastcall_keywords", "method_fastcall_keywords"):
            self.assertNotEqual(m.make(kind).__vectorcalloffset__, 0, kind)
        # One entry per convention, shared by all objects of that convention.
        self.assertEqual(m.make("noargs").__vectorcalloffset__, m.noargs.__vectorcalloffset__)
        self.assertNotEqual(m.noargs.__vectorcalloffset__, m.o.__vectorcalloffset__)


class MessagesTest(unittest.TestCase):
    def test_messages_name_the_definition_not_the_current_name(self):
        f = m.make("noargs")
        f.__name__ = "renamed"
        f.__qualname__ = "Other.renamed"
        with self.assertRaises(TypeError) as caught:
            f(1)
        self.assertEqual(str(caught.exception), "noargs() takes no arguments (1 given)")

    def test_names_are_cut_at_200_bytes(self):
        f = m.make("long_name")
        self.assertEqual(len(f.__name__), 250)
        with self.assertRaises(TypeError) as caught:
            f(1)
        self.assertEqual(str(caught.exception),
                         f.__name__[:200] + "() takes no arguments (1 given)")

    def test_argument_errors_change_nothing(self):
        f = m.make("noargs")
        with self.assertRaises(TypeError):
            f(1)
        self.assertEqual(m.filled_fields(f), [])
        self.assertEqual(m.get_flags(f), 0)


class CallSlotTest(unittest.TestCase):
    """The type's tp_call, reached directly (Python's own calls use vectorcall)."""

    def test_tuple_and_no_keywords(self):
        f = m.make("o")
        self.assertEqual(m.call_slot(f, (5,)), ("o", f, 5))
        g = m.make("noargs")
        with self.assertRaises(TypeError) as caught:
            m.call_slot(g, (1,))
        self.assertEqual(str(caught.exception), "noargs() takes no arguments (1 given)")

    def test_an_empty_keyword_dictionary_counts_as_none(self):
        f = m.make("noargs")
        self.assertEqual(m.call_slot(f, (), {}), ("noargs", f, True))
        g = m.make("fastcall_keywords")
        self.assertEqual(m.call_slot(g, (1,), {}), ("fastcall_keywords", g, (1,), None, (), 1))

    def test_keywords_are_converted(self):
        f = m.make("fastcall_keywords")
        self.assertEqual(m.call_slot(f, (1,), {"b": 2, "a": 3}),
                         ("fastcall_keywords", f, (1,), ("b", "a"), (2, 3), 1))
        g = m.make("method_fastcall_keywords")
        self.assertEqual(m.call_slot(g, (), {"k": 1}),
                         ("method_fastcall_keywords", g, None, (), ("k",), (1,), 0))
        h = m.make("noargs")
        with self.assertRaises(TypeError) as caught:
            m.call_slot(h, (), {"x": 1})
        self.assertEqual(str(caught.exception), "noargs() takes no keyword arguments")

    def test_a_non_str_keyword_is_refused_before_the_entrys_own_check(self):
        for kind in ("noargs", "o", "fastcall_keywords"):
            f = m.make(kind)
            with self.assertRaises(TypeError) as caught:
                m.call_slot(f, (), {"a": 1, 2: 3})
            self.assertEqual(str(caught.exception), "keywords must be strings", kind)

    def test_str_subclass_keywords_are_accepted(self):
        class Key(str):
            pass
        f = m.make("fastcall_keywords")
        result = m.call_slot(f, (), {Key("k"): 1})
        self.assertEqual(result[3], ("k",))
        self.assertIs(type(result[3][0]), Key)

    def test_varargs_keywords_gets_the_tuple_and_dict_as_received(self):
        f = m.make("varargs_keywords")
        args = (1, 2)
        kwargs = {}
        result = m.call_slot(f, args, kwargs)
        self.assertIs(result[2], args)
        self.assertIs(result[3], kwargs)
        self.assertIsNone(m.call_slot(f, args)[3])

    def test_varargs_keywords_with_the_method_bit(self):
        f = m.make("varargs_keywords", qualname="Owner.varargs_keywords")
        m.set_flags(f, FUNC_METHOD)
        obj = Instance()
        self.assertEqual(m.call_slot(f, (obj, 1), {"k": 2}),
                         ("varargs_keywords", obj, (1,), {"k": 2}))
        with self.assertRaises(TypeError) as caught:
            m.call_slot(f, ())
        self.assertEqual(str(caught.exception),
                         "unbound method Owner.varargs_keywords() needs an argument")
        # The same through Python's own call.
        with self.assertRaises(TypeError) as caught:
            f()
        self.assertEqual(str(caught.exception),
                         "unbound method Owner.varargs_keywords() needs an argument")
        m.set_flags(f, FUNC_METHOD | FUNC_STATIC)
        self.assertEqual(m.call_slot(f, (obj, 1)), ("varargs_keywords", f, (obj, 1), None))


class KindBitsTest(unittest.TestCase):
    def test_method_bit_takes_self_from_the_first_argument(self):
        obj = Instance()
        f = m.make("noargs")
        m.set_flags(f, FUNC_METHOD)
        self.assertEqual(f(obj), ("noargs", obj, True))
        with self.assertRaises(TypeError) as caught:
            f()
        self.assertEqual(str(caught.exception), "noargs() needs an argument")
        with self.assertRaises(TypeError) as caught:
            f(x=1)
        self.assertEqual(str(caught.exception), "noargs() needs an argument")
        with self.assertRaises(TypeError) as caught:
            f(obj, x=1)
        self.assertEqual(str(caught.exception), "noargs() takes no keyword arguments")
        with self.assertRaises(TypeError) as caught:
            f(obj, 1)
        self.assertEqual(str(caught.exception), "noargs() takes no arguments (1 given)")

        g = m.make("o")
        m.set_flags(g, FUNC_METHOD)
        self.assertEqual(g(obj, 5), ("o", obj, 5))
        with self.assertRaises(TypeError) as caught:
            g(obj)
        self.assertEqual(str(caught.exception), "o() takes exactly one argument (0 given)")

        h = m.make("fastcall_keywords")
        m.set_flags(h, FUNC_METHOD)
        self.assertEqual(h(obj, 1, k=2), ("fastcall_keywords", obj, (1,), ("k",), (2,), 1))
        self.assertEqual(m.call_slot(h, (obj,), {"k": 2}),
                         ("fastcall_keywords", obj, (), ("k",), (2,), 0))
        with self.assertRaises(TypeError) as caught:
            h(k=2)
        self.assertEqual(str(caught.exception), "fastcall_keywords() needs an argument")

        j = m.make("method_fastcall_keywords")
        m.set_flags(j, FUNC_METHOD)
        m.set_mm_class(j, Instance)
        self.assertEqual(j(obj, 1), ("method_fastcall_keywords", obj, Instance, (1,), None, (), 1))

    def test_static_bit_cancels_the_method_bit(self):
        f = m.make("noargs")
        m.set_flags(f, FUNC_METHOD | FUNC_STATIC)
        self.assertEqual(f(), ("noargs", f, True))
        with self.assertRaises(TypeError) as caught:
            f(Instance())
        self.assertEqual(str(caught.exception), "noargs() takes no arguments (1 given)")

    def test_coroutine_and_static_bits_do_not_change_calls(self):
        f = m.make("o")
        m.set_flags(f, FUNC_COROUTINE | FUNC_STATIC)
        self.assertEqual(f(1), ("o", f, 1))


class BindingTest(unittest.TestCase):
    def test_as_a_class_attribute_and_through_an_instance(self):
        f = m.make("noargs")

        class Owner:
            g = f

        self.assertIs(Owner.g, f)
        self.assertIs(Owner.__dict__["g"].__get__(None, Owner), f)
        obj = Owner()
        bound = obj.g
        self.assertIsInstance(bound, types.MethodType)
        self.assertIs(bound.__func__, f)
        self.assertIs(bound.__self__, obj)
        for call in (bound, lambda: obj.g(), lambda: Owner.g(obj)):
            with self.assertRaises(TypeError) as caught:
                call()
            self.assertEqual(str(caught.exception), "noargs() takes no arguments (1 given)")

    def test_with_the_method_bit_the_instance_is_self_on_every_route(self):
        f = m.make("o")
        m.set_flags(f, FUNC_METHOD)

        class Owner:
            g = f

        obj = Owner()
        self.assertEqual(obj.g(5), ("o", obj, 5))      # method-descriptor route
        bound = obj.g
        self.assertEqual(bound(5), ("o", obj, 5))      # bound-method route
        self.assertEqual(Owner.g(obj, 5), ("o", obj, 5))
        self.assertEqual(getattr(obj, "g")(5), ("o", obj, 5))

    def test_the_owning_class_is_not_used(self):
        f = m.make("noargs")
        self.assertIs(f.__get__(None, int), f)
        obj = Instance()
        self.assertIs(f.__get__(obj, int).__self__, obj)


class CallLoopTest(unittest.TestCase):
    """A call loop through the helper's functions ends in RecursionError on
    every route, never in a crash; each loop runs in its own interpreter."""

    LOOP = textwrap.dedent("""\
        import functools, sys
        import git_credential_kestrune as m
        loops = {
            "itself": m.cmd_get,
            "partial": functools.partial(m.cmd_get),
            "partial of partial": functools.partial(functools.partial(m.cmd_get)),
            "bound method": types.MethodType(lambda self: m.cmd_get(), object()),
            "tp_call": (lambda f: lambda: f.__call__())(m.cmd_get),
        }
        for label, target in loops.items():
            m._parse_input = target
            try:
                m.cmd_get()
            except RecursionError as e:
                assert str(e).startswith("maximum recursion depth exceeded"), (label, str(e))
            else:
                raise AssertionError(label + ": no RecursionError")
            print(label)
        """)

    def test_loops_through_wrappers_raise_recursion_error(self):
        result = support.run_python("import types\n" + self.LOOP)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(result.stdout.split("\n"),
                         ["itself", "partial", "partial of partial", "bound method", "tp_call", ""])


if __name__ == "__main__":
    unittest.main()
