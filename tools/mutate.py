#!/usr/bin/env python3
"""Plants plausible faults, one at a time, in the source lines changed since BASE and
lists the ones the test suite does not notice.

    tools/mutate.py [BASE] [--lines FILE:FROM-TO ...] [--files GLOB] [--max N]
                    [--tests REGEX] [--exclude REGEX] [--timeout SECONDS] [--build DIR]

The lines are those of `git diff -U0 BASE -- src/` (BASE defaults to the merge base with
origin/main, or main, or HEAD~1 when that is HEAD itself), or the given --lines ranges.
Each mutant is one change on one line: a comparison flipped (< and <=, > and >=, == and
!=), && and || swapped, true and false swapped, a ! removed, an integer literal moved by
one, or a statement line dropped. For each one the file is rewritten, the affected test
programs are built in the build directory, the chosen tests run with a time limit, and
the file is put back. A mutant that does not build is not counted as caught or missed.

The source tree is always restored, on Ctrl+C too; a copy of the file being mutated is
kept in BUILD/mutate-backup/ and put back by the next run should this one be killed.
Nothing is committed. The exit status is 0 when every mutant that built was caught.
"""
import argparse
import fnmatch
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def git(*args):
    return subprocess.run(["git", *args], cwd=ROOT, capture_output=True, text=True)


def default_base():
    for ref in ("origin/main", "main"):
        out = git("merge-base", "HEAD", ref)
        if out.returncode == 0:
            base = out.stdout.strip()
            if base != git("rev-parse", "HEAD").stdout.strip():
                return base
    return "HEAD~1"


def changed_lines(base):
    """{path: set(line numbers)} of lines added or changed since base (working tree)."""
    out = git("diff", "-U0", "--no-color", base, "--", "src/")
    if out.returncode != 0:
        raise SystemExit("git diff failed: " + out.stderr.strip())
    lines, path = {}, None
    for line in out.stdout.splitlines():
        if line.startswith("+++ "):
            path = None if line[4:] == "/dev/null" else line[6:]
        elif line.startswith("@@") and path:
            m = re.match(r"@@ -\S+ \+(\d+)(?:,(\d+))? @@", line)
            start, count = int(m.group(1)), int(m.group(2) if m.group(2) is not None else 1)
            lines.setdefault(path, set()).update(range(start, start + count))
    return lines


def parse_ranges(specs):
    lines = {}
    for spec in specs:
        path, _, rng = spec.rpartition(":")
        lo, _, hi = rng.partition("-")
        lines.setdefault(os.path.relpath(os.path.join(ROOT, path), ROOT), set()).update(
            range(int(lo), int(hi or lo) + 1))
    return lines


# ---- the faults -------------------------------------------------------------------------

def code_mask(text):
    """The line with string and character literals blanked and any // comment cut."""
    out, quote, i = [], None, 0
    while i < len(text):
        c = text[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            out.append(c if c == quote else " ")
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            out.append(c)
        elif text.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)


# (pattern on the masked line, replacement, description); comparisons only with a blank on
# each side, which keeps templates, shifts and arrows out.
SWAPS = [
    (r"(?<= )<=(?= )", "<", "<= to <"),
    (r"(?<= )<(?= )", "<=", "< to <="),
    (r"(?<= )>=(?= )", ">", ">= to >"),
    (r"(?<= )>(?= )", ">=", "> to >="),
    (r"(?<= )==(?= )", "!=", "== to !="),
    (r"(?<= )!=(?= )", "==", "!= to =="),
    (r"&&", "||", "&& to ||"),
    (r"\|\|", "&&", "|| to &&"),
    (r"\btrue\b", "false", "true to false"),
    (r"\bfalse\b", "true", "false to true"),
    (r"!(?!=)", "", "! removed"),
]

SKIP_LINE = re.compile(r"^\s*(#|//|/\*|\*|$)")
STATEMENT = re.compile(r"^\s*[A-Za-z_(*][^{};]*;\s*(//.*)?$")
DECLARATION = re.compile(r"^\s*(return\b|const\b|static\b|auto\b|using\b|typedef\b|case\b|default\b|break;|"
                         r"[A-Za-z_:<>]+[*&]?\s+[*&]?[A-Za-z_]\w*\s*(=|;|\{|\())")


def mutants_of_line(text):
    """[(new line, description)] for one source line."""
    if SKIP_LINE.match(text):
        return []
    masked = code_mask(text)
    found = []
    for pattern, repl, what in SWAPS:
        for m in re.finditer(pattern, masked):
            found.append((text[:m.start()] + repl + text[m.end():], what))
    for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.'])", masked):
        n = int(m.group(1))
        for k in (n + 1, n - 1) if n > 0 else (n + 1,):
            found.append((text[:m.start()] + str(k) + text[m.end():], "%d to %d" % (n, k)))
    # A whole statement dropped; declarations and returns would only stop the build.
    if STATEMENT.match(masked) and not DECLARATION.match(masked):
        found.append(("", "statement dropped"))
    return found


def plan(lines, files_glob):
    mutants = []
    for path in sorted(lines):
        if not path.endswith((".cpp", ".h")) or (files_glob and not fnmatch.fnmatch(path, files_glob)):
            continue
        full = os.path.join(ROOT, path)
        if not os.path.isfile(full):
            continue
        with open(full, encoding="utf-8") as f:
            source = f.read().split("\n")
        for number in sorted(lines[path]):
            if 1 <= number <= len(source):
                for new, what in mutants_of_line(source[number - 1]):
                    mutants.append((path, number, source[number - 1], new, what))
    return mutants


# ---- building and testing ---------------------------------------------------------------

class Restorer:
    """Puts the mutated file back whatever happens, and after a killed run."""

    def __init__(self, build):
        self.dir = os.path.join(build, "mutate-backup")
        self.record = os.path.join(self.dir, "file.json")
        self.current = None

    def recover(self):
        if os.path.isfile(self.record):
            with open(self.record) as f:
                path = json.load(f)["path"]
            shutil.copyfile(os.path.join(self.dir, "original"), path)
            os.remove(self.record)
            print("restored %s from an interrupted run" % os.path.relpath(path, ROOT))

    def plant(self, path, new_text):
        os.makedirs(self.dir, exist_ok=True)
        shutil.copyfile(path, os.path.join(self.dir, "original"))
        with open(self.record, "w") as f:
            json.dump({"path": path}, f)
        self.current = path
        with open(path, "w", encoding="utf-8") as f:
            f.write(new_text)

    def restore(self):
        if self.current:
            shutil.copyfile(os.path.join(self.dir, "original"), self.current)
            os.remove(self.record)
            self.current = None


def ctest_names(build, tests, exclude):
    cmd = ["ctest", "-N"]
    if tests:
        cmd += ["-R", tests]
    if exclude:
        cmd += ["-E", exclude]
    out = subprocess.run(cmd, cwd=build, capture_output=True, text=True).stdout
    return re.findall(r"Test\s+#\d+: (\S+)", out)


def build_targets(build, names, whole_suite):
    """The test programs named like the tests; for the whole suite also the program and the
    local service that tests start. A chosen subset builds only its own programs, so a
    header's mutant does not rebuild everything (choose tests that start no program)."""
    out = subprocess.run(["ninja", "-C", build, "-t", "targets", "all"], capture_output=True, text=True).stdout
    known = {line.split(":")[0] for line in out.splitlines()}
    extra = ("brimlark", "localservice") if whole_suite else ()
    return [n for n in names if n in known] + [t for t in extra if t in known]


def run(cmd, cwd, timeout):
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        return None
    except BaseException:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        raise


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("base", nargs="?")
    ap.add_argument("--lines", action="append", default=[], metavar="FILE:FROM-TO",
                    help="mutate these lines instead of the changed ones (repeatable)")
    ap.add_argument("--files", metavar="GLOB", help="only files matching GLOB (e.g. 'src/http/*')")
    ap.add_argument("--max", type=int, default=0, help="plant at most N mutants, spread over the lines")
    ap.add_argument("--tests", default="", help="ctest -R regex (default: every test)")
    ap.add_argument("--exclude", default="soak|perf|packaging",
                    help="ctest -E regex (default: soak|perf|packaging)")
    ap.add_argument("--timeout", type=int, default=300, help="seconds for one mutant's test run")
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    args = ap.parse_args()

    build = os.path.abspath(args.build)
    restorer = Restorer(build)
    restorer.recover()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))

    if args.lines:
        lines, where = parse_ranges(args.lines), "the given lines"
    else:
        base = args.base or default_base()
        lines, where = changed_lines(base), "the lines changed since %s" % base
    mutants = plan(lines, args.files)
    if args.max and len(mutants) > args.max:
        step = len(mutants) / args.max
        mutants = [mutants[int(i * step)] for i in range(args.max)]
    if not mutants:
        print("no mutants in %s" % where)
        return 0
    names = ctest_names(build, args.tests, args.exclude)
    if not names:
        raise SystemExit("no tests match in %s" % build)
    targets = build_targets(build, names, not args.tests)
    print("%d mutants in %s; tests: %s" % (len(mutants), where, " ".join(names)), flush=True)
    if run(["cmake", "--build", build, "-j", str(args.jobs), "--target", *targets], ROOT, None) != 0:
        raise SystemExit("the unmutated tree does not build")

    env_cmd = ["ctest", "-j", str(args.jobs), "--timeout", str(args.timeout), "--stop-on-failure"]
    if args.tests:
        env_cmd += ["-R", args.tests]
    if args.exclude:
        env_cmd += ["-E", args.exclude]
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

    results = {"caught": [], "survived": [], "unbuilt": [], "timeout": []}
    try:
        for i, (path, number, old, new, what) in enumerate(mutants, 1):
            full = os.path.join(ROOT, path)
            with open(full, encoding="utf-8") as f:
                source = f.read().split("\n")
            source[number - 1] = new
            if not new:
                del source[number - 1]
            start = time.monotonic()
            restorer.plant(full, "\n".join(source))
            try:
                built = run(["cmake", "--build", build, "-j", str(args.jobs), "--target", *targets], ROOT, 900)
                outcome = "unbuilt"
                if built == 0:
                    rc = run(env_cmd, build, args.timeout * 2)
                    outcome = "survived" if rc == 0 else "timeout" if rc is None else "caught"
            finally:
                restorer.restore()
            results[outcome].append((path, number, old.strip(), what))
            print("[%d/%d] %s:%d %s: %s (%.0f s)" % (i, len(mutants), path, number, what, outcome,
                                                     time.monotonic() - start), flush=True)
    except KeyboardInterrupt:
        print("\ninterrupted; the source tree is restored")
        return 130
    finally:
        restorer.restore()

    print("\nsurvivors:")
    for path, number, old, what in results["survived"]:
        print("  %s:%d  %s   | %s" % (path, number, what, old))
    if not results["survived"]:
        print("  none")
    built = len(mutants) - len(results["unbuilt"])
    print("\nplanted %d, built %d, caught %d, timed out %d, survived %d, did not build %d" % (
        len(mutants), built, len(results["caught"]), len(results["timeout"]), len(results["survived"]),
        len(results["unbuilt"])))
    print("(run `cmake --build %s` to rebuild the untouched tree)" % os.path.relpath(build, ROOT))
    return 1 if results["survived"] else 0


if __name__ == "__main__":
    sys.exit(main())
