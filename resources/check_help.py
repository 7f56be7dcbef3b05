#!/usr/bin/env python3
"""Checks the help pages: well-formed HTML, local links and pictures that resolve, and the same
sections in every language.

usage: check_help.py HELP_DIR      check resources/help/
       check_help.py --self-test   make sure the checks catch broken pages
"""

import html.parser
import os
import sys
import tempfile
import urllib.parse
import xml.etree.ElementTree as ElementTree

LANGUAGES = ("en", "ja")
VOID_TAGS = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
             "source", "track", "wbr"}


class Page(html.parser.HTMLParser):
    """One parsed page: its ids, its references and the structural errors found."""

    def __init__(self, path):
        super().__init__(convert_charrefs=True)
        self.path = path
        self.ids = []
        self.refs = []  # (tag, attribute, value, line)
        self.errors = []
        self.images_without_alt = []
        self.html_lang = None
        self._open = []  # (tag, line)

    def _error(self, message):
        self.errors.append(f"{self.path}:{self.getpos()[0]}: {message}")

    def handle_starttag(self, tag, attrs):
        self._attributes(tag, attrs)
        if tag not in VOID_TAGS:
            self._open.append((tag, self.getpos()[0]))

    def handle_startendtag(self, tag, attrs):
        self._attributes(tag, attrs)

    def _attributes(self, tag, attrs):
        values = dict(attrs)
        if tag == "html":
            self.html_lang = values.get("lang")
        if "id" in values:
            self.ids.append(values["id"])
        for name in ("href", "src"):
            if values.get(name) is not None:
                self.refs.append((tag, name, values[name], self.getpos()[0]))
        if tag == "img" and not values.get("alt"):
            self.images_without_alt.append(self.getpos()[0])

    def handle_endtag(self, tag):
        if tag in VOID_TAGS:
            self._error(f"</{tag}> closes an element that has no end")
            return
        if not self._open:
            self._error(f"</{tag}> without an open element")
            return
        top, line = self._open[-1]
        if top != tag:
            self._error(f"</{tag}> closes <{top}> opened on line {line}")
            # Resynchronise on the matching element so one slip gives one message.
            for depth in range(len(self._open) - 1, -1, -1):
                if self._open[depth][0] == tag:
                    del self._open[depth:]
                    return
            return
        self._open.pop()

    def finish(self):
        self.close()
        for tag, line in self._open:
            self.errors.append(f"{self.path}:{line}: <{tag}> is never closed")
        self._open = []


def parse_page(path):
    page = Page(path)
    with open(path, encoding="utf-8") as f:
        page.feed(f.read())
    page.finish()
    return page


def check_help(help_dir):
    """Returns a list of problems; empty when the pages are sound."""
    problems = []
    help_root = os.path.realpath(help_dir)
    pages = {}
    for language in LANGUAGES:
        path = os.path.join(help_root, language, "index.html")
        if not os.path.isfile(path):
            problems.append(f"{path}: missing")
            continue
        try:
            pages[language] = parse_page(path)
        except UnicodeDecodeError as e:
            problems.append(f"{path}: not UTF-8 ({e})")

    ids_by_path = {os.path.realpath(p.path): set(p.ids) for p in pages.values()}
    referenced = set()
    for language, page in pages.items():
        problems.extend(page.errors)
        if page.html_lang != language:
            problems.append(f"{page.path}: <html lang> is {page.html_lang!r}, not {language!r}")
        seen = set()
        for element_id in page.ids:
            if element_id in seen:
                problems.append(f"{page.path}: id {element_id!r} is used twice")
            seen.add(element_id)
        for line in page.images_without_alt:
            problems.append(f"{page.path}:{line}: <img> without alt text")
        for tag, attribute, value, line in page.refs:
            problems.extend(check_reference(page, help_root, tag, attribute, value, line,
                                            ids_by_path, referenced))

    if len(pages) == len(LANGUAGES):
        first, *others = LANGUAGES
        for other in others:
            # Same sections in the same order, so the languages cannot drift apart.
            if pages[first].ids != pages[other].ids:
                only_first = [i for i in pages[first].ids if i not in pages[other].ids]
                only_other = [i for i in pages[other].ids if i not in pages[first].ids]
                problems.append(
                    f"sections differ between {first} and {other}: only in {first} "
                    f"{only_first}, only in {other} {only_other}"
                    + ("" if only_first or only_other else " (same ids, other order)"))

    for directory, _, files in os.walk(help_root):
        for name in files:
            full = os.path.realpath(os.path.join(directory, name))
            if name.endswith(".svg"):
                try:
                    ElementTree.parse(full)
                except ElementTree.ParseError as e:
                    problems.append(f"{full}: not well-formed SVG ({e})")
                if full not in referenced:
                    problems.append(f"{full}: not shown by any page")
    return problems


def check_reference(page, help_root, tag, attribute, value, line, ids_by_path, referenced):
    where = f"{page.path}:{line}: <{tag} {attribute}={value!r}>"
    parsed = urllib.parse.urlsplit(value)
    if parsed.scheme or parsed.netloc:
        if parsed.scheme in ("http", "https", "mailto"):
            return []
        return [f"{where}: only local files and web addresses belong in the help"]
    if not parsed.path:
        if parsed.fragment not in ids_by_path[os.path.realpath(page.path)]:
            return [f"{where}: no element with this id"]
        return []
    target = os.path.realpath(
        os.path.join(os.path.dirname(page.path), urllib.parse.unquote(parsed.path)))
    if os.path.commonpath([help_root, target]) != help_root:
        return [f"{where}: points outside the help folder"]
    if not os.path.isfile(target):
        return [f"{where}: no such file"]
    referenced.add(target)
    if parsed.fragment and parsed.fragment not in ids_by_path.get(target, set()):
        return [f"{where}: the page has no element with this id"]
    return []


GOOD_PAGE = """<!DOCTYPE html>
<html lang="{lang}"><head><meta charset="utf-8"><title>t</title>
<link rel="stylesheet" href="../help.css"></head>
<body><h1 id="top">t</h1><p><a href="#top">top</a> <a href="../{other}/index.html#top">x</a></p>
<img src="../images/a.svg" alt="a"><p><a href="https://example.org/">web</a></p></body></html>
"""


def self_test():
    """Each broken variant of a sound pair of pages must be reported; returns failures."""
    cases = [
        ("sound pages", {}, None),
        ("unclosed element", {"en": GOOD_PAGE.replace("</body></html>", "")}, "never closed"),
        ("crossed elements", {"en": GOOD_PAGE.replace("<h1 id=\"top\">t</h1>",
                                                      "<h1 id=\"top\"><b>t</h1></b>")},
         "closes <b>"),
        ("missing picture", {"ja": GOOD_PAGE.replace("a.svg", "b.svg")}, "no such file"),
        ("missing stylesheet", {"en": GOOD_PAGE.replace("../help.css", "help.css")},
         "no such file"),
        ("link to a missing section", {"en": GOOD_PAGE.replace("href=\"#top\"", "href=\"#nope\"")},
         "no element with this id"),
        ("link to another page's missing section",
         {"ja": GOOD_PAGE.replace("index.html#top", "index.html#gone")},
         "page has no element with this id"),
        ("sections differ", {"ja": GOOD_PAGE.replace("<p><a href=\"https",
                                                     "<p id=\"extra\"><a href=\"https")},
         "sections differ"),
        ("duplicate id", {"en": GOOD_PAGE.replace("<p><a href=\"#top\"", "<p id=\"top\"><a href=\"#top\"")},
         "used twice"),
        ("picture without alt", {"en": GOOD_PAGE.replace(" alt=\"a\"", "")}, "without alt"),
        ("escape from the help folder",
         {"en": GOOD_PAGE.replace("../help.css", "../../outside.css")}, "outside the help folder"),
        ("wrong language", {"ja": GOOD_PAGE.replace("lang=\"{lang}\"", "lang=\"en\"")},
         "<html lang>"),
        ("unused picture", {"svg:b.svg": "<svg xmlns='http://www.w3.org/2000/svg'/>"},
         "not shown by any page"),
        ("broken picture", {"svg:a.svg": "<svg><g></svg>"}, "not well-formed SVG"),
        ("local file scheme", {"en": GOOD_PAGE.replace("https://example.org/", "file:///etc/passwd")},
         "only local files"),
    ]
    failures = []
    for name, changes, expected in cases:
        with tempfile.TemporaryDirectory() as root:
            help_dir = os.path.join(root, "help")
            os.makedirs(os.path.join(help_dir, "images"))
            open(os.path.join(root, "outside.css"), "w").close()
            open(os.path.join(help_dir, "help.css"), "w").close()
            files = {"svg:a.svg": "<svg xmlns='http://www.w3.org/2000/svg'/>"}
            for lang in LANGUAGES:
                files[lang] = GOOD_PAGE
            files.update(changes)
            for key, text in files.items():
                if key.startswith("svg:"):
                    path = os.path.join(help_dir, "images", key[4:])
                else:
                    os.makedirs(os.path.join(help_dir, key), exist_ok=True)
                    path = os.path.join(help_dir, key, "index.html")
                    other = "ja" if key == "en" else "en"
                    text = text.replace("{lang}", key).replace("{other}", other)
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text)
            problems = check_help(help_dir)
            if expected is None and problems:
                failures.append(f"{name}: unexpected problems {problems}")
            elif expected is not None and not any(expected in p for p in problems):
                failures.append(f"{name}: expected a problem with {expected!r}, got {problems}")
    return failures


def main(argv):
    if len(argv) == 2 and argv[1] == "--self-test":
        failures = self_test()
    elif len(argv) == 2:
        failures = check_help(argv[1])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
