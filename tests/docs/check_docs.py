#!/usr/bin/env python3
"""Checks of the documentation.

check_docs.py markdown CMARK_GFM FILE...
    Renders each Markdown file with cmark-gfm and its table extension and
    fails when a line that begins with '#' outside a code block of the source
    (fences taken as their author meant them: any line that begins with three
    backticks or tildes) is not a heading of the output, when a block of lines
    that begin with '|' is not a table of as many rows and columns, or when a
    code block is left open by CommonMark's rule (a closing fence holds
    nothing but the fence).
check_docs.py example TOOL MAN README
    Runs the example command of README and of the manual page MAN (the same
    in both) and fails unless README's code block that begins with
    'BICLUSTER 0' holds the file byte for byte, and the manual page, as `man`
    renders it, shows it as `cat -e` does (a '$' ends every line).
check_docs.py figures README BENCH_README
    Fails unless every figure of README's Speed section (a number followed by
    'x', 'ms' or 'MiB') is a cell of the table in BENCH_README's first code
    block that begins with 'Measured', and README names that block's date.
check_docs.py options TOOL MAN README
    Fails when an option that `TOOL --help` lists is missing from the OPTIONS
    section of the manual page MAN or from README.
"""
import html
import os
import re
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})(.*)$")


def code_block_states(lines, strict):
    """For each line, whether it lies in a fenced code block (fences
    included), and whether a block is open at the end."""
    states, fence = [], None
    for line in lines:
        match = FENCE.match(line)
        if fence is None:
            if match and not (match.group(1)[0] == "`" and "`" in match.group(2)):
                fence = match.group(1)
            states.append(fence is not None)
        else:
            states.append(True)
            closes = match and match.group(1)[0] == fence[0] and len(match.group(1)) >= len(fence)
            if closes and (not strict or match.group(2).strip() == ""):
                fence = None
    return states, fence is not None


def plain(text):
    return re.sub(r"[`*_]", "", html.unescape(re.sub(r"<[^>]+>", "", text))).strip()


def table_cells(line):
    """The cells of a table row as GitHub's tables split it: at every pipe
    that no backslash escapes, without the outer ones."""
    cells = re.split(r"(?<!\\)\|", line.strip())
    if cells and cells[0].strip() == "":
        cells = cells[1:]
    if cells and cells[-1].strip() == "":
        cells = cells[:-1]
    return cells


def source_tables(lines, in_code):
    """Each block of consecutive lines that begin with '|' outside code, as
    (first line number, lines)."""
    tables, start = [], None
    for number, (line, code) in enumerate(zip(lines + [""], in_code + [False]), 1):
        if line.startswith("|") and not code:
            start = number if start is None else start
        elif start is not None:
            tables.append((start, lines[start - 1:number - 1]))
            start = None
    return tables


def check_tables(lines, in_code, rendered):
    problems = []
    shown = re.findall(r"<table>(.*?)</table>", rendered, re.S)
    tables = source_tables(lines, in_code)
    for index, (number, rows) in enumerate(tables):
        columns = len(table_cells(rows[0]))
        for offset, row in enumerate(rows):
            if len(table_cells(row)) != columns:
                problems.append(f"line {number + offset}: a table row of {len(table_cells(row))} "
                                f"cells where the table has {columns}")
        if index >= len(shown):
            problems.append(f"line {number}: the table is not rendered as a table")
            continue
        heads = len(re.findall(r"<th[ >]", shown[index]))
        body_rows = len(re.findall(r"<tr>", shown[index])) - 1
        if heads != columns or body_rows != len(rows) - 2:
            problems.append(f"line {number}: the table is rendered with {heads} columns and "
                            f"{body_rows} rows, not {columns} and {len(rows) - 2}")
    if len(shown) > len(tables):
        problems.append(f"{len(shown) - len(tables)} table(s) rendered from lines that "
                        "do not begin with '|'")
    return problems


def check_markdown(cmark, path):
    lines = open(path, encoding="utf-8").read().split("\n")
    problems = []
    meant, _ = code_block_states(lines, strict=False)
    _, left_open = code_block_states(lines, strict=True)
    if left_open:
        problems.append("a code block is left open (a closing fence may hold nothing else)")
    rendered = subprocess.run([cmark, "--extension", "table", path], capture_output=True,
                              text=True, check=True).stdout
    problems += check_tables(lines, meant, rendered)
    headings = [plain(h) for h in re.findall(r"<h[1-6]>(.*?)</h[1-6]>", rendered, re.S)]
    for number, (line, in_code) in enumerate(zip(lines, meant), 1):
        heading = re.match(r"^ {0,3}#{1,6}(\s+(.*?))?\s*#*\s*$", line)
        if heading and not in_code:
            text = plain(heading.group(2) or "")
            if text not in headings:
                problems.append(f"line {number} is not rendered as a heading: {line}")
            else:
                headings.remove(text)
    return [f"{path}: {problem}" for problem in problems]


def check_options(tool, man, readme):
    help_text = subprocess.run([tool, "--help"], capture_output=True, text=True).stdout
    options = re.findall(r"^  (--[a-z-]*)", help_text, re.M)
    manual = open(man, encoding="utf-8").read().replace("\\-", "-")
    section = re.search(r"^\.SH OPTIONS\n(.*?)^\.SH ", manual, re.S | re.M)
    section = section.group(1) if section else ""
    readme_text = open(readme, encoding="utf-8").read()
    problems = [] if options else [f"`{tool} --help` lists no options"]
    for option in options:
        if not re.search(r"(^|[\s\"])" + re.escape(option) + r"($|[\s=\",])", section, re.M):
            problems.append(f"{man}: OPTIONS does not name {option}")
        if not re.search("`" + re.escape(option) + "[ `=]", readme_text):
            problems.append(f"{readme}: does not name {option}")
    return problems


def example_arguments(text, pattern):
    match = re.search(pattern, text)
    return match.group(1).split() if match else None


def check_example(tool, man, readme):
    readme_text = open(readme, encoding="utf-8").read()
    man_source = open(man, encoding="utf-8").read().replace("\\-", "-")
    arguments = example_arguments(readme_text, r"`init_bicluster ((?:--seed )?[-0-9 ]+) out\.txt`")
    if arguments is None:
        return [f"{readme}: no example command `init_bicluster ... out.txt`"]
    if example_arguments(man_source, r'init_bicluster ((?:--seed )?[-0-9 ]+) out\.txt') != arguments:
        return [f"{man}: the example command is not README's"]
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "out.txt")
        subprocess.run([tool, *arguments, path], check=True)
        written = open(path, "rb").read().decode("ascii")
    problems = []
    blocks = re.findall(r"^```\n(BICLUSTER 0\n.*?)^```$", readme_text, re.S | re.M)
    if not blocks or blocks[0] != written:
        problems.append(f"{readme}: the example block is not the file the tool writes")
    rendered = subprocess.run(["man", "-l", man], capture_output=True, text=True, check=True,
                              env={**os.environ, "MANWIDTH": "80"}).stdout.split("\n")
    expected = [line + "$" for line in written.split("\n")[:-1]]
    starts = [i for i, line in enumerate(rendered) if line.strip() == expected[0]]
    indent = rendered[starts[0]][:-len(expected[0])] if starts else ""
    shown = [line[len(indent):] for line in rendered[starts[0]:starts[0] + len(expected)]] \
        if starts else []
    if shown != expected:
        problems.append(f"{man}: the example is not the file the tool writes, as `cat -e` shows it")
    return problems


def check_figures(readme, bench_readme):
    text = open(readme, encoding="utf-8").read()
    section = re.search(r"^## Speed\n(.*?)(?=^## |\Z)", text, re.S | re.M)
    if not section:
        return [f"{readme}: no section 'Speed'"]
    block = re.search(r"^```\n(Measured (\d{4}-\d\d-\d\d) .*?)^```$",
                      open(bench_readme, encoding="utf-8").read(), re.S | re.M)
    if not block:
        return [f"{bench_readme}: no code block that begins with 'Measured YYYY-MM-DD'"]
    cells = {cell.strip() for line in block.group(1).splitlines() if line.startswith("|")
             for cell in table_cells(line)}
    problems = [] if block.group(2) in section.group(1) else [
        f"{readme}: the Speed section does not name the date of the table, {block.group(2)}"]
    figures = re.findall(r"(\d+(?:\.\d+)?)(x| ms| MiB)\b", section.group(1))
    if not figures:
        problems.append(f"{readme}: the Speed section quotes no figures")
    for number, unit in figures:
        if (number + unit if unit == "x" else number) not in cells:
            problems.append(f"{readme}: {number}{unit} is not in the table of {bench_readme}")
    return problems


def main(argv):
    if len(argv) >= 3 and argv[1] == "markdown":
        problems = [p for path in argv[3:] for p in check_markdown(argv[2], path)]
    elif len(argv) == 5 and argv[1] == "options":
        problems = check_options(*argv[2:])
    elif len(argv) == 4 and argv[1] == "figures":
        problems = check_figures(*argv[2:])
    elif len(argv) == 5 and argv[1] == "example":
        problems = check_example(*argv[2:])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
