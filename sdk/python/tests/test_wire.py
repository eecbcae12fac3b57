"""Framing, escaping, call parsing and JSON text: the parts that must never
split, lose or corrupt a line."""

import json
import unittest

from ovalis import lines
from ovalis.wire import (LineFramer, event_json, json_dump, one_line, parse_call, parse_got, wire_escape,
                         wire_unescape)

HOSTILE = 'tab\there\nline\rcr back\\slash \\n "q" nul\x00 \u2028 </script> é 😀 end\\'


class Framing(unittest.TestCase):
    def test_lines_cut_across_reads_and_empty_lines_dropped(self) -> None:
        f = LineFramer()
        self.assertEqual(list(f.feed(b"QU")), [])
        self.assertEqual(list(f.feed(b"IT\n\n\nGOT 1 null\r\nGOT 2 ")), ["QUIT", "GOT 1 null\r"])
        self.assertEqual(f.pending, 6)
        # A character split between reads is whole once both halves are there.
        e = "é".encode()
        self.assertEqual(list(f.feed(b"\"" + e[:1])), [])
        self.assertEqual(list(f.feed(e[1:] + b"\"\n")), ['GOT 2 "é"'])
        # Bytes that are not UTF-8 are replaced, never fatal.
        self.assertEqual(list(f.feed(b"SYS \xff\n")), ["SYS \ufffd"])


class Escaping(unittest.TestCase):
    def test_escape_round_trips_and_leaves_no_line_break_or_tab(self) -> None:
        esc = wire_escape(HOSTILE)
        self.assertNotIn("\n", esc)
        self.assertNotIn("\r", esc)
        self.assertNotIn("\t", esc)
        self.assertEqual(wire_unescape(esc), HOSTILE)
        self.assertEqual(wire_unescape("\\n\\\\x"), "\n\\x")
        self.assertEqual(wire_unescape("end\\"), "end\\")

    def test_plain_fields_flatten_controls(self) -> None:
        self.assertEqual(one_line("a\tb\nc\x7fd"), "a b c d")
        self.assertEqual(lines.winopen(lines.WindowSpec(id="a'b")), "")
        self.assertEqual(lines.winopen(lines.WindowSpec(id="main")), "")
        self.assertEqual(lines.get("id with\nblank", "k"), "GET id_with_blank k")
        self.assertEqual(lines.title("bad window", "x"), "")

    def test_json_dump_is_one_line_and_always_json(self) -> None:
        text = json_dump({"t": HOSTILE, "nan": float("nan"), "inf": [float("inf")]})
        self.assertNotIn("\n", text)
        self.assertEqual(json.loads(text), {"t": HOSTILE, "nan": None, "inf": [None]})


class Calls(unittest.TestCase):
    def test_a_call_line_decodes(self) -> None:
        payload = json.dumps({"method": "store.get", "params": {"key": HOSTILE}})
        c = parse_call("win:2:17 " + json.dumps([payload, "file://"]))
        assert c is not None
        self.assertEqual((c.call_id, c.window, c.origin, c.method), ("win:2:17", "win:2", "file://", "store.get"))
        self.assertEqual(c.params, {"key": HOSTILE})
        self.assertEqual(c.error, "")

    def test_bad_calls_keep_an_id_to_answer_or_none(self) -> None:
        for rest, error in [("main:1", "call without a payload"), ("main:1 {oops", "malformed call line"),
                            ('main:1 ["[1]"]', "call payload is not a JSON object"),
                            ('main:1 ["{\\"params\\":1}"]', "call without a method")]:
            c = parse_call(rest)
            assert c is not None
            self.assertEqual((c.call_id, c.error), ("main:1", error))
        for rest in ["", "nocolon []", "main: []"]:
            self.assertIsNone(parse_call(rest))

    def test_got_and_event_json(self) -> None:
        g = parse_got('7 {"ok":true}')
        assert g is not None
        self.assertEqual((g.id, g.value, g.parsed), ("7", {"ok": True}, True))
        bad = parse_got("8 {")
        assert bad is not None
        self.assertFalse(bad.parsed)
        self.assertIsNone(parse_got("9"))
        self.assertEqual(event_json('second {"x":1}'), {"x": 1})
        self.assertEqual(event_json("n1\topen\t"), None)


class Menus(unittest.TestCase):
    def test_the_edit_menu_carries_its_stock_entries(self) -> None:
        # The launcher drops an Edit menu without entries: a bare edit role
        # gets the usual ones, and a menu's own entries follow its role.
        M, I = lines.Menu, lines.MenuItem
        self.assertEqual(lines.menubar("", [M(title="File", items=[I.item("q", "Quit", "Q")]), M(role="edit")]),
                         ["MENUBEGIN", "MENU File", "ITEM q\tQuit\tQ\t\t", "MENUROLE edit", "ROLEITEM standard",
                          "MENUEND"])
        self.assertEqual(lines.menubar("w2", [M(role="edit", items=[I.stock("copy"), I.stock("paste")])]),
                         ["MENUBEGIN@w2", "MENUROLE edit", "ROLEITEM copy", "ROLEITEM paste", "MENUEND"])


if __name__ == "__main__":
    unittest.main()
