#!/usr/bin/env python3
"""Every shell example of the README and of doc/*.md, run as written against the build tree's programs.

The examples are written to run in the clone's folder with the programs on the PATH. This runs them in
a scratch folder that holds what they read from the clone (data/, examples/, tests/data/, web/examples/)
and build-run/ standing for the build tree, with the build tree first on the PATH, in the order the
pages give them, so that an example may read what an earlier one wrote.

- A ```sh or ```bash block, or an indented (4 spaces) one, runs as one bash script (-e -o pipefail);
  a non-zero exit fails.
- A ```console block holds "$ COMMAND" lines (a line ending in a backslash goes on to the next), each
  followed by what it prints: the lines shown must be the lines printed (standard output, then standard
  error), "..." standing for any lines and a line that ends in " ..." for any line that begins so.
- A fenced block after "<!-- session: ENV talvo -->" is a dialogue of the calculator: each question
  ends in "> " or "? " with the reply typed after it; the calculator, started with ENV, is given the
  replies and must print the screen shown (an elided "   ..." line stands for the results block).
- A block right after "<!-- not run: REASON -->" is not run and is named with its reason (it installs,
  or builds, and the test install.readme runs it in a copy of the sources); one marked without a reason
  fails. Other fenced blocks (python, cpp, plain text) are for other tests.

usage: readme_examples.py SOURCE_DIR BUILD_DIR
"""
import functools
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

RUN = ("sh", "bash", "console")
TIMEOUT = 600
failures = []


def fail(what):
    failures.append(what)
    print("FAIL: " + what, flush=True)


def blocks(text):
    """(kind, lines, marker, line number) of each code block of a Markdown text."""
    out, marker, lines = [], None, text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        m = re.match(r"^( {0,3})(```+)\s*([A-Za-z]*)", line)
        if m:
            indent, fence, kind = len(m.group(1)), m.group(2), m.group(3).lower()
            start, body = i + 1, []
            i += 1
            while i < len(lines) and not re.match(r"^ {0,3}" + fence + r"\s*$", lines[i]):
                body.append(lines[i][indent:] if lines[i][:indent].strip() == "" else lines[i])
                i += 1
            out.append((kind or "text", body, marker, start))
            marker = None
            i += 1
            continue
        comment = re.match(r"^<!--\s*(not run|session):?(.*?)-->\s*$", line)
        if comment:
            marker = (comment.group(1), comment.group(2).strip())
            i += 1
            continue
        if line.startswith("    ") and (i == 0 or lines[i - 1].strip() == ""):
            start, body = i + 1, []
            while i < len(lines) and (lines[i].startswith("    ") or lines[i].strip() == ""):
                body.append(lines[i][4:])
                i += 1
            while body and body[-1].strip() == "":
                body.pop()
            out.append(("indented", body, marker, start))
            marker = None
            continue
        if line.strip() and not line.lstrip().startswith("<!--"):
            marker = None
        i += 1
    return out


def run(command, cwd, env, stdin=None):
    return subprocess.run(["bash", "-e", "-o", "pipefail", "-c", command], cwd=cwd, env=env, input=stdin,
                          capture_output=True, text=True, timeout=TIMEOUT)


def matches(shown, printed):
    """Whether the shown lines are the printed ones, "..." standing for any lines."""
    def line_ok(want, got):
        return got.startswith(want[:-4]) if want.endswith(" ...") else got == want

    @functools.lru_cache(maxsize=None)
    def match(s, p):
        if s == len(shown):
            return p == len(printed)
        if shown[s] == "...":
            return any(match(s + 1, q) for q in range(p, len(printed) + 1))
        return p < len(printed) and line_ok(shown[s], printed[p]) and match(s + 1, p + 1)

    return match(0, 0)


def console(where, body, cwd, env):
    commands, current, continued = [], None, False
    for line in body:
        if continued:
            current[0] += "\n" + line
            continued = line.endswith("\\")
        elif line.startswith("$ "):
            current = [line[2:], []]
            commands.append(current)
            continued = line.endswith("\\")
        elif current is None:
            return fail(f"{where}: a console block must begin with a '$ ' line")
        else:
            current[1].append(line.rstrip())
    for command, shown in commands:
        print(f"-- {where} $ {command}", flush=True)
        r = run(command, cwd, env)
        if r.returncode != 0:
            fail(f"{where}: {command}: exit status {r.returncode}\n{r.stdout[-2000:]}{r.stderr[-2000:]}")
            continue
        printed = [line.rstrip() for line in (r.stdout.splitlines() + r.stderr.splitlines())]
        if not matches(shown, printed):
            fail(f"{where}: {command}: it printed\n" + "\n".join(printed[:80]) + "\nand the page shows\n" +
                 "\n".join(shown))


def session(where, setting, body, cwd, env, build):
    words = setting.split()
    if not words or words[-1] != "talvo":
        return fail(f"{where}: a session names the environment and then talvo, not {setting!r}")
    replies, expected = [], []
    for line in body:
        m = re.match(r"(.*(?:> |\? ))(.*)$", line)
        if m and not line.startswith("   ..."):
            replies.append(m.group(2))
            expected.append(m.group(1))
        else:
            expected.append(line + "\n")
    shown = "".join(expected)
    elided = re.search(r"^   \.\.\. .*\n", shown, flags=re.M)
    before, after = (shown[:elided.start()], shown[elided.end():]) if elided else (shown, "")
    session_env = dict(env)
    for w in words[:-1]:
        name, _, value = w.partition("=")
        session_env[name] = value
    print(f"-- {where}: the session of {setting}", flush=True)
    r = subprocess.run([str(build / "talvo")], input="".join(x + "\n" for x in replies), cwd=cwd,
                       env=session_env, capture_output=True, text=True, timeout=TIMEOUT)
    if r.returncode != 0:
        return fail(f"{where}: the session: exit status {r.returncode}\n{r.stdout[-2000:]}{r.stderr[-2000:]}")
    ok = r.stdout.startswith(before) and r.stdout.endswith(after) if elided else r.stdout == before
    if not ok:
        fail(f"{where}: the session's screen is not the page's:\n{r.stdout}")


def main():
    source, build = pathlib.Path(sys.argv[1]).resolve(), pathlib.Path(sys.argv[2]).resolve()
    pages = [source / "README.md"] + sorted((source / "doc").glob("*.md"))
    tmp = pathlib.Path(tempfile.mkdtemp(prefix="talvo-examples."))
    try:
        clone = tmp / "clone"
        clone.mkdir()
        for part in ("data", "examples", "tests/data", "web/examples"):
            shutil.copytree(source / part, clone / part, symlinks=True)
        (clone / "build-run").symlink_to(build, target_is_directory=True)
        env = {k: v for k, v in os.environ.items() if k not in ("G_F", "PYTHONPATH")}
        env["PATH"] = f"{build}:{env.get('PATH', '/usr/bin:/bin')}"
        ran = skipped = 0
        for page in pages:
            for kind, body, marker, line in blocks(page.read_text()):
                where = f"{page.relative_to(source)}:{line}"
                if marker and marker[0] == "not run":
                    if not marker[1]:
                        fail(f"{where}: a block not run must say why")
                    print(f"-- {where}: not run ({marker[1]})", flush=True)
                    skipped += 1
                elif marker and marker[0] == "session":
                    session(where, marker[1], body, clone, env, build)
                    ran += 1
                elif kind == "console":
                    console(where, body, clone, env)
                    ran += 1
                elif kind in RUN or kind == "indented":
                    script = "\n".join(body) + "\n"
                    print(f"-- {where}:\n{script}", end="", flush=True)
                    r = run(script, clone, env)
                    if r.returncode != 0:
                        fail(f"{where}: exit status {r.returncode}\n{r.stdout[-2000:]}{r.stderr[-3000:]}")
                    ran += 1
        if ran < 12:
            fail(f"only {ran} blocks found to run: the pages' examples are not where this test looks")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    if failures:
        print(f"{len(failures)} example(s) failed")
        return 1
    print(f"{ran} blocks ran as written, {skipped} left to the install tests")
    return 0


if __name__ == "__main__":
    sys.exit(main())
