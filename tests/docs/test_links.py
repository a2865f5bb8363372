"""Every relative link of README.md, CHANGELOG.md and docs/*.md resolves: the
file it names exists and, for a #anchor, so does the heading, by the anchors
GitHub and most renderers derive from headings.

    test_links.py [FILE.md...]   checks those files instead, naming each broken link
"""
import pathlib
import re
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]

FENCE = re.compile(r"^\s*(```|~~~)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
INLINE_CODE = re.compile(r"`+[^`]*`+")
LINK = re.compile(r"\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s*\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+.*)?$")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:|^//")


def prose_lines(text):
    """The lines outside fenced code blocks, with their numbers."""
    fenced = False
    for number, line in enumerate(text.splitlines(), 1):
        if FENCE.match(line):
            fenced = not fenced
        elif not fenced:
            yield number, line


def anchor_of(heading):
    """The anchor of a heading's text: lower case, markup and punctuation gone, spaces as hyphens."""
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link keeps its text
    text = re.sub(r"[^\w\- ]", "", text.lower())
    return text.replace(" ", "-")


def anchors(path):
    """Every anchor of a Markdown file; a repeated heading's gets -1, -2, ..."""
    seen, found = {}, set()
    for _, line in prose_lines(path.read_text(encoding="utf-8")):
        match = HEADING.match(line)
        if not match:
            continue
        anchor = anchor_of(match.group(2))
        count = seen.get(anchor, 0)
        seen[anchor] = count + 1
        found.add(anchor if count == 0 else "%s-%d" % (anchor, count))
    return found


def links(path):
    """(line number, target) of every link in the file's prose."""
    for number, line in prose_lines(path.read_text(encoding="utf-8")):
        bare = INLINE_CODE.sub("", line)
        for match in LINK.finditer(bare):
            yield number, match.group(1)
        reference = REFERENCE.match(bare)
        if reference:
            yield number, reference.group(1)


def broken_links(path):
    """'file:line: target: why' for each relative link of the file that does not resolve."""
    problems = []
    for number, target in links(path):
        if SCHEME.match(target):
            continue
        file_part, _, anchor = target.partition("#")
        linked = (path.parent / file_part).resolve() if file_part else path
        where = "%s:%d: %s" % (path, number, target)
        if not linked.exists():
            problems.append(where + ": no such file")
        elif anchor and linked.suffix == ".md" and anchor not in anchors(linked):
            problems.append(where + ": no heading with that anchor")
    return problems


def project_pages():
    return [ROOT / "README.md", ROOT / "CHANGELOG.md"] + sorted((ROOT / "docs").glob("*.md"))


class Links(unittest.TestCase):
    def test_the_project_pages_resolve(self):
        pages = project_pages()
        for page in pages:
            self.assertTrue(page.is_file(), page)
        self.assertEqual([], [problem for page in pages for problem in broken_links(page)])
        # Each page that links anywhere was read as linking: the parser sees its links.
        self.assertGreater(len(list(links(ROOT / "README.md"))), 5)

    def test_broken_links_are_found(self):
        page = """# Top

## The `list --json` keys, and more!

## Twice
## Twice

[ok](#top) [ok](#the-list---json-keys-and-more) [ok](#twice-1) [ok](other.md#a-b)
[ok](sub/) [ok](https://example.com/missing) [ok](mailto:x@example.com)
`[not a link](missing.md)`
```
[not a link](missing.md)
```
[bad](missing.md) [bad](#nowhere) [bad](other.md#top) [bad](#twice-2)
[bad]: missing-reference.md
"""
        with tempfile.TemporaryDirectory() as folder:
            folder = pathlib.Path(folder)
            (folder / "sub").mkdir()
            (folder / "other.md").write_text("# A: b\n")
            (folder / "page.md").write_text(page)
            found = [problem.split(": ", 1)[1] for problem in broken_links(folder / "page.md")]
        self.assertEqual(found, ["missing.md: no such file", "#nowhere: no heading with that anchor",
                                 "other.md#top: no heading with that anchor", "#twice-2: no heading with that anchor",
                                 "missing-reference.md: no such file"])


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        problems = [problem for name in sys.argv[1:] for problem in broken_links(pathlib.Path(name))]
        print("\n".join(problems) or "every relative link resolves")
        sys.exit(1 if problems else 0)
    unittest.main()
