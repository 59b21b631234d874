"""The text-replacements mode: the live rows of the replacement database under $HOME."""

import json
import os
import sqlite3
import tempfile
import unittest

from harness import main, run_mode


class TextReplacements(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.TemporaryDirectory()
        self.env = dict(os.environ, HOME=self.home.name)
        self.folder = os.path.join(self.home.name, "Library", "KeyboardServices")
        os.makedirs(self.folder)
        self.path = os.path.join(self.folder, "TextReplacements.db")

    def tearDown(self):
        self.home.cleanup()

    def database(self, rows, schema="ZSHORTCUT TEXT, ZPHRASE TEXT, ZWASDELETED INTEGER"):
        with sqlite3.connect(self.path) as db:
            db.execute(f"CREATE TABLE ZTEXTREPLACEMENTENTRY (Z_PK INTEGER PRIMARY KEY, {schema})")
            for row in rows:
                marks = ", ".join("?" * len(row))
                db.execute(f"INSERT INTO ZTEXTREPLACEMENTENTRY VALUES (NULL, {marks})", row)
        db.close()

    def test_live_rows_in_order_without_deleted_or_null_ones(self):
        self.database([("omw", "On my way!", 0), ("gone", "deleted", 1), (None, "no shortcut", 0),
                       ("brb", None, 0), ("é", "ünï \"quoted\"\n", 0), ("", "", 0)])
        result = run_mode("text-replacements", env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(result.stdout.endswith(b"\n"))
        self.assertEqual(json.loads(result.stdout), [
            {"abbreviation": "omw", "content": "On my way!"},
            {"abbreviation": "é", "content": "ünï \"quoted\"\n"},
            {"abbreviation": "", "content": ""},
        ])
        self.assertIn("ünï".encode(), result.stdout, "text is written as UTF-8, compactly")
        self.assertNotIn(b", ", result.stdout)

    def test_an_empty_table_prints_an_empty_list(self):
        self.database([])
        result = run_mode("text-replacements", env=self.env)
        self.assertEqual((result.returncode, result.stdout), (0, b"[]"))

    def test_a_missing_or_unreadable_database_exits_2_silently(self):
        missing = run_mode("text-replacements", env=self.env)
        self.assertEqual((missing.returncode, missing.stdout), (2, b""))
        self.assertFalse(os.path.exists(self.path), "opening read-only must not create the file")
        with open(self.path, "wb") as garbage:
            garbage.write(b"not a database at all" * 100)
        self.assertEqual(run_mode("text-replacements", env=self.env).returncode, 2)
        os.remove(self.path)
        self.database([("a", "b")], schema="ZSHORTCUT TEXT, ZPHRASE TEXT")
        self.assertEqual(run_mode("text-replacements", env=self.env).returncode, 2)


if __name__ == "__main__":
    main()
