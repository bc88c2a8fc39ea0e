#!/usr/bin/env python3
"""The README's commands, run as a user runs them, in a copy of the sources.

Every command line of the indented blocks of the sections "Quick start",
"Install", "The library in C++", "Python" and "The offline page" runs as
written, in the copy's root, with two changes only: the prefix /opt/talvo is a
temporary folder, and the calculator started by the quick start is told 0
(exit). A line that cannot run here is named with the reason (a package index,
a browser window, the whole test suite); the test fails on a command it does
not know how to run, so that a new block is run or explained. Where a
command's comment shows its output, the output must be that. Then the
example session: the installed calculator is given the replies the README
shows, and must print the screen shown (the elided results aside) and write
the report and the sample file shown, byte for byte.

usage: readme_test.py SOURCE_DIR CXX_COMPILER
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile

SECTIONS = ["Quick start", "Install", "The library in C++", "Python", "The offline page"]
OPT = "/opt/talvo"

failures = []


def fail(what):
    failures.append(what)
    print("FAIL: " + what, flush=True)


def sections(readme):
    """{title: [lines]} of the README's "## " sections."""
    out, title = {}, None
    for line in readme.splitlines():
        if line.startswith("## "):
            title = line[3:].strip()
            out[title] = []
        elif title is not None:
            out[title].append(line)
    return out


def indented_blocks(lines):
    """The indented (4 spaces) code blocks of a section, outside fenced blocks, as lists of command lines."""
    blocks, block, fenced, blank_before = [], None, False, True
    for line in lines:
        if line.startswith("```"):
            fenced = not fenced
            continue
        if fenced:
            continue
        if line.startswith("    ") and (block is not None or blank_before):
            block = block if block is not None else []
            block.append(line[4:])
        elif line.strip() == "" and block is not None:
            blocks.append(block)
            block = None
        elif line.strip() != "":
            if block is not None:
                blocks.append(block)
            block = None
        blank_before = line.strip() == ""
    if block:
        blocks.append(block)
    commands = []
    for b in blocks:
        joined = []
        for line in b:
            if joined and joined[-1].endswith("\\"):
                joined[-1] = joined[-1][:-1] + line
            else:
                joined.append(line)
        commands.append(joined)
    return commands


def fenced_block(lines, after):
    """The first fenced block after the line that starts with `after`."""
    seen, inside, out = False, False, []
    for line in lines:
        if not seen:
            seen = line.startswith(after)
            continue
        if line.startswith("```"):
            if inside:
                return out
            inside = True
            continue
        if inside:
            out.append(line)
    raise SystemExit(f"no fenced block after {after!r} in the README")


def split_comment(command):
    """(the command, its comment): a # outside quotes that follows a blank."""
    quote = None
    for i, c in enumerate(command):
        if quote:
            quote = None if c == quote else quote
        elif c in "'\"":
            quote = c
        elif c == "#" and i > 0 and command[i - 1] == " ":
            return command[:i].rstrip(), command[i + 1:].strip()
    return command.rstrip(), ""


def main():
    source = pathlib.Path(sys.argv[1]).resolve()
    compiler = sys.argv[2]
    readme = (source / "README.md").read_text()
    parts = sections(readme)
    for title in SECTIONS:
        if title not in parts:
            raise SystemExit(f"the README has no section {title!r}")
    tmp = pathlib.Path(tempfile.mkdtemp(prefix="talvo-readme."))
    try:
        run_all(source, compiler, parts, tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    if failures:
        print(f"{len(failures)} README command(s) failed")
        return 1
    print("every README command that runs offline works as written")
    return 0


def run_all(source, compiler, parts, tmp):
    src = tmp / "src"
    prefix = tmp / "opt" / "talvo"
    consumer = tmp / "consumer"
    consumer.mkdir()
    # The sources as a user has them: no build folders, no repository.
    with tarfile.open(tmp / "src.tar", "w") as tar:
        def keep(info):
            name = info.name.removeprefix("./")
            top = name.split("/")[0]
            return None if top.startswith("build") or top == ".git" or name.endswith(".egg-info") else info
        tar.add(source, arcname=".", filter=keep)
    src.mkdir()
    with tarfile.open(tmp / "src.tar") as tar:
        tar.extractall(src)
    (tmp / "src.tar").unlink()

    env = {k: v for k, v in os.environ.items() if k not in ("G_F", "PYTHONPATH", "LD_PRELOAD", "ASAN_OPTIONS")}
    env.update(CXX=compiler, PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1", PYTHONDONTWRITEBYTECODE="1")
    if shutil.which("ccache"):
        # Only quicker: the copy's builds find what other builds of the same sources compiled.
        env.update(CMAKE_CXX_COMPILER_LAUNCHER="ccache", CCACHE_BASEDIR=str(tmp))
    web_tools = (shutil.which("em++") and shutil.which("node") and os.path.isdir("/usr/share/nodejs/acorn")
                 and shutil.which("chromium"))

    # The C++ example of its section, where the pkg-config command builds it.
    cpp = fenced_block(parts["The library in C++"], "")
    if OPT in "\n".join(cpp):
        fail(f"the C++ example names {OPT}: it runs against any prefix only when it takes the data folder")
    (consumer / "app.cpp").write_text("\n".join(cpp) + "\n")

    for title in SECTIONS:
        cwd = consumer if title == "The library in C++" else src
        for block in indented_blocks(parts[title]):
            for line in block:
                command, comment = split_comment(line)
                if not command:
                    continue
                run_line(title, command, comment, cwd, env, prefix, web_tools, src)

    session(parts["An example session: water"], prefix, tmp)


def run_line(title, command, comment, cwd, env, prefix, web_tools, src):
    def skip(reason):
        print(f"-- skipped ({title}): {command}\n   {reason}", flush=True)

    if "ctest --preset" in command:
        return skip("builds and runs the whole test suite, this test among it")
    if re.search(r"\bpip install\b", command) and "--no-build-isolation" not in command:
        return skip("fetches its build requirements from a package index")
    if re.match(r"chromium\b", command) and "--headless" not in command:
        return skip("opens a browser window")
    if "install-deps.sh --web" in command and not web_tools:
        return skip("would install emscripten, node-acorn and chromium with apt-get")
    if "--headless" in command and not (web_tools and (src / "web" / "talvo-wasm.js").is_file()):
        return skip("needs chromium and the page built (web/talvo-wasm.js)")
    stdin = ""
    if "cmake --build --preset wasm" in command:
        if not web_tools:
            return skip("needs emscripten")
        # The page's build takes a quarter of an hour on two cores; the test web.page loads the page built.
        command, built = command.split("&&")[0].strip(), command
        print(f"-- configuring only ({title}): {built}", flush=True)
    if command.endswith("./build-run/talvo"):
        stdin = "0\n"
    text = command.replace(OPT, str(prefix))
    print(f"-- ({title}) $ {text}", flush=True)
    run = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", text], cwd=cwd, env=env, input=stdin,
                         capture_output=True, text=True, timeout=3000)
    out = run.stdout
    if run.returncode != 0:
        return fail(f"{command}: exit status {run.returncode}\n{out[-3000:]}\n{run.stderr[-3000:]}")
    expect(command, comment.replace(OPT, str(prefix)), out, run.stderr, cwd, prefix)


def expect(command, comment, out, err, cwd, prefix):
    """What each kind of command must have done."""
    if command.startswith("cmake --preset wasm"):
        if "Warning" in out + err:
            fail(f"{command} warns:\n{out}\n{err}")
    elif command.endswith("./build-run/talvo"):
        if "TALVO Calculate sample cross-sections etc" not in out:
            fail(f"{command}: no banner\n{out[-2000:]}")
    elif command.startswith("cmake --install"):
        for f in ("bin/talvo", "bin/talvo-tools", "share/talvo/data/sears91.dat", "lib/pkgconfig/talvo.pc"):
            if not (prefix / f).is_file():
                fail(f"{command}: no {f} in the prefix")
        # The programs as users run them: optimised and without their debugging information.
        for f in ("bin/talvo", "bin/talvo-tools"):
            sections = subprocess.run(["readelf", "-S", str(prefix / f)], capture_output=True, text=True).stdout
            if ".debug_info" in sections:
                fail(f"{command}: {f} is installed with its debugging information")
    elif command.startswith("c++ "):
        if not (cwd / "a.out").is_file():
            fail(f"{command}: no a.out")
    elif command.startswith("./a.out"):
        if out.strip() != comment:
            fail(f"{command} printed {out.strip()!r}, the README shows {comment!r}")
    elif "pkg-config --variable=datadir" in command:
        if out.strip() != comment:
            fail(f"{command} printed {out.strip()!r}, the README shows {comment!r}")
        if os.path.normpath(comment) != comment or not os.path.isfile(comment + "/sears91.dat"):
            fail(f"{command}: {comment} is not the data folder as a plain path")
    elif "pip wheel" in command:
        if not list(cwd.glob("talvo-*.whl")):
            fail(f"{command}: no talvo-*.whl")
    elif "pip install" in command:
        where = cwd / command.split("/bin/pip")[0].split()[-1]
        r = subprocess.run([str(where / "bin" / "python"), "-c", "import talvo; print(talvo.material('H2O', density=1.0).sld)"],
                           cwd="/", capture_output=True, text=True)
        if r.returncode != 0 or not r.stdout.startswith("-0.5599"):
            fail(f"{command}: the package installed does not work: {r.stdout} {r.stderr[-2000:]}")
    elif comment and command.startswith(("PYTHONPATH=", "chromium --headless")):
        if comment not in out:
            fail(f"{command}: the output lacks {comment!r}:\n{out[-2000:]}")


def session(lines, prefix, tmp):
    """The example session's replies given to the installed calculator: the screen, report and sample shown."""
    screen = fenced_block(lines, "Natural elements, H2O")
    report = fenced_block(lines, "The report `water.talvo`")
    sample = fenced_block(lines, "and the saved composition `water.sample`")
    # A prompt ends in "> " or "? " and the reply follows it on the screen as typed; the program's own
    # screen holds the prompt and goes on with its next output on the same line.
    replies, expected = [], []
    for line in screen:
        m = re.match(r"(.*(?:> |\? ))(.*)$", line)
        if m and not line.startswith("   ..."):
            replies.append(m.group(2))
            expected.append(m.group(1))
        else:
            expected.append(line + "\n")
    work = tmp / "session"
    work.mkdir()
    env = {k: v for k, v in os.environ.items() if k != "G_F"}
    run = subprocess.run([str(prefix / "bin" / "talvo")], input="".join(r + "\n" for r in replies), cwd=work,
                         env=env, capture_output=True, text=True, timeout=60)
    if run.returncode != 0:
        return fail(f"the example session: exit status {run.returncode}\n{run.stdout[-2000:]}")
    shown = "".join(expected).replace(OPT, str(prefix))
    before, _, after = shown.partition("   ... the results block, the same lines as in the report below ...\n")
    if not (run.stdout.startswith(before) and run.stdout.endswith(after)):
        fail("the example session's screen is not the README's:\n" + run.stdout)
    for name, block in (("water.talvo", report), ("water.sample", sample)):
        want = "\n".join(block).replace(OPT, str(prefix)) + "\n"
        got = (work / name).read_text() if (work / name).is_file() else None
        if got != want:
            fail(f"{name} is not the README's:\n{got}")
    print("-- the example session: the screen, the report and the sample file as shown", flush=True)


if __name__ == "__main__":
    sys.exit(main())
