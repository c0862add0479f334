"""The song window's sections and playlist tables and the kit change, end to end."""
import os
import shutil
import time
import unittest
from urllib.parse import unquote, urlparse

from editorcase import EditorCase, EXAMPLE_KIT
from rpdriver import song_info

# Playlist columns: section pop-up, entry name, repeats, cue point.
SECTION, NAME = 0, 1


def kit_path(info):
    return os.path.realpath(unquote(urlparse(info["kitURL"]).path).rstrip("/"))


class TablesTest(EditorCase):

    def rows(self, table):
        return self.app.wait_control(table, lambda c: c["window"] == self.window["id"])["rows"]

    def click_control(self, name):
        control = self.app.wait_control(name, lambda c: c["window"] == self.window["id"])
        self.app.click_rect(control["rect"])

    def perform_menu_item(self, menu_title, action):
        menu = next(m for m in self.app.probe()["menuBar"] if m["title"] == menu_title)
        self.app.click_rect(menu["rect"])
        item = self.app.wait(menu_title + " menu open", lambda p: next(
            (i for m in p["openMenus"] for i in m if i["action"] == action), None))
        self.app.click_rect(item["rect"])

    def test_a_new_section_with_three_repeats_lengthens_the_song(self):
        before = song_info(self.song)
        self.click_control("addSectionButton")
        # The new section is selected, has one bar in the editor and its name is being edited.
        self.app.wait("the new section's bar", lambda p: p["editor"]["totalBars"] == 1 or None)
        time.sleep(0.3)
        self.app.type_text("Bridge")
        self.app.key("Return")
        sections = self.app.wait_control("sectionsTable", lambda c: any(
            r["cells"][0] == "Bridge" and r["selected"] for r in c["rows"]))["rows"]
        self.assertEqual(len(sections), len(before["sections"]) + 1)

        self.click_control("addMarkerButton")
        entries = self.app.wait_control("layoutTable", lambda c: len(c["rows"]) == len(before["playlist"]) + 1)["rows"]
        self.assertEqual(entries[-1]["cells"][SECTION], "Bridge")
        self.assertEqual(entries[-1]["cells"][NAME], "Bridge")
        self.assertTrue(entries[-1]["selected"])
        time.sleep(0.3)
        # Leave the name as it is, step to the repeats cell and type 3 into it.
        self.app.key("Escape")
        self.app.key("Right")
        self.app.key("F2")
        time.sleep(0.3)
        self.app.key("ctrl+a")
        self.app.type_text("3")
        self.app.key("Return")
        self.app.wait_control("layoutTable", lambda c: c["rows"][-1]["cells"][2] == "3")
        self.save()

        after = song_info(self.song)
        bridge = next(i for i, s in enumerate(after["sections"]) if s["name"] == "Bridge")
        self.assertEqual(len(after["sections"][bridge]["patterns"]), 1)
        self.assertEqual(after["playlist"][-1]["name"], "Bridge")
        self.assertEqual(after["playlist"][-1]["section"], bridge)
        self.assertEqual(after["playlist"][-1]["numberOfTimes"], 3)
        self.assertEqual(after["totalBars"], before["totalBars"] + 3)
        self.assertEqual(after["playlist"][:-1], before["playlist"])

    def test_deleting_a_section_in_the_playlist_asks_and_undo_restores_it(self):
        before = song_info(self.song)
        verse = next(r for r in self.rows("sectionsTable") if r["cells"][0] == "Verse")
        self.app.click_rect(verse["rect"])
        self.app.wait_control("delSectionButton", lambda c: c["enabled"])
        self.click_control("delSectionButton")
        alert = self.app.wait_dialog(lambda d: d["text"] == "This section is currently used in the song.",
                                     "the confirmation")
        self.assertIn('"Verse" appears at least once in the playlist.', alert["informativeText"])
        self.assertEqual([b["title"] for b in alert["buttons"]], ["Delete", "Cancel"])
        self.app.screenshot("tables-delete-section")
        self.app.click_button(alert, "Delete")
        self.app.wait_no_dialog()
        self.app.focus_window(self.window)
        entries = self.app.wait_control("layoutTable", lambda c: len(c["rows"]) == len(before["playlist"]) - 2)["rows"]
        self.assertNotIn("Verse", [r["cells"][SECTION] for r in entries])
        self.assertNotIn("Verse", [r["cells"][0] for r in self.rows("sectionsTable")])

        self.app.key("ctrl+z")
        entries = self.app.wait_control("layoutTable", lambda c: len(c["rows"]) == len(before["playlist"]))["rows"]
        self.assertEqual([r["cells"][NAME] for r in entries], [e["name"] for e in before["playlist"]])
        self.assertEqual([r["cells"][0] for r in self.rows("sectionsTable")], [s["name"] for s in before["sections"]])
        # Back where it was saved: nothing left to save.
        self.app.wait("the window clean again", lambda p: not self.song_window(p)["modified"] or None)

    def test_undoing_a_kit_change_brings_the_old_kit_back(self):
        old_kit = kit_path(song_info(self.song))
        new_kit = os.path.join(self.work, "Second Kit.rpkit")
        shutil.copytree(os.path.join(self.work, EXAMPLE_KIT), new_kit)

        self.perform_menu_item("Song", "changeDrumKitAction:")
        self.app.choose_file_in_dialog(new_kit)
        self.app.wait_no_dialog()
        self.app.focus_window(self.window)
        self.app.wait_control("drumKitName", lambda c: c["text"] == "Second Kit")
        self.save()
        self.assertEqual(kit_path(song_info(self.song)), os.path.realpath(new_kit))

        menu = next(m for m in self.app.probe()["menuBar"] if m["title"] == "Edit")
        undo = next(i for i in menu["items"] if i["action"] == "undo:")
        self.assertTrue(undo["enabled"], undo)
        self.perform_menu_item("Edit", "undo:")
        self.app.wait_control("drumKitName", lambda c: c["text"] == "Rattlepan Standard Kit")
        self.save()
        self.assertEqual(kit_path(song_info(self.song)), old_kit)


if __name__ == "__main__":
    unittest.main()
