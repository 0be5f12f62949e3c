#!/usr/bin/env python3
"""keyloft-ini against Python's configparser on generated files.

Each file has unique sections and keys, no DEFAULT section, no "%" or "#" in
values and no indented or "="-less lines: files both readers must agree on.
For every key, `get` prints configparser's value; the variables that
`get --format=sh` sets in sh hold the same values (keys that are no shell
names are left out with a warning and exit status 1); after `merge` of a
random snippet configparser reads the merged values and everything else as
before, and the same merge again leaves the file untouched.

usage: configparser_diff.py KEYLOFT_INI [SEED]
"""
import configparser
import os
import random
import string
import subprocess
import sys
import tempfile

TOOL = sys.argv[1]
SEED = int(sys.argv[2]) if len(sys.argv) > 2 else 2112
FILES = 30

rng = random.Random(SEED)
NAME = string.ascii_letters + string.digits + "_"
KEY = NAME + ".-:@/+ "
VALUE = (string.ascii_letters + string.digits + " !\"$&'()*+,-./:;<=>?@[\\]^_`{|}~"
         + "\u00e9\u00fc\u4e2d\u2603")
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def word(chars, least, most):
    return "".join(rng.choice(chars) for _ in range(rng.randint(least, most)))


def new_key(taken):
    while True:
        if rng.random() < 0.7:
            key = "k" + word(NAME, 0, 8)  # a shell name, none of sh's own
        else:
            key = word(KEY, 1, 10).strip()
            if not key or key[0] in ";#[":
                continue
        if key not in taken:
            taken.add(key)
            return key


def new_value():
    return word(VALUE, 0, 16).strip()


def blanks():
    return rng.choice(["", "", " ", "  ", "\t"])


def config_of(path):
    parser = configparser.ConfigParser(interpolation=None, delimiters=("=",))
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    return {s: dict(parser.items(s)) for s in parser.sections()}


def run(args, stdin=b""):
    return subprocess.run([TOOL] + args, input=stdin, capture_output=True, timeout=60)


def generate():
    """The file's text and the sections with their keys as written."""
    sections = {}
    names = set()
    lines = [rng.choice(["; head", "# head", ""]) for _ in range(rng.randint(0, 2))]
    for _ in range(rng.randint(1, 5)):
        while True:
            name = word(NAME + " .-", 1, 10).strip()
            if name and name != "DEFAULT" and name not in names:
                break
        names.add(name)
        lines.append("[" + name + "]")
        keys = {}
        taken = set()
        for _ in range(rng.randint(0, 6)):
            kind = rng.random()
            if kind < 0.1:
                lines.append(rng.choice(["; a comment", "# a comment", ";k=commented", ""]))
                continue
            key, value = new_key(taken), new_value()
            keys[key] = value
            lines.append(key + blanks() + "=" + blanks() + value + blanks())
        sections[name] = keys
    breaks = rng.choice([["\n"], ["\r\n"], ["\n", "\r\n", "\r"]])
    text = "".join(line + rng.choice(breaks) for line in lines)
    if rng.random() < 0.2:
        text = text.rstrip("\r\n")
    return text, sections


def check_shell(path, name, keys, where):
    result = run(["get", "--format=sh", "--", path, name])
    wanted = [k for k in keys if k.isidentifier() and k.isascii()]
    skipped = [k for k in keys if k not in wanted]
    check(result.returncode == (1 if skipped else 0), where + ": exit status of get --format=sh")
    check(len(result.stderr.splitlines()) == len(skipped), where + ": one warning per skipped key")
    script = ('eval "$KEYLOFT_SH" || exit 9\n'
              'for KEYLOFT_K do eval "KEYLOFT_V=\\${$KEYLOFT_K-unset}"\n'
              '  printf "%s\\0" "$KEYLOFT_V"; done')
    shell = subprocess.run(["sh", "-c", script, "sh"] + wanted, capture_output=True,
                           env=dict(os.environ, KEYLOFT_SH=result.stdout.decode("utf-8")),
                           timeout=60)
    got = shell.stdout.decode("utf-8").split("\0")[:-1]
    check(shell.returncode == 0 and got == [keys[k] for k in wanted],
          where + ": sh sets %r, not %r" % (got, [keys[k] for k in wanted]))


def snippet(sections):
    """A merge input and what it sets, section by section."""
    lines, sets = [], {}
    for _ in range(rng.randint(1, 3)):
        if sections and rng.random() < 0.7:
            name = rng.choice(list(sections))
        else:
            name = "new " + word(NAME, 1, 6)
        lines.append(blanks() + "[" + blanks() + name + blanks() + "]")
        taken = set(sections.get(name, {}))
        for _ in range(rng.randint(1, 4)):
            old = list(sections.get(name, {}))
            key = rng.choice(old) if old and rng.random() < 0.5 else new_key(taken)
            value = new_value()
            sets.setdefault(name, {})[key] = value
            lines.append(key + blanks() + "=" + blanks() + value)
            if rng.random() < 0.2:
                lines.append(rng.choice(["; note", "# note", ""]))
    return "\n".join(lines) + "\n", sets


def main():
    with tempfile.TemporaryDirectory() as folder:
        for n in range(FILES):
            text, sections = generate()
            path = os.path.join(folder, "f%d.ini" % n)
            with open(path, "wb") as f:
                f.write(text.encode("utf-8"))
            where = "seed %d, file %d" % (SEED, n)
            config = config_of(path)
            check(config == sections, where + ": the generator and configparser disagree")
            for name, keys in config.items():
                for key, value in keys.items():
                    result = run(["get", "--", path, name, key])
                    check(result.returncode == 0 and result.stdout.decode("utf-8") == value + "\n",
                          "%s: get [%s] %s gives %r, configparser %r"
                          % (where, name, key, result.stdout, value))
                check_shell(path, name, keys, where + " [%s]" % name)

            stdin, sets = snippet(sections)
            result = run(["merge", path], stdin.encode("utf-8"))
            check(result.returncode == 0 and result.stderr == b"", where + ": merge failed")
            expected = {s: dict(k) for s, k in config.items()}
            for name, keys in sets.items():
                expected.setdefault(name, {}).update(keys)
            check(config_of(path) == expected, where + ": configparser reads after merge "
                  "%r, not %r" % (config_of(path), expected))
            before = os.stat(path)
            result = run(["merge", path], stdin.encode("utf-8"))
            after = os.stat(path)
            check(result.returncode == 0 and (after.st_ino, after.st_mtime_ns)
                  == (before.st_ino, before.st_mtime_ns), where + ": the same merge wrote again")
    for failure in failures[:20]:
        print(failure)
    print("%d files, %d failures" % (FILES, len(failures)))
    return 1 if failures else 0


sys.exit(main())
