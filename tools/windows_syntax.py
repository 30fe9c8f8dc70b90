#!/usr/bin/env python3
"""Compiles the sources of a build for Windows with the MinGW-w64 cross
compiler against the host's Qt headers, syntax only: the Windows branches of
the platform layers are parsed and type-checked on every test run without a
Windows Qt.  By default the sources that have a Windows branch, in their own
text or in a project header they include (about 40 s on 2 cores); with --all,
every source of the build (about 2.5 minutes).  Reads the build's compile_commands.json.
Exit 0 when all pass without warnings, 1 otherwise, 77 (skipped) without the
compiler.
Usage: windows_syntax.py BUILD_DIR SOURCE_DIR [--all]"""
import json, os, re, shlex, shutil, subprocess, sys, time
from concurrent.futures import ThreadPoolExecutor

CROSS = "x86_64-w64-mingw32-g++-posix"


# Programs that exist only on POSIX systems (the simulator serves a
# pseudo-terminal) and are not built for Windows.
POSIX_ONLY = {"tools/sim/main.cpp"}

INCLUDE = re.compile(r'#\s*include\s+"([^"]+)"')
WINDOWS_BRANCH = re.compile(r"_WIN32|Q_OS_WIN")


def has_windows_branch(path, source, memo):
    """The file or a project header it includes, transitively, names Windows."""
    if path in memo:
        return memo[path]
    memo[path] = False  # an include circle ends here
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError:
        return False
    found = bool(WINDOWS_BRANCH.search(text))
    for m in INCLUDE.finditer(text) if not found else ():
        for base in (os.path.dirname(path), source):
            header = os.path.normpath(os.path.join(base, m.group(1)))
            if os.path.isfile(header) and has_windows_branch(header, source, memo):
                found = True
                break
        if found:
            break
    memo[path] = found
    return found


def cross_command(entry, shim):
    args = shlex.split(entry["command"]) if "command" in entry else list(entry["arguments"])
    out = [CROSS, "-fsyntax-only", "-isystem", shim]
    skip = False
    for a in args[1:]:
        if skip:
            skip = False
            continue
        if a in ("-o", "-MF", "-MT", "-MQ", "-c"):
            skip = a != "-c"
            continue
        if a in ("-fPIC", "-MD", "-g") or a.startswith("-O") or a.startswith("-fsanitize"):
            continue
        if a == entry["file"]:
            continue
        out.append(a)
    out.append(entry["file"])
    return out


def main():
    if len(sys.argv) not in (3, 4) or (len(sys.argv) == 4 and sys.argv[3] != "--all"):
        print(__doc__)
        return 2
    build, source = (os.path.realpath(p) for p in sys.argv[1:3])
    every = len(sys.argv) == 4
    if not shutil.which(CROSS):
        print(f"SKIP: {CROSS} is not installed (apt-get install g++-mingw-w64-x86-64-posix)")
        return 77
    with open(os.path.join(build, "compile_commands.json")) as f:
        entries = json.load(f)
    # The project's own files once each (a file built into two targets is
    # checked with the first one's flags), not the generated ones.
    memo, seen, chosen = {}, set(), []
    for e in entries:
        path = os.path.realpath(e["file"])
        if not path.startswith(source + os.sep) or path.startswith(build + os.sep) or path in seen:
            continue
        if os.path.relpath(path, source) in POSIX_ONLY:
            continue
        seen.add(path)
        if every or has_windows_branch(path, source, memo):
            chosen.append(e)
    entries = chosen
    # Headers installed beside the system's own (QCustomPlot) are seen by the
    # cross compiler through a folder of links, not the host's whole /usr/include.
    shim = os.path.join(build, "windows-syntax-include")
    os.makedirs(shim, exist_ok=True)
    for name in ("qcustomplot.h",):
        for d in ("/usr/include", "/usr/local/include"):
            if os.path.isfile(os.path.join(d, name)) and not os.path.exists(os.path.join(shim, name)):
                os.symlink(os.path.join(d, name), os.path.join(shim, name))
    started = time.monotonic()

    def check(entry):
        r = subprocess.run(cross_command(entry, shim), cwd=entry["directory"], capture_output=True, text=True)
        return entry["file"], r.returncode, r.stderr

    with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        results = list(pool.map(check, entries))
    failed = [(f, err) for f, rc, err in results if rc != 0]
    warned = [(f, err) for f, rc, err in results if rc == 0 and "warning:" in err]
    for f, err in failed + warned:
        print(f"--- {os.path.relpath(f, source)}\n{err}")
    kind = "sources" if every else "sources with Windows branches"
    print(f"{len(results)} {kind} checked for Windows in {time.monotonic() - started:.0f} s: "
          f"{len(failed)} failed, {len(warned)} with warnings")
    return 1 if failed or warned else 0


if __name__ == "__main__":
    sys.exit(main())
