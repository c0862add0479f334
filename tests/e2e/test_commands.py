"""End-to-end: copying and pasting bars, deleting a beat, playing and recording from the window, bars
from a song with another kit, and hostile bytes on the clipboard."""
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from editorcase import EditorCase, centre, events, pattern  # noqa: E402
from rpdriver import BUILD, song_info, xdotool  # noqa: E402

FIXTURES = os.path.join(BUILD, "tests", "rp-e2e-fixtures")
BARS_MIME = "application/x-net.rattlepan.Rattlepan.ORPPattisForBarsPboardType"


def bar_shape(p):
    return (p["tsTop"], p["tsBottom"], p["beatBasis"], p["bpm"],
            sorted((e["whenRatio"], e["drum"]["typeName"], e["drum"]["variantName"], e["velocity"])
                   for e in p["events"]))


class CommandsTest(EditorCase):
    def select_bars(self, first, last):
        """Whole bars: a click on the first bar's title, a Shift-click on the last one's."""
        self.app.click_rect(first["titleRect"])
        self.app.key_down("shift")
        self.app.click_rect(last["titleRect"])
        self.app.key_up("shift")
        count = last["index"] - first["index"] + 1
        self.app.wait("%d bars selected" % count, lambda p: (
            p["editor"]["wholeBarSelection"] and len(p["editor"]["selection"]) == count) or None)

    def test_copied_bars_paste_after_the_insertion_point(self):
        bars = self.show_section("Intro")
        before = song_info(self.song)
        self.select_bars(bars[0], bars[1])
        self.app.key("ctrl+c")
        self.place_insertion_point(bars[1], bars[1]["divisions"])
        self.app.key("ctrl+v")
        self.save()
        after = song_info(self.song)
        self.assertEqual(after["totalBars"], before["totalBars"] + 2)
        intro = next(s for s in after["sections"] if s["name"] == "Intro")["patterns"]
        self.assertEqual(len(intro), 4)
        self.assertEqual([bar_shape(p) for p in intro[2:]], [bar_shape(p) for p in intro[:2]])

    def test_dragging_a_bar_by_its_title_moves_it(self):
        bars = self.show_section("Verse")
        verse = lambda: [bar_shape(p) for p in next(
            s for s in song_info(self.song)["sections"] if s["name"] == "Verse")["patterns"]]
        before = verse()
        self.select_bars(bars[0], bars[0])
        x, y = centre(bars[0]["titleRect"])
        xdotool("mousemove", "--sync", x, y)
        xdotool("mousedown", 1)
        # Onto the right half of the third bar: the drop goes after it.
        tx, ty, tw, th = bars[2]["rect"]
        for step in range(1, 21):
            xdotool("mousemove", "--sync", x + (tx + tw - 10 - x) * step // 20, y + 20)
            time.sleep(0.03)
        time.sleep(0.3)
        xdotool("mouseup", 1)
        self.save()
        self.assertEqual(verse(), [before[1], before[2], before[0], before[3]])

    def test_deleting_a_beat_shortens_the_bar_and_moves_later_drums(self):
        bars = self.show_section("Intro")
        old = events(song_info(self.song), "Intro", 0)
        self.assertEqual(pattern(song_info(self.song), "Intro", 0)["tsTop"], 4)
        # The insertion point on the line of beat 2: Delete Beats removes the beat after it.
        self.place_insertion_point(bars[0], bars[0]["divisions"] // 4)
        self.app.key("ctrl+BackSpace")
        self.save()
        info = song_info(self.song)
        bar = pattern(info, "Intro", 0)
        self.assertEqual((bar["tsTop"], bar["tsBottom"]), (3, 4))
        expected = []
        for when, drum, variant, velocity in old:
            if when < 0.25:
                expected.append((when * 4 / 3, drum, variant, velocity))
            elif when >= 0.5:
                expected.append(((when * 4 - 1) / 3, drum, variant, velocity))
        got = sorted(events(info, "Intro", 0))
        self.assertEqual(len(got), len(expected))
        for (w1, *rest1), (w2, *rest2) in zip(got, sorted(expected)):
            self.assertAlmostEqual(w1, w2, places=5)
            self.assertEqual(rest1, rest2)

    def test_space_plays_and_drum_keys_record_on_consecutive_divisions(self):
        bars = self.show_section("Intro")
        self.place_insertion_point(bars[0], 0)
        self.app.key("space")
        self.app.wait("playing", lambda p: p["editor"]["playing"] or None)
        self.app.wait("the insertion point following the play head", lambda p: (
            p["editor"]["insertionPoint"] != {"bar": bars[0]["index"], "place": 0.0}) or None)
        self.app.key("space")
        self.app.wait("stopped", lambda p: not p["editor"]["playing"] or None)

        # Recording on, stopped: each drum key enters the drum and steps one division on.
        self.app.key("ctrl+r")
        self.place_insertion_point(bars[0], 0)
        for _ in range(4):
            self.app.key("w")
        self.save()
        n = bars[0]["divisions"]
        cowbells = sorted(e[0] for e in events(song_info(self.song), "Intro", 0) if e[1] == "cowbell")
        self.assertEqual(cowbells, [d / n for d in range(4)])

    def test_bars_from_a_song_with_other_drum_names_ask_for_reconciliation(self):
        other = os.path.join(self.work, "Other.rpsong")
        kit = os.path.join(self.work, "Other Kit.rpkit")
        subprocess.run([FIXTURES, "rename-drum-in-song", self.song, os.path.join(self.work, "Rattlepan Standard Kit.rpkit"),
                        other, kit, "snare", "rim", "rimshot"], check=True, timeout=60)
        self.app.key("ctrl+o")
        self.app.choose_file_in_dialog(other)
        other_window = self.app.wait_song_window("Other")
        self.app.focus_window(other_window)
        bars = self.show_section("Verse", other, other_window)
        self.select_bars(bars[1], bars[1])  # its rimshots are unknown to the example kit
        self.app.key("ctrl+c")

        self.app.focus_window(self.window)
        bars = self.show_section("Intro")
        before = song_info(self.song)
        self.place_insertion_point(bars[0], 0)
        self.app.key("ctrl+v")
        self.app.wait_dialog(lambda d: d["kind"] == "reconcile", "the reconcile panel")
        self.app.screenshot("commands-reconcile-paste")
        self.assertIn("snare (rimshot)", [r["cells"][0] for r in self.app.control("replaceTable")["rows"]])
        self.app.key("Escape")  # declining leaves the song as it was
        self.app.wait_no_dialog()
        time.sleep(0.3)
        self.assertFalse(self.song_window(self.app.probe())["modified"])
        self.assertEqual(song_info(self.song)["totalBars"], before["totalBars"])

    def test_random_bytes_on_the_clipboard_give_an_error_and_change_nothing(self):
        bars = self.show_section("Intro")
        self.place_insertion_point(bars[0], 0)
        garbage = os.urandom(3000)
        # Another program owns the clipboard: xclip serves the bytes under our type until replaced.
        server = subprocess.Popen(["xclip", "-selection", "clipboard", "-t", BARS_MIME, "-i"],
                                  stdin=subprocess.PIPE)
        server.stdin.write(garbage)
        server.stdin.close()
        try:
            time.sleep(0.5)
            self.app.key("ctrl+v")
            alert = self.app.wait_dialog(lambda d: d["kind"] == "alert", "the error alert")
            self.app.screenshot("commands-bad-clipboard")
            self.app.click_button(alert, alert["buttons"][0]["title"])
            self.app.wait_no_dialog()
        finally:
            server.terminate()
            server.wait(10)
        self.assertIsNone(self.app.process.poll())
        self.assertFalse(self.song_window(self.app.probe())["modified"])
        self.assertEqual(len(self.app.probe()["editor"]["bars"]), len(bars))


if __name__ == "__main__":
    unittest.main()
