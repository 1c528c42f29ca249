#!/usr/bin/python3
"""--help and --version of the programs: the version is the version block's, and the help
texts and the manual pages come from the same descriptions (packaging/manual), so the help a
program prints is the one made from its description, and quillomat-cli's description names
exactly the commands the program has.

Usage: program_info_check.py SOURCE_DIR quillomat-cli lindrel [quillomat]
"""
import os
import re
import subprocess
import sys

source, programs = sys.argv[1], sys.argv[2:]
sys.path.insert(0, os.path.join(source, "packaging", "manual"))
import make_manual  # noqa: E402

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)


with open(os.path.join(source, "src", "about", "program_version.cpp"), encoding="utf-8") as f:
    version = re.search(r'u"FileVersion", u"([0-9.]+)"', f.read()).group(1)

for path in programs:
    name = os.path.basename(path)
    page = make_manual.load(os.path.join(source, "packaging", "manual", name + ".json"))
    r = subprocess.run([path, "--version"], capture_output=True, text=True, timeout=30)
    check(r.returncode == 0 and r.stdout.startswith("%s (Quillomat) %s\n" % (name, version)),
          "%s --version: %r" % (name, r.stdout))
    r = subprocess.run([path, "--help"], capture_output=True, text=True, timeout=30,
                       env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    check(r.returncode == 0 and r.stdout.startswith(make_manual.help_text(page)),
          "%s --help is the text made from its description: %r" % (name, r.stdout[:200]))
    if name == "quillomat-cli":
        listed = re.findall(r"^  ([a-z]+) ", r.stdout.split("Commands:")[-1], re.M)
        described = [c["name"].split()[0] for c in page["commands"]]
        check(sorted(listed) == sorted(described),
              "commands listed %r, described %r" % (listed, described))
    if name == "lindrel":  # its only other form is one request file
        r = subprocess.run([path, "--version", "x"], capture_output=True, text=True, timeout=30)
        check(r.returncode == 2, "lindrel --version with another argument is a usage error")

if failures:
    sys.exit("%d check(s) failed" % len(failures))
print("all checks passed")
