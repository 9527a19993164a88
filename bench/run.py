"""Benchmarks of git-credential-kestrune, each against a baseline measured in
the same run, printed as one table.

Run through bench/run, which builds what is needed first:

    bench/run            the full run (a few minutes)
    bench/run --smoke    a quick pass that checks the harness works

Every figure is a ratio of medians of interleaved measurements: the subject
and its baseline take turns in one loop, so that the load of a shared machine
falls on both alike. The script uses the standard library only and runs under
the python3.12 that the build found.
"""
import argparse
import json
import os
import platform
import py_compile
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BENCH_DIR = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(BENCH_DIR)

TOKEN = "ghp_benchmarkToken0123456789"
REQUEST = "protocol=https\nhost=github.com\npath=kestrune/app.git\n\n"
ANSWER = "username=x-access-token\npassword=%s\n\n" % TOKEN

# Targets: the subject may take at most this multiple of its baseline.
TARGETS = {
    "P1a": 0.80, "P1b": 0.77, "P1c": 1.20, "P2a": 0.80, "P2b": 1.00,
    "P3a": 0.60, "P3b": 0.60, "P3c": 0.65, "P3d": 0.65, "P4": 1.25, "P5": 1.02,
    # The bundled launcher (package preset) against the development one.
    "B1": 1.00, "B5": 1.05,
}

# Micro-benchmark cases whose fast path must beat the generic call. The others
# are shown for reference: docs/performance.md says what ratio each shows
# while its fast path is taken.
MICRO_TARGETS = {
    "str_equals/same_object": 1.00,
    "str_equals/equal_text": 1.00,
    "str_equals/other_length": 1.00,
    "str_equals/same_length": 1.00,
    "str_equals/none": 1.00,
    "call_fast/module_function_noargs": 1.50,
}

# Peak RSS is read by this small program, which forks the command: a child
# started by the bench itself would inherit the bench's own high-water mark at
# exec (the kernel carries the old address space's peak into the new one), so
# its ru_maxrss would measure the bench.
TIME = "/usr/bin/time"


class Settings:
    def __init__(self, smoke):
        self.process_reps = 8 if smoke else 120   # P1, P5: runs per command
        self.import_reps = 8 if smoke else 120    # P4: fresh processes per module
        self.rounds = 5 if smoke else 41          # P2, P3: samples per case
        self.scale = 0.05 if smoke else 1.0       # P2, P3: work per sample
        self.micro_reps = 2 if smoke else 9       # Google Benchmark repetitions
        self.micro_min_time = 0.005 if smoke else 0.1


class Build:
    """Paths of the built artefacts, read from the build directory."""

    def __init__(self, build_dir):
        self.dir = os.path.abspath(build_dir)
        cache = os.path.join(self.dir, "CMakeCache.txt")
        self.python = None
        with open(cache, encoding="utf-8") as f:
            for line in f:
                if line.startswith("Python3_EXECUTABLE:"):
                    self.python = line.split("=", 1)[1].strip()
        if not self.python:
            fail("no Python3_EXECUTABLE in %s" % cache)
        self.module_dir = os.path.join(self.dir, "lib")
        self.launcher = os.path.join(self.dir, "bin", "git-credential-kestrune")
        self.micro = os.path.join(self.dir, "bench", "kestrune_micro_bench")
        self.plain_script = os.path.join(BENCH_DIR, "plain_helper.py")
        if not os.path.isdir(self.module_dir) or not any(
                n.startswith("git_credential_kestrune.") for n in os.listdir(self.module_dir)):
            fail("no git_credential_kestrune module in %s" % self.module_dir)

    def require(self, *paths):
        for path in paths:
            if not os.access(path, os.X_OK):
                fail("missing %s (bench/run builds it)" % path)


def fail(message):
    print("bench: " + message, file=sys.stderr)
    sys.exit(2)


# ---- processes ----------------------------------------------------------------

def spawn(argv, env, stdin_path, stdout_path):
    """Runs argv to completion with stdin from stdin_path, stdout into
    stdout_path and stderr discarded. Returns (wall ms, CPU ms): the time from
    spawn to exit, and the user and system time of the process from wait4."""
    fd = os.open(stdin_path, os.O_RDONLY)
    try:
        actions = [
            (os.POSIX_SPAWN_DUP2, fd, 0),
            (os.POSIX_SPAWN_OPEN, 1, stdout_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600),
            (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0),
        ]
        start = time.perf_counter_ns()
        pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
        _, status, usage = os.wait4(pid, 0)
        elapsed = time.perf_counter_ns() - start
    finally:
        os.close(fd)
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        fail("%s exited with %d" % (" ".join(argv), code))
    return elapsed / 1e6, (usage.ru_utime + usage.ru_stime) * 1e3


def peak_rss(argv, env, stdin_path, scratch):
    """Runs argv under /usr/bin/time, which forks it, with stdin from
    stdin_path. Returns the child's peak RSS in KiB."""
    report = os.path.join(scratch, "peak-rss")
    with open(stdin_path, "rb") as stdin:
        done = subprocess.run([TIME, "-f", "%M", "-o", report, *argv], stdin=stdin, env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    if done.returncode != 0:
        fail("%s exited with %d" % (" ".join(argv), done.returncode))
    with open(report, encoding="ascii") as f:
        return int(f.read().split()[-1])


def interleaved(commands, reps, env, stdin_path, scratch, answering=()):
    """commands: name -> argv. Runs each rep of every command in a shuffled
    order, once timed and once under /usr/bin/time; the commands named in
    `answering` must print the answer on every timed run. Returns name ->
    list of (wall ms, CPU ms, KiB), one per round."""
    results = {name: [] for name in commands}
    names = list(commands)
    rng = random.Random(6)
    stdout_path = os.path.join(scratch, "stdout")
    for name in names:  # warm the page cache and the dentry cache
        spawn(commands[name], env, stdin_path, stdout_path)
    for _ in range(reps):
        rng.shuffle(names)
        for name in names:
            ms, cpu = spawn(commands[name], env, stdin_path, stdout_path)
            if name in answering:
                with open(stdout_path, encoding="utf-8", errors="replace") as f:
                    printed = f.read()
                if printed != ANSWER:
                    fail("%s printed %r, not the answer" % (name, printed))
            results[name].append((ms, cpu, peak_rss(commands[name], env, stdin_path, scratch)))
    return results


def check_answers(commands, env):
    """Both helpers must answer the benchmark's request alike before their
    speed means anything."""
    for name, argv in commands.items():
        done = subprocess.run(argv, input=REQUEST, env=env, capture_output=True,
                              text=True, timeout=60)
        if done.returncode != 0 or done.stdout != ANSWER:
            fail("%s does not answer the request: exit %d, stdout %r, stderr %r"
                 % (name, done.returncode, done.stdout, done.stderr[-2000:]))


# ---- figures ------------------------------------------------------------------

class Row:
    """One figure. The ratio is subject / baseline unless given: a paired
    figure gives the median of its per-round ratios."""

    def __init__(self, key, what, subject, baseline, unit, target, ratio=None):
        self.key, self.what, self.unit, self.target = key, what, unit, target
        self.subject, self.baseline = subject, baseline
        if ratio is None:
            ratio = subject / baseline if baseline else float("nan")
        self.ratio = ratio

    def verdict(self):
        if self.target is None:
            return ""
        return "met" if self.ratio <= self.target else "MISSED"


def start_up_and_memory(build, settings, env, stdin_path, scratch, bundled=None):
    build.require(build.launcher, TIME)
    commands = {
        "launcher": [build.launcher, "get"],
        "floor": [build.python, "-I", "-S", "-c", "import sys, os, json"],
        "plain": [build.python, "-I", "-S", build.plain_script, "get"],
        # The least any launcher could take: the floor's interpreter and
        # imports, with no cycle collection and no finalisation.
        "bare": [build.python, "-I", "-S", "-c",
                 "import gc; gc.disable(); import sys, os, json; os._exit(0)"],
        # The interpreter alone: its start and its end, importing nothing.
        "pass": [build.python, "-I", "-S", "-c", "pass"],
    }
    if bundled:
        build.require(bundled)
        commands["bundled"] = [bundled, "get"]
    answering = [k for k in ("launcher", "plain", "bundled") if k in commands]
    check_answers({k: commands[k] for k in answering}, env)
    runs = interleaved(commands, settings.process_reps, env, stdin_path, scratch, answering)
    wall = {k: statistics.median(ms for ms, _, _ in v) for k, v in runs.items()}
    cpu = {k: statistics.median(c for _, c, _ in v) for k, v in runs.items()}
    rss = {k: statistics.median(kib for _, _, kib in v) / 1024 for k, v in runs.items()}
    # CPU time is what the process itself costs, whatever else the machine
    # runs meanwhile; each round's launcher run is paired with that round's
    # bare interpreter.
    def paired(name):
        return statistics.median(a[1] / b[1] for a, b in zip(runs[name], runs["pass"]) if b[1] > 0)
    bundle_rows = [
        Row("B1", "start-up: bundled launcher `get` vs development launcher `get`",
            wall["bundled"], wall["launcher"], "ms", TARGETS["B1"]),
        Row("B1c", "CPU time: bundled launcher `get` vs python -I -S -c pass (paired)",
            cpu["bundled"], cpu["pass"], "ms", TARGETS["P1c"], ratio=paired("bundled")),
        Row("B5", "peak RSS: bundled launcher `get` vs development launcher `get`",
            rss["bundled"], rss["launcher"], "MiB", TARGETS["B5"]),
    ] if bundled else []
    return bundle_rows + [
        Row("P1a", "start-up: launcher `get` vs python -I -S -c 'import sys, os, json'",
            wall["launcher"], wall["floor"], "ms", TARGETS["P1a"]),
        Row("P1b", "start-up: launcher `get` vs plain script `get`",
            wall["launcher"], wall["plain"], "ms", TARGETS["P1b"]),
        Row("P1c", "CPU time: launcher `get` vs python -I -S -c pass (paired)",
            cpu["launcher"], cpu["pass"], "ms", TARGETS["P1c"], ratio=paired("launcher")),
        Row("P1 ref", "start-up: floor without GC and finalisation vs plain script",
            wall["bare"], wall["plain"], "ms", None),
        Row("P5", "peak RSS: launcher `get` vs python3.12 plain script `get`",
            rss["launcher"], rss["plain"], "MiB", TARGETS["P5"]),
        Row("P5 ref", "peak RSS: python -I -S -c 'import sys, os, json' vs plain script",
            rss["floor"], rss["plain"], "MiB", None),
    ]


def in_process(build, settings, env, plain_dir):
    argv = [build.python, "-I", "-S", os.path.join(BENCH_DIR, "in_process.py"),
            build.module_dir, plain_dir, str(settings.rounds), str(settings.scale)]
    done = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=1800)
    if done.returncode != 0:
        fail("in_process.py failed:\n" + done.stderr)
    figures = json.loads(done.stdout)
    calls, parse = figures["calls"], figures["parse"]
    return [
        Row("P2a", "call: cmd_store() vs gc.isenabled()",
            calls["cmd_store"], calls["gc.isenabled"], "ns", TARGETS["P2a"]),
        Row("P2b", "call: cmd_store() vs def f(): pass",
            calls["cmd_store"], calls["python_function"], "ns", TARGETS["P2b"]),
        Row("P2 ref", "call: gc.isenabled() vs def f(): pass",
            calls["gc.isenabled"], calls["python_function"], "ns", None),
        Row("P3a", "_parse_input(): stdin a list of 1000 lines vs plain Python",
            parse["list/native"] / 1000, parse["list/plain"] / 1000, "us", TARGETS["P3a"]),
        Row("P3b", "_parse_input(): stdin a StringIO of 1000 lines vs plain Python",
            parse["stringio/native"] / 1000, parse["stringio/plain"] / 1000, "us",
            TARGETS["P3b"]),
        Row("P3c", "_parse_input(): stdin a list, a 5-line request vs plain Python",
            parse["request-list/native"], parse["request-list/plain"], "ns", TARGETS["P3c"]),
        Row("P3d", "_parse_input(): stdin a StringIO, a 5-line request vs plain Python",
            parse["request-stringio/native"], parse["request-stringio/plain"], "ns",
            TARGETS["P3d"]),
    ]


IMPORT_PROBE = """\
import json, sys, time
sys.path.insert(0, %r)
start = time.perf_counter_ns()
import %s
sys.stdout.write(str(time.perf_counter_ns() - start))
"""


def import_time(build, settings, env, plain_dir):
    probes = {
        "native": IMPORT_PROBE % (build.module_dir, "git_credential_kestrune"),
        "plain": IMPORT_PROBE % (plain_dir, "plain_helper"),
        # The module must import zlib to decode its constants.
        "zlib": IMPORT_PROBE % (plain_dir, "zlib"),
    }
    samples = {name: [] for name in probes}
    names = list(probes)
    rng = random.Random(6)
    for _ in range(settings.import_reps + 1):
        rng.shuffle(names)
        for name in names:
            done = subprocess.run([build.python, "-I", "-S", "-c", probes[name]], env=env,
                                  capture_output=True, text=True, timeout=60)
            if done.returncode != 0:
                fail("import of the %s module failed:\n%s" % (name, done.stderr))
            samples[name].append(int(done.stdout) / 1000)
    # The first round warmed the caches.
    median = {k: statistics.median(v[1:]) for k, v in samples.items()}
    return [Row("P4", "import, json already imported: module vs plain module (.pyc) + zlib",
                median["native"], median["plain"] + median["zlib"], "us", TARGETS["P4"]),
            Row("P4 ref", "import of zlib alone vs plain module from .pyc",
                median["zlib"], median["plain"], "us", None)]


def micro(build, settings, env):
    build.require(build.micro)
    argv = [build.micro, "--benchmark_format=json",
            "--benchmark_repetitions=%d" % settings.micro_reps,
            "--benchmark_min_time=%g" % settings.micro_min_time,
            "--benchmark_enable_random_interleaving=true",
            "--benchmark_report_aggregates_only=true"]
    done = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=1800)
    if done.returncode != 0:
        fail("micro-benchmarks failed:\n" + done.stderr)
    medians = {}
    order = {}
    for b in json.loads(done.stdout)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            scale = {"ns": 1.0, "us": 1e3, "ms": 1e6}[b["time_unit"]]
            medians[b["run_name"]] = b["cpu_time"] * scale
            case = b["run_name"].rsplit("/", 1)[0]
            order[case] = min(order.get(case, b["family_index"]), b["family_index"])
    rows = []
    for case in sorted(order, key=order.get):
        operation = case.split("/")[0]
        generic = {"lookup_global": "PyDict_GetItemWithError + builtins",
                   "str_equals": "PyObject_RichCompare",
                   "call_fast": "PyObject_Vectorcall"}[operation]
        rows.append(Row("M", "%s vs %s" % (case, generic), medians[case + "/fast"],
                        medians[case + "/generic"], "ns", MICRO_TARGETS.get(case)))
    return rows


# ---- report -------------------------------------------------------------------

def machine_line(build):
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    python = subprocess.run([build.python, "-I", "-S", "-c", "import sys; print(sys.version.split()[0])"],
                            capture_output=True, text=True).stdout.strip()
    return "%s, %d CPUs, %s, CPython %s" % (model, os.cpu_count() or 0, platform.platform(terse=True),
                                            python)


def load_average():
    try:
        return "%.2f" % os.getloadavg()[0]
    except OSError:
        return "?"


def print_table(rows):
    def number(x):
        return "%.3g" % x if x < 100 else "%.0f" % x

    header = ("figure", "subject", "baseline", "ratio", "target", "")
    lines = [header]
    for r in rows:
        target = "<= %.2fx" % r.target if r.target is not None else "-"
        lines.append(("%s %s" % (r.key, r.what),
                      "%s %s" % (number(r.subject), r.unit),
                      "%s %s" % (number(r.baseline), r.unit),
                      "%.2fx" % r.ratio, target, r.verdict()))
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    for n, line in enumerate(lines):
        cells = [line[0].ljust(widths[0])] + [c.rjust(w) for c, w in zip(line[1:5], widths[1:5])]
        print("  ".join(cells + [line[5]]).rstrip())
        if n == 0:
            print("  ".join("-" * w for w in widths[:5]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--smoke", action="store_true",
                        help="a quick pass: few repetitions; the figures mean little")
    parser.add_argument("--build-dir", default=os.path.join(SOURCE_DIR, "build", "default"))
    parser.add_argument("--bundle-dir",
                        help="a build of the package preset: with P1 and P5, its bundled "
                             "launcher runs in the same loop (rows B1, B5)")
    parser.add_argument("--only", default="P1,P2,P3,P4,P5,M",
                        help="comma-separated groups to run (P1 and P5 run together)")
    args = parser.parse_args()
    only = set(args.only.upper().split(","))
    settings = Settings(args.smoke)
    build = Build(args.build_dir)

    with tempfile.TemporaryDirectory(prefix="kestrune-bench-") as scratch:
        # A home of our own, so the helpers read a known configuration.
        home = os.path.join(scratch, "home")
        os.makedirs(os.path.join(home, ".kestrune"))
        with open(os.path.join(home, ".kestrune", "config.json"), "w", encoding="utf-8") as f:
            json.dump({"github_token": TOKEN, "theme": "dark"}, f)
        request = os.path.join(scratch, "request")
        with open(request, "w", encoding="utf-8") as f:
            f.write(REQUEST)
        # The plain module as an import finds it after a first import: source
        # beside its cached bytecode.
        plain_dir = os.path.join(scratch, "plain")
        os.makedirs(plain_dir)
        shutil.copy(build.plain_script, plain_dir)
        py_compile.compile(os.path.join(plain_dir, "plain_helper.py"), doraise=True)

        env = {"HOME": home, "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8"}
        print("machine: " + machine_line(build))
        print("mode: %s; load average at start %s" % ("smoke" if args.smoke else "full",
                                                       load_average()))
        started = time.monotonic()
        rows = []
        if only & {"P1", "P5"}:
            bundled = (os.path.join(os.path.abspath(args.bundle_dir), "bin", "git-credential-kestrune")
                       if args.bundle_dir else None)
            rows += start_up_and_memory(build, settings, env, request, scratch, bundled)
        if only & {"P2", "P3"}:
            rows += in_process(build, settings, env, plain_dir)
        if "P4" in only:
            rows += import_time(build, settings, env, plain_dir)
        if "M" in only:
            rows += micro(build, settings, env)
    print()
    print_table(rows)
    print()
    print("medians of interleaved runs; ratio = subject / baseline; %.0f s; load average at end %s"
          % (time.monotonic() - started, load_average()))
    if args.smoke:
        print("smoke run: too few repetitions for the figures to mean much")
    return 0


if __name__ == "__main__":
    sys.exit(main())
