"""The kit editor window, end to end: a new kit named, mapped, given a sound and saved."""
import os
import struct
import subprocess
import time
import unittest
import wave

from editorcase import EditorCase
from rpdriver import BUILD, song_info, xdotool

FIXTURES = os.path.join(BUILD, "tests", "rp-e2e-fixtures")


def write_wav(path, frames=4410, rate=44100):
    """A short mono 16-bit sound: a decaying square wave, loud enough to draw."""
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        samples = [int(20000 * (1 - i / frames)) * (1 if (i // 50) % 2 else -1) for i in range(frames)]
        w.writeframes(struct.pack("<%dh" % frames, *samples))


class KitWindowTest(EditorCase):
    """New kits made from the File menu of the example song's window."""

    def setUp(self):
        super().setUp()
        self.app.key("ctrl+shift+n")
        self.window = self.app.wait("a kit window", lambda p: next(
            (w for w in p["windows"] if w["kind"] == "kit"), None))
        self.app.focus_window(self.window)

    def control(self, name, condition=lambda c: True):
        return self.app.wait_control(name, lambda c: c["window"] == self.window["id"] and condition(c))

    def open_menu_item(self, opener_rect, action, tag=None, button=1):
        self.app.click_rect(opener_rect, button)
        item = self.app.wait(action + " in an open menu", lambda p: next(
            (i for m in p["openMenus"] for i in m
             if i["action"] == action and (tag is None or i["tag"] == tag)), None))
        self.app.click_rect(item["rect"])

    def save_as(self, path):
        # No window manager gives the focus back after a dialog under Xvfb.
        self.app.focus_window(self.window)
        self.app.key("ctrl+shift+s")
        self.app.choose_file_in_dialog(path)
        self.window = self.app.wait("the kit saved", lambda p: next(
            (w for w in p["windows"] if w["kind"] == "kit" and w["path"] == path), None))
        self.assertTrue(os.path.isdir(path))
        return song_info(path)

    def test_a_new_kit_renamed_mapped_given_a_sound_and_saved(self):
        sound = os.path.join(self.work, "Snare Hit.wav")
        write_wav(sound)
        groups = self.control("browserColumn0", lambda c: len(c["rows"]) == 1)
        x, y, w, h = groups["rows"][0]["rect"]
        xdotool("mousemove", "--sync", x + w // 2, y + h // 2)
        xdotool("click", "--repeat", 2, "--delay", 60, 1)
        self.control("browserRenameField", lambda c: c["visible"])
        time.sleep(0.2)
        self.app.key("ctrl+a")
        self.app.type_text("Percussion")
        self.app.key("Return")
        self.control("browserColumn0", lambda c: [r["text"] for r in c["rows"]] == ["Percussion"])

        self.open_menu_item(self.control("midiPresetPopUp")["rect"], "midiPresetAction:", tag=38)
        self.control("midiChannelField", lambda c: c["text"] == "10")
        self.control("midiNoteField", lambda c: c["text"] == "38")
        self.control("midiVelocityField", lambda c: c["text"] == "127")

        # Files cannot be dragged in from outside under Xvfb: the waveform's "Open Sound..." takes
        # the same path into the document as a drop.
        self.open_menu_item(self.control("soundView")["rect"], "openFromFile:", button=3)
        self.app.choose_file_in_dialog(sound)
        self.control("playSoundButton", lambda c: c["enabled"])
        self.app.screenshot("kit-window")

        path = os.path.join(self.work, "Mine.rpkit")
        info = self.save_as(path)
        self.assertEqual([g["name"] for g in info["groups"]], ["Percussion"])
        variant = info["groups"][0]["instruments"][0]["variants"][0]
        self.assertEqual((variant["midiChannel"], variant["midiNote"], variant["midiVelocity"]), (9, 38, 127))
        self.assertEqual(variant["sound"]["frames"], 4410)
        self.assertEqual(variant["sound"]["channels"], 1)
        attributes = subprocess.run(["getfattr", "-d", "--absolute-names", path],
                                    capture_output=True, text=True, check=True).stdout
        self.assertIn("NSWindow Frame Drum Kit Window", attributes)
        self.assertIn("RPWF1", attributes)

    def test_a_new_kit_built_from_a_folder_of_samples(self):
        folder = os.path.join(self.work, "Samples")
        for group, names in (("Drums", ("Kick.wav", "Snare.wav")), ("Cymbals", ("Crash.wav",))):
            os.makedirs(os.path.join(folder, group))
            for name in names:
                write_wav(os.path.join(folder, group, name))
        # Folders cannot be dragged in from outside under Xvfb either: the Kit menu builds the same way.
        menu = next(m for m in self.app.probe()["menuBar"] if m["title"].replace("&", "") == "Kit")
        self.open_menu_item(menu["rect"], "buildKitFromFolder:")
        self.app.choose_file_in_dialog(folder)
        self.control("browserColumn0", lambda c: len(c["rows"]) == 2)
        info = self.save_as(os.path.join(self.work, "Built.rpkit"))
        self.assertEqual(sorted(g["name"] for g in info["groups"]), ["Cymbals", "Drums"])
        drums = {v["variantName"] if len(i["variants"]) > 1 else i["typeName"]: v
                 for g in info["groups"] for i in g["instruments"] for v in i["variants"]}
        self.assertEqual(len(drums), 3)
        self.assertTrue(all(v["sound"]["frames"] == 4410 for v in drums.values()))
        notes = sorted(v["midiNote"] for v in drums.values() if v["midiChannel"] == 9)
        self.assertIn(36, notes)
        self.assertIn(38, notes)

    def selections(self):
        return [[r["text"] for r in self.control("browserColumn%d" % c)["rows"] if r["selected"]] for c in range(3)]

    def open_kit(self, path):
        song = next(w for w in self.app.probe()["windows"] if w["kind"] == "song")
        self.app.focus_window(song)
        self.app.key("ctrl+o")
        self.app.choose_file_in_dialog(path)
        self.window = self.app.wait("the kit open", lambda p: next(
            (w for w in p["windows"] if w["kind"] == "kit" and w["path"] == path), None))
        self.app.focus_window(self.window)

    def test_a_reopened_kit_has_its_frame_and_selection(self):
        # Away from where new windows go, so the frame read back is the one stored.
        xdotool("windowsize", "--sync", int(self.window["id"], 16), 820, 700)
        xdotool("windowmove", "--sync", int(self.window["id"], 16), 140, 90)
        self.window = self.app.wait("the kit window moved", lambda p: next(
            (w for w in p["windows"] if w["id"] == self.window["id"] and w["contentRect"][2] == 820
             and w["contentRect"][0] == 140), None))
        self.app.click_rect(self.control("addGroupButton")["rect"])
        self.control("browserColumn0", lambda c: len(c["rows"]) == 2)
        # The kit's first drum, which a kit shows when it opens.
        for column in range(3):
            self.app.click_rect(self.control("browserColumn%d" % column)["rows"][0]["rect"])
            self.control("browserColumn%d" % column, lambda c: c["rows"][0]["selected"])
        path = os.path.join(self.work, "Frame.rpkit")
        self.save_as(path)
        frame = self.window["contentRect"]
        selected = self.selections()
        self.assertEqual(selected[0], ["New group"])
        self.app.focus_window(self.window)
        self.app.key("ctrl+w")
        self.app.wait("the kit closed", lambda p: all(w["kind"] != "kit" for w in p["windows"]))

        self.open_kit(path)
        self.assertEqual(self.window["contentRect"], frame)
        self.assertEqual(self.selections(), selected)

    def test_the_drum_list_panel_follows_the_front_kit_or_song_window(self):
        def shown(probe, kind):  # hidden windows are left out of the probe
            return any(p["kind"] == kind and p["visible"] for p in probe["panels"])

        def drum_rows(probe):
            table = next(c for c in probe["controls"] if c["name"] == "drumsTable")
            return [r["cells"][0] for r in table["rows"]]

        # A kit in front: its drums in the drum list, no transport.
        self.app.wait("the kit's drum list", lambda p: (
            shown(p, "drumList") and not shown(p, "transport") and drum_rows(p) == ["New instrument"]) or None)
        song = next(w for w in self.app.probe()["windows"] if w["kind"] == "song")
        self.app.focus_window(song)
        self.app.wait("the song's drum list and transport", lambda p: (
            shown(p, "drumList") and shown(p, "transport") and drum_rows(p)[:1] == ["kick"]) or None)


class KitWatchTest(EditorCase):
    """The example song pointed at its own copy of the kit, which the kit editor then changes."""

    def prepare(self):
        self.kit = os.path.join(self.work, "Rattlepan Standard Kit.rpkit")
        subprocess.run([FIXTURES, "repoint", self.song, self.kit, self.song], check=True, timeout=60)

    control = KitWindowTest.control
    open_kit = KitWindowTest.open_kit

    def test_a_drum_renamed_in_the_kit_editor_reconciles_the_song(self):
        self.open_kit(self.kit)
        # The group holding the snare, then its "rim" variant, renamed in place.
        for row in self.control("browserColumn0")["rows"]:
            self.app.click_rect(row["rect"])
            time.sleep(0.2)
            if any(r["text"] == "snare" for r in self.control("browserColumn1")["rows"]):
                break
        snare = next(r for r in self.control("browserColumn1")["rows"] if r["text"] == "snare")
        self.app.click_rect(snare["rect"])
        rim = next(r for r in self.control("browserColumn2", lambda c: any(
            r["text"] == "rim" for r in c["rows"]))["rows"] if r["text"] == "rim")
        x, y, w, h = rim["rect"]
        xdotool("mousemove", "--sync", x + w // 2, y + h // 2)
        xdotool("click", "--repeat", 2, "--delay", 60, 1)
        self.control("browserRenameField", lambda c: c["visible"])
        time.sleep(0.2)
        self.app.key("ctrl+a")
        self.app.type_text("rimshot")
        self.app.key("Return")
        self.control("browserColumn2", lambda c: any(r["text"] == "rimshot" for r in c["rows"]))
        self.app.key("ctrl+s")
        self.app.wait("the kit saved", lambda p: not next(w for w in p["windows"] if w["kind"] == "kit")["modified"])

        # The song's watch sees the kit change on disk and offers to load it again.
        sheet = self.app.wait_dialog(lambda d: d.get("text") == "The drum kit has been modified.", "the kit watch",
                                     timeout=20.0)
        self.app.click_button(sheet, "OK")
        panel = self.app.wait_dialog(lambda d: d["kind"] == "reconcile", "the reconcile panel")
        table = self.app.wait_control("replaceTable")
        row = next(r for r in table["rows"] if r["cells"][0] == "snare (rim)")
        self.app.click_rect(row["rect"])
        picker = self.app.wait_control("reconcileDrumPicker", lambda c: "snare (rimshot)" in c["items"])
        self.app.click_rect(picker["rect"])
        time.sleep(0.4)
        self.app.key("Escape")
        for _ in range(picker["items"].index("snare (rimshot)") + 1):
            self.app.key("Down")
        self.app.wait_control("replaceTable", lambda c: any(
            r["cells"] == ["snare (rim)", "snare (rimshot)"] for r in c["rows"]))
        self.app.screenshot("kit-rename-reconcile")
        panel = self.app.wait_dialog(lambda d: d["kind"] == "reconcile" and
                                     next(b for b in d["buttons"] if b["title"] == "OK")["enabled"], "OK enabled")
        self.app.click_button(panel, "OK")
        self.app.wait_no_dialog()

        # The song's rim hits now play the renamed drum.
        self.app.focus_window(self.song_window(self.app.probe()))
        before = os.stat(self.song).st_mtime_ns
        self.app.key("ctrl+s")
        self.app.wait("the song saved", lambda p: os.stat(self.song).st_mtime_ns != before or None)
        drums = {(e["drum"]["typeName"], e["drum"]["variantName"])
                 for s in song_info(self.song)["sections"] for b in s["patterns"] for e in b["events"]}
        self.assertIn(("snare", "rimshot"), drums)
        self.assertNotIn(("snare", "rim"), drums)


HYDROGEN_DATA = "/usr/share/hydrogen/data"


@unittest.skipUnless(os.path.isdir(HYDROGEN_DATA), "hydrogen-data is not installed: no Hydrogen kits or songs to import")
class HydrogenImportTest(EditorCase):
    """Hydrogen's own kits and songs brought in from the File menu."""

    def import_from_menu(self, action, source, target, reports=True):
        self.app.focus_window(self.window)
        menu = next(m for m in self.app.probe()["menuBar"]
                    if m["title"].replace("&", "") == "File" and m["window"] == self.window["id"])
        self.app.click_rect(menu["rect"])
        item = self.app.wait(action, lambda p: next(
            (i for m in p["openMenus"] for i in m if i["action"] == action), None))
        self.app.click_rect(item["rect"])
        self.app.choose_file_in_dialog(source)
        self.app.choose_file_in_dialog(target)
        if not reports:
            return
        # What could not come over is listed once the import is done.
        report = self.app.wait_dialog(lambda d: d["kind"] == "alert", "the import report", timeout=60.0)
        self.assertIn("could not be carried over", report["text"])
        self.app.click_button(report, "OK")

    def test_a_hydrogen_song_imports_with_its_kit_and_opens(self):
        target = os.path.join(self.work, "Demo One.rpsong")
        self.import_from_menu("importHydrogenSong:", os.path.join(HYDROGEN_DATA, "demo_songs", "GM_kit_demo1.h2song"),
                              target)
        window = self.app.wait("the imported song open", lambda p: next(
            (w for w in p["windows"] if w["kind"] == "song" and w["path"] == target), None))
        self.app.focus_window(window)
        self.app.screenshot("hydrogen-song-imported")
        info = song_info(target)
        self.assertGreater(len(info["sections"]), 0)
        self.assertTrue(os.path.isdir(os.path.join(self.work, "GMRockKit.rpkit")))

    def test_a_hydrogen_kit_imports_and_opens_in_the_kit_editor(self):
        self.app.key("ctrl+shift+n")
        self.window = self.app.wait("a kit window", lambda p: next(
            (w for w in p["windows"] if w["kind"] == "kit"), None))
        target = os.path.join(self.work, "TR808.rpkit")
        self.import_from_menu("importHydrogenKit:",
                              os.path.join(HYDROGEN_DATA, "drumkits", "TR808EmulationKit", "drumkit.xml"), target,
                              reports=False)
        self.app.wait("the imported kit open", lambda p: next(
            (w for w in p["windows"] if w["kind"] == "kit" and w["path"] == target), None))
        groups = song_info(target)["groups"]
        self.assertEqual(sum(len(g["instruments"]) for g in groups), 16)
        self.app.screenshot("hydrogen-kit-imported")


if __name__ == "__main__":
    unittest.main()
