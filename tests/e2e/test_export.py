"""Exporting from the song window: the export panel, the progress sheet and cancelling, end to end."""
import os
import shutil
import subprocess
import tempfile
import time
import unittest
import wave

from editorcase import EditorCase, EXAMPLE_SONG
from rpdriver import BUILD, CLI, song_info

FIXTURES = os.path.join(BUILD, "tests", "rp-e2e-fixtures")


def soxi(flag, path):
    return subprocess.run(["soxi", flag, path], check=True, capture_output=True, text=True, timeout=60).stdout.strip()


def wave_contents(path):
    with wave.open(path, "rb") as f:
        return f.getnchannels(), f.getsampwidth(), f.getframerate(), f.readframes(f.getnframes())


class ExportCase(EditorCase):

    def setUp(self):
        super().setUp()
        self.out = os.path.join(self.work, "out")
        os.makedirs(self.out)

    def export_menu_item(self, submenu_action, action, tag):
        """Opens File, then the export submenu, and chooses the item of that mode."""
        menu = next(m for m in self.app.probe()["menuBar"] if m["title"] == "File")
        self.app.click_rect(menu["rect"])
        submenu = self.app.wait("the File menu open", lambda p: next(
            (i for m in p["openMenus"] for i in m if i["action"] == submenu_action and i["enabled"]), None))
        self.app.click_rect(submenu["rect"])
        item = self.app.wait("the export submenu open", lambda p: next(
            (i for m in p["openMenus"] for i in m if i["action"] == action and i["tag"] == tag), None))
        self.assertTrue(item["enabled"])
        self.app.click_rect(item["rect"])
        return self.app.wait_dialog(lambda d: d["kind"] == "exportPanel", "the export panel")

    def panel_control(self, name, condition=lambda c: True):
        return self.app.wait_control(name, condition)

    def type_path(self, path):
        self.app.click_rect(self.panel_control("exportPath")["rect"])
        self.app.key("ctrl+a")
        self.app.type_text(path)
        self.panel_control("exportPath", lambda c: c["text"] == path)


class ExportMixTest(ExportCase):

    def test_the_mix_through_the_panel_equals_the_command_line_export(self):
        self.export_menu_item("exportSongAudio:Menu", "exportSongAudio:", 0)
        # The remembered format is AIFF, 16-bit, 44.1 kHz, stereo; the channel count is fixed.
        self.assertEqual(self.panel_control("exportFileType")["items"], ["AIFF", "AIFF-C", "WAVE", "NeXT/Sun"])
        self.assertFalse(self.panel_control("exportChannels")["enabled"])
        self.assertTrue(self.panel_control("exportPath")["text"].endswith("/Rattlepan Example Song.aiff"))
        # WAVE from the type pop-up: the encoding stays 16-bit and the name follows the type.
        self.app.click_rect(self.panel_control("exportFileType")["rect"])
        time.sleep(0.5)
        self.app.key("Down")
        self.app.key("Down")
        self.app.key("Return")
        self.panel_control("exportFileType", lambda c: c["text"] == "WAVE")
        self.panel_control("exportPath", lambda c: c["text"].endswith(".wav"))
        self.assertEqual(self.panel_control("exportEncoding")["text"], "16-bit Integer")
        self.assertEqual(self.panel_control("exportSampleRate")["text"], "44100")
        # 4 bytes a frame at 44.1 kHz for the song's length.
        seconds = song_info(self.song)["totalDuration"]
        self.assertEqual(self.panel_control("exportStatus")["text"],
                         "Approximately %.1f MB will be required." % (int(seconds * 4 * 44100) / 1e6))
        path = os.path.join(self.out, "Mix.wav")
        self.type_path(path)
        self.app.screenshot("export-panel")
        self.app.click_rect(self.panel_control("exportConfirm")["rect"])
        self.app.wait("the file written and the sheet closed", lambda p: (
            os.path.exists(path) and not p["dialogs"]) or None, timeout=120)

        self.assertEqual(soxi("-t", path), "wav")
        self.assertEqual(soxi("-r", path), "44100")
        self.assertEqual(soxi("-b", path), "16")
        self.assertEqual(soxi("-c", path), "2")

        # The command line's export of the same song, with a defaults store of its own.
        cli_out = os.path.join(self.out, "cli.wav")
        defaults = tempfile.mkdtemp(prefix="rp-e2e-cli-defaults-")
        try:
            env = dict(os.environ, RATTLEPAN_DEFAULTS_DIR=defaults)
            subprocess.run([CLI, "export", self.song, "-o", cli_out, "--type", "WAVE", "--rate", "44100",
                            "--bits", "16"], check=True, capture_output=True, timeout=300, env=env)
        finally:
            shutil.rmtree(defaults, ignore_errors=True)
        ours, theirs = wave_contents(path), wave_contents(cli_out)
        self.assertEqual(ours[:3], (2, 2, 44100))
        self.assertEqual(ours[:3], theirs[:3])
        self.assertEqual(len(ours[3]), len(theirs[3]))
        self.assertTrue(any(ours[3]), "the mix is not silence")
        self.assertTrue(ours[3] == theirs[3], "the two exports differ sample for sample")


class ExportCancelTest(ExportCase):

    def prepare(self):
        # Half an hour of bars, so that the export runs long enough to be cancelled.
        subprocess.run([FIXTURES, "lengthen", self.song, self.song, "30"], check=True, timeout=120)

    def test_cancelling_a_per_group_export_leaves_no_file(self):
        self.export_menu_item("exportSongAudio:Menu", "exportSongAudio:", 1)
        message = self.panel_control("exportMessage")
        self.assertEqual(message["text"],
                         "Specify the base filename. A separate file will be created for each track.")
        self.type_path(os.path.join(self.out, "Long.aiff"))
        self.app.click_rect(self.panel_control("exportConfirm")["rect"])

        sheet = self.app.wait_dialog(lambda d: d["kind"] == "exportProgress", "the progress sheet")
        self.app.wait_control("exportProgressText", lambda c: c["text"].startswith("Exporting to Long ("))
        self.app.wait_control("exportProgressBar", lambda c: c["value"] > 0)
        self.assertTrue(os.listdir(self.out), "the first group's file is being written")
        self.app.screenshot("export-progress")
        self.app.key("Escape")
        self.app.wait_control("exportProgressText", lambda c: c["text"] == "Export canceled.", )
        self.app.wait_control("exportProgressButton", lambda c: c["text"] == "OK")
        self.assertEqual(self.app.control("exportProgressBar")["value"], 0)
        self.app.screenshot("export-canceled")
        self.assertEqual(os.listdir(self.out), [])
        self.app.key("Return")
        self.app.wait_no_dialog()
        self.assertEqual(os.listdir(self.out), [])
        self.assertIsNotNone(sheet)


if __name__ == "__main__":
    unittest.main()
