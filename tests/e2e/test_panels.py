"""End-to-end: a floating panel snaps to the song window, follows it, is dragged to another snap and
comes back there on the next launch."""
import time
import unittest

from editorcase import EditorCase
from rpdriver import App, read_defaults, xdotool

CAPTURE = 25
DRAG_STRIP = 8  # the panel's empty strip along its top edge


def snapped_origin(size, window, position, offset):
    """Where a panel of `size` goes when snapped at (position, offset), in screen pixels (y down)."""
    pw, ph = size
    wx, wy, ww, wh = window
    side, from_far_edge = position & 3, bool(position & 4)
    x = y = None
    if side == 0:
        x = wx - pw - 1
    elif side == 2:
        x = wx + ww + 1
    elif side == 1:
        y = wy + wh + 1  # below the window: further down the screen
    else:
        y = wy - ph - 1
    if side in (0, 2):
        y = wy + offset if from_far_edge else wy + wh - offset - ph
    else:
        x = wx + ww - pw - offset if from_far_edge else wx + offset
    return x, y


class PanelCase(EditorCase):
    """The steps for one panel: its probe kind, its autosave name and its default snap."""

    PANEL = None

    def setUp(self):
        super().setUp()
        self.relaunched = None

    def tearDown(self):
        if self.relaunched:
            self.relaunched.cleanup()
        super().tearDown()

    def panel(self, probe):
        return next((p for p in probe["panels"] if p["kind"] == self.PANEL["kind"] and p["visible"]), None)

    def wait_panel_at(self, app, what, snap):
        """Waits until the panel shows `snap` and sits where it says against the song window."""
        def placed(probe):
            panel = self.panel(probe)
            window = next((w for w in app.song_windows(probe)), None)
            if not panel or not window or (panel["snapPosition"], panel["snapOffset"]) != snap:
                return None
            x, y, w, h = panel["outerFrame"]
            return (panel, window) if (x, y) == snapped_origin((w, h), window["frame"], *snap) else None
        return app.wait(what, placed)

    def drag_panel(self, panel, to):
        """Drags the panel by its top strip so that its frame's origin lands on `to`, in steps."""
        x, y, w, h = panel["frame"]
        grab = (x + w // 2, y + DRAG_STRIP // 2)
        xdotool("mousemove", "--sync", *grab)
        xdotool("mousedown", 1)
        dx, dy = to[0] - x, to[1] - y
        for step in range(1, 6):
            xdotool("mousemove", "--sync", grab[0] + dx * step // 5, grab[1] + dy * step // 5)
            time.sleep(0.05)
        xdotool("mouseup", 1)

    def check_the_panel_snaps_follows_and_comes_back_where_it_was_dragged(self):
        # Room on every side of the window; the panel follows it there at its default snap.
        xdotool("windowmove", "--sync", int(self.window["id"], 16), 560, 120)
        self.app.wait("the window moved", lambda p: self.app.song_windows(p)[0]["frame"][:2] == [560, 120] or None)
        panel, window = self.wait_panel_at(self.app, "the panel at its default snap", self.PANEL["default"])
        self.app.screenshot(self.PANEL["kind"] + "-panel-snapped")
        wx, wy, ww, wh = window["frame"]
        pw, ph = panel["outerFrame"][2:]

        # Dropped far away it floats where it was dropped, and stays when the window moves.
        far = (40, wy + wh - ph)
        self.drag_panel(panel, far)
        panel = self.app.wait("the panel released where it was dropped", lambda p: next(
            (q for q in [self.panel(p)] if q and q["snapPosition"] == -1 and tuple(q["outerFrame"][:2]) == far), None))
        xdotool("windowmove", "--sync", int(self.window["id"], 16), 600, 120)
        self.app.wait("the window moved again", lambda p: self.app.song_windows(p)[0]["frame"][:2] == [600, 120] or None)
        time.sleep(0.3)
        self.assertEqual(tuple(self.panel(self.app.probe())["outerFrame"][:2]), far)
        self.app.focus_window(self.app.song_windows()[0])
        window = self.app.song_windows()[0]
        wx, wy, ww, wh = window["frame"]

        # Dropped just short of the window's left edge, low down: captured by that edge.
        drop = (wx - pw - (CAPTURE - 10), wy + wh - ph - 30)
        self.drag_panel(panel, drop)
        above = drop[1] + ph / 2 < wy + wh / 2
        expected = (4, drop[1] - wy) if above else (0, wy + wh - (drop[1] + ph))
        self.wait_panel_at(self.app, "the panel snapped to the left edge", expected)
        self.app.screenshot(self.PANEL["kind"] + "-panel-dragged")

        # The next launch puts it there again, and the stored snap says so.
        defaults_dir = self.app.defaults_dir
        self.app.quit()
        snap_key = "OXInspectorPanel Snapping " + self.PANEL["autosave"]
        self.assertEqual(read_defaults(defaults_dir).get(snap_key), "%d %d" % expected)
        self.relaunched = App([self.song], defaults_dir=defaults_dir)
        window = self.relaunched.wait_song_window("Rattlepan Example Song")
        self.relaunched.focus_window(window)
        self.wait_panel_at(self.relaunched, "the panel back at its stored snap", expected)


class DrumListPanelTest(PanelCase):
    PANEL = {"kind": "drumList", "autosave": "DrumListPanel", "default": (4, 51)}

    def test_the_drum_list_snaps_follows_and_comes_back_where_it_was_dragged(self):
        self.check_the_panel_snaps_follows_and_comes_back_where_it_was_dragged()


class TransportPanelTest(PanelCase):
    PANEL = {"kind": "transport", "autosave": "TransportPanel", "default": (1, 0)}

    def test_the_transport_snaps_follows_and_comes_back_where_it_was_dragged(self):
        self.check_the_panel_snaps_follows_and_comes_back_where_it_was_dragged()


if __name__ == "__main__":
    unittest.main()
