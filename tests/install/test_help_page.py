#!/usr/bin/python3
"""Checks the help page that ships in the program folder's help/.

Usage: test_help_page.py SOURCE_DIR

- it is UTF-8 HTML that opens on a machine without network: no scripts, style sheets, pictures
  or fonts from elsewhere, and every in-page link has its target;
- every caption it quotes from the program (marked <span class="ui">, with <u>X</u> for the
  underlined mnemonic that the source writes as &X) is the program's own text, code point for
  code point, so a half-width katakana caption that an editor widened is caught;
- every menu command and command button of the main window is explained.
"""
import html
import html.parser
import pathlib
import re
import sys
import unittest

SOURCE_DIR = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else ".").resolve()
HELP_DIR = SOURCE_DIR / "resources" / "help"
PROGRAM_DIRS = ["app", "mainwindow", "capture", "detection", "mail", "ftp", "sound", "settings"]
VOID = {"meta", "br", "hr", "img", "input", "link", "col", "wbr", "source", "area", "base"}


def program_text():
    parts = []
    for d in PROGRAM_DIRS:
        for f in sorted((SOURCE_DIR / d).glob("*")):
            if f.suffix in (".cpp", ".h"):
                parts.append(f.read_text(encoding="utf-8"))
    return "\n".join(parts)


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack = []
        self.errors = []
        self.ids = set()
        self.links = []
        self.external = []
        self.captions = []
        self._ui_depth = None
        self._ui_text = []
        self.charset = None
        self.lang = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "html":
            self.lang = a.get("lang")
        if tag == "meta" and "charset" in a:
            self.charset = a["charset"].lower()
        if "id" in a:
            if a["id"] in self.ids:
                self.errors.append("duplicate id " + a["id"])
            self.ids.add(a["id"])
        for name in ("src", "href", "data", "poster", "srcset", "action"):
            if name in a:
                value = a[name] or ""
                if name == "href" and value.startswith("#"):
                    self.links.append(value[1:])
                else:
                    self.external.append(f"<{tag} {name}={value}>")
        if tag in ("script", "link", "iframe", "object", "embed", "img"):
            self.external.append(f"<{tag}>")
        if "style" in a and re.search(r"url\(|@import", a["style"]):
            self.external.append(f"<{tag} style={a['style']}>")
        if tag == "u" and self._ui_depth is not None:
            self._ui_text.append("&")
        if tag == "span" and "ui" in (a.get("class") or "").split():
            if self._ui_depth is not None:
                self.errors.append("nested caption")
            self._ui_depth = len(self.stack)
            self._ui_text = []
        if tag not in VOID:
            self.stack.append(tag)

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        if not self.stack or self.stack[-1] != tag:
            self.errors.append(f"</{tag}> does not close <{self.stack[-1] if self.stack else ''}>"
                               f" (line {self.getpos()[0]})")
            return
        self.stack.pop()
        if self._ui_depth is not None and len(self.stack) == self._ui_depth:
            self.captions.append("".join(self._ui_text))
            self._ui_depth = None

    def handle_data(self, data):
        if self._ui_depth is not None:
            self._ui_text.append(data)


class HelpPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.raw = (HELP_DIR / "index.html").read_bytes()
        cls.text = cls.raw.decode("utf-8")  # strict: a stray Shift-JIS byte fails here
        cls.page = Page()
        cls.page.feed(cls.text)
        cls.page.close()
        cls.program = program_text()

    def test_encoding_and_language(self):
        self.assertFalse(self.raw.startswith(b"\xef\xbb\xbf"), "no byte-order mark")
        self.assertEqual(self.page.charset, "utf-8")
        self.assertEqual(self.page.lang, "ja")

    def test_well_formed_and_self_contained(self):
        self.assertEqual(self.page.errors, [])
        self.assertEqual(self.page.stack, [], "unclosed elements")
        self.assertEqual(self.page.external, [], "the page must not load anything from elsewhere")
        self.assertNotRegex(self.text, r"@import|url\(", "style sheets stay inline")
        missing = sorted(set(self.page.links) - self.page.ids)
        self.assertEqual(missing, [], "in-page links without a target")

    def test_quoted_captions_are_the_programs_own(self):
        captions = [html.unescape(c) for c in self.page.captions]
        self.assertGreater(len(captions), 100)
        unknown = sorted({c for c in captions if c not in self.program})
        self.assertEqual(unknown, [], "captions that the program does not show")

    def test_every_main_window_command_is_explained(self):
        main_window = "\n".join(f.read_text(encoding="utf-8")
                                for f in sorted((SOURCE_DIR / "mainwindow").glob("*.cpp")))
        commands = set(re.findall(r'Item\([^,]+,\s*"[^"]+",\s*QStringLiteral\("([^"]+)"\)',
                                  main_window))
        commands |= set(re.findall(r'CommandButton\([^,]+,\s*"[^"]+",\s*QStringLiteral\("([^"]+)"\)',
                                   main_window))
        # Sanity of the extraction itself: the menu and the seven buttons.
        self.assertGreaterEqual(len(commands), 20, commands)
        captions = {html.unescape(c) for c in self.page.captions}
        self.assertEqual(sorted(commands - captions), [], "commands the help does not mention")


if __name__ == "__main__":
    unittest.main(verbosity=2)
