"""End-to-end: the application shell drives songs as a user would (launch, save, relaunch, kits)."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from rpdriver import App, BUILD, RESOURCES, read_defaults, song_info  # noqa: E402

FIXTURES = os.path.join(BUILD, "tests", "rp-e2e-fixtures")

EXAMPLES = os.path.join(RESOURCES, "Examples")
EXAMPLE_SONG = os.path.join(EXAMPLES, "Rattlepan Example Song.rpsong")
EXAMPLE_KIT = os.path.join(EXAMPLES, "Rattlepan Standard Kit.rpkit")


def getfattr(path):
    out = subprocess.run(["getfattr", "-d", "-m", "-", "--absolute-names", path],
                         capture_output=True, text=True, timeout=20)
    return out.stdout


class ShellTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="rp-e2e-")
        self.apps = []

    def tearDown(self):
        for app in self.apps:
            app.cleanup()
        shutil.rmtree(self.work, ignore_errors=True)

    def launch(self, *args, **kwargs):
        app = App(args, **kwargs)
        self.apps.append(app)
        return app

    def test_first_launch_welcomes_and_opens_the_example_song(self):
        app = self.launch(first_launch=True)
        window = app.wait_song_window("Rattlepan Example Song")
        self.assertTrue(window["path"].endswith("Rattlepan Example Song.rpsong"))
        alert = app.wait_dialog(lambda d: d["text"] == "Welcome to Rattlepan!", "the welcome alert")
        self.assertIn("User's Guide", alert["informativeText"])
        self.assertEqual(alert["suppression"]["checked"], True)
        app.screenshot("shell-welcome")
        app.click_button(alert, "OK")
        app.wait_no_dialog()
        # The song's bars, sections and playlist are on show, not blank.
        probe = app.probe()
        self.assertGreater(len(app.control("layoutTable", probe)["rows"]), 3)
        self.assertIn("bars", app.control("durationText", probe)["text"])
        app.screenshot("shell-example-song")
        app.quit()
        # The box stayed ticked, so the build is recorded and the welcome will not come again.
        self.assertGreater(read_defaults(app.defaults_dir).get("RPBuildIdentifier", 0), 0)

    def test_save_as_rename_save_and_reopen_with_frame(self):
        app = self.launch(EXAMPLE_SONG)
        window = app.wait_song_window("Rattlepan Example Song")
        target = os.path.join(self.work, "My Groove.rpsong")
        app.focus_window(window)
        app.key("ctrl+shift+s")
        app.choose_file_in_dialog(target)
        app.wait_song_window("My Groove")
        name = app.wait_control("songName")
        app.focus_window(app.wait_song_window("My Groove"))
        app.click_rect(name["rect"])
        app.key("ctrl+a")
        app.type_text("Friday Night Groove")
        app.key("Tab")
        app.wait("the window marked edited", lambda p: app.song_windows(p)[0]["modified"])
        app.key("ctrl+s")
        app.wait("the window saved", lambda p: not app.song_windows(p)[0]["modified"])
        self.assertEqual(song_info(target)["name"], "Friday Night Groove")
        self.assertIn("NSWindow Frame", getfattr(target))
        frame = app.song_windows()[0]["contentRect"]
        app.screenshot("shell-saved")
        self.assertEqual(app.quit(), 0)

        again = self.launch(defaults_dir=app.defaults_dir)
        reopened = again.wait_song_window("My Groove")
        self.assertEqual(reopened["contentRect"], frame)
        self.assertEqual(again.control("songName")["text"], "Friday Night Groove")

    def test_revert_and_close_ask_before_dropping_changes(self):
        song = os.path.join(self.work, "Draft.rpsong")
        shutil.copy(EXAMPLE_SONG, song)
        app = self.launch(song)
        window = app.wait_song_window("Draft")
        app.focus_window(window)

        def rename(text):
            app.click_rect(app.wait_control("songName")["rect"])
            app.key("ctrl+a")
            app.type_text(text)
            app.key("Tab")
            app.wait("the window marked edited", lambda p: app.song_windows(p)[0]["modified"])

        rename("Scratch")
        menu = next(m for m in app.probe()["menuBar"] if m["title"] == "File")
        revert = next(i for i in menu["items"] if i["action"] == "revertDocumentToSaved:")
        self.assertTrue(revert["enabled"])
        app.click_rect(menu["rect"])
        item = app.wait("the File menu open", lambda p: next(
            (i for m in p["openMenus"] for i in m if i["action"] == "revertDocumentToSaved:"), None))
        app.click_rect(item["rect"])
        alert = app.wait_dialog(lambda d: d["text"].startswith("Do you want to revert"), "the revert question")
        self.assertEqual(alert["informativeText"], "Your current changes will be lost.")
        app.click_button(alert, "Revert")
        app.wait_control("songName", lambda c: c["text"] == "Rattlepan Example Song")
        app.wait("the window clean again", lambda p: not app.song_windows(p)[0]["modified"])

        rename("Scratch again")
        app.key("ctrl+w")
        alert = app.wait_dialog(lambda d: d["text"].startswith("Do you want to save the changes"), "the save question")
        self.assertEqual([b["title"] for b in alert["buttons"]], ["Save", "Don't Save", "Cancel"])
        app.click_button(alert, "Cancel")
        app.wait_no_dialog()
        self.assertEqual(len(app.song_windows()), 1)
        app.focus_window(app.song_windows()[0])
        app.key("ctrl+w")
        alert = app.wait_dialog(lambda d: d["text"].startswith("Do you want to save the changes"), "the save question")
        app.click_button(alert, "Don't Save")
        # Closing the last window ends the program; the file was never written.
        self.assertEqual(app.wait_exit(), 0)
        self.assertEqual(song_info(song)["name"], "Rattlepan Example Song")
        # The document of the last window closed is the one that reopens.
        again = self.launch(defaults_dir=app.defaults_dir)
        again.wait_song_window("Draft")

    def test_missing_kit_and_cancel_gives_no_kit_error(self):
        song = os.path.join(self.work, "Lonely.rpsong")
        kit = os.path.join(self.work, "Gone Kit.rpkit")
        shutil.copytree(EXAMPLE_KIT, kit)
        subprocess.run([FIXTURES, "repoint", EXAMPLE_SONG, kit, song], check=True, timeout=60)
        shutil.rmtree(kit)
        app = self.launch(song)
        alert = app.wait_dialog(lambda d: d["text"] == "Can't find drum kit 'Gone Kit.rpkit'", "the kit alert")
        self.assertEqual([b["title"] for b in alert["buttons"]], ["Choose...", "Cancel"])
        app.click_button(alert, "Choose...")
        app.wait_dialog(lambda d: d["kind"] != "alert", "the kit chooser")
        app.key("Escape")
        error = app.wait_dialog(lambda d: "no drum kit was assigned" in d["text"], "the 1002 alert")
        self.assertEqual(error["text"], "'Lonely.rpsong' couldn't be opened because no drum kit was assigned.")
        self.assertIn("No drum kit was assigned.", error["informativeText"])
        self.assertIn("To open this song, you must choose a drum kit to use with it.", error["informativeText"])
        app.screenshot("shell-no-kit")
        app.click_button(error, "OK")
        # No window for the song: only the untitled song the application opens when nothing else is.
        time.sleep(0.5)
        self.assertFalse(any(w["path"] == song for w in app.song_windows()))

    def test_renamed_drum_is_reconciled_and_the_choice_remembered(self):
        kit = os.path.join(self.work, "Studio Kit.rpkit")
        song = os.path.join(self.work, "Reconcile Me.rpsong")
        subprocess.run([FIXTURES, "repoint", EXAMPLE_SONG, EXAMPLE_KIT, song], check=True, timeout=60)
        # The song's stored kit is the example kit; a kit of the same name beside the song is not
        # consulted while the stored one loads, so point the song at a kit whose "snare (rim)" is
        # now called "snare (rimshot)".
        subprocess.run([FIXTURES, "rename-drum", EXAMPLE_KIT, kit, "snare", "rim", "rimshot"], check=True, timeout=60)
        subprocess.run([FIXTURES, "repoint", song, kit, song], check=True, timeout=60)
        app = self.launch(song)
        panel = app.wait_dialog(lambda d: d["kind"] == "reconcile", "the reconcile panel")
        self.assertEqual(panel["title"], "Reconcile Drum Kit")
        ok = next(b for b in panel["buttons"] if b["title"] == "OK")
        self.assertFalse(ok["enabled"], "OK must wait until every drum has a replacement")
        app.screenshot("shell-reconcile")
        table = app.wait_control("replaceTable")
        self.assertEqual(table["rows"][0]["cells"][0], "snare (rim)")
        self.assertEqual(table["rows"][0]["cells"][1], "")
        app.click_rect(table["rows"][0]["rect"])
        picker = app.wait_control("reconcileDrumPicker", lambda c: "snare (rimshot)" in c["items"])
        # Open the picker and close it again to give it the keyboard, then step down to the drum.
        app.click_rect(picker["rect"])
        time.sleep(0.4)
        app.key("Escape")
        for _ in range(picker["items"].index("snare (rimshot)") + 1):
            app.key("Down")
        app.wait_control("replaceTable", lambda c: c["rows"][0]["cells"][1] == "snare (rimshot)")
        panel = app.wait_dialog(lambda d: d["kind"] == "reconcile" and
                                next(b for b in d["buttons"] if b["title"] == "OK")["enabled"], "OK enabled")
        app.click_button(panel, "OK")
        app.wait_song_window("Reconcile Me")
        app.quit()
        cache = read_defaults(app.defaults_dir)["RPReconcileCacheByType"]
        choice = cache["snare"]["rim"][0]
        self.assertEqual((choice["type"], choice["variant"]), ("snare", "rimshot"))

        # Next time the remembered choice is proposed: the panel comes up with OK already enabled.
        again = self.launch(song, defaults_dir=app.defaults_dir)
        panel = again.wait_dialog(lambda d: d["kind"] == "reconcile", "the reconcile panel again")
        self.assertTrue(next(b for b in panel["buttons"] if b["title"] == "OK")["enabled"])
        rows = {r["cells"][0]: r["cells"][1] for r in again.control("replaceTable")["rows"]}
        self.assertEqual(rows["snare (rim)"], "snare (rimshot)")
        self.assertEqual(rows["kick (default)"], "kick (default)")  # exact matches are listed too
        again.screenshot("shell-reconcile-remembered")


if __name__ == "__main__":
    unittest.main(verbosity=2)
