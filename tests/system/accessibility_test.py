# SPDX-License-Identifier: GPL-3.0-or-later
# The desktop program as a screen reader meets it: under Xvfb with openbox, a private session bus
# and the accessibility bus. Walks the main window and each dialog for nameless inputs and
# buttons. (The sizes the window takes, and how the form follows, are the offscreen tests'.)
# Prints a table of failures and exits 1 on any; exits 77 (skipped) where a tool is missing,
# unless CI is set.
import contextlib
import importlib.util
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TOOLS = ["Xvfb", "openbox", "dbus-daemon", "xdotool", "/usr/libexec/at-spi-bus-launcher"]
missing = [tool for tool in TOOLS if not shutil.which(tool)]
missing += [] if importlib.util.find_spec("pyatspi") else ["python3-pyatspi"]
if missing:
    print("accessibility: missing " + ", ".join(missing) + " (scripts/setup installs them)")
    sys.exit(1 if os.environ.get("CI") else 77)

from gi.repository import GLib  # noqa: E402
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
from cli_user import User  # noqa: E402

# A stop by ctest's time limit still stops what the test started.
signal.signal(signal.SIGTERM, lambda *_: sys.exit("accessibility: stopped"))
pyatspi = None  # imported once the test's own session bus is set: it connects on import
# The roles a user types into or presses: each needs words a screen reader can say.
NAMED = {"text", "entry", "password text", "combo box", "list", "list box", "table", "check box",
         "radio button", "spin button", "push button", "toggle button"}
UNWALKED = ("table", "list", "menu bar")  # rows and menus
# Each dialog's title, and the keys that open it: a shortcut or the menu (Configuración, Ayuda).
DIALOGS = [("Redactar mensaje", ["ctrl+n"]), ("Preferencias", ["alt+c", "Return"]),
           ("Perfiles de contraseñas", ["alt+c", "Down", "Return"]),
           ("Acerca de", ["alt+u", "Return"])]
failures = []


def check(table, case, ok, detail=""):
    if not ok:
        failures.append((table, case, detail))


def until(probe, timeout=10, what=None):
    """probe()'s first true value within `timeout` seconds, dispatching the accessibility events
    meanwhile; after it a false value, or TimeoutError where `what` names what was awaited."""
    deadline = time.monotonic() + timeout
    while True:
        while GLib.MainContext.default().iteration(False):
            pass
        value = None
        with contextlib.suppress(GLib.Error):  # a window that closes while it is looked at
            value = probe()
        if value or time.monotonic() > deadline:
            if not value and what:
                raise TimeoutError("timed out waiting for " + what)
            return value
        time.sleep(0.05)


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True,
                          text=True).stdout.strip()


def start(stack, *args, **kwargs):
    process = subprocess.Popen(args, **kwargs)
    stack.callback(lambda: (process.terminate(), process.wait(5)))
    return process


def children(node):
    return [child for child in node if child is not None]


def has(node, state):
    return node.getState().contains(state)


def find(node, role=None, name=None, state=None):
    """The first node below `node`, depth first, of `role`, `name` and `state` where given."""
    for child in children(node):
        if role in (None, child.getRoleName()) and name in (None, child.name) and (
                state is None or has(child, state)):
            return child
        found = child.getRoleName() not in UNWALKED and find(child, role, name, state)
        if found:
            return found
    return None


def says(text):
    return any(c.isalnum() for c in text)


def shown(combo):
    edit, items = find(combo, "text"), find(combo, "list")
    return edit.queryText().getText(0, -1) if edit else getattr(
        items and find(items, "list item", state=pyatspi.STATE_SELECTED), "name", None)


def named(node):
    """Whether a screen reader has words for `node`: a name that is more than signs ("...") or a
    combo box's shown value (Qt's name for a combo box here), or a label it is labelled by."""
    combo = node.getRoleName() == "combo box"
    return says(node.name) and not (combo and node.name == shown(node)) or any(
        r.getRelationType() == pyatspi.RELATION_LABELLED_BY and says(r.getTarget(0).name)
        for r in node.getRelationSet())


def check_names(table, window):
    def nameless(node, path):
        found, label = [], ""
        for index, child in enumerate(children(node)):
            role, where = child.getRoleName(), f"{path}/{child.getRoleName()}[{index}]"
            if has(child, pyatspi.STATE_SHOWING):
                label = child.name if role == "label" else label
                if role in NAMED and not named(child):
                    found.append((where, f"name {child.name!r}, after the label {label!r}"))
                # A combo box takes the focus itself, not its line edit.
                found += [] if role in UNWALKED + ("combo box",) else nameless(child, where)
        return found
    failures.extend((table, where, what) for where, what in
                    nameless(window, f"{window.getRoleName()} '{window.name}'"))


def dialog(app):
    return next((w for w in children(app) if w.getRoleName() in ("dialog", "alert")), None)


def walk_dialog(app, title):
    window = until(lambda: dialog(app))
    check("dialogs", title, window and title in window.name,
          "opened " + (repr(window.name) if window else "nothing"))
    if window:
        check_names("dialogs", window)
        xdotool("key", "Escape")
        until(lambda: not dialog(app), what=title + " to close")


def run(stack, root):
    global pyatspi
    # A display, a session bus and an accessibility bus of the test's own, and a window manager.
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    read, write = os.pipe()
    start(stack, "Xvfb", "-displayfd", str(write), "-screen", "0", "1920x1080x24", "-nolisten",
          "tcp", pass_fds=[write], **quiet)
    os.close(write)
    with os.fdopen(read) as displayfd:
        os.environ["DISPLAY"] = ":" + displayfd.readline().strip()
    # A bus that starts no services: no desktop keyring asks for a password on the display.
    (root / "bus.conf").write_text(
        "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
        "<policy context='default'><allow send_destination='*' eavesdrop='true'/>"
        "<allow eavesdrop='true'/><allow own='*'/></policy></busconfig>")
    bus = start(stack, "dbus-daemon", "--config-file", str(root / "bus.conf"), "--nofork",
                "--print-address", stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    os.environ.update(DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().strip(), HOME=str(root),
                      XDG_CONFIG_HOME=str(root / "config"), XDG_DATA_HOME=str(root / "data"),
                      XDG_RUNTIME_DIR=str(root))
    start(stack, "/usr/libexec/at-spi-bus-launcher", "--launch-immediately", **quiet)
    start(stack, "openbox", "--sm-disable", **quiet)
    user = User(root, "atspi", register=True)
    user.profile("clave", "secreta del perfil")
    program = start(stack, os.environ["VELKORANT_DESKTOP"], cwd=user.work, env=dict(
        user.env, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
    import pyatspi
    desktop = pyatspi.Registry.getDesktop(0)
    app = until(lambda: next((a for a in children(desktop) if a.get_process_id() == program.pid),
                             None), 15, "the program on the accessibility bus")
    walk_dialog(app, "Descargo de responsabilidad")  # the legal notice of a first start
    frame = until(lambda: find(app, "frame"), 5, "the main window")
    check_names("names", frame)
    window = xdotool("search", "--onlyvisible", "--pid", str(program.pid)).split()[-1]
    for title, key_names in DIALOGS:
        # Made the active window first, as a click on it would.
        xdotool("windowactivate", "--sync", window, "key", "--delay", "50", *key_names)
        walk_dialog(app, title)


def main():
    began = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="velkorant-atspi-") as root, \
            contextlib.ExitStack() as stack:
        try:
            run(stack, pathlib.Path(root))
        except TimeoutError as error:
            check("setup", str(error), False, "the later checks did not run")
    print(f"accessibility: {len(failures)} failures in {time.monotonic() - began:.0f} s")
    for row in [("check", "case", "detail")] * bool(failures) + failures:
        print("%-8s %-60s %s" % row)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
