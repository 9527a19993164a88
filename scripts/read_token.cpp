// _read_token (script lines 23-29):
//
//     def _read_token():
//         try:
//             with open(CONFIG_PATH, "r", encoding="utf-8") as f:
//                 cfg = json.load(f)
//             return cfg.get("github_token", "") or ""
//         except Exception:
//             return ""
#include "config_path_for_open.hpp"
#include "credential_commands.hpp"
#include "exception_match.hpp"
#include "fast_calls.hpp"
#include "lookup_attr.hpp"
#include "lookup_global.hpp"
#include "lookup_on_type.hpp"
#include "script_support.hpp"
#include "traceback_entry.hpp"
#include "truth_value.hpp"

namespace kestrune {

namespace {

// The running frame's own entry of the thread's handled-exception stack,
// saved when a try or with statement is entered and put back as it was when
// the statement is left, as the interpreter's PUSH_EXC_INFO and POP_EXCEPT
// do. The entry itself is read, not sys.exception(): that one falls back to
// the entries of the callers, and writing a caller's exception into our own
// entry (a generator's, say) would leave it there after the caller's except
// clause has ended.
class HandledException {
public:
    HandledException()
        : entry_(_PyThreadState_UncheckedGet()->exc_info),
          saved_(runtime::borrow(entry_->exc_value))
    {
    }
    void restore() { Py_XSETREF(entry_->exc_value, Py_XNewRef(saved_.get())); }

private:
    _PyErr_StackItem* entry_;
    Owned<> saved_;
};

// The with statement's file object, entered: `f` and the bound __exit__.
struct EnteredFile {
    Owned<> f;
    Owned<> exit;
};

// Line 25: open(CONFIG_PATH, "r", encoding="utf-8"), then __exit__ and
// __enter__ looked up on its type, and __enter__ called. False with an
// exception set on failure, and also with none set when the file that
// CONFIG_PATH names is refused (config_path_for_open) and is not opened.
bool enter_config_file(EnteredFile& entered)
{
    const auto& K = module_state.constants;
    auto config_path = runtime::lookup_global(K[n_CONFIG_PATH]);
    if (!config_path) {
        return false;
    }
    Owned<> path;
    if (config_path_for_open(config_path.get(), path) <= 0) {
        return false;
    }
    auto kwnames = steal(PyTuple_Pack(1, K[n_encoding]));
    if (!kwnames) {
        return false;
    }
    PyObject* args[] = {path.get(), K[n_r], K[str_utf_8]};
    auto file = steal(PyObject_Vectorcall(module_state.builtin_open, args, 2, kwnames.get()));
    if (!file) {
        return false;
    }
    entered.exit = runtime::lookup_on_type(file.get(), K[n___exit__]);
    if (!entered.exit) {
        return false;
    }
    auto enter = runtime::lookup_on_type(file.get(), K[n___enter__]);
    if (!enter) {
        return false;
    }
    PyObject* enter_args[] = {nullptr};
    entered.f = runtime::call_unbinding(enter.get(), enter_args, 0);
    return static_cast<bool>(entered.f);
}

// Line 26: json.load(f).
Owned<> load_config(PyObject* f)
{
    auto json = runtime::lookup_global(module_state.constants[n_json]);
    if (!json) {
        return {};
    }
    auto load = runtime::lookup_attr(json.get(), module_state.constants[n_load]);
    if (!load) {
        return {};
    }
    PyObject* args[] = {nullptr, f};
    return runtime::call_unbinding(load.get(), args, 1);
}

// The end of the with block after line 26 raised: __exit__ sees the exception
// as the one being handled and may suppress it. Returns 1 when it suppressed
// the exception, 0 when the exception (or a new one from __exit__) stands.
int exit_with_exception(PyObject* exit, HandledException& with_saved)
{
    auto raised = steal(PyErr_GetRaisedException());
    PyErr_SetHandledException(raised.get());
    auto traceback = steal(PyException_GetTraceback(raised.get()));
    auto exc_args = steal(PyTuple_Pack(3, reinterpret_cast<PyObject*>(Py_TYPE(raised.get())),
                                       raised.get(), traceback ? traceback.get() : Py_None));
    int suppress = -1;
    if (exc_args) {
        auto result = runtime::call_object(exit, exc_args.get(), nullptr);
        if (result) {
            suppress = runtime::truth_value(result.get());
        }
    }
    with_saved.restore();
    if (suppress == 0) {
        // Raised again as it was, its traceback unchanged.
        PyErr_SetRaisedException(raised.release());
    }
    return suppress == 1 ? 1 : 0;
}

// Lines 25 to 27. The token, or NULL with the failing line in `line`.
Owned<> read_token_body(int& line)
{
    const auto& K = module_state.constants;
    Owned<> cfg;
    {
        line = 25;
        EnteredFile entered;
        if (!enter_config_file(entered)) {
            if (!PyErr_Occurred()) {
                return runtime::borrow(K[str_empty]);  // refused: no token
            }
            return {};
        }
        HandledException with_saved;

        cfg = load_config(entered.f.get());  // line 26
        if (cfg) {
            auto result = runtime::call_object(entered.exit.get(), module_state.exit_args, nullptr);
            if (!result) {
                return {};  // line 25
            }
        } else {
            runtime::add_traceback_entry(entry_read_token, 26, script_file);
            if (!exit_with_exception(entered.exit.get(), with_saved)) {
                return {};  // line 25
            }
            // __exit__ swallowed the exception, so cfg was never bound.
            line = 27;
            PyErr_Format(PyExc_UnboundLocalError,
                         "local variable '%s' referenced before assignment", "cfg");
            return {};
        }
    }

    line = 27;
    auto get = runtime::lookup_attr(cfg.get(), K[n_get]);
    if (!get) {
        return {};
    }
    auto token = runtime::call_object(get.get(), module_state.token_get_args, nullptr);
    if (!token) {
        return {};
    }
    const int truth = runtime::truth_value(token.get());
    if (truth < 0) {
        return {};
    }
    return truth ? std::move(token) : runtime::borrow(K[str_empty]);
}

} // namespace

PyObject* _read_token(PyObject*, PyObject*)
{
    HandledException try_saved;  // line 24
    int line = 0;
    auto token = read_token_body(line);
    if (token) {
        return token.release();
    }
    // Line 28: except Exception -> line 29: return "".
    const bool handled = runtime::current_exception_matches(PyExc_Exception);
    if (handled) {
        PyErr_Clear();
    }
    try_saved.restore();
    if (handled) {
        return runtime::new_ref(module_state.constants[str_empty]);
    }
    return fail_at(entry_read_token, line);
}

} // namespace kestrune
