#!/usr/bin/env python3
"""The documentation stays true to the tool: the commands `tolvak --help` lists are the ones the
manual page and docs/command-line.md describe, and every relative link of the Markdown pages
leads to a file that exists.

Usage: docs_test.py SOURCE_DIR TOLVAK"""
import pathlib
import re
import subprocess
import sys

root = pathlib.Path(sys.argv[1])
tool = sys.argv[2]
failures = []

# The one list of commands: the tool's own help, "  NAME  summary" lines under its commands.
help_text = subprocess.run([tool, "--help"], capture_output=True, text=True, check=True,
                           timeout=60).stdout
listing = help_text.split("commands:", 1)[-1]
commands = set(re.findall(r"^  ([a-z][a-z-]*) ", listing, re.MULTILINE))
if len(commands) < 5:
    failures.append(f"tolvak --help lists too few commands to be read right: {sorted(commands)}")

man = (root / "packaging/tolvak.1").read_text()
man_commands = man.split(".SH COMMANDS", 1)[-1].split("\n.SH ", 1)[0]
documented = {
    "the manual page": {m.replace("\\-", "-") for m in re.findall(r"^\.B (\S+)$", man_commands,
                                                                 re.MULTILINE)},
    "docs/command-line.md": set(re.findall(r"^\| `tolvak ([a-z-]+)` \|",
                                           (root / "docs/command-line.md").read_text(),
                                           re.MULTILINE)),
}
for where, names in documented.items():
    for name in sorted(commands - names):
        failures.append(f"{where} lacks the command {name}")
    for name in sorted(names - commands):
        failures.append(f"{where} describes {name}, which tolvak --help does not list")


def prose(text):
    """The text without code blocks and code spans, whose brackets are not links."""
    text = re.sub(r"^```.*?^```", "", text, flags=re.MULTILINE | re.DOTALL)
    text = re.sub(r"^(    |\t).*$", "", text, flags=re.MULTILINE)
    return re.sub(r"`[^`\n]*`", "", text)


pages = [root / "README.md", root / "CONTRIBUTING.md", *sorted((root / "docs").glob("*.md"))]
for page in pages:
    for target in re.findall(r"\]\(([^)\s]+)\)", prose(page.read_text())):
        path = target.split("#", 1)[0]
        if not path or re.match(r"[a-z]+:", path):
            continue  # an anchor on the same page, a web address
        if not (page.parent / path).exists():
            failures.append(f"{page.relative_to(root)}: the link {target} leads nowhere")

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
