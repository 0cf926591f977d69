#!/usr/bin/env python3
"""Mutation sampler: how many small faults planted in src/ does the suite notice?

From a seed it picks N sites in src/*.cpp (a comparison flipped, a condition negated, && and ||
swapped, an integer moved by one, a call's effect dropped, a boolean return inverted), plants one at
a time in a scratch copy of the committed tree, rebuilds incrementally and runs the tests of the
mutated file's area (or, with --whole, the whole suite). Each site ends as:
  killed      a test failed or timed out on its own
  survived    the build passed and every test passed: a fault the suite does not see
  no-build    the mutant did not compile (not counted in the kill rate)
  build-hang  the build ran past --build-timeout (not counted either)

  python3 scripts/mutants.py --seed 7 -n 60            # sample 60 sites, print the report
  python3 scripts/mutants.py --seed 7 -n 60 --list     # only list the sites it would try
  python3 scripts/mutants.py --seed 7 -n 60 --base v1   # the sample drawn at v1, found in today's src/
Needs the build dependencies (scripts/deps.sh); the desktop areas' tests need what the suite needs.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# (name, pattern, replacement): applied to one match on one line.
OPERATORS = [
    ("flip <", re.compile(r"(?<=\s)<(?=\s)"), ">="),
    ("flip >", re.compile(r"(?<=\s)>(?=\s)"), "<="),
    ("flip <=", re.compile(r"(?<=\s)<=(?=\s)"), ">"),
    ("flip >=", re.compile(r"(?<=\s)>=(?=\s)"), "<"),
    ("flip ==", re.compile(r"(?<=\s)==(?=\s)"), "!="),
    ("flip !=", re.compile(r"(?<=\s)!=(?=\s)"), "=="),
    ("&& to ||", re.compile(r"(?<=\s)&&(?=\s)"), "||"),
    ("|| to &&", re.compile(r"(?<=\s)\|\|(?=\s)"), "&&"),
    ("negate if", re.compile(r"\bif \((.*)\)(?= \{$| return\b|$)"), r"if (!(\1))"),
    ("constant +1", re.compile(r"(?<![\w.\[])([1-9][0-9]{0,5})(?![\w.'\"])"), None),
    ("return true to false", re.compile(r"\breturn true;"), "return false;"),
    ("return false to true", re.compile(r"\breturn false;"), "return true;"),
    ("drop call", re.compile(r"^(\s*)((?:[\w:]+(?:\.|->))*[\w:]+\(.*\);)\s*$"), r"\1(void)0; /* \2 */"),
]
SKIP_LINE = re.compile(r'^\s*(#|//|\*|/\*)|static_assert|"[^"]*$|^\s*(case|default)\b|template\s*<|operator')
DECL_CALL = re.compile(r"^\s*(return|auto|const|static|using|typedef|throw|else|delete|new)\b|=|<<|\w+\s+\w+\(")


def sites_in(path: Path, root: Path = ROOT):
    rel = path.relative_to(root).as_posix()
    previous = ";"
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        # Whether this line starts a statement, not a continuation of the one before.
        starts, stripped = previous[-1:] in ";{}", line.strip()
        if stripped and not stripped.startswith("//"):
            previous = stripped.split("//")[0].rstrip() or previous
        if SKIP_LINE.search(line) or len(line) > 160:
            continue
        code = re.sub(r'"(?:\\.|[^"\\])*"', lambda m: "\0" * len(m.group(0)), line)  # keep strings intact
        code = re.sub(r"'(?:\\.|[^'\\])'", lambda m: "\0" * len(m.group(0)), code)
        code = code.split("//")[0]
        for name, pattern, replacement in OPERATORS:
            if name == "drop call" and (not starts or DECL_CALL.search(code)):
                continue
            if name == "negate if" and re.search(r"\bauto\b|;", code.split("if (", 1)[-1]):
                continue
            for m in pattern.finditer(code):
                if name == "constant +1":
                    new = str(int(m.group(1)) + 1)
                else:
                    new = m.expand(replacement)
                mutated = line[: m.start()] + new + line[m.end():]
                if mutated != line:
                    yield {"file": rel, "line": number, "op": name, "old": line, "new": mutated}


def all_sites(root: Path = ROOT):
    for path in sorted((root / "src").rglob("*.cpp")):
        if "/protocols/" in path.as_posix():
            continue
        yield from sites_in(path, root)


def sites_of_revision(rev: str, seed: int, n: int, scratch: Path):
    """The sample `seed` draws from src/ as it was at `rev`, found again in today's src/: the same
    line (its text unchanged, nearest its old place) with the same change; None where it is gone."""
    old = scratch / "base"
    if old.exists():
        shutil.rmtree(old)
    old.mkdir(parents=True)
    archive = subprocess.run(["git", "-C", str(ROOT), "archive", rev, "src"], stdout=subprocess.PIPE, check=True)
    subprocess.run(["tar", "-x", "-C", str(old)], input=archive.stdout, check=True)
    sites = list(all_sites(old))
    shutil.rmtree(old)
    picked = random.Random(seed).sample(sites, min(n, len(sites)))
    current = {}
    for s in all_sites():
        current.setdefault((s["file"], s["old"], s["op"], s["new"]), []).append(s)
    found = []
    for s in picked:
        same = current.get((s["file"], s["old"], s["op"], s["new"]), [])
        found.append(min(same, key=lambda c: abs(c["line"] - s["line"])) if same else None)
    return len(sites), picked, found


def area_tests(rel: str) -> str:
    """A ctest -R pattern for the tests that cover a source file."""
    parts = rel.split("/")[1:]
    if parts[:2] == ["platform", "linux"]:
        return "^linux_desktop$"
    if parts[:3] == ["platform", "wayland", "portal"]:
        return "^(PortalInput|kde_portal$)"
    if parts[:3] == ["platform", "wayland", "mutter"]:
        return "^gnome_desktop$"
    if parts[:2] == ["platform", "wayland"]:
        return "^(wayland_|gnome_desktop$|kde_portal$)"
    suites = set()
    # Text handling and the in-memory desktop are checked where they are used: the actions' and
    # icons' tests, over the wire.
    used = parts[0] == "text" or parts[:2] == ["platform", "virtual"]
    for area in [parts[0]] + (["actions", "icons"] if used else []):
        folder = ROOT / "tests" / area
        for test in folder.rglob("*.cpp") if folder.is_dir() else []:
            suites.update(re.findall(r"^TEST(?:_F|_P)?\((\w+),", test.read_text(encoding="utf-8"), re.M))
    return "^(" + "|".join(sorted(suites)) + r")\." if suites else "^[A-Za-z]+[.][A-Za-z]+$"


def run(cmd, cwd, timeout):
    try:
        return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return None


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("-n", type=int, default=60, help="sites to try")
    ap.add_argument("--scratch", default=str(ROOT / "build-mutants"), help="scratch copy and build")
    ap.add_argument("--whole", action="store_true", help="run the whole suite for every mutant")
    ap.add_argument("--list", action="store_true", help="only list the sampled sites")
    ap.add_argument("--base", metavar="REV", help="draw the sample from src/ as it was at REV (to compare "
                    "two runs site for site after src/ changed)")
    ap.add_argument("--build-timeout", type=int, default=900)
    ap.add_argument("--test-timeout", type=int, default=600)
    args = ap.parse_args()

    if args.base:
        total, drawn, found = sites_of_revision(args.base, args.seed, args.n, Path(args.scratch))
        picked = [s for s in found if s]
        print(f"{total} sites in src/ at {args.base}, {len(drawn)} sampled with seed {args.seed}, "
              f"{len(picked)} still there")
        for s, now in zip(drawn, found):
            if not now:
                print(f"  gone: {s['file']}:{s['line']} {s['op']}: {s['old'].strip()}")
    else:
        sites = list(all_sites())
        picked = random.Random(args.seed).sample(sites, min(args.n, len(sites)))
        print(f"{len(sites)} sites in src/, {len(picked)} sampled with seed {args.seed}")
    if args.list:
        for s in picked:
            print(f"  {s['file']}:{s['line']} {s['op']}: {s['new'].strip()}")
        return 0

    scratch = Path(args.scratch)
    tree, build = scratch / "tree", scratch / "build"
    if tree.exists():
        shutil.rmtree(tree)
    tree.mkdir(parents=True)
    # The committed tree, so a mutant never mixes with uncommitted work.
    archive = subprocess.run(["git", "-C", str(ROOT), "archive", "HEAD"], stdout=subprocess.PIPE, check=True)
    subprocess.run(["tar", "-x", "-C", str(tree)], input=archive.stdout, check=True)
    launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
    subprocess.run(["cmake", "-S", str(tree), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                    "-DQUIB_BENCH=OFF", *launcher], check=True, stdout=subprocess.DEVNULL)
    print("building the unmutated tree ...", flush=True)
    if run(["cmake", "--build", str(build)], tree, None) != 0:
        print("the unmutated tree does not build", file=sys.stderr)
        return 2

    counts = {"killed": 0, "survived": 0, "no-build": 0, "build-hang": 0}
    survivors = []
    for i, s in enumerate(picked, 1):
        path = tree / s["file"]
        original = path.read_text(encoding="utf-8")
        lines = original.split("\n")
        lines[s["line"] - 1] = s["new"]
        path.write_text("\n".join(lines), encoding="utf-8")
        started = time.monotonic()
        try:
            built = run(["cmake", "--build", str(build)], tree, args.build_timeout)
            if built is None:
                verdict = "build-hang"
            elif built != 0:
                verdict = "no-build"
            else:
                pattern = "" if args.whole else area_tests(s["file"])
                cmd = ["ctest", "--test-dir", str(build), "-j2", "--timeout", "300", "--stop-on-failure"]
                if pattern:
                    cmd += ["-R", pattern]
                tested = run(cmd, tree, args.test_timeout)
                verdict = "survived" if tested == 0 else "killed"
        finally:
            path.write_text(original, encoding="utf-8")
        counts[verdict] += 1
        if verdict == "survived":
            survivors.append(s)
        print(f"[{i}/{len(picked)}] {verdict:10} {s['file']}:{s['line']} {s['op']} "
              f"({time.monotonic() - started:.0f} s)", flush=True)
    # Leave the scratch build matching the tree again for the next run.
    run(["cmake", "--build", str(build)], tree, args.build_timeout)

    judged = counts["killed"] + counts["survived"]
    rate = 100.0 * counts["killed"] / judged if judged else 0.0
    print(f"\nkilled {counts['killed']}, survived {counts['survived']}, did not build {counts['no-build']}, "
          f"build hung {counts['build-hang']}: kill rate {rate:.0f}% of {judged}")
    for s in survivors:
        print(f"  survived: {s['file']}:{s['line']} {s['op']}\n    - {s['old'].strip()}\n    + {s['new'].strip()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
