"""The built program on a private display, seen and driven from outside as a person does.

Input goes through the display server as real key and button events: xdotool (XTEST) on X11,
wtype (a virtual keyboard) on sway, and on GNOME and KDE a remote keyboard the desktop itself
offers (mutter's remote desktop API, KDE's desktop portal). On Wayland there is no pointer to
move and the window is driven by the keyboard alone. What the window shows is read through the
accessibility tree (AT-SPI), what the targets received from the files they wrote or from their
own accessibility tree. Nothing here links or calls the program's own code.
"""

import ctypes
import json
import os
import re
import subprocess
import tempfile
import threading
import time

import pyatspi
from gi.repository import GLib

# A busy or vanished application answers no call: give up on it after seconds, not minutes.
pyatspi.setTimeout(3000, 15000)

WINDOW_TITLE = "Tolvane - Création de mot de passe"
KEY_DELAY_MS = 40

# Where each control lies in the window's client area, in pixels: the designer's twips / 15,
# frames' offsets added. Controls are found by these rectangles.
CONTROLS = {
    "Combo1": (208, 80, 49, 21),
    "Combo3": (208, 104, 49, 21),
    "Combo2": (208, 128, 89, 21),
    "Check2": (168, 152, 89, 17),
    "Check4": (248, 152, 89, 17),
    "Check6": (328, 152, 81, 17),
    "Check7": (408, 152, 89, 17),
    "Check3": (168, 168, 89, 17),
    "Check8": (248, 168, 73, 17),
    "Check5": (328, 168, 89, 17),
    "Option1": (112, 200, 121, 13),
    "Text1": (240, 200, 193, 19),
    "Check1": (472, 200, 17, 17),
    "Option0": (112, 216, 113, 13),
    "Combo4": (280, 248, 41, 21),
    "Option2": (336, 248, 161, 17),
    "Option4": (336, 264, 161, 17),
    "Option3": (336, 280, 161, 17),
    "Check9": (112, 280, 177, 13),
    "Check10": (112, 296, 281, 17),
    "Combo5": (136, 320, 153, 21),
    "Command4": (296, 320, 65, 17),
    "Command5": (368, 320, 65, 17),
    "Command6": (448, 320, 49, 17),
    "Command3": (88, 368, 33, 25),
    "Command2": (320, 368, 89, 25),
    "Command1": (416, 368, 89, 25),
}


class Failure(AssertionError):
    pass


def sh(*args, check=True, timeout=30):
    result = subprocess.run(args, capture_output=True, text=True, timeout=timeout)
    if check and result.returncode != 0:
        raise Failure(f"{' '.join(args)}: {result.stderr.strip()}")
    return result.stdout


def wait_for(what, probe, timeout=20.0, step=0.1):
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"gave up waiting for {what}")
        time.sleep(step)


WAYLAND = bool(os.environ.get("WAYLAND_DISPLAY"))
# x11, sway (wlroots), kwin or mutter.
DESKTOP = os.environ.get("TOLVANE_DESKTOP") or ("sway" if WAYLAND else "x11")
PORTAL = DESKTOP in ("kwin", "mutter")


class RemoteKeyboard:
    """Key presses by keysym through the desktop's own remote input: mutter's remote desktop
    API on GNOME, the desktop portal on KDE (which grants a program outside a sandbox at once).
    The desktop finds each keysym's key and level on the user's layout."""

    MUTTER = "org.gnome.Mutter.RemoteDesktop"
    PORTAL_NAME = "org.freedesktop.portal.Desktop"
    PORTAL_PATH = "/org/freedesktop/portal/desktop"
    REMOTE = "org.freedesktop.portal.RemoteDesktop"

    def __init__(self):
        from gi.repository import Gio, GLib
        self.Gio, self.GLib = Gio, GLib
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        self.tokens = 0
        if DESKTOP == "mutter":
            self.session = self._call(self.MUTTER, "/org/gnome/Mutter/RemoteDesktop", self.MUTTER,
                                      "CreateSession", None, "(o)")[0]
            self._call(self.MUTTER, self.session, self.MUTTER + ".Session", "Start", None)
        else:
            token = self._token()
            results = self._request("CreateSession", "(a{sv})", (),
                                    {"session_handle_token": GLib.Variant("s", token)})
            self.session = results["session_handle"]
            self._request("SelectDevices", "(oa{sv})", (self.session,),
                          {"types": GLib.Variant("u", 1)})
            self._request("Start", "(osa{sv})", (self.session, ""), {})
        # The first key makes the keyboard known to the seat: one nobody sees, then a moment.
        self.keysym(0xffe1, True)
        self.keysym(0xffe1, False)
        time.sleep(0.5)

    def _call(self, name, path, interface, method, args, reply=None):
        result = self.bus.call_sync(name, path, interface, method, args,
                                    self.GLib.VariantType(reply) if reply else None,
                                    self.Gio.DBusCallFlags.NONE, 10000, None)
        return result.unpack() if result is not None else None

    def _token(self):
        self.tokens += 1
        return f"outside{os.getpid()}_{self.tokens}"

    def _request(self, method, signature, args, options):
        GLib = self.GLib
        token = self._token()
        sender = self.bus.get_unique_name()[1:].replace(".", "_")
        path = f"{self.PORTAL_PATH}/request/{sender}/{token}"
        answer = {}
        loop = GLib.MainLoop()

        def response(_c, _s, _p, _i, _n, parameters):
            answer["code"], answer["results"] = parameters.unpack()
            loop.quit()
        subscription = self.bus.signal_subscribe(
            self.PORTAL_NAME, "org.freedesktop.portal.Request", "Response", path, None,
            self.Gio.DBusSignalFlags.NO_MATCH_RULE, response)
        options = dict(options, handle_token=GLib.Variant("s", token))
        self._call(self.PORTAL_NAME, self.PORTAL_PATH, self.REMOTE, method,
                   GLib.Variant(signature, (*args, options)))
        GLib.timeout_add(20000, loop.quit)
        loop.run()
        self.bus.signal_unsubscribe(subscription)
        if answer.get("code") != 0:
            raise Failure(f"the desktop refused the test's own keyboard: {answer}")
        return answer["results"]

    def keysym(self, keysym, down):
        GLib = self.GLib
        if DESKTOP == "mutter":
            self._call(self.MUTTER, self.session, self.MUTTER + ".Session",
                       "NotifyKeyboardKeysym", GLib.Variant("(ub)", (keysym, down)))
        else:
            self._call(self.PORTAL_NAME, self.PORTAL_PATH, self.REMOTE, "NotifyKeyboardKeysym",
                       GLib.Variant("(oa{sv}iu)", (self.session, {}, keysym, int(down))))

    NAMES = {"Tab": 0xff09, "Return": 0xff0d, "space": 0x20, "Down": 0xff54, "Up": 0xff52,
             "Escape": 0xff1b, "End": 0xff57, "Home": 0xff50, "BackSpace": 0xff08,
             "Caps_Lock": 0xffe5, "shift": 0xffe1, "ctrl": 0xffe3, "alt": 0xffe9, "F4": 0xffc1,
             "Delete": 0xffff}

    @staticmethod
    def keysym_of(character):
        code = ord(character)
        if 0x20 <= code <= 0x7e or 0xa0 <= code <= 0xff:
            return code
        return {"\t": 0xff09, "\n": 0xff0d}.get(character, 0x01000000 + code)

    def press(self, name):
        # One character is itself ("+" too); otherwise modifiers joined by "+" before the key.
        *mods, last = name.split("+") if len(name) > 1 else [name]
        held = [self.NAMES[m] for m in mods]
        for k in held:
            self.keysym(k, True)
        key = self.NAMES.get(last) or self.keysym_of(last)
        self.keysym(key, True)
        self.keysym(key, False)
        for k in reversed(held):
            self.keysym(k, False)


_remote = []


def remote():
    if not _remote:
        _remote.append(RemoteKeyboard())
    return _remote[0]


def wtype_key(name):
    """xdotool's "shift+Tab" as wtype's arguments."""
    *mods, last = name.split("+")
    args = []
    for mod in mods:
        args += ["-M", mod]
    args += ["-k", last]
    for mod in reversed(mods):
        args += ["-m", mod]
    return args


def key(*names):
    if PORTAL:
        for name in names:
            remote().press(name)
            time.sleep(KEY_DELAY_MS / 1000)
    elif WAYLAND:
        for name in names:
            sh("wtype", *wtype_key(name))
            time.sleep(KEY_DELAY_MS / 1000)
    else:
        sh("xdotool", "key", "--delay", str(KEY_DELAY_MS), *names)


def type_text(text):
    """Types one key at a time, as a person does, whatever the layout."""
    if PORTAL:
        for character in text:
            remote().press(character)
            time.sleep(KEY_DELAY_MS / 1000)
    elif WAYLAND:
        sh("wtype", "-d", str(KEY_DELAY_MS), "--", text)
    else:
        sh("xdotool", "type", "--delay", str(KEY_DELAY_MS), "--", text)


def clipboard():
    """The clipboard's text and the types it is offered in; ("", []) when it is empty."""
    if WAYLAND:
        listing = subprocess.run(["wl-paste", "--list-types"], capture_output=True, text=True)
        text = subprocess.run(["wl-paste", "--no-newline", "--type", "text/plain;charset=utf-8"],
                              capture_output=True)
    else:
        listing = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"],
                                 capture_output=True, text=True)
        text = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"],
                              capture_output=True)
    if listing.returncode != 0 or text.returncode != 0:
        return "", []
    return text.stdout.decode("utf-8"), listing.stdout.split()


def click_at(x, y):
    if WAYLAND:
        raise Failure("no pointer on Wayland: these scenarios use the keyboard alone")
    # "--sync" waits for the pointer to move: 15 seconds when it is already there.
    here = dict(field.split("=") for field in sh("xdotool", "getmouselocation", "--shell").split())
    if (int(here["X"]), int(here["Y"])) == (x, y):
        sh("xdotool", "click", "1")
    else:
        sh("xdotool", "mousemove", "--sync", str(x), str(y), "click", "1")
    time.sleep(0.15)


def sway_windows():
    def walk_tree(node):
        if node.get("pid") and node.get("visible", True):
            yield node
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            yield from walk_tree(child)
    return list(walk_tree(json.loads(sh("swaymsg", "-r", "-t", "get_tree"))))


def visible_windows(name=None, cls=None):
    """Window ids by title or by class (X11) / application id (Wayland), both as patterns."""
    if WAYLAND:
        import re
        pattern = re.compile(cls or name)
        return [str(w["id"]) for w in sway_windows()
                if pattern.search((w.get("app_id") or "") if cls else (w.get("name") or ""))]
    args = ["xdotool", "search", "--onlyvisible"]
    args += ["--class", cls] if cls else ["--name", name]
    return sh(*args, check=False).split()


def window_pid(window):
    if WAYLAND:
        return next(w["pid"] for w in sway_windows() if str(w["id"]) == window)
    return int(sh("xdotool", "getwindowpid", window).strip())


def activate(window):
    if WAYLAND:
        sh("swaymsg", f"[con_id={window}] focus")
    else:
        sh("xdotool", "windowactivate", "--sync", window)


def seat_has_keyboard():
    return any(seat.get("capabilities", 0) & 2
               for seat in json.loads(sh("swaymsg", "-r", "-t", "get_seats")))


class KeymapWatcher:
    """wev, a client with a window of its own: every keymap the compositor sends it, and the keys
    it receives."""

    def __init__(self):
        read, write = os.pipe()
        self.events = tempfile.TemporaryFile(mode="w+")
        # wev writes each keymap it is sent to the path given, here the pipe.
        self.process = subprocess.Popen(["wev", "-M", f"/dev/fd/{write}"], pass_fds=(write,),
                                        stdout=self.events, stderr=subprocess.DEVNULL)
        os.close(write)
        self.data = bytearray()
        self.reader = threading.Thread(target=self._read, args=(read,), daemon=True)
        self.reader.start()
        wait_for("the second client's window", lambda: visible_windows(cls="^wev$"))

    def _read(self, fd):
        with os.fdopen(fd, "rb") as pipe:
            while chunk := pipe.read1(65536):
                self.data += chunk

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.reader.join(5)

    def keymaps(self):
        """Each keymap as text, ended by the NUL the compositor sends with it."""
        return [k.decode("utf-8", "replace") for k in bytes(self.data).split(b"\0") if k.strip()]

    def keys(self):
        self.events.seek(0)
        return [line for line in self.events if "wl_keyboard] key:" in line]


_xkb = ctypes.CDLL("libxkbcommon.so.0")
_xkb.xkb_keysym_from_name.argtypes = [ctypes.c_char_p, ctypes.c_int]
_xkb.xkb_keysym_from_name.restype = ctypes.c_uint32
_xkb.xkb_keysym_to_utf32.argtypes = [ctypes.c_uint32]
_xkb.xkb_keysym_to_utf32.restype = ctypes.c_uint32
_KEY = re.compile(r"\bkey\s+<[^>]+>\s*\{([^}]*)\}")
_LEVELS = re.compile(r"\[\s*([^\]]*?)\s*\]")


def spelled(keymap_text):
    """The characters of a keymap's keys, every level, in the order the keymap lists them."""
    out = []
    for body in _KEY.findall(keymap_text):
        for levels in _LEVELS.findall(body):
            if re.fullmatch(r"Group\d+", levels):  # symbols[Group1]= [ ... ]
                continue
            for name in levels.split(","):
                code = _xkb.xkb_keysym_to_utf32(
                    _xkb.xkb_keysym_from_name(name.strip().encode(), 0))
                if code:
                    out.append(chr(code))
            break
    return "".join(out)


def keymap():
    """The user's keymap; on Wayland it lives in the compositor and no client can change it."""
    return "" if WAYLAND else sh("xkbcomp", "-xkb", os.environ["DISPLAY"], "-")


def set_layout(layout):
    name, *variant = layout.split()
    if DESKTOP == "kwin":
        with open(os.path.join(os.environ["XDG_CONFIG_HOME"], "kxkbrc"), "w") as f:
            f.write(f"[Layout]\nLayoutList={name}\nVariantList={''.join(variant)}\nUse=true\n")
        sh("dbus-send", "--session", "--type=signal", "/Layouts", "org.kde.keyboard.reloadConfig")
        time.sleep(0.5)
    elif DESKTOP == "mutter":
        # mutter reads the layout from the system's locale service once, when it starts.
        if layout != os.environ.get("TOLVANE_LAYOUT"):
            raise Failure(f"this mutter session has {os.environ.get('TOLVANE_LAYOUT')}, "
                          f"not {layout}")
    elif WAYLAND:
        # Each step must name a valid keymap: no variant, the layout, then its variant.
        name, *variant = layout.split()
        sh("swaymsg", "input type:keyboard xkb_variant ''")
        sh("swaymsg", f"input type:keyboard xkb_layout {name}")
        if variant:
            sh("swaymsg", f"input type:keyboard xkb_variant {variant[0]}")
    else:
        sh("setxkbmap", *layout.split())


def walk(acc, skip=()):
    yield acc
    if acc.getRoleName() in skip:
        return
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, skip)


def extents(acc):
    e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


class Box:
    """A message box or dialog of the program, as the accessibility tree shows it."""

    def __init__(self, acc):
        self.acc = acc
        self.title = acc.name
        self.texts = [a.name for a in walk(acc) if a.getRoleName() == "label" and a.name]
        self.buttons = {a.name: a for a in walk(acc) if a.getRoleName() == "push button"}

    @property
    def text(self):
        return "\n".join(self.texts)

    def press(self, caption):
        if WAYLAND or PORTAL:
            # The keyboard, once the box has it: Enter presses the default button, Escape the
            # one that declines.
            try:
                wait_for("the box to take the keyboard",
                         lambda: self.acc.getState().contains(pyatspi.STATE_ACTIVE), timeout=3)
            except Failure:
                if WAYLAND and not PORTAL:
                    # Another window took the focus as the box came (the target closing): the
                    # person clicks the box first.
                    sh("swaymsg", f'[title="^{self.title}$"] focus', check=False)
                    time.sleep(0.3)
                # Other compositors do not tell: the keys go where the focus is.
            # A person reads the box first; a box closed before the desktop has made it the
            # active window leaves KWin with no window to give the focus back to.
            time.sleep(0.8 if PORTAL else 0.2)
            button = self.buttons.get(caption)
            if caption in ("Oui", "Non") and button is not None and not button.getState(
            ).contains(pyatspi.STATE_FOCUSED):
                # The desktop's button order decides which one has the focus: the other is
                # pressed as a screen reader presses it.
                button.queryAction().doAction(0)
                return
            key("Return" if caption in ("OK", "Oui") else "Escape")
            return
        if caption not in self.buttons:
            raise Failure(f"box {self.title!r} has no button {caption!r}: {list(self.buttons)}")
        x, y, w, h = extents(self.buttons[caption])
        click_at(x + w // 2, y + h // 2)


def applications(name):
    """The applications of this name on the accessibility bus, as (process id, application)."""
    desktop = pyatspi.Registry.getDesktop(0)
    found = []
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == name:
            app.set_cache_mask(pyatspi.Atspi.Cache.NONE)
            found.append((app.get_process_id(), app))
    return found


def editor_documents(name="kwrite", named=True):
    """What each running editor's document holds, read as a screen reader reads it: process id,
    text. An editor showing no document (a welcome page) gives None. KWrite names its document
    view; mousepad does not (named=False)."""
    documents = {}
    for pid, app in applications(name):
        try:
            texts = [a for a in walk(app) if a.getRoleName() == "text" and
                     a.getState().contains(pyatspi.STATE_EDITABLE) and (a.name or not named)]
            documents[pid] = texts[0].queryText().getText(0, -1) if texts else None
        except GLib.GError:  # an editor just starting, not yet answering on the bus
            continue
    return documents


def end_keyboard_sessions():
    """KDE ends every remote keyboard session but the test's own, as when the person stops the
    sharing from the desktop: through the portal back end's own session objects."""
    from gi.repository import Gio, GLib
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    name = "org.freedesktop.impl.portal.desktop.kde"

    def children(path):
        xml = bus.call_sync(name, path, "org.freedesktop.DBus.Introspectable", "Introspect",
                            None, GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 5000,
                            None).unpack()[0]
        return [n.path for n in Gio.DBusNodeInfo.new_for_xml(xml).nodes]
    root = "/org/freedesktop/portal/desktop/session"
    ended = []
    for sender in children(root):
        for token in children(f"{root}/{sender}"):
            if not token.startswith("outside"):
                bus.call_sync(name, f"{root}/{sender}/{token}",
                              "org.freedesktop.impl.portal.Session", "Close", None, None,
                              Gio.DBusCallFlags.NONE, 5000, None)
                ended.append(token)
    if not ended:
        raise Failure("no keyboard session of the program to end")


def grant_keyboard(allow=True):
    """Answers the desktop's question, as its user does: on GNOME, the remote interaction
    switch, then "Share" (or "Cancel"), through the dialog's accessibility tree; KDE grants a
    program outside a sandbox at once. Returns once answered, False when nothing asked."""
    if DESKTOP != "mutter":
        return False

    def dialog():
        for _, app in applications("xdg-desktop-portal-gnome"):
            try:
                buttons = [a for a in walk(app) if a.getRoleName() == "push button"]
            except GLib.GError:  # the dialog going away while it is read
                continue
            if buttons:
                return app, buttons
        return None
    app, buttons = wait_for("the desktop's question", dialog, timeout=20)
    if allow:
        for switch in [a for a in walk(app) if a.getRoleName() == "check box"]:
            if not switch.getState().contains(pyatspi.STATE_CHECKED):
                switch.queryAction().doAction(0)
        time.sleep(0.3)
    wanted = "Share" if allow else "Cancel"
    button = next(b for b in buttons if wanted in b.name)
    button.queryAction().doAction(0)
    wait_for("the question to close", lambda: not dialog(), timeout=10)
    return True


class Program:
    """One run of the built program, from its start to its end."""

    def __init__(self, path):
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        # What the program says on its error output (never a password) shows when tracing.
        self.process = subprocess.Popen(
            [path], env=env, stdout=subprocess.DEVNULL,
            stderr=None if os.environ.get("TOLVANE_OUTSIDE_IN_TRACE") else subprocess.DEVNULL)
        self.app = wait_for("the program on the accessibility bus", self._find_app)
        self.frame = wait_for("the window", lambda: self._top(WINDOW_TITLE))
        # GNOME and KDE tell no client of the others' windows: the accessibility tree says all.
        self.window = None if PORTAL else wait_for(
            "its window", lambda: visible_windows(WINDOW_TITLE))[0]
        client = [a for a in walk(self.frame) if a.name == WINDOW_TITLE and a is not self.frame]
        self.origin = extents(client[0] if client else self.frame)[:2]
        time.sleep(0.3)

    def _find_app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.get_process_id() == self.process.pid:
                # Read afresh every time: the window changes under us.
                app.set_cache_mask(pyatspi.Atspi.Cache.NONE)
                return app
        return None

    def _top(self, name):
        for i in range(self.app.childCount):
            top = self.app.getChildAtIndex(i)
            if top is not None and top.name == name:
                return top
        return None

    def end(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()

    # Controls -----------------------------------------------------------------------------------

    def rect(self, control):
        x, y, w, h = CONTROLS[control]
        return self.origin[0] + x, self.origin[1] + y, w, h

    def click(self, control):
        x, y, w, h = self.rect(control)
        # Buttons and boxes in their middle; combo boxes in their edit field, left of the arrow.
        cx = x + (w - 20) // 2 if control.startswith("Combo") else x + w // 2
        click_at(cx, y + h // 2)

    def accessible(self, control):
        """The accessible object whose top-left corner is the control's."""
        x, y, _, _ = self.rect(control)
        for acc in walk(self.frame):
            if acc.getRoleName() in ("filler", "panel", "frame", "label"):
                continue
            if extents(acc)[:2] == (x, y):
                return acc
        raise Failure(f"{control} not found in the accessibility tree")

    def control_at(self, acc):
        ax, ay, aw, ah = extents(acc)
        cx, cy = ax + aw // 2, ay + ah // 2
        for name in CONTROLS:
            x, y, w, h = self.rect(name)
            if x <= cx < x + w and y <= cy < y + h:
                return name
        return None

    def focus(self):
        """The control that has the keyboard focus, or None."""
        focused = [a for a in walk(self.frame) if a.getState().contains(pyatspi.STATE_FOCUSED)]
        return self.control_at(focused[-1]) if focused else None

    def combo_edit(self, control):
        edits = [a for a in walk(self.accessible(control)) if a.getRoleName() == "text"]
        return edits[0].queryText()

    def combo_text(self, control):
        return self.combo_edit(control).getText(0, -1)

    def combo_selected_text(self, control):
        edit = self.combo_edit(control)
        if edit.getNSelections() == 0:
            return ""
        start, end = edit.getSelection(0)
        return edit.getText(start, end)

    def combo_items(self, control):
        return [a.name for a in walk(self.accessible(control)) if a.getRoleName() == "list item"]

    def choose(self, control, entry):
        """Opens a combo box's list with the mouse and clicks an entry."""
        x, y, w, h = self.rect(control)
        click_at(x + w - 8, y + h // 2)
        item = wait_for(f"{entry!r} in the list of {control}", lambda: self._shown_item(control, entry))
        ix, iy, iw, ih = extents(item)
        click_at(ix + min(iw // 2, 40), iy + ih // 2)

    def _shown_item(self, control, entry):
        for acc in walk(self.accessible(control)):
            if acc.getRoleName() == "list item" and acc.name == entry:
                if acc.getState().contains(pyatspi.STATE_SHOWING) and extents(acc)[2] > 0:
                    return acc
        return None

    def state(self, control, state):
        return self.accessible(control).getState().contains(state)

    def checked(self, control):
        return self.state(control, pyatspi.STATE_CHECKED)

    def enabled(self, control):
        return self.state(control, pyatspi.STATE_ENABLED)

    def role(self, control):
        return self.accessible(control).getRoleName()

    def name(self, control):
        return self.accessible(control).name

    def edit_text(self, control):
        return self.accessible(control).queryText().getText(0, -1)

    # Boxes --------------------------------------------------------------------------------------

    def boxes(self):
        found = []
        for i in range(self.app.childCount):
            top = self.app.getChildAtIndex(i)
            try:
                if top is not None and top.name != WINDOW_TITLE and top.getRoleName() in (
                        "dialog", "alert", "frame", "file chooser"):
                    if top.getState().contains(pyatspi.STATE_VISIBLE):
                        found.append(Box(top))
            except GLib.GError:  # a box going away while it is read
                continue
        return found

    def box(self, timeout=10.0):
        return wait_for("a message box", lambda: (self.boxes() or [None])[0], timeout)

    def no_box(self, settle=0.6):
        time.sleep(settle)
        return not self.boxes()

    def wait_responsive(self, timeout=120.0):
        """Returns once the window answers again (a delivery runs on its thread)."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.frame.name
                self.app.childCount
                return
            except Exception:
                if time.monotonic() > deadline:
                    raise Failure("the window stopped answering")
                time.sleep(0.2)
