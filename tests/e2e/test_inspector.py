"""The transport panel beside the song window: tempo typed for a selected bar, and the position display."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from editorcase import EditorCase, events, line_point, pattern  # noqa: E402
from rpdriver import song_info, xdotool  # noqa: E402


class InspectorTest(EditorCase):

    def transport(self, probe=None):
        return self.app.wait("the transport panel", lambda p: next(
            (q for q in p["panels"] if q["kind"] == "transport" and q["visible"]), None))

    def field(self, name, condition=lambda c: True):
        return self.app.wait_control(name, condition)

    def test_a_tempo_typed_for_a_selected_bar_changes_only_its_tempo(self):
        bars = self.show_section("Verse")
        before = song_info(self.song)
        self.assertNotEqual(pattern(before, "Verse", 1)["bpm"], 90)
        # Clicking a bar's title strip selects the whole bar.
        self.app.click_rect(bars[1]["titleRect"])
        self.app.wait("bar 2 selected", lambda p: p["editor"]["selection"] == [[1, 0.0, 1.0]] or None)
        self.field("currentBeatField", lambda c: c["text"] == "bar")
        self.field("tempoField", lambda c: c["text"] == str(int(pattern(before, "Verse", 1)["bpm"])))
        panel = self.transport()
        self.app.screenshot("inspector-transport")

        tempo = self.field("tempoField", lambda c: c["enabled"])
        self.app.click_rect(tempo["rect"])
        xdotool("windowfocus", "--sync", int(panel["id"], 16))
        time.sleep(0.2)
        self.app.key("ctrl+a")
        self.app.type_text("90")
        self.app.key("Return")
        self.field("tempoField", lambda c: c["text"] == "90")
        self.app.focus_window(self.window)
        self.save()

        after = song_info(self.song)
        self.assertEqual(pattern(after, "Verse", 1)["bpm"], 90)
        for index, old in enumerate(next(s for s in before["sections"] if s["name"] == "Verse")["patterns"]):
            if index != 1:
                self.assertEqual(pattern(after, "Verse", index)["bpm"], old["bpm"])
            self.assertEqual(events(after, "Verse", index), events(before, "Verse", index))

    def test_the_position_display_follows_a_click_in_the_editor(self):
        bars = self.show_section("Verse")
        info = song_info(self.song)
        bar = bars[1]
        top = pattern(info, "Verse", 1)["tsTop"]
        half = bar["divisions"] // 2
        self.app.click_rect(line_point(bar, half))
        self.app.wait("the insertion point in bar 2", lambda p: (
            p["editor"]["insertionPoint"]["bar"] == 1) or None)
        beat = int(top * half / bar["divisions"]) + 1
        self.field("currentBarField", lambda c: c["text"] == str(bar["barNumber"]))
        self.field("currentBeatField", lambda c: c["text"] == "%d|%d" % (beat, top))
        # The next bar's start reads as its first beat.
        self.app.click_rect(line_point(bars[2], 0))
        self.field("currentBarField", lambda c: c["text"] == str(bars[2]["barNumber"]))
        self.field("currentBeatField", lambda c: c["text"] == "1|%d" % pattern(info, "Verse", 2)["tsTop"])


if __name__ == "__main__":
    unittest.main()
