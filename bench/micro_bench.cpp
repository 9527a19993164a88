// Micro-benchmarks of the lookup and call helpers against the interpreter's
// generic entry points that they stand in for.
//
// Every case is registered twice, as "<operation>/<case>/fast" (our helper)
// and "<operation>/<case>/generic" (the generic call that the helper's fast
// path replaces); bench/run.py pairs them and prints their ratio, so a fast
// path that stops being taken shows as a ratio near or above 1.
//
// The interpreter is embedded and the module is imported once, so
// runtime::state and the constant table hold what the module's own code sees.
#include <Python.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "embedded_interpreter.hpp"
#include "fast_calls.hpp"
#include "lookup_global.hpp"
#include "module_state.hpp"
#include "owned.hpp"
#include "runtime_state.hpp"
#include "str_equals.hpp"
#include "truth_value.hpp"

PyMODINIT_FUNC PyInit_git_credential_kestrune();

namespace {

using kestrune::Const;
using kestrune::module_state;
using runtime::Owned;
using runtime::steal;

// Objects that the cases share, made after the module is imported.
struct Fixture {
    Owned<> module;
    Owned<> builtins_dict;   // borrowed through builtins_module's dict, kept alive
    Owned<> cmd_store;       // the module's METH_NOARGS function object
    Owned<> len;             // a METH_O built-in function
    Owned<> python_function; // def f(): pass
    Owned<> one_item_list;   // argument of len
    Owned<> get_copy;        // "get", equal to the constant but another object
    Owned<> gex;             // "gex": same length as "get", another text
};

Fixture* fixture = nullptr;

PyObject* K(Const c) { return module_state.constants[c]; }

// ---- lookup_global ----------------------------------------------------------

// LOAD_GLOBAL by hand: the module's dictionary, then the builtins' dictionary.
PyObject* generic_lookup_global(PyObject* name)
{
    PyObject* value = PyDict_GetItemWithError(runtime::state.module_dict, name);
    if (!value) {
        if (PyErr_Occurred()) {
            return nullptr;
        }
        value = PyDict_GetItemWithError(fixture->builtins_dict.get(), name);
        if (!value) {
            return nullptr;
        }
    }
    return Py_NewRef(value);
}

template <bool Fast>
void lookup_global(benchmark::State& st, Const name)
{
    PyObject* n = K(name);
    for (auto _ : st) {
        PyObject* v = Fast ? runtime::lookup_global(n).release() : generic_lookup_global(n);
        benchmark::DoNotOptimize(v);
        Py_DECREF(v);
    }
}

// ---- str_equals -------------------------------------------------------------

int generic_equals(PyObject* a, PyObject* b)
{
    PyObject* r = PyObject_RichCompare(a, b, Py_EQ);
    if (!r) {
        return -1;
    }
    const int truth = runtime::truth_value(r);
    Py_DECREF(r);
    return truth;
}

template <bool Fast>
void str_equals(benchmark::State& st, PyObject* (*left)(), PyObject* (*right)())
{
    PyObject* a = left();
    PyObject* b = right();
    for (auto _ : st) {
        int r = Fast ? runtime::str_equals(a, b) : generic_equals(a, b);
        benchmark::DoNotOptimize(r);
    }
}

PyObject* get_constant() { return K(Const::n_get); }
PyObject* store_constant() { return K(Const::n_store); }
PyObject* get_copy() { return fixture->get_copy.get(); }
PyObject* gex() { return fixture->gex.get(); }
PyObject* none() { return Py_None; }

// ---- call_fast --------------------------------------------------------------

template <bool Fast>
void call(benchmark::State& st, PyObject* (*callee)(), int nargs)
{
    PyObject* f = callee();
    // args[0] is the slot that PY_VECTORCALL_ARGUMENTS_OFFSET lends the callee.
    PyObject* args[] = {nullptr, fixture->one_item_list.get()};
    const std::size_t nargsf = static_cast<std::size_t>(nargs) | PY_VECTORCALL_ARGUMENTS_OFFSET;
    for (auto _ : st) {
        PyObject* r = Fast ? runtime::call_fast(f, args + 1, nargsf).release()
                           : PyObject_Vectorcall(f, args + 1, nargsf, nullptr);
        benchmark::DoNotOptimize(r);
        Py_DECREF(r);
    }
}

PyObject* cmd_store() { return fixture->cmd_store.get(); }
PyObject* len() { return fixture->len.get(); }
PyObject* python_function() { return fixture->python_function.get(); }

// ---- registration -----------------------------------------------------------

template <class F, class... Args>
void register_pair(const std::string& name, F* fast, F* generic, Args... args)
{
    benchmark::RegisterBenchmark((name + "/fast").c_str(), fast, args...);
    benchmark::RegisterBenchmark((name + "/generic").c_str(), generic, args...);
}

void register_all()
{
    register_pair("lookup_global/module_global", lookup_global<true>, lookup_global<false>,
                  Const::n_CONFIG_PATH);
    register_pair("lookup_global/builtin", lookup_global<true>, lookup_global<false>,
                  Const::n_print);

    register_pair("str_equals/same_object", str_equals<true>, str_equals<false>, get_constant,
                  get_constant);
    register_pair("str_equals/equal_text", str_equals<true>, str_equals<false>, get_constant,
                  get_copy);
    register_pair("str_equals/other_length", str_equals<true>, str_equals<false>, get_constant,
                  store_constant);
    register_pair("str_equals/same_length", str_equals<true>, str_equals<false>, get_constant, gex);
    register_pair("str_equals/none", str_equals<true>, str_equals<false>, none, get_constant);

    register_pair("call_fast/module_function_noargs", call<true>, call<false>, cmd_store, 0);
    register_pair("call_fast/builtin_o", call<true>, call<false>, len, 1);
    register_pair("call_fast/python_function", call<true>, call<false>, python_function, 0);
}

// ---- the embedded interpreter -----------------------------------------------

bool start_python()
{
    if (PyImport_AppendInittab("git_credential_kestrune", PyInit_git_credential_kestrune) < 0) {
        return false;
    }
    start_embedded_interpreter();

    static Fixture f;
    fixture = &f;
    f.module = steal(PyImport_ImportModule("git_credential_kestrune"));
    if (!f.module) {
        return false;
    }
    f.builtins_dict = runtime::borrow(PyModule_GetDict(runtime::state.builtins_module));
    f.cmd_store = steal(PyObject_GetAttrString(f.module.get(), "cmd_store"));
    f.len = steal(PyObject_GetAttrString(runtime::state.builtins_module, "len"));
    f.one_item_list = steal(Py_BuildValue("[i]", 1));
    f.get_copy = steal(PyUnicode_FromString("get"));
    f.gex = steal(PyUnicode_FromString("gex"));
    auto ns = steal(PyDict_New());
    if (!ns || PyDict_SetItemString(ns.get(), "__builtins__", PyEval_GetBuiltins()) < 0) {
        return false;
    }
    auto ran = steal(PyRun_String("def f(): pass\n", Py_file_input, ns.get(), ns.get()));
    if (!ran) {
        return false;
    }
    f.python_function = runtime::borrow(PyDict_GetItemString(ns.get(), "f"));
    // Hashes as the module's own strings carry them: the copy of "get" is
    // hashed once, like an action word that has been compared before.
    if (!f.cmd_store || !f.len || !f.one_item_list || !f.get_copy || !f.gex ||
        !f.python_function || PyObject_Hash(f.get_copy.get()) == -1 ||
        PyObject_Hash(f.gex.get()) == -1) {
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (!start_python()) {
        PyErr_Print();
        std::fputs("micro_bench: could not import git_credential_kestrune\n", stderr);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    register_all();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    *fixture = Fixture{};
    return Py_FinalizeEx() < 0 ? 1 : 0;
}
