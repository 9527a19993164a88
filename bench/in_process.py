"""Call and parsing figures, measured inside one python3.12 process.

Run by bench/run.py as

    python3.12 -I -S in_process.py MODULE_DIR PLAIN_DIR ROUNDS SCALE

and prints one JSON object: for each case, the median over ROUNDS samples
of the time per call in nanoseconds. The subject and its baselines are timed
in turn within each round, in a shuffled order, so that a slow spell of the
machine touches all of them alike. SCALE (1.0 for the full run) shrinks the
work per sample for the smoke run.
"""
import gc
import io
import json
import random
import statistics
import sys
import time

UNROLL = 20


def make_call_loop():
    """A loop of UNROLL calls per iteration, compiled afresh for each callee
    so that every callee gets its own call site to specialise."""
    source = "def loop(f, n):\n    for _ in range(n):\n" + "        f()\n" * UNROLL
    namespace = {}
    exec(compile(source, "<call loop>", "exec"), namespace)
    return namespace["loop"]


def python_function():
    pass


def request_lines(count):
    """`count` lines of credential requests as git writes them, then the
    empty line that ends the request."""
    shapes = [
        "protocol=https\n",
        "host=github.com\n",
        "path=kestrune/repo-{i}.git\n",
        "username=user{i}\n",
        "wwwauth[]=Basic realm=\"GitHub\"\n",
        "  capability[]  =authtype\n",
        "no separator on this line {i}\n",
    ]
    lines = [shapes[i % len(shapes)].format(i=i) for i in range(count)]
    return lines + ["\n"]


# A request as git writes it for a push over HTTPS: four lines and the empty
# line that ends it.
REQUEST_LINES = ["protocol=https\n", "host=github.com\n", "path=kestrune/app.git\n",
                 "username=kestrune\n", "\n"]


def median_per_call(cases, rounds, calls):
    """cases: name -> function(n) that makes `n` units of calls. Returns
    name -> median nanoseconds per call."""
    samples = {name: [] for name in cases}
    names = list(cases)
    rng = random.Random(6)
    for name in names:  # warm up: specialise the call sites, fill caches
        cases[name](max(1, calls // 10))
    for _ in range(rounds):
        rng.shuffle(names)
        for name in names:
            start = time.perf_counter_ns()
            cases[name](calls)
            samples[name].append((time.perf_counter_ns() - start) / calls)
    return {name: statistics.median(values) for name, values in samples.items()}


def call_figures(native, rounds, scale):
    callees = {
        "cmd_store": native.cmd_store,
        "gc.isenabled": gc.isenabled,
        "python_function": python_function,
    }
    iterations = max(100, int(20000 * scale))
    cases = {}
    for name, callee in callees.items():
        loop = make_call_loop()
        cases[name] = lambda n, loop=loop, callee=callee: loop(callee, n)
    per_iteration = median_per_call(cases, rounds, iterations)
    return {name: ns / UNROLL for name, ns in per_iteration.items()}


def parse_cases(native, plain, lines, prefix):
    """The parsing cases over `lines`, as a list and as a StringIO, for both
    modules, named PREFIX + "list/native" and so on."""
    text = "".join(lines)
    expected = plain_parse(plain, lines)
    cases = {}
    for label, module in (("native", native), ("plain", plain)):
        parse = module._parse_input

        def over_list(n, parse=parse):
            sys.stdin = lines
            for _ in range(n):
                parse()

        stream = io.StringIO(text)

        def over_stringio(n, parse=parse, stream=stream):
            sys.stdin = stream
            for _ in range(n):
                stream.seek(0)
                parse()

        cases[prefix + "list/" + label] = over_list
        cases[prefix + "stringio/" + label] = over_stringio
        sys.stdin = io.StringIO(text)
        if module._parse_input() != expected:
            raise SystemExit("in_process: %s _parse_input disagrees with the plain one" % label)
    return cases


def parse_figures(native, plain, rounds, scale):
    saved = sys.stdin
    try:
        long_input = parse_cases(native, plain, request_lines(1000), "")
        request = parse_cases(native, plain, REQUEST_LINES, "request-")
        figures = median_per_call(long_input, rounds, max(2, int(20 * scale)))
        figures.update(median_per_call(request, rounds, max(20, int(4000 * scale))))
        return figures
    finally:
        sys.stdin = saved


def plain_parse(plain, lines):
    saved = sys.stdin
    sys.stdin = list(lines)
    try:
        return plain._parse_input()
    finally:
        sys.stdin = saved


def main():
    module_dir, plain_dir, rounds, scale = sys.argv[1:5]
    rounds, scale = int(rounds), float(scale)
    sys.path[:0] = [module_dir, plain_dir]
    import git_credential_kestrune as native
    import plain_helper as plain

    if type(native.cmd_store).__name__ != "native_function_or_method":
        raise SystemExit("in_process: git_credential_kestrune is not the native module")
    gc.disable()  # as timeit does: collections would land in random samples
    result = {
        "calls": call_figures(native, rounds, scale),
        "parse": parse_figures(native, plain, rounds, scale),
    }
    gc.enable()
    json.dump(result, sys.stdout)


if __name__ == "__main__":
    main()
