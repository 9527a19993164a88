"""Garbage collection and weak references of function objects."""
import gc
import unittest
import warnings
import weakref

import support  # noqa: F401  (puts the test modules on sys.path)
import _kestrune_test_functions as m


class WeakReferenceTest(unittest.TestCase):
    def test_weak_references_are_cleared_at_deallocation(self):
        f = m.make("noargs")
        called = []
        ref = weakref.ref(f, called.append)
        self.assertIs(ref(), f)
        proxy = weakref.proxy(f)
        self.assertEqual(proxy(), ("noargs", f, True))
        del f
        self.assertIsNone(ref())
        self.assertEqual(called, [ref])
        with self.assertRaises(ReferenceError):
            proxy()

    def test_weak_value_dictionary(self):
        cache = weakref.WeakValueDictionary()
        cache["f"] = m.make("o")
        self.assertNotIn("f", cache)


class CycleTest(unittest.TestCase):
    def test_tracked_from_creation(self):
        self.assertTrue(gc.is_tracked(m.make("noargs")))
        self.assertTrue(gc.is_tracked(m.noargs))

    def test_a_cycle_through_its_own_dict_is_collected(self):
        f = m.make("noargs")
        f.me = f
        called = []
        ref = weakref.ref(f, called.append)
        del f
        self.assertIsNotNone(ref())
        gc.collect()
        self.assertIsNone(ref())
        self.assertEqual(called, [ref])

    def test_cycles_through_every_visited_attribute_are_collected(self):
        def through_module(f): f.__module__ = [f]
        def through_doc(f): f.__doc__ = [f]
        def through_defaults(f): f.__defaults__ = (f,)
        def through_kwdefaults(f): f.__kwdefaults__ = {"a": f}
        def through_annotations(f): f.__annotations__ = {"a": f}
        def through_defining_class(f):
            class Owner:
                method = f
            m.set_mm_class(f, Owner)
        def through_holder(f): m.set_defaults_holder(f, lambda: ((f,), None))
        def through_dict_assignment(f): f.__dict__ = {"me": f}

        for make_cycle in (through_module, through_doc, through_defaults, through_kwdefaults,
                           through_annotations, through_defining_class, through_holder,
                           through_dict_assignment):
            with self.subTest(make_cycle.__name__):
                f = m.make("method_fastcall_keywords")
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore", RuntimeWarning)
                    make_cycle(f)
                ref = weakref.ref(f)
                del f
                gc.collect()
                self.assertIsNone(ref())

    def test_referents_are_visited_in_the_specified_order(self):
        f = m.make("method_fastcall_keywords")
        module, doc = ["module"], ["doc"]
        defaults, kwdefaults, annotations = ("d",), {"k": 1}, {"a": 1}
        holder = lambda: ((), {})  # noqa: E731

        class Owner:
            pass
        f.__module__ = module
        f.attribute = 1
        f.__doc__ = doc
        m.set_mm_class(f, Owner)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            f.__defaults__ = defaults
            f.__kwdefaults__ = kwdefaults
        f.__annotations__ = annotations
        marker = f._is_coroutine
        m.set_defaults_holder(f, holder)
        f.__name__ = "a_name_that_is_not_visited"
        referents = gc.get_referents(f)
        expected = [module, f.__dict__, doc, m.__dict__, Owner, defaults, kwdefaults,
                    annotations, marker, holder]
        self.assertEqual(len(referents), len(expected))
        for got, want in zip(referents, expected):
            self.assertIs(got, want)

    def test_a_fresh_function_refers_to_its_module_name_and_globals_only(self):
        f = m.make("noargs")
        self.assertEqual(gc.get_referents(f), [f.__module__, m.__dict__])


if __name__ == "__main__":
    unittest.main()
