#!/usr/bin/python3
"""TIRMO as a screen reader meets it: the real program on an X server of its
own, on the session's accessibility bus, driven by keys as a user presses
them, its accessible tree read over AT-SPI.

Usage (on a private session bus):
  dbus-run-session -- screen_reader.py TIRMO WORKDIR [--orca]

With --orca, Orca runs too (speech off, its debug log on) and what it would
have spoken is checked in its log. Prints a line for each check that fails
and ends with 1 then; 0 when all hold.
"""

import os
import pty
import shutil
import subprocess
import sys
import time

import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# The per-interface getters are deprecated for calls on the object itself.
warnings.simplefilter("ignore", DeprecationWarning)

TIMEOUT = 20
failures = []
events = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return condition


class OrcaLog:
    """Orca's debug log, read as it is written: Orca writes a file a block at
    a time but a terminal a line at a time, so it is handed a terminal."""

    def __init__(self):
        self.master, self.terminal = pty.openpty()
        os.set_blocking(self.master, False)
        self.text = ""

    def path(self):
        return os.ttyname(self.terminal)

    def read(self):
        try:
            while True:
                chunk = os.read(self.master, 65536)
                if not chunk:
                    break
                self.text += chunk.decode(errors="replace").replace("\r\n", "\n")
        except (BlockingIOError, OSError):
            pass

    def spoken_since(self, offset):
        return [line.split("SPEECH OUTPUT:", 1)[1].strip()
                for line in self.text[offset:].splitlines() if "SPEECH OUTPUT:" in line]


orca_log = None


def pump():
    ctx = GLib.MainContext.default()
    while ctx.iteration(False):
        pass
    if orca_log:
        orca_log.read()


def poll_for(condition, timeout=TIMEOUT):
    """condition()'s result once it is true, or None after timeout seconds."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        pump()
        try:
            result = condition()
        except GLib.Error:
            result = None
        if result:
            return result
        time.sleep(0.02)
    return None


def wait_for(condition, what, timeout=TIMEOUT):
    """Waits until condition() is true; a failed check when it never is."""
    result = poll_for(condition, timeout)
    check(result, "timed out waiting for " + what)
    return result


def on_event(event):
    events.append(event)


def states(obj):
    return {s.value_nick for s in obj.get_state_set().get_states()}


def find(obj, predicate, depth=0):
    """The first object under obj (obj included) that predicate accepts."""
    if predicate(obj):
        return obj
    if depth > 8 or obj.get_role() == Atspi.Role.TABLE:
        return None
    for i in range(obj.get_child_count()):
        child = obj.get_child_at_index(i)
        if child is not None:
            found = find(child, predicate, depth + 1)
            if found is not None:
                return found
    return None


def named(role, name):
    return lambda o: o.get_role() == role and o.get_name() == name


def action_names(obj):
    return [Atspi.Action.get_action_name(obj, i) for i in range(Atspi.Action.get_n_actions(obj))]


def key(keys):
    subprocess.run(["xdotool", "key", keys], check=True)


def focus_main_window():
    """No window manager hands the window the keyboard, also not back from a
    closed dialog: the test does."""
    subprocess.run(["xdotool", "search", "--sync", "--name", "^TIRMO - ", "windowfocus",
                    "--sync"], check=True, stdout=subprocess.DEVNULL, timeout=TIMEOUT)


def start_x(work):
    """An X server of its own on a 1366x768 screen; its display name."""
    display_file = os.path.join(work, "display")
    with open(display_file, "w") as out:
        server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(out.fileno()), "-screen", "0", "1366x768x24",
             "-nolisten", "tcp"], pass_fds=[out.fileno()], stderr=subprocess.DEVNULL)
    end = time.monotonic() + TIMEOUT
    while time.monotonic() < end:
        with open(display_file) as f:
            number = f.read().strip()
        if number:
            return server, ":" + number
        time.sleep(0.05)
    sys.exit("Xvfb did not start")


def make_app_dir(tirmo, work):
    app = os.path.join(work, "app")
    os.makedirs(os.path.join(app, "cdl", "data"))
    shutil.copy(tirmo, app)
    with open(os.path.join(app, "cdl", "a.cdl"), "wb") as f:
        f.write(b"Arcade\r\nGame Name\tCountry\tGID\r\n"
                b"Zelda\tUSA\tG1\r\nAlpha\tJapan\tG2\r\nBeta\tEurope\tG3\r\n")
    with open(os.path.join(app, "cdl", "b.cdl"), "wb") as f:
        f.write(b"Board\r\nGame Name\tCountry\tGID\r\nChess\tUSA\tB1\r\nGo\tJapan\tB2\r\n")
    return os.path.join(app, "tirmo")


def start_orca(work, env):
    """Orca with speech off and its debug log on, in a home of its own."""
    global orca_log
    home = os.path.join(work, "orca-home")
    os.makedirs(os.path.join(home, ".local", "share", "orca"))
    orca_env = dict(env, HOME=home, XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                    XDG_CONFIG_HOME=os.path.join(home, ".config"))
    orca_log = OrcaLog()
    orca = subprocess.Popen(["orca", "--disable=speech", "--debug-file=" + orca_log.path(),
                             "--replace"], env=orca_env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    wait_for(lambda: "ORCA: Startup complete" in orca_log.text, "Orca to start")
    return orca


def main():
    tirmo, work = sys.argv[1], sys.argv[2]
    with_orca = "--orca" in sys.argv[3:]
    server, display = start_x(work)
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    env.pop("XAUTHORITY", None)
    os.environ["DISPLAY"] = display
    processes = [server]
    try:
        run(make_app_dir(tirmo, work), work, env, with_orca, processes)
    finally:
        for p in reversed(processes):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
    return 1 if failures else 0


def run(tirmo, work, env, with_orca, processes):
    listener = Atspi.EventListener.new(on_event)
    for kind in ("object:state-changed", "object:property-change", "focus:"):
        listener.register(kind)
    log = None
    if with_orca:
        processes.append(start_orca(work, env))
        log = orca_log

    processes.append(subprocess.Popen([tirmo], env=env, stderr=subprocess.DEVNULL))
    desktop = Atspi.get_desktop(0)
    app = wait_for(lambda: find(desktop, lambda o: o.get_role() == Atspi.Role.APPLICATION
                                and o.get_name() == "tirmo"), "the program on the bus")
    if not app:
        return
    selector = wait_for(lambda: find(app, named(Atspi.Role.COMBO_BOX, "")) or
                        find(app, lambda o: o.get_role() == Atspi.Role.COMBO_BOX),
                        "the system selector")
    if not selector:
        return
    focus_main_window()
    if not wait_for(lambda: "focused" in states(selector), "the selector to have the keyboard"):
        return
    status = find(app, lambda o: o.get_role() == Atspi.Role.STATUS_BAR)
    label = status.get_child_at_index(1) if status else None

    def status_text():
        return label.get_name() if label else ""

    key("Down")
    if not wait_for(lambda: status_text().startswith("You Have 0 of 3"), "Arcade to load"):
        return
    table = find(app, lambda o: o.get_role() == Atspi.Role.TABLE)
    if not check(table is not None, "the list is a table"):
        return

    def cell(row, col):
        return Atspi.Table.get_accessible_at(table, row, col)

    def notice_of(text):
        return lambda: any(e.type == "object:state-changed:showing" and e.detail1 == 1
                           and e.source.get_role() == Atspi.Role.NOTIFICATION
                           and e.source.get_name() == text for e in events)

    def focus_on(obj):
        return lambda: any(e.type == "object:state-changed:focused" and e.detail1 == 1
                           and e.source == obj for e in events)

    # Onto the first game's Have cell: a checkable cell, not ticked.
    have0 = cell(0, 0)
    said = None
    for _ in range(3):
        events.clear()
        spoken = len(log.text) if log else 0
        key("Tab")
        if not wait_for(focus_on(have0), "the focus on the first Have cell"):
            return
        if not log:
            break
        said = poll_for(lambda: [s for s in log.spoken_since(spoken) if "not checked" in s], 5)
        if said:
            break
        # On a busy machine Orca may find the new focus while it handles the
        # Tab key itself, before the focus event, and then take that event
        # for no change and say nothing: away and back again.
        print("Orca said nothing on the Have cell; Shift+Tab and Tab again", flush=True)
        key("shift+Tab")
        if not wait_for(focus_on(selector), "the focus back on the selector"):
            return
    check("toggle" in action_names(have0), "the Have cell has the action 'toggle'")
    check("checked" not in states(have0), "the first Have cell reads as not ticked")
    if log:
        check(said, "Orca to say 'not checked' on the Have cell")
        print("Orca on the Have cell:", said, flush=True)

    # Space ticks it: the state changes, then the count is announced on it.
    events.clear()
    spoken = len(log.text) if log else 0
    key("space")
    wait_for(lambda: any(e.type == "object:state-changed:checked" and e.detail1 == 1
                         and e.source == have0 for e in events), "the checked event")
    check("checked" in states(have0), "the Have cell reads as ticked after Space")
    wait_for(notice_of("You Have 1 of 3 known Arcade Games"),
             "the new count announced as a notification shown")
    if log:
        said = wait_for(lambda: [x for x in log.spoken_since(spoken) if x.startswith("'checked")],
                        "Orca to say 'checked' after Space")
        print("Orca after Space:", said, flush=True)
        said = wait_for(lambda: [x for x in log.spoken_since(spoken)
                                 if "You Have 1 of 3 known Arcade Games" in x],
                        "Orca to say the new count after Space")
        print("Orca on the count:", said, flush=True)

    # Down: the new cell selected, the old one no longer, as a client's cache sees.
    events.clear()
    have1 = cell(1, 0)
    key("Down")
    wait_for(focus_on(have1), "the focus on the second Have cell")
    check(any(e.type == "object:state-changed:selected" and e.detail1 == 1 and e.source == have1
              for e in events), "the second cell announced as selected")
    check(any(e.type == "object:state-changed:selected" and e.detail1 == 0 and e.source == have0
              for e in events), "the first cell announced as no longer selected")
    check("selected" not in states(have0), "the first cell's cached state isn't selected")
    check("selected" in states(have1), "the second cell's cached state is selected")

    # A click on the third Have cell ticks it; the new count is announced.
    have2 = cell(2, 0)
    spoken = len(log.text) if log else 0
    extents = Atspi.Component.get_extents(have2, Atspi.CoordType.SCREEN)
    subprocess.run(["xdotool", "mousemove", "--sync", str(extents.x + extents.width // 2),
                    str(extents.y + extents.height // 2), "click", "1"], check=True)
    wait_for(notice_of("You Have 2 of 3 known Arcade Games"),
             "the count after a click announced as a notification shown")
    check("checked" in states(have2), "the third Have cell reads as ticked after a click")
    if log:
        said = wait_for(lambda: [x for x in log.spoken_since(spoken)
                                 if "You Have 2 of 3 known Arcade Games" in x],
                        "Orca to say the new count after a click")
        print("Orca on the count after a click:", said, flush=True)

    # Another system: no focus on the list while it loads, and every object an
    # event named can still be asked about.
    key("shift+Tab")
    wait_for(lambda: "focused" in states(selector), "the selector to have the keyboard again")
    events.clear()
    key("Down")
    wait_for(lambda: status_text().startswith("You Have 0 of 2"), "Board to load")
    wait_for(lambda: "focused" in states(selector), "the selector to keep the keyboard")
    pump()
    for e in events:
        if e.type == "object:state-changed:focused" and e.detail1 == 1:
            check(e.source.get_role() != Atspi.Role.TABLE_CELL, "no cell focused during the load")
            check(e.source.get_role() != Atspi.Role.TABLE, "the list not focused during the load")
    for e in events:
        try:
            e.source.get_role()
            e.source.get_state_set()
        except GLib.Error as error:
            check(False, "an event named an object gone after the switch: %s" % error.message)
            break

    # The shortcuts reach the dialogs; Escape closes them.
    def dialog(title):
        return find(app, lambda o: o.get_role() in (Atspi.Role.DIALOG, Atspi.Role.FILE_CHOOSER,
                                                    Atspi.Role.FRAME, Atspi.Role.WINDOW)
                    and o.get_name() == title and "showing" in states(o))

    for keys, title in (("ctrl+h", "Save List"), ("ctrl+m", "Save List"), ("F5", "Update")):
        focus_main_window()
        key(keys)
        if wait_for(lambda: dialog(title), "%s to open %s" % (keys, title)):
            key("Escape")
            wait_for(lambda: not dialog(title), "Escape to close %s" % title)

    # The Update button pressed through its action answers at once.
    button = find(app, named(Atspi.Role.PUSH_BUTTON, "Update the game databases"))
    if check(button is not None, "the Update button is on the bus"):
        check(button.get_description() == "Shortcut: F5", "the shortcut in its description")
        started = time.monotonic()
        try:
            Atspi.Action.do_action(button, 0)
        except GLib.Error as error:
            check(False, "the Update action got no reply: %s" % error.message)
        check(time.monotonic() - started < 5, "the Update action answered at once")
        if wait_for(lambda: dialog("Update"), "the action to open the Update dialog"):
            key("Escape")
            wait_for(lambda: not dialog("Update"), "Escape to close Update")


if __name__ == "__main__":
    sys.exit(main())
