"""Drives the real rattlepan under an X server through its UI probe and xdotool.

Each App gets a fresh defaults folder (unless given one), the null audio device and the loopback
MIDI backend. Tests find what to click in the probe file instead of guessing pixels.
"""
import json
import os
import plistlib
import shutil
import signal
import subprocess
import tempfile
import time

BUILD = os.environ.get("RP_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
APP = os.path.join(BUILD, "src", "app", "rattlepan")
CLI = os.path.join(BUILD, "cli", "rattlepan-cli")
RESOURCES = os.path.join(BUILD, "resources")
SCREENSHOTS = os.environ.get("RP_SCREENSHOT_DIR", os.path.join(BUILD, "e2e-screenshots"))
IDENTIFIER = "net.rattlepan.Rattlepan"


class Timeout(AssertionError):
    pass


def wait_for(what, condition, timeout=15.0, interval=0.05):
    """Polls condition() until it returns something truthy; fails the test after `timeout`."""
    deadline = time.monotonic() + timeout
    last = None
    while time.monotonic() < deadline:
        try:
            last = condition()
        except (OSError, ValueError, KeyError, IndexError):
            last = None
        if last:
            return last
        time.sleep(interval)
    raise Timeout("timed out waiting for " + what)


def xdotool(*args):
    subprocess.run(["xdotool", *[str(a) for a in args]], check=True, timeout=20)


def defaults_file(folder):
    return os.path.join(folder, IDENTIFIER + ".plist")


def read_defaults(folder):
    path = defaults_file(folder)
    if not os.path.exists(path):
        return {}
    with open(path, "rb") as f:
        return plistlib.load(f)


def write_defaults(folder, values):
    os.makedirs(folder, exist_ok=True)
    with open(defaults_file(folder), "wb") as f:
        plistlib.dump(values, f, fmt=plistlib.FMT_BINARY)


def song_info(path):
    out = subprocess.run([CLI, "info", "--json", path], check=True, capture_output=True, text=True, timeout=60)
    return json.loads(out.stdout)


class App:
    """One running rattlepan process."""

    def __init__(self, args=(), defaults_dir=None, defaults=None, first_launch=False):
        self.owns_defaults = defaults_dir is None
        self.defaults_dir = defaults_dir or tempfile.mkdtemp(prefix="rp-e2e-defaults-")
        values = read_defaults(self.defaults_dir)
        values.setdefault("RPAudioDevice", "null")
        values.setdefault("RPMIDIBackend", "loopback")
        if not first_launch:
            # Past the welcome alert and the example song unless the test wants the first launch.
            values.setdefault("RPBuildIdentifier", 0x7FFFFFFF)
            values.setdefault("RPPreviouslyOpenDocumentBookmarks", [])
        values.update(defaults or {})
        write_defaults(self.defaults_dir, values)
        self.probe_path = os.path.join(self.defaults_dir, "probe.json")
        if os.path.exists(self.probe_path):
            os.remove(self.probe_path)
        env = dict(os.environ)
        env.update({
            "RATTLEPAN_DEFAULTS_DIR": self.defaults_dir,
            "RATTLEPAN_RESOURCES_DIR": RESOURCES,
            "RATTLEPAN_UI_PROBE": self.probe_path,
            "LC_ALL": "C.UTF-8",
        })
        self.log_path = os.path.join(self.defaults_dir, "rattlepan.log")
        self.log = open(self.log_path, "ab")
        self.process = subprocess.Popen([APP, *args], env=env, stdout=self.log, stderr=subprocess.STDOUT)

    # --- reading the probe ---
    def probe(self):
        with open(self.probe_path, "r", encoding="utf-8") as f:
            return json.load(f)

    def wait(self, what, condition, timeout=15.0):
        def check():
            if self.process.poll() is not None:
                raise AssertionError("rattlepan exited with %s while waiting for %s; log:\n%s"
                                     % (self.process.returncode, what, self.read_log()))
            return condition(self.probe())
        return wait_for(what, check, timeout)

    def read_log(self):
        self.log.flush()
        with open(self.log_path, "r", errors="replace") as f:
            return f.read()

    def song_windows(self, probe=None):
        return [w for w in (probe or self.probe())["windows"] if w["kind"] == "song"]

    def wait_song_window(self, title=None, timeout=20.0):
        return self.wait("a song window" + (" titled " + title if title else ""),
                         lambda p: next((w for w in self.song_windows(p)
                                         if title is None or w["title"].replace("[*]", "") == title), None),
                         timeout)

    def control(self, name, probe=None):
        return next((c for c in (probe or self.probe())["controls"] if c["name"] == name), None)

    def wait_control(self, name, condition=lambda c: True):
        return self.wait("control " + name, lambda p: next(
            (c for c in p["controls"] if c["name"] == name and condition(c)), None))

    def wait_dialog(self, predicate=lambda d: True, what="a dialog", timeout=15.0):
        return self.wait(what, lambda p: next((d for d in p["dialogs"] if predicate(d)), None), timeout)

    def wait_no_dialog(self, timeout=15.0):
        return self.wait("no dialog", lambda p: not p["dialogs"] or None, timeout)

    # --- acting ---
    @staticmethod
    def click_rect(rect, button=1):
        x, y, w, h = rect
        xdotool("mousemove", "--sync", x + w // 2, y + h // 2)
        xdotool("click", button)

    def click_button(self, dialog, title):
        button = next(b for b in dialog["buttons"] if b["title"] == title)
        self.click_rect(button["rect"])

    def focus_window(self, window):
        # No window manager runs under Xvfb here: give the window the X input focus directly, which
        # Qt takes as activation, and raise it above the other windows.
        xdotool("windowraise", int(window["id"], 16))
        xdotool("windowfocus", "--sync", int(window["id"], 16))
        self.wait("window %s active" % window["title"],
                  lambda p: any(w["id"] == window["id"] and w["active"] for w in p["windows"]))

    @staticmethod
    def key(*keys):
        xdotool("key", "--clearmodifiers", *keys)

    @staticmethod
    def key_down(key):
        xdotool("keydown", key)

    @staticmethod
    def key_up(key):
        xdotool("keyup", key)

    @staticmethod
    def type_text(text):
        xdotool("type", "--delay", 15, text)

    def choose_file_in_dialog(self, path):
        """Types a path into the open Qt file dialog's name field and accepts it."""
        self.wait_dialog(lambda d: d["kind"] != "alert", "a file dialog")
        time.sleep(0.3)
        self.key("ctrl+a")
        self.type_text(path)
        self.key("Return")

    def screenshot(self, name):
        os.makedirs(SCREENSHOTS, exist_ok=True)
        path = os.path.join(SCREENSHOTS, name + ".png")
        subprocess.run(["import", "-window", "root", path], check=False, timeout=30)
        return path

    def quit(self, timeout=20.0):
        windows = self.song_windows()
        if windows:
            self.focus_window(windows[0])
        self.key("ctrl+q")
        return self.wait_exit(timeout)

    def wait_exit(self, timeout=20.0):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("rattlepan did not quit; log:\n" + self.read_log())

    def close(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()

    def cleanup(self):
        self.close()
        if self.owns_defaults:
            shutil.rmtree(self.defaults_dir, ignore_errors=True)
