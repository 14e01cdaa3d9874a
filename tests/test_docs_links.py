"""Every relative link in README.md and docs/ leads to a file that exists, and
every anchor to a heading of that file."""

import re
from pathlib import Path

import pytest

from conftest import ROOT

PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
LINK = re.compile(r"(?<!!)\[[^\]]*\]\(([^)\s]+)\)|!\[[^\]]*\]\(([^)\s]+)\)")


def without_code(text: str) -> str:
    """The text with fenced blocks and inline code taken out: links are not looked for there."""
    text = re.sub(r"^```.*?^```", "", text, flags=re.DOTALL | re.MULTILINE)
    return re.sub(r"`[^`\n]*`", "", text)


def anchors(page: Path) -> set[str]:
    """The anchors GitHub gives the headings of a page: lower case, punctuation dropped,
    spaces to hyphens, and -1, -2 ... after repeats."""
    found, seen = set(), {}
    text = re.sub(r"^```.*?^```", "", page.read_text(encoding="utf-8"), flags=re.DOTALL | re.MULTILINE)
    for heading in re.findall(r"^#{1,6} +(.+?) *#*$", text, re.MULTILINE):
        slug = re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        found.add(slug if count == 0 else f"{slug}-{count}")
    return found


def links(page: Path) -> list[str]:
    return [a or b for a, b in LINK.findall(without_code(page.read_text(encoding="utf-8")))]


@pytest.mark.parametrize("page", PAGES, ids=[p.relative_to(ROOT).as_posix() for p in PAGES])
def test_relative_links_and_anchors_resolve(page):
    relative = [link for link in links(page) if not re.match(r"[a-z][a-z0-9+.-]*:", link)]
    assert relative  # every page links somewhere
    broken = []
    for link in relative:
        path, _, anchor = link.partition("#")
        target = (page.parent / path).resolve() if path else page
        if not target.exists():
            broken.append(f"{link}: no such file")
        elif anchor and (target.suffix != ".md" or anchor not in anchors(target)):
            broken.append(f"{link}: no such heading")
    assert broken == []


def test_the_anchor_rule_on_headings_of_every_kind(tmp_path):
    page = tmp_path / "page.md"
    page.write_text("# A Title\n## Sources with no targets: `list.empty-source`\n## The node update's JSON text\n"
                    "## Pickling, copying and multiprocessing\n## Repeat\n## Repeat\n```\n# not a heading\n```\n",
                    encoding="utf-8")
    assert anchors(page) == {"a-title", "sources-with-no-targets-listempty-source", "the-node-updates-json-text",
                             "pickling-copying-and-multiprocessing", "repeat", "repeat-1"}
