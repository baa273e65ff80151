#!/usr/bin/python3
"""Outside-in scenarios: the built program driven as a person drives it, its results read in real
targets (mousepad saving its document, a reader in a terminal) and checked against reference.py.

Run through scripts/outside-in, which gives it a private display, window manager and session bus:
    scripts/outside-in build/app/tolvane [scenario-name-part]
"""

import os
import faulthandler
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

import desktop as d
import reference as ref
from desktop import Failure, key, type_text, wait_for

WORK = tempfile.mkdtemp(prefix="tolvane-outside-")
READER = os.path.join(WORK, "lecteur")
RECEIVED = os.path.join(WORK, "received")
THIEF = os.path.join(WORK, "voleur")
STOLEN = os.path.join(WORK, "stolen")


def make_reader(path, received, name):
    """A terminal that writes every key it receives to a file."""
    reader = f"sh -c 'stty raw -echo; exec cat > {received}'"
    with open(path, "w") as f:
        if d.WAYLAND:
            f.write(f"#!/bin/sh\nexec foot -a {name} -T {name} {reader}\n")
        else:
            f.write(f"#!/bin/sh\nexec xterm -u8 -T {name} -e {reader}\n")
    os.chmod(path, 0o755)


SHEETS = os.path.join(WORK, "programmes")
WORKBOOK = os.path.join(WORK, "classeur.gnumeric")
CALC_PIPE = os.path.basename(WORK)  # its own, should another run be under way
CALC_SETTINGS = {  # what changes typed text in Calc, off in its test profile; no first-start tip
    "Calc/Input": ["AutoInput"],
    "Common/Misc": ["ShowTipOfTheDay"],
    "Common/AutoCorrect": ["UseReplacementTable", "TwoCapitalsAtStart", "CapitalAtStartSentence",
                           "SetInetAttribute", "ChangeOrdinalNumber", "ChangeDash",
                           "AddNonBreakingSpace", "ChangeAngleQuotes", "CorrectAccidentalCapsLock",
                           "ReplaceSingleQuote", "ReplaceDoubleQuote"],
}
GNUMERIC_SETTINGS = ("[org/gnome/gnumeric/autocorrect]\ninit-caps=false\nfirst-letter=false\n"
                     "names-of-days=false\nreplace=false\n"
                     "[org/gnome/gnumeric/core/gui/editing]\nautocomplete=false\n")
PAGE = os.path.join(WORK, "page.html")
FIREFOX = os.path.join(WORK, "firefox")
FIREFOX_SETTINGS = (
    ("browser.shell.checkDefaultBrowser", "false"), ("browser.aboutwelcome.enabled", "false"),
    ("datareporting.policy.dataSubmissionEnabled", "false"),
    ("datareporting.policy.firstRunURL", '""'),
    ("toolkit.telemetry.reportingpolicy.firstRun", "false"),
    ("browser.startup.homepage_override.mstone", '"ignore"'), ("app.update.auto", "false"),
)


def calc_profile(name, left_on=()):
    """A Calc profile with the typing aids off, but those left on; the command that starts Calc
    with it."""
    profile = os.path.join(WORK, name)
    items = "".join(
        f'<item oor:path="/org.openoffice.Office.{group}"><prop oor:name="{setting}" '
        f'oor:op="fuse"><value>false</value></prop></item>\n'
        for group, names in CALC_SETTINGS.items() for setting in names
        if setting not in left_on)
    os.makedirs(os.path.join(profile, "user"), exist_ok=True)
    with open(os.path.join(profile, "user", "registrymodifications.xcu"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<oor:items '
                'xmlns:oor="http://openoffice.org/2001/registry" '
                'xmlns:xs="http://www.w3.org/2001/XMLSchema" '
                'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">\n'
                + items + "</oor:items>\n")
    return (f"exec /usr/bin/localc --norestore -env:UserInstallation=file://{profile} "
            f"'--accept=pipe,name={CALC_PIPE};urp;'")


def make_programs():
    """The spreadsheets as a person starts them, under their own names (which tell the program
    what they are), with their typing aids off in their test profiles (but one Calc that turns
    ' into ’); and a browser on a local page whose text area keeps Tab."""
    calc = calc_profile("calc-profile")
    settings = os.path.join(WORK, "glib-2.0", "settings")
    os.makedirs(settings, exist_ok=True)
    with open(os.path.join(settings, "keyfile"), "w") as f:
        f.write(GNUMERIC_SETTINGS)
    scripts = {
        "calc/localc": calc,
        "calc-gen/localc": "SAL_USE_VCLPLUGIN=gen " + calc,
        "calc-quotes/localc": calc_profile("calc-quotes-profile", ["ReplaceSingleQuote"]),
        # A person's own launcher of another name, whose command its text does not spell out:
        # only the window tells it is Calc.
        "tableur/tableur": 'exec "$(dirname "$0")/../calc/localc"',
        # A new workbook, saved where it is read back.
        "gnumeric/gnumeric": f"printf '\\n' > {WORK}/vide.csv\n"
                             f"ssconvert {WORK}/vide.csv {WORKBOOK} 2>/dev/null\n"
                             f"XDG_CONFIG_HOME={WORK} GSETTINGS_BACKEND=keyfile "
                             f"exec /usr/bin/gnumeric {WORKBOOK}",
        "page/navigateur": "exec chromium --no-sandbox --no-first-run --no-default-browser-check "
                           f"--disable-gpu --password-store=basic --user-data-dir={WORK}/chromium "
                           f"file://{PAGE}",
        "page-firefox/navigateur": f"exec firefox-esr --no-remote --profile {FIREFOX} "
                                   f"file://{PAGE}",
    }
    # A profile that opens the page alone: no first-run tab, no question.
    os.makedirs(FIREFOX, exist_ok=True)
    with open(os.path.join(FIREFOX, "user.js"), "w") as f:
        f.write("".join(f'user_pref("{name}", {value});\n' for name, value in FIREFOX_SETTINGS))
    for name, body in scripts.items():
        path = os.path.join(SHEETS, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + body + "\n")
        os.chmod(path, 0o755)


def read_calc():
    """The first sheet's cells, through Calc's own API: rows of Tab-separated cells."""
    import uno
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext(
        "com.sun.star.bridge.UnoUrlResolver", local)
    remote = wait_for("Calc's API", lambda: _resolve(resolver), timeout=20)
    desktop = remote.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", remote)
    documents = desktop.Components.createEnumeration()
    # The document typed into is the one in front; any other when none is.
    current = desktop.CurrentComponent
    sheet = current.Sheets.getByIndex(0) if current and hasattr(current, "Sheets") else None
    while sheet is None and documents.hasMoreElements():
        document = documents.nextElement()
        if hasattr(document, "Sheets"):
            sheet = document.Sheets.getByIndex(0)
    if sheet is None:
        raise Failure("Calc holds no spreadsheet")
    cursor = sheet.createCursor()
    cursor.gotoEndOfUsedArea(False)
    end = cursor.RangeAddress
    rows = ["\t".join(sheet.getCellByPosition(c, r).String for c in range(end.EndColumn + 1))
            for r in range(end.EndRow + 1)]
    return "".join(row.rstrip("\t") + "\r" for row in rows)


def _resolve(resolver):
    try:
        return resolver.resolve(f"uno:pipe,name={CALC_PIPE};urp;StarOffice.ComponentContext")
    except Exception:  # not listening yet
        return None


def read_gnumeric(window):
    """The workbook as Gnumeric saves it (Ctrl+S): rows of Tab-separated cells."""
    import gzip
    import html
    import re
    before = os.path.getmtime(WORKBOOK)
    d.activate(window)
    key("ctrl+s")

    def saved():
        """The workbook once Gnumeric has written it whole (it truncates the file first)."""
        if os.path.getmtime(WORKBOOK) == before:
            return None
        try:
            with gzip.open(WORKBOOK) as f:
                text = f.read().decode()
        except (OSError, EOFError, UnicodeDecodeError):
            return None
        return text if "</gnm:Workbook>" in text else None
    xml = wait_for("the saved workbook", saved)
    cells = {(int(m[1]), int(m[2])): html.unescape(m[3]) for m in re.finditer(
        r'<gnm:Cell Row="(\d+)" Col="(\d+)"[^>]*>(.*?)</gnm:Cell>', xml, re.S)}
    rows = max((r for r, _ in cells), default=-1) + 1
    return "".join("\t".join(cells.get((r, c), "") for c in range(
        max(c for rr, c in cells if rr == r) + 1)) + "\r" for r in range(rows))


class PageListener:
    """A local listener the page tells what its text area holds, at every change; the page puts
    the cursor in its text area a moment after it shows."""

    def __init__(self):
        import http.server
        import threading
        listener = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers["Content-Length"])).decode()
                number, _, text = body.partition("\n")
                if int(number) > listener.number:
                    listener.number, listener.text = int(number), text
                self.send_response(204)
                self.end_headers()

            def log_message(self, *args):
                pass

        self.number, self.text = -1, ""
        self.server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        port = self.server.server_address[1]
        with open(PAGE, "w") as f:
            f.write(f"""<!DOCTYPE html><html><head><meta charset="utf-8"><title>Formulaire</title>
</head><body><textarea id="t" rows="30" cols="100"></textarea><script>
const t = document.getElementById("t");
// The cursor put in the field a moment after the page shows, as a page that loads its form does.
setTimeout(() => t.focus(), 1500);
let number = 0;
function tell() {{
  fetch("http://127.0.0.1:{port}/", {{method: "POST", mode: "no-cors",
                                       body: (number++) + "\\n" + t.value}});
}}
t.addEventListener("keydown", e => {{
  if (e.key === "Tab") {{
    e.preventDefault();
    t.setRangeText("\\t", t.selectionStart, t.selectionEnd, "end");
    tell();
  }}
}});
t.addEventListener("input", tell);
</script></body></html>""")

    def read(self, told=lambda: False):
        """What the text area holds once it has stopped changing: once it ends with the last
        row's Enter, or the program has told something (a minute at most; the page tells its
        text a moment after each key)."""
        last, since = None, time.monotonic()
        deadline = since + 60
        while time.monotonic() - since < 1.5 or (
                not (last or "").endswith("\n") and not told() and time.monotonic() < deadline):
            if self.text != last:
                last, since = self.text, time.monotonic()
            time.sleep(0.1)
        self.server.shutdown()
        return last


MOUSEPAD_FILE = "org.xfce.mousepad.preferences.file"
AUTOSAVES = os.path.join(os.environ.get("XDG_DATA_HOME", os.path.expanduser("~/.local/share")),
                         "Mousepad")


def read_autosave():
    """The editor's document as it saves it on its own, once the copy no longer changes."""
    def newest_copy():
        try:
            copies = [os.path.join(AUTOSAVES, n) for n in os.listdir(AUTOSAVES)
                      if n.startswith("autosave-")]
            if not copies:
                return None
            with open(max(copies, key=os.path.getmtime), encoding="utf-8") as f:
                return f.read()
        except OSError:  # not there yet, or replaced while being read
            return None

    last, since = None, time.monotonic()
    deadline = since + 30
    while time.monotonic() < deadline:
        text = newest_copy()
        if text != last:
            last, since = text, time.monotonic()
        elif text and time.monotonic() - since > 2.5:
            shutil.rmtree(AUTOSAVES, ignore_errors=True)
            return text
        time.sleep(0.3)
    raise Failure("the editor saved no copy of its document")


def choose_editor(entry=None):
    """The user's text editor: mousepad, which saves its document by itself; on GNOME and KDE,
    KWrite as it comes, read through its accessibility tree; or the entry given."""
    config = os.environ.get("XDG_CONFIG_HOME", os.path.expanduser("~/.config"))
    os.makedirs(config, exist_ok=True)
    entry = entry or ("org.kde.kwrite.desktop" if d.PORTAL else "org.xfce.mousepad.desktop")
    with open(os.path.join(config, "mimeapps.list"), "w") as f:
        f.write(f"[Default Applications]\ntext/plain={entry}\n")


KEYBOARD_PID = os.path.join(os.environ.get("XDG_RUNTIME_DIR", WORK), "keyboard.pid")


def plug_keyboard():
    """A keyboard for the rest of the session, in place of the one unplugged (with-sway ends it)."""
    keyboard = subprocess.Popen(["wtype", "-s", "86400000", ""], start_new_session=True)
    with open(KEYBOARD_PID, "w") as f:
        f.write(str(keyboard.pid))


class Run:
    """The state of one scenario: the program, the targets it started, what they received."""

    def __init__(self, program_path, layout):
        d.set_layout(layout)
        self.keymap = d.keymap()
        self.program = d.Program(program_path)
        self.deliveries = []
        self.started = []
        self.unplugged = False
        self.watcher = None

    def end(self):
        self.program.end()
        self.close_targets()
        if self.watcher:
            self.watcher.stop()
        if self.unplugged:
            plug_keyboard()
        if d.keymap() != self.keymap:
            raise Failure("the keymap differs from the one before the scenario")

    def close_targets(self):
        for pid in self.started:
            try:
                os.kill(pid, 9)
            except ProcessLookupError:
                pass
        if self.started and d.PORTAL:
            wait_for("the targets to end", lambda: not any(
                os.path.exists(f"/proc/{pid}") for pid in self.started), 10)
        elif self.started:
            # A single-instance editor's next start must not find this one still on the bus.
            wait_for("the targets to close",
                     lambda: not d.visible_windows(cls="mousepad|xterm|lecteur|voleur"), 10)
            time.sleep(0.5)
        self.started = []

    def new_window(self, before, probe):
        """A window of a target that was not there before the click."""
        return wait_for("the target's window", lambda: [w for w in probe() if w not in before],
                        timeout=30)[0]

    def read_editor(self, window):
        if d.WAYLAND:
            # The editor takes no shortcut from a test's virtual keyboards (each brings a keymap
            # of its own): its document is read where it saves it every second by itself.
            return read_autosave()
        # The program's window answers while its keys go out: the document is saved once what
        # it shows has stopped changing.
        pid = d.window_pid(window)
        shown = {"text": None, "since": time.monotonic()}

        def settled():
            try:
                text = d.editor_documents("mousepad", named=False).get(pid)
            except Exception:
                text = None
            if text != shown["text"]:
                shown.update(text=text, since=time.monotonic())
            return text and time.monotonic() - shown["since"] > 1.0
        wait_for("the editor's text to settle", settled, timeout=60)
        path = tempfile.mktemp(suffix=".txt", dir=WORK)
        d.activate(window)
        editors = len(d.visible_windows(cls="mousepad"))
        key("ctrl+s")
        wait_for("the save dialog", lambda: len(d.visible_windows(cls="mousepad")) > editors)
        time.sleep(0.4)
        type_text(path)
        # The name field may first close its completion list.
        for _ in range(10):
            key("Return")
            if os.path.exists(path) and os.path.getsize(path) > 0:
                break
            time.sleep(0.6)
        time.sleep(0.3)
        with open(path, encoding="utf-8") as f:
            return f.read()

    def read_reader(self):
        last, stable = None, 0
        while stable < 5:
            time.sleep(0.1)
            with open(RECEIVED, encoding="utf-8", errors="replace") as f:
                data = f.read()
            stable = stable + 1 if data == last else 0
            last = data
        return last


# Steps ------------------------------------------------------------------------------------------

def step_click(run, control):
    run.program.click(control)


def step_type(run, text):
    type_text(text)


def step_paste(run, text):
    """Ctrl+V with the text on the clipboard: characters a test tool can only type by changing
    the keymap under the window, which loses some while the window is slow to follow (X11)."""
    owner = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard"],
                             stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    owner.stdin.write(text.encode())
    owner.stdin.close()
    run.started.append(owner.pid)
    wait_for("the clipboard", lambda: d.clipboard()[0] == text or None)
    key("ctrl+v")


def step_key(run, *names):
    key(*names)


def step_box(run, title, text, button):
    # Another box of the program (a notice just closing) may still show for a moment.
    def wanted():
        return next((b for b in run.program.boxes() if b.title == title), None)
    try:
        box = wait_for(f"the box {title!r}", wanted, timeout=10)
    except Failure:
        shown = [(b.title, b.text) for b in run.program.boxes()]
        raise Failure(f"boxes {shown!r}; expected {title!r} with {text!r}") from None
    if text not in box.text:
        raise Failure(f"box {box.title!r}: {box.text!r}; expected {title!r} with {text!r}")
    box.press(button)
    wait_for(f"the box {title!r} to close", lambda: not wanted(), timeout=5)


def step_no_box(run):
    if not run.program.no_box():
        raise Failure(f"unexpected box: {[(b.title, b.text) for b in run.program.boxes()]}")


def expect_equal(what, got, want):
    if got != want:
        raise Failure(f"{what}: {got!r}, expected {want!r}")


def step_combo(run, control, text, items=None):
    expect_equal(f"{control} text", run.program.combo_text(control), text)
    if items is not None:
        expect_equal(f"{control} list", run.program.combo_items(control), items)


def step_selected(run, control, text):
    expect_equal(f"{control} selected text", run.program.combo_selected_text(control), text)


def step_focus(run, control):
    expect_equal("focus", wait_for("a focused control", run.program.focus, 3), control)


def step_checked(run, control, value):
    expect_equal(f"{control} checked", run.program.checked(control), value)


def step_role(run, control, role):
    expect_equal(f"{control} role", run.program.role(control), role)


def step_name(run, control, name):
    expect_equal(f"{control} caption", run.program.name(control), name)


def step_action(run, control, action):
    """Carries out one of the control's actions, as a screen reader does."""
    actions = run.program.accessible(control).queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    if action not in names:
        raise Failure(f"{control} offers no action {action!r}: {names}")
    actions.doAction(names.index(action))


def step_text(run, control, text):
    expect_equal(f"{control} text", run.program.edit_text(control), text)


def step_choose(run, control, entry):
    run.program.choose(control, entry)


def step_tabs(run, direction, controls):
    for control in controls:
        key(direction)
        time.sleep(0.1)
        expect_equal(f"focus after {direction}", run.program.focus(), control)


def step_focus_to(run, control):
    """Tab until the control has the focus, as a person does who does not count."""
    for _ in range(45):
        if run.program.focus() == control:
            return
        key("Tab")
        time.sleep(0.05)
    raise Failure(f"Tab never reached {control}")


def file_dialog_shown(run):
    """Whether the program's open-file dialog is up: on GNOME and KDE, read in its own tree
    (no windows list)."""
    if d.PORTAL:
        app = run.program.app
        return any((app.getChildAtIndex(i).name or "").startswith("Envoyer vers")
                   for i in range(app.childCount) if app.getChildAtIndex(i) is not None)
    return bool(d.visible_windows("Envoyer vers"))


def step_file_dialog(run, path=READER):
    """Answers the open-file dialog with the reader's path, or the one given."""
    wait_for("the open-file dialog", lambda: file_dialog_shown(run))
    time.sleep(0.5)
    if d.PORTAL:
        # The desktop's remote keyboard may lose a character of a long path under load: the
        # name is set as a screen reader sets a field.
        app = run.program.app
        dialog = next(app.getChildAtIndex(i) for i in range(app.childCount)
                      if (app.getChildAtIndex(i).name or "").startswith("Envoyer vers"))
        field = next(a for a in d.walk(dialog) if a.getRoleName() == "text" and
                     a.getState().contains(d.pyatspi.STATE_FOCUSED))
        field.queryEditableText().setTextContents(os.path.join(SHEETS, path))
        time.sleep(0.3)
    else:
        type_text(os.path.join(SHEETS, path))
    key("Return")
    try:
        wait_for("the dialog to close", lambda: not file_dialog_shown(run), timeout=3)
    except Failure:
        # The first Return took the completion the dialog offered: once more, as a person does.
        key("Return")
        wait_for("the dialog to close", lambda: not file_dialog_shown(run), timeout=5)


def step_file_dialog_cancelled(run):
    """Escape in the open-file dialog, once it is there."""
    wait_for("the open-file dialog", lambda: d.visible_windows("Envoyer vers"))
    time.sleep(0.5)
    key("Escape")
    wait_for("the dialog to close", lambda: not d.visible_windows("Envoyer vers"), timeout=5)


def press_generate(run):
    if d.WAYLAND and run.unplugged:
        # The seat gains a keyboard with the key, and the window needs a moment to take it; the
        # window shows no focus without a keyboard, so it was moved to the button before.
        d.sh("wtype", "-s", "300", "-k", "space")
    elif d.WAYLAND:
        step_focus_to(run, "Command1")
        key("space")
    else:
        run.program.click("Command1")


def step_started_as_launchers_start(pid):
    """Started as a desktop launcher starts programs: with an activation token of the window
    the person clicked in (Wayland), or a start-up id with the time of the click (X11), for the
    desktop to hand the new window the focus."""
    with open(f"/proc/{pid}/environ", "rb") as f:
        environment = dict(v.split(b"=", 1) for v in f.read().split(b"\0") if b"=" in v)
    if d.WAYLAND and not environment.get(b"XDG_ACTIVATION_TOKEN"):
        raise Failure("the editor was started without an activation token")
    if not d.WAYLAND and b"_TIME" not in environment.get(b"DESKTOP_STARTUP_ID", b""):
        raise Failure("the editor was started without a start-up id")


def step_generate(run, expect):
    route = expect.get("route", "editor")
    if route == "editor":
        before = d.visible_windows(cls="mousepad")
        press_generate(run)
        window = run.new_window(before, lambda: d.visible_windows(cls="mousepad"))
        run.started.append(d.window_pid(window))
        if not d.WAYLAND:
            step_started_as_launchers_start(d.window_pid(window))
        run.program.wait_responsive()
        step_no_box(run)
        problems, rows = ref.check_editor_document(run.read_editor(window), expect)
    elif route == "kwrite":
        problems, rows = generate_into_kwrite(run, expect)
    elif route in ("calc", "calc-gen", "calc-quotes", "tableur", "gnumeric", "page",
                   "page-firefox"):
        problems, rows = ref.check_program_input(
            generate_into_program(run, route, expect, expect.get("told")), expect)
    elif route == "clipboard":
        press_generate(run)
        run.program.wait_responsive()
        step_no_box(run)
        def copied():
            held = d.clipboard()
            return held if held[0] else None
        text, types = wait_for("the clipboard", copied)
        if "x-kde-passwordManagerHint" not in types:
            raise Failure(f"the clipboard does not mark its text secret: {types}")
        problems, rows = ref.check_program_input(text, expect)
    else:
        if os.path.exists(RECEIVED):
            os.remove(RECEIVED)
        if os.path.exists(STOLEN):
            os.remove(STOLEN)
        before = d.visible_windows("lecteur")
        press_generate(run)
        if expect.get("meanwhile"):
            # Another program opens a window while the target starts.
            run.started.append(subprocess.Popen([THIEF]).pid)
            wait_for("the other program's window", lambda: d.visible_windows("voleur"))
        window = run.new_window(before, lambda: d.visible_windows("lecteur"))
        run.started.append(d.window_pid(window))
        run.program.wait_responsive()
        step_no_box(run)
        wait_for("the reader's file", lambda: os.path.exists(RECEIVED))
        if route == "reader_editor":
            problems, rows = ref.check_editor_document(run.read_reader(), expect)
        else:
            problems, rows = ref.check_program_input(run.read_reader(), expect)
        if expect.get("meanwhile") and os.path.exists(STOLEN) and os.path.getsize(STOLEN):
            problems.append(f"the other program's window received "
                            f"{open(STOLEN, errors='replace').read()!r}")
    if problems:
        # The program reads the target back a moment after the last key: whether it told the
        # person is part of the finding.
        deadline = time.monotonic() + 5
        while not run.program.boxes() and time.monotonic() < deadline:
            time.sleep(0.5)
        told = [(b.title, b.text) for b in run.program.boxes()]
        raise Failure("delivery: " + "; ".join(problems) +
                      (f" (the program told: {told})" if told else " (the program said nothing)"))
    if not expect.get("keep_open"):
        run.close_targets()
    run.deliveries.append(rows)


def calc_processes():
    """The processes of the test profile's Calc."""
    found = set()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if CALC_PIPE.encode() in f.read():
                    found.add(int(pid))
        except OSError:
            pass
    return found


def read_calc_until_stable():
    """Calc on Wayland may leave the keys it was sent waiting until something wakes it (a
    question through its API does), and the program's window answers while its keys go out:
    read until the sheet holds something and stays the same."""
    text, stable = read_calc(), 0
    deadline = time.monotonic() + 60
    while stable < 3 or (not text.strip() and time.monotonic() < deadline):
        time.sleep(0.5)
        again = read_calc()
        stable = stable + 1 if again == text else 0
        text = again
    return text


def generate_into_calc_through_the_portal(run, told=None):
    """GNOME and KDE: the explanation, the desktop's question, the note on the sheet, then the
    sheet read through Calc's own API (no windows list to find Calc's window in)."""
    before = calc_processes()
    press_generate(run)
    step_box(run, "Kestrio", EXPLANATION[d.DESKTOP], "OK")
    d.grant_keyboard()
    step_box(run, "Tableur", "Outils > ", "OK")
    run.started += wait_for("Calc", lambda: list(calc_processes() - before), timeout=30)
    if told:
        step_box(run, "Avertissement", told, "OK")
    run.program.wait_responsive()
    step_no_box(run)
    return read_calc_until_stable()


def browser_processes():
    """The processes of the test profiles' browsers."""
    found = set()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if WORK.encode() in f.read():
                    found.add(int(pid))
        except OSError:
            pass
    return found


def generate_into_page(run, expect):
    """Wayland: the page's text area as the page tells it, once it has stopped changing; the
    program says nothing, before or after. A text that is not the one expected is read once the
    program has had the time to say so."""
    listener = PageListener()
    before = browser_processes()
    press_generate(run)
    if d.PORTAL:
        step_box(run, "Kestrio", EXPLANATION[d.DESKTOP], "OK")
        d.grant_keyboard()
    wait_for("the browser", lambda: browser_processes() - before, timeout=30)
    run.program.wait_responsive()
    text = listener.read(run.program.boxes).replace("\n", "\r")
    run.started += list(browser_processes() - before)
    if ref.check_program_input(text, expect)[0]:
        try:
            run.program.box(timeout=20)
        except Failure:
            pass
    step_no_box(run)
    return text


def generate_into_program(run, route, expect, told=None):
    """A spreadsheet (the program's note on what it still changes answered first) or the page:
    what it holds once the program has typed, rows ended by "\\r"; the box that names what the
    target changed, when one is told."""
    if d.WAYLAND and route.startswith("page"):
        return generate_into_page(run, expect)
    if d.PORTAL:
        text = generate_into_calc_through_the_portal(run, told)
        return text.replace("’", "'") if told else text
    cls = {"page": "chromium", "gnumeric": "gnumeric"}.get(route, "libreoffice")
    listener = PageListener() if route == "page" else None
    before = d.visible_windows(cls=cls)
    press_generate(run)
    if route not in ("page", "tableur") and not getattr(run, "sheet_noted", False):
        step_box(run, "Tableur", "Outils > ", "OK")  # once per window
        run.sheet_noted = True
    window = run.new_window(before, lambda: d.visible_windows(cls=cls))
    run.started.append(d.window_pid(window))
    if route == "tableur":
        # Known as a spreadsheet by its window only: the note comes once the keys are sent, over
        # the spreadsheet, and is read once it is in front.
        wait_for("the note in front", lambda: any(
            b.title == "Tableur" and b.acc.getState().contains(d.pyatspi.STATE_ACTIVE)
            for b in run.program.boxes()), timeout=10)
        step_box(run, "Tableur", "Outils > AutoSaisie", "OK")
    if told:
        step_box(run, "Avertissement", told, "OK")
    run.program.wait_responsive()
    step_no_box(run)
    if route == "page":
        text = listener.read().replace("\n", "\r")
    elif route == "gnumeric":
        text = read_gnumeric(window)
    else:
        text = read_calc_until_stable()
    # What the box named, put back: every other cell is exact.
    return text.replace("’", "'") if told else text


# What the program says before the desktop asks, on each desktop.
EXPLANATION = {"mutter": "« Partager »", "kwin": "KDE"}


def generate_into_kwrite(run, expect):
    """GNOME and KDE: "Générer", the program's explanation, the desktop's question answered, the
    paste question when the layout lacks characters, then the text read from KWrite's own
    document as a screen reader reads it (stock KWrite, which opens on its welcome page)."""
    before = set(d.editor_documents())
    frame = run.program.frame
    presses = generate_and_reset_presses(run) if expect.get("pressed_again") else []
    press_generate(run)
    step_box(run, "Kestrio", EXPLANATION[d.DESKTOP], "OK")
    d.grant_keyboard()
    if expect.get("paste"):
        step_box(run, "Coller le texte ?", "disposition du clavier en service", "Oui")

    def new_document():
        if os.environ.get("TOLVANE_OUTSIDE_IN_TRACE"):
            print("  documents", d.editor_documents(), [(b.title, b.text[:400]) for b in
                                                        run.program.boxes()], flush=True)
        for pid, text in d.editor_documents().items():
            if pid not in before:
                return pid, text
        return None
    pid, _ = wait_for("KWrite", new_document, timeout=30)
    run.started.append(pid)
    step_started_as_launchers_start(pid)
    # A screen reader presses "Générer" and "RAZ" while the keys go out: nothing more starts.
    press_again(presses)
    if expect.get("session_ended"):
        # The person stops the sharing from the desktop once the first rows are in (read
        # seldom: a screen reader's questions keep the editor from being ready).
        def rows_in():
            if os.environ.get("TOLVANE_OUTSIDE_IN_TRACE"):
                print("  documents", d.editor_documents(), [(b.title, b.text[:200]) for b in
                                                            run.program.boxes()], flush=True)
            return len(d.editor_documents().get(pid) or "") > 300
        wait_for("the first rows", rows_in, timeout=40, step=1.0)
        d.end_keyboard_sessions()
        # Told as the end of the session, or as the first key it refused.
        step_box(run, "Avertissement", "la frappe a été interrompue", "OK")
        run.program.wait_responsive()
        step_no_box(run)
        return [], []
    # Read seldom while keys arrive: a screen reader's questions keep the editor busy.
    last, since = None, time.monotonic()
    while time.monotonic() - since < 4.0:
        time.sleep(1.0)
        if run.program.boxes():
            box = run.program.boxes()[0]
            if expect.get("told") and expect["told"] in box.text:
                # Read back: what KWrite added is named; the document is not the one typed.
                if os.environ.get("TOLVANE_OUTSIDE_IN_TRACE"):
                    print("  told", repr(box.text), flush=True)
                step_box(run, "Avertissement", expect["told"], "OK")
                run.program.wait_responsive()
                step_no_box(run)
                return [], []
            raise Failure(f"the program says {box.title!r}: {box.text!r}")
        text = d.editor_documents().get(pid)
        if text != last:
            last, since = text, time.monotonic()
    if last is None:
        raise Failure("KWrite shows no document: the keys had nowhere to go")
    run.program.wait_responsive()
    step_no_box(run)
    if os.environ.get("TOLVANE_OUTSIDE_IN_TRACE"):
        print("  document", repr(last), flush=True)
    # No box: KWrite left the text as typed (its brackets closed by the passwords' own, or
    # none opened), which the document itself must show.
    if presses:
        time.sleep(1.5)
        started = [p for p in d.editor_documents() if p not in before]
        if started != [pid] or run.program._top(d.WINDOW_TITLE) != frame:
            raise Failure(f"pressed again: editors {started}, the window reset or not")
    return ref.check_editor_document(last, expect)


def step_caps_lock_still_on(run):
    """The lock the person had on is on again: a letter typed into the length box comes out
    as a capital."""
    step_focus_to(run, "Combo1")
    key("ctrl+a")
    type_text("x")
    expect_equal("a letter typed with Caps Lock on", run.program.combo_text("Combo1"), "X")


def step_desktop_asks_and_the_person_gives_up(run):
    """While GNOME asks, the window answers and says it waits, with "Annuler"; giving up ends
    the session: the question goes, nothing is typed, and the window says so."""
    before = set(d.editor_documents())
    wait_for("the desktop's question", lambda: d.applications("xdg-desktop-portal-gnome") and any(
        a.getRoleName() == "push button" for _, app in d.applications(
            "xdg-desktop-portal-gnome") for a in d.walk(app)), timeout=20)
    notice = wait_for("the program's notice", lambda: next(
        (b for b in run.program.boxes() if "attend la réponse du bureau" in b.text), None))
    run.program.combo_text("Combo1")  # the window answers
    notice.buttons["Annuler"].queryAction().doAction(0)
    step_box(run, "Avertissement", "Vous avez renoncé", "OK")
    wait_for("the question to go", lambda: not any(
        a.getRoleName() == "push button" for _, app in d.applications("xdg-desktop-portal-gnome")
        for a in d.walk(app)), timeout=10)
    time.sleep(1)
    if set(d.editor_documents()) != before:
        raise Failure("an editor was started although the person gave up")


def step_reader_as_editor(run, delay=0):
    """The user's text editor is a reader in a terminal, started through its desktop entry:
    the shell sets the terminal up while the window is already there. With a delay, a launcher
    script waits before it starts the terminal."""
    data = os.environ.get("XDG_DATA_HOME", os.path.expanduser("~/.local/share"))
    os.makedirs(os.path.join(data, "applications"), exist_ok=True)
    command = f"foot -T lecteur sh -c \"stty -echo -icanon; exec cat >> {RECEIVED}\""
    if delay:
        launcher = os.path.join(WORK, "lecteur-lent")
        with open(launcher, "w") as f:
            f.write(f"#!/bin/sh\nsleep {delay}\nexec {command}\n")
        os.chmod(launcher, 0o755)
        command = launcher
    with open(os.path.join(data, "applications", "lecteur.desktop"), "w") as f:
        f.write(f"[Desktop Entry]\nType=Application\nName=Lecteur\nExec={command}\n")
    choose_editor("lecteur.desktop")


def step_kwrite_as_editor(run, closes_brackets):
    """The user's text editor is KWrite, with its user's own choice of closing brackets (a
    setting the program leaves as the user set it)."""
    config = os.environ.get("XDG_CONFIG_HOME", os.path.expanduser("~/.config"))
    with open(os.path.join(config, "kwriterc"), "w") as f:
        f.write(f"[KTextEditor View]\nAuto Brackets={str(closes_brackets).lower()}\n")
    choose_editor("org.kde.kwrite.desktop")


def step_generate_into_kwrite(run, told):
    """X11: "Générer" into KWrite; once the keys are sent, what KWrite shows is read back: the
    box names what it changed, or there is none."""
    before = d.visible_windows(cls="kwrite")
    press_generate(run)
    window = run.new_window(before, lambda: d.visible_windows(cls="kwrite"))
    run.started.append(d.window_pid(window))
    if told:
        step_box(run, "Avertissement", told, "OK")
    run.program.wait_responsive()
    step_no_box(run)
    run.close_targets()


def step_unplug_keyboard(run):
    """The session's keyboard goes: the seat has none until a program brings a virtual one, as
    on a desktop driven from afar or by an on-screen keyboard."""
    with open(KEYBOARD_PID) as f:
        os.kill(int(f.read()), signal.SIGTERM)
    run.unplugged = True
    wait_for("the seat without keyboard", lambda: not d.seat_has_keyboard(), timeout=5)


def step_keymap_watcher(run):
    """A second client on the seat, as any program is, logs every keymap it is sent."""
    run.watcher = d.KeymapWatcher()
    d.activate(run.program.window)  # back to the program, as the person clicks on it
    time.sleep(0.3)


def step_keymaps_tell_nothing(run):
    """The keymaps the second client received hold the whole alphabet and spell no password."""
    spelled = [d.spelled(keymap) for keymap in run.watcher.keymaps()]
    alphabet = set(ref.ALPHABETS["Elevé"])
    if not any(alphabet <= set(keys) for keys in spelled):
        raise Failure(f"no keymap with the whole alphabet among {len(spelled)}")
    for row in run.deliveries[-1]:
        password = row.split("\t")[-1]
        order = "".join(dict.fromkeys(password))
        if order == "".join(sorted(order)):
            continue  # as a keymap in code point order lays them out
        for keys in spelled:
            if "".join(c for c in keys if c in order) == order:
                raise Failure(f"a keymap spells {password!r}: {keys!r}")
    if run.watcher.keys():
        raise Failure(f"the second client received keys: {run.watcher.keys()[:3]}")


def step_clipboard_manager_takes_over(run):
    """A clipboard manager serves the text from now on, as it does once its owner is gone."""
    text, _ = d.clipboard()
    command = ["wl-copy", "--foreground", "--type", "text/plain;charset=utf-8"] if d.WAYLAND \
        else ["xclip", "-quiet", "-selection", "clipboard", "-t", "UTF8_STRING"]
    manager = subprocess.Popen(command, stdin=subprocess.PIPE)
    manager.stdin.write(text.encode("utf-8"))
    manager.stdin.close()
    run.started.append(manager.pid)
    def served_by_manager():
        held, types = d.clipboard()
        return held == text and "x-kde-passwordManagerHint" not in types
    wait_for("the manager's copy", served_by_manager)


def step_clipboard_cleared_on_quit(run):
    """The program, once ended, has taken its passwords off the clipboard."""
    wait_for("the program's end", lambda: run.program.process.poll() is not None)
    text, types = d.clipboard()
    if text or types:
        raise Failure(f"the clipboard still holds {len(text)} characters ({types}) after the "
                      "program ended")


def step_interrupted(run, how, text):
    """A long delivery into the reader, its window taken away or closed while keys arrive."""
    for path in (RECEIVED, STOLEN):
        if os.path.exists(path):
            os.remove(path)
    thief = subprocess.Popen([THIEF])
    run.started.append(thief.pid)
    wait_for("the other window", lambda: d.visible_windows("voleur"))
    d.activate(run.program.window)  # back to the program, as the person clicks on it
    time.sleep(0.3)
    before = d.visible_windows("lecteur")
    press_generate(run)
    window = run.new_window(before, lambda: d.visible_windows("lecteur"))
    run.started.append(d.window_pid(window))
    wait_for("the first keys", lambda: os.path.exists(RECEIVED) and os.path.getsize(RECEIVED))
    if how == "focus":
        d.activate(d.visible_windows("voleur")[0])
    else:
        d.sh("swaymsg", f"[con_id={window}] kill") if d.WAYLAND else os.kill(
            d.window_pid(window), 9)
    if os.environ.get("TOLVANE_OUTSIDE_IN_TRACE"):
        time.sleep(1)
        print("  windows:", [(w.get("name"), w.get("app_id")) for w in d.sway_windows()]
              if d.WAYLAND else "", "received", os.path.getsize(RECEIVED), flush=True)
    step_box(run, "Avertissement", text, "OK")
    time.sleep(0.5)
    stolen = open(STOLEN, encoding="utf-8", errors="replace").read() if os.path.exists(
        STOLEN) else ""
    # Nothing makes a focus check and the next key one step on Wayland: one key may follow.
    if len(stolen) > (1 if d.WAYLAND else 0):
        raise Failure(f"the window that took the focus received {stolen!r}")
    run.close_targets()


def generate_and_reset_presses(run):
    """The Press actions of "Générer" and "RAZ", found beforehand, as a screen reader knows the
    window's controls."""
    presses = []
    for control in ("Command1", "Command3"):
        actions = run.program.accessible(control).queryAction()
        presses.append((actions, [actions.getName(i) for i in range(actions.nActions)]))
    return presses


def press_again(presses):
    for actions, names in presses:
        actions.doAction(names.index("Press"))


def step_pressed_again_while_typing(run, expect):
    """A long delivery into the reader; while its keys go out, a screen reader presses
    "Générer" and "RAZ": one target, one generation, every row exact, the same window."""
    if os.path.exists(RECEIVED):
        os.remove(RECEIVED)
    before = d.visible_windows("lecteur")
    frame = run.program.frame
    presses = generate_and_reset_presses(run)
    press_generate(run)
    window = run.new_window(before, lambda: d.visible_windows("lecteur"))
    run.started.append(d.window_pid(window))
    wait_for("the first keys", lambda: os.path.exists(RECEIVED) and os.path.getsize(RECEIVED))
    press_again(presses)
    typing = os.path.getsize(RECEIVED) < 3000
    run.program.wait_responsive()
    if not typing:
        raise Failure("the keys were all out before the presses: nothing was tried")
    time.sleep(1.5)  # a click a screen reader asks for comes a moment later
    step_no_box(run)
    targets = [w for w in d.visible_windows("lecteur") if w not in before]
    if targets != [window]:
        raise Failure(f"targets started: {targets}")
    if run.program._top(d.WINDOW_TITLE) != frame:
        raise Failure("the window was reset")
    problems, rows = ref.check_program_input(run.read_reader(), expect)
    if problems:
        raise Failure("delivery: " + "; ".join(problems))
    run.close_targets()


def step_refused(run, title, text):
    before = d.visible_windows(cls="mousepad")
    press_generate(run)
    step_box(run, title, text, "OK")
    time.sleep(1.0)
    if d.visible_windows(cls="mousepad") != before:
        raise Failure("a refused generation started the editor")


def step_repeats(run, earlier, later, count):
    expect_equal("the older rows typed again first", run.deliveries[later][:count],
                 run.deliveries[earlier][:count])


def step_back_to_the_window(run):
    """The person brings the window back in front of the target left open."""
    d.activate(run.program.window)


def step_reloaded(run):
    """After "RAZ" the window is a new one."""
    time.sleep(0.5)
    old = run.program.frame
    run.program.frame = wait_for("the new window", lambda: run.program._top(d.WINDOW_TITLE))
    del old


STEPS = {name[5:]: fn for name, fn in globals().items() if name.startswith("step_")}

# Scenarios --------------------------------------------------------------------------------------

NAMES_US = ["alice", "bob", "zoé", "alice"]
NAMES_NEO = ["ÄÖÜäöüÄÖÜ", "ÂÊÛÎÔ-ÄËÜÏÖ"]
NAMES_WORLD = ["Жанна", "Ελένη", "李雷", "ÉLODIE"]
PUK_WORLD = "clé-Ωж7"


def names_typed(names):
    steps = []
    for name in names:
        steps += [("type", name), ("key", "Return")]
    return steps


def keyboard_only_generation(route):
    """Elevé, irreversible with a PUK, four names in four scripts, typed without a pointer."""
    steps = [
        ("focus", "Combo1"), ("tabs", "Tab", ["Combo3", "Combo2"]), ("key", "Down"),
        ("combo", "Combo2", "Elevé"),
        ("tabs", "Tab", ["Option0"]), ("key", "Up"),
        ("box", "Code PUK", "Entrez un code PUK", "OK"), ("focus", "Text1"),
        ("type", PUK_WORLD), ("tabs", "Tab", ["Check1"]), ("no_box",),
        ("focus_to", "Check10"), ("key", "space"), ("checked", "Check10", True),
        ("tabs", "shift+Tab", ["Command6", "Command5", "Command4", "Combo5"]),
        *names_typed(NAMES_WORLD),
        ("combo", "Combo5", NAMES_WORLD[-1], NAMES_WORLD), ("combo", "Combo4", "4"),
    ]
    if route == "program":
        steps += [("tabs", "shift+Tab", ["Option2"]), ("key", "Down"), ("file_dialog",),
                  ("name", "Option4", READER)]
    return steps + [("generate", dict(route=route, level="Elevé", length=8, segments=1,
                                      names=NAMES_WORLD, puk=PUK_WORLD, rows=4,
                                      count_text="4"))]


# Names a spreadsheet would read as a formula or a number, and doubled letters.
NAMES_SHEET = ["+Zoé", "Camille", "0612", "=Luc"]
NAMES_BANG = ["!Zoé", "Camille", "=Luc"]


def into_program(path, route, names=NAMES_SHEET):
    """Elevé, irreversible, with titles, into another program: the code of each row tells
    whether its name and password arrived exactly. A long name is pasted."""
    entered = []
    for name in names:
        entered += [("paste" if len(name) > 40 else "type", name), ("key", "Return")]
    return [
        ("choose", "Combo2", "Elevé"), ("choose", "Combo1", "12"),
        ("click", "Check10"), ("click", "Combo5"), *entered,
        ("combo", "Combo5", names[-1], names),
        ("click", "Option1"), ("box", "Code PUK", "Entrez un code PUK", "OK"),
        ("focus", "Text1"), ("type", PUK), ("click", "Check9"), ("checked", "Check9", True),
        ("click", "Option4"), ("file_dialog", path),
        ("generate", dict(route=route, level="Elevé", length=12, segments=1, names=names,
                          puk=PUK, rows=4, count_text="4", titles=ref.TITLES_WITH_CODE)),
    ]


def calc_by_keyboard(count, names=()):
    """Elevé, with titles, this many sequences, into Calc through its launcher, with these names:
    by the keyboard alone (Wayland)."""
    return [
        ("focus", "Combo1"), ("tabs", "Tab", ["Combo3", "Combo2"]), ("key", "Down"),
        ("combo", "Combo2", "Elevé"), ("focus_to", "Combo4"), ("key", "ctrl+a"), ("type", count),
        *([("focus_to", "Check10"), ("key", "space"), ("checked", "Check10", True),
           ("focus_to", "Combo5"), *names_typed(names)] if names else []),
        ("focus_to", "Check9"), ("key", "space"), ("checked", "Check9", True),
        ("focus_to", "Option2") if names else ("tabs", "shift+Tab", ["Check10", "Option2"]),
        ("key", "Down"), ("file_dialog", "calc/localc"),
    ]


# Typed by the desktop's own remote keyboard, which finds keys on the layout only.
NAMES_FR = ["Hélène", "François"]
# Every character a password may hold, in one name: each key of the keymaps a virtual keyboard
# types with.
NAME_OF_EVERY_CHARACTER = "".join(sorted(set(ref.ALPHABETS["Elevé"]) - {" "})) + " -"


def page_by_keyboard(path, route, names=NAMES_FR):
    """Elevé, titles and names with accents, into a browser's page that keeps Tab: by the
    keyboard alone (Wayland), each control reached by the fewest keys."""
    return [
        ("focus", "Combo1"), ("tabs", "Tab", ["Combo3", "Combo2"]), ("key", "Down"),
        ("combo", "Combo2", "Elevé"),
        ("tabs", "shift+Tab", ["Combo3", "Combo1", "Check9"]), ("key", "space"),
        ("checked", "Check9", True), ("tabs", "shift+Tab", ["Check10"]), ("key", "space"),
        ("tabs", "shift+Tab", ["Command6", "Command5", "Command4", "Combo5"]),
        *names_typed(names), ("combo", "Combo4", str(len(names))),
        ("tabs", "shift+Tab", ["Option2"]), ("key", "Down"), ("file_dialog", path),
        ("generate", dict(route=route, level="Elevé", length=8, segments=1, names=names,
                          rows=len(names), count_text=str(len(names)), titles=ref.TITLES)),
    ]


BROWSER_PAGES = {"Chromium": ("page/navigateur", "page"),
                 "Firefox": ("page-firefox/navigateur", "page-firefox")}
# One browser on each of KDE and GNOME, for the suite's time: Firefox on KWin, where its first and
# last keys were lost; Chromium, which shows its pages only once asked, on mutter. Both on sway,
# whose keymaps are this program's own.
PORTAL_BROWSERS = {"kwin": ["Firefox"], "mutter": ["Chromium"]}


def long_delivery(last):
    """100 passwords of 30 characters into the reader."""
    return [
        ("focus", "Combo1"), ("key", "ctrl+a"), ("type", "30"),
        ("focus_to", "Combo4"), ("key", "ctrl+a"), ("type", "100"),
        ("tabs", "Tab", ["Option2"]), ("key", "Down"), ("file_dialog",), last,
    ]


def long_delivery_interrupted(how, text):
    return long_delivery(("interrupted", how, text))
PUK = "clé-7€Z"

PUK_FR = "clé7"

PORTAL_SCENARIOS = [
    ("fr: Elevé, 30 characters, 20 passwords, into stock KWrite", "fr", [
        ("focus", "Combo1"), ("key", "ctrl+a"), ("type", "30"),
        ("tabs", "Tab", ["Combo3", "Combo2"]), ("key", "Down"), ("combo", "Combo2", "Elevé"),
        ("focus_to", "Combo4"), ("key", "ctrl+a"), ("type", "20"),
        ("generate", dict(route="kwrite", level="Elevé", length=30, segments=1, rows=20,
                          count_text="20")),
    ]),
    ("fr: the irreversible code with names and titles", "fr", [
        ("focus", "Combo1"), ("tabs", "Tab", ["Combo3", "Combo2", "Option0"]), ("key", "Up"),
        ("box", "Code PUK", "Entrez un code PUK", "OK"), ("focus", "Text1"),
        ("type", PUK_FR), ("focus_to", "Check10"), ("key", "space"),
        ("tabs", "shift+Tab", ["Command6", "Command5", "Command4", "Combo5"]),
        *names_typed(NAMES_FR), ("combo", "Combo4", "2"),
        ("focus_to", "Check9"), ("key", "space"), ("checked", "Check9", True),
        ("generate", dict(route="kwrite", level="Moyen", length=8, segments=1, names=NAMES_FR,
                          puk=PUK_FR, rows=2, count_text="2", titles=ref.TITLES_WITH_CODE)),
    ]),
    ("de, Caps Lock on: typed exactly, and the lock on again afterwards", "de", [
        ("key", "Caps_Lock"), ("focus_to", "Combo4"), ("key", "ctrl+a"), ("type", "3"),
        ("generate", dict(route="kwrite", level="Moyen", length=8, segments=1, rows=3,
                          count_text="3")),
        ("caps_lock_still_on",),
        # Off again, as its user turns it off: the next scenario may share this desktop.
        ("key", "Caps_Lock"),
    ]),
    ("fr: Générer and RAZ pressed by a screen reader while the keys go out: one editor, one "
     "generation", "fr", [
        ("focus", "Combo1"), ("key", "ctrl+a"), ("type", "30"),
        ("focus_to", "Combo4"), ("key", "ctrl+a"), ("type", "20"),
        ("generate", dict(route="kwrite", level="Moyen", length=30, segments=1, rows=20,
                          count_text="20", pressed_again=True)),
    ]),
    # LibreOffice Calc as Debian installs it: /usr/bin/localc, a script that runs soffice.
    ("fr: into LibreOffice Calc through its launcher script: names, titles, codes and Elevé "
     "passwords, every cell exact", "fr", [
        ("focus", "Combo1"), ("key", "ctrl+a"), ("type", "12"),
        ("tabs", "Tab", ["Combo3", "Combo2"]), ("key", "Down"), ("combo", "Combo2", "Elevé"),
        ("focus_to", "Check9"), ("key", "space"), ("checked", "Check9", True),
        ("tabs", "shift+Tab", ["Check10", "Option2"]), ("key", "Down"),
        ("file_dialog", "calc/localc"),
        ("focus_to", "Check10"), ("key", "space"),
        ("tabs", "shift+Tab", ["Command6", "Command5", "Command4", "Combo5"]),
        *names_typed(NAMES_SHEET), ("combo", "Combo4", "4"),
        ("generate", dict(route="calc", level="Elevé", length=12, segments=1,
                          names=NAMES_SHEET, rows=4, count_text="4", titles=ref.TITLES)),
    ]),
    ("us, which lacks the é of the closing line: pasted on the person's word", "us", [
        ("focus_to", "Combo4"), ("key", "ctrl+a"), ("type", "2"),
        ("generate", dict(route="kwrite", paste=True, level="Moyen", length=8, segments=1,
                          rows=2, count_text="2")),
    ]),
]

SCENARIOS = [
    ("Wayland: four scripts and a PUK into foot, by the keyboard alone", "wayland", "us",
     keyboard_only_generation("program")),
    ("Wayland: the same into a Wayland-native editor", "wayland", "fr",
     keyboard_only_generation("editor")),
    ("Wayland: to the clipboard, marked secret, taken off when the window closes", "wayland",
     "us", [
         ("focus", "Combo1"), ("focus_to", "Combo4"), ("key", "ctrl+a"), ("type", "3"),
         ("tabs", "Tab", ["Option2"]), ("key", "Up"), ("checked", "Option3", True),
         ("generate", dict(route="clipboard", level="Moyen", length=8, segments=1, rows=3,
                           count_text="3")),
         ("clipboard_manager_takes_over",), ("focus_to", "Command2"), ("key", "space"),
         ("box", "Quitter ?", "Souhaitez-vous réellement quitter le programme ?", "Oui"),
         ("clipboard_cleared_on_quit",),
     ]),
    ("Wayland: the same into foot on de(neo)", "wayland", "de neo",
     keyboard_only_generation("program")),
    # A seat without keyboard until the program brings its own: the terminal asks for the
    # keyboard only once the seat has one, and gets no key before.
    *[(f"Wayland: a reader started through a desktop entry, fast, by the keyboard alone, on "
       f"{layout}, the seat without keyboard", "wayland", layout, [
           ("reader_as_editor",), ("focus", "Combo1"), ("tabs", "Tab", ["Combo3", "Combo2"]),
           ("key", "Down"), ("combo", "Combo2", "Elevé"), ("focus_to", "Combo4"),
           ("key", "ctrl+a"), ("type", "20"), ("focus_to", "Command1"), ("unplug_keyboard",),
           ("generate", dict(route="reader_editor", level="Elevé", length=8, segments=1,
                             rows=20, count_text="20")),
       ]) for layout in ("fr", "de neo")],
    ("Wayland: another client learns nothing from the keymaps, another program's window opened "
     "while the target starts gets no key", "wayland", "us", [
         ("reader_as_editor", 1), ("keymap_watcher",), ("focus", "Combo1"),
         ("tabs", "Tab", ["Combo3", "Combo2"]), ("key", "Down"), ("combo", "Combo2", "Elevé"),
         ("focus_to", "Combo4"), ("key", "ctrl+a"), ("type", "5"),
         ("generate", dict(route="reader_editor", level="Elevé", length=8, segments=1, rows=5,
                           count_text="5", meanwhile=True)),
         ("keymaps_tell_nothing",),
     ]),
    *[(f"Wayland: into {browser}'s page whose text area keeps Tab, by the keyboard alone: "
       "names (one of every password character), titles and Elevé passwords, the page's text "
       "exact", "wayland", "fr",
       page_by_keyboard(path, route, NAMES_FR + [NAME_OF_EVERY_CHARACTER]))
      for browser, (path, route) in BROWSER_PAGES.items()],
    ("Wayland: the focus taken away mid-delivery stops it", "wayland", "us",
     long_delivery_interrupted("focus", "a perdu le focus")),
    ("Wayland: the target closed mid-delivery stops it", "wayland", "us",
     long_delivery_interrupted("close", "s'est fermé")),
    *[(f"{desktop}: {name}", desktop, layout, steps) for desktop in ("kwin", "mutter")
      for name, layout, steps in PORTAL_SCENARIOS],
    # Read back on KDE as on X11: KWrite's user has it close brackets.
    ("kwin: fr: into KWrite closing brackets on: read back, the box names its setting where "
     "KWrite added text",
     "kwin", "fr", [
         ("kwrite_as_editor", True), ("focus", "Combo1"), ("key", "ctrl+a"), ("type", "30"),
         ("tabs", "Tab", ["Combo3", "Combo2"]), ("key", "Down"), ("combo", "Combo2", "Elevé"),
         # KWrite adds a bracket only where the passwords leave one open: the box names its
         # setting, or there is none and the document is as typed.
         ("focus_to", "Combo4"), ("key", "ctrl+a"), ("type", "5"),
         ("generate", dict(route="kwrite", level="Elevé", length=30, segments=1, rows=5,
                           count_text="5", told="Fermer automatiquement les parenthèses")),
     ]),
    *[(f"{desktop}: fr: into {browser}'s page whose text area keeps Tab: names, titles and Elevé "
       "passwords, the page's text exact", desktop, "fr",
       page_by_keyboard(*BROWSER_PAGES[browser]))
      for desktop, browsers in PORTAL_BROWSERS.items() for browser in browsers],
    # Last on KDE: KWin may keep a key of the ended session down for the rest of its run.
    ("kwin: de, Caps Lock on: the desktop ends the session mid-delivery, the box says so and "
     "the lock is still on", "kwin", "de", [
         ("key", "Caps_Lock"), ("focus", "Combo1"), ("key", "ctrl+a"), ("type", "30"),
         # Faible: capitals and digits, which Caps Lock on a de layout gives without Shift.
         ("tabs", "Tab", ["Combo3", "Combo2"]), ("key", "Up"), ("combo", "Combo2", "Faible"),
         ("focus_to", "Combo4"), ("key", "ctrl+a"), ("type", "100"),
         ("generate", dict(route="kwrite", session_ended=True)),
         ("caps_lock_still_on",), ("key", "Caps_Lock"),
     ]),
    ("mutter: the window stays alive while GNOME asks, and giving up types nothing", "mutter",
     "fr", [
         ("focus_to", "Command1"), ("key", "space"),
         ("box", "Kestrio", "« Partager »", "OK"),
         ("desktop_asks_and_the_person_gives_up",),
     ]),
    ("names added by Enter and by Ajouter, typed with titles", "x11", "us", [
        ("click", "Check10"), ("click", "Combo5"),
        ("type", "alice"), ("key", "Return"), ("selected", "Combo5", "alice"),
        ("type", "bob"), ("click", "Command4"), ("focus", "Combo5"),
        ("selected", "Combo5", "bob"),
        ("type", "zoé"), ("key", "Return"),
        ("combo", "Combo5", "zoé", NAMES_US[:3]), ("combo", "Combo4", "3"),
        # A name already listed, typed again: typing chooses no entry.
        ("type", "alice"), ("click", "Command4"),
        ("combo", "Combo5", "alice", NAMES_US), ("combo", "Combo4", "4"),
        ("click", "Check9"),
        ("generate", dict(level="Moyen", length=8, segments=1, names=NAMES_US, rows=4,
                          count_text="4", titles=ref.TITLES)),
    ]),
    # Read back once typed: KWrite's user has it close brackets, which adds text after the
    # last line; with it off, the text arrives as typed and nothing is said.
    *[(f"into KWrite closing brackets {state}: read back, {outcome}", "x11", "fr", [
        ("kwrite_as_editor", closes), ("choose", "Combo2", "Elevé"), ("click", "Combo1"),
        ("key", "ctrl+a"), ("type", "30"), ("click", "Combo4"), ("key", "ctrl+a"), ("type", "20"),
        ("generate_into_kwrite", told),
    ]) for state, outcome, closes, told in (
        ("on", "the box names the text added", True, "en plus à la fin"),
        ("off", "nothing said", False, None))],
    ("Supprimer, Vider answered No then Yes, then the count no longer matches", "x11", "us", [
        ("click", "Check10"), ("click", "Combo5"),
        ("type", "alice"), ("key", "Return"), ("type", "bob"), ("key", "Return"),
        ("click", "Command5"), ("combo", "Combo5", "alice", ["alice"]),
        ("combo", "Combo4", "1"), ("focus", "Combo5"),
        ("click", "Command6"), ("box", "Avertissement", "Vider la liste complètement ?", "Non"),
        ("combo", "Combo5", "alice", ["alice"]),
        ("click", "Command6"), ("box", "Avertissement", "Vider la liste complètement ?", "Oui"),
        ("combo", "Combo5", "", []), ("combo", "Combo4", "1"),
        ("refused", "Averitssemen(", "Le nombre d'utilisateurs ne correspond pas"),
    ]),
    ("irreversible code, PUK typed key by key masked then unmasked", "x11", "fr", [
        ("choose", "Combo2", "Elevé"), ("choose", "Combo1", "12"), ("choose", "Combo3", "3"),
        ("click", "Check10"), ("click", "Combo5"),
        ("type", "anaïs"), ("key", "Return"), ("type", "Bérénice"), ("key", "Return"),
        ("combo", "Combo5", "Bérénice", ["anaïs", "Bérénice"]),
        ("click", "Option1"),
        ("box", "Code PUK", "Entrez un code PUK (personal user code)\nqui servira à crypter le "
         "code secret généré...", "OK"),
        ("focus", "Text1"), ("role", "Text1", "password text"),
        # Leaving the short code gives advice; the box takes the click that left it.
        ("type", PUK[:5]), ("click", "Check1"),
        ("box", "Avertissement", "Il est souhaitable d'utiliser un code PUK plus long !", "OK"),
        ("checked", "Check1", True), ("click", "Check1"), ("checked", "Check1", False),
        ("role", "Text1", "text"), ("text", "Text1", PUK[:5]),
        ("click", "Text1"), ("key", "End"), ("type", PUK[5:]), ("text", "Text1", PUK),
        ("generate", dict(level="Elevé", length=12, segments=3, names=["anaïs", "Bérénice"],
                          puk=PUK, rows=2, count_text="2")),
    ]),
    ("two generations in a row, the editor left open: the second types the first's rows again",
     "x11", "de", [
        ("click", "Combo4"), ("key", "ctrl+a"), ("type", "2"),
        ("generate", dict(level="Moyen", length=8, segments=1, rows=2, count_text="2",
                          keep_open=True)),
        ("generate", dict(level="Moyen", length=8, segments=1, rows=4, count_text="2")),
        ("repeats", 0, 1, 2),
    ]),
    ("RAZ after a generation with names and a PUK", "x11", "us", [
        ("click", "Check10"), ("click", "Combo5"), ("type", "alice"), ("key", "Return"),
        ("click", "Option1"), ("box", "Code PUK", "Entrez un code PUK", "OK"),
        ("type", "1234"),
        ("generate", dict(level="Moyen", length=8, segments=1, names=["alice"], puk="1234",
                          rows=1, count_text="1")),
        ("click", "Command3"), ("reloaded",),
        ("combo", "Combo1", "8"), ("combo", "Combo2", "Moyen"), ("combo", "Combo4", "1"),
        ("combo", "Combo5", "", []), ("checked", "Check10", False),
        ("checked", "Option0", True), ("checked", "Option2", True),
        ("name", "Option4", "Vers un autre programme"), ("text", "Text1", ""),
        ("generate", dict(level="Moyen", length=8, segments=1, rows=1, count_text="1")),
    ]),
    ("bad numbers typed into the combo boxes are refused and nothing is typed", "x11", "us", [
        ("click", "Combo1"), ("key", "ctrl+a"), ("type", "abc"),
        ("refused", "Avertissement", "La longueur souhaitée doit être un nombre entier"),
        ("click", "Combo1"), ("key", "ctrl+a"), ("type", "8"),
        ("click", "Combo3"), ("key", "ctrl+a"), ("type", "0"),
        ("refused", "Avertissement", "Le nombre de segments doit être compris entre 1 et"),
        ("click", "Combo3"), ("key", "ctrl+a"), ("type", "1"),
        ("click", "Combo4"), ("key", "ctrl+a"), ("type", "dix"),
        ("refused", "Avertissement", "Le nombre de séquences à générer doit être un nombre"),
        ("combo", "Combo4", "dix"),
    ]),
    ("Tab and Shift+Tab stop at the selected options; arrows move the selection", "x11", "us", [
        ("focus", "Combo1"), ("selected", "Combo1", "8"),
        ("tabs", "Tab", ["Combo3", "Combo2", "Option0", "Command1", "Command2", "Command3",
                         "Combo4", "Option2", "Check10", "Check9", "Combo1"]),
        ("tabs", "shift+Tab", ["Check9", "Check10", "Option2", "Combo4", "Command3",
                               "Command2", "Command1", "Option0", "Combo2", "Combo3",
                               "Combo1"]),
        ("click", "Check10"),
        ("tabs", "shift+Tab", ["Command6", "Command5", "Command4", "Combo5", "Option2"]),
        ("key", "Down"), ("file_dialog_cancelled",),
        ("checked", "Option4", True), ("name", "Option4", "Vers un autre programme"),
        ("focus", "Option4"),
        ("tabs", "Tab", ["Combo1"]), ("tabs", "shift+Tab", ["Option4", "Check9"]),
        # A length typed, then left: typing chose nothing, the segment list stays.
        ("click", "Combo1"), ("key", "ctrl+a"), ("type", "12"), ("tabs", "Tab", ["Combo3"]),
        ("combo", "Combo3", "1", ["1", "2", "4"]),
        ("tabs", "Tab", ["Combo2", "Option0"]),
        ("key", "Up"), ("box", "Code PUK", "Entrez un code PUK", "OK"),
        ("checked", "Option1", True), ("focus", "Text1"),
    ]),
    ("a screen reader names each box by its label; Toggle on an option runs its handler once",
     "x11", "us", [
        ("name", "Combo1", "Longueur souhaitée"), ("name", "Combo3", "Nombre de segments"),
        ("name", "Combo2", "Niveau de complexité"),
        ("name", "Combo4", "Nombre de séquences à générer"),
        ("name", "Combo5", "Nom d'utilisateur à ajouter"),
        ("combo", "Combo1", "8"), ("combo", "Combo2", "Moyen"),
        ("action", "Option1", "Toggle"),
        ("box", "Code PUK", "Entrez un code PUK", "OK"), ("no_box",),
        ("checked", "Option1", True), ("focus", "Text1"),
    ]),
    *[(f"into {what}: names, titles, codes and Elevé passwords, every cell exact", "x11", "fr",
       into_program(path, route)) for what, path, route in (
        ("LibreOffice Calc", "calc/localc", "calc"),
        ("LibreOffice Calc, its own X11 backend", "calc-gen/localc", "calc-gen"),
        ("Gnumeric", "gnumeric/gnumeric", "gnumeric"),
        ("a browser's text area that keeps Tab", "page/navigateur", "page"))],
    # Read back once typed: a Calc that turns ' into ’ changes the name, and the box names
    # its cell below the titles; the same in the second sheet, which the Calc already running
    # opens (the process started ends at once).
    ("into LibreOffice Calc turning ' into ’: read back, the box names the cell, in the second "
     "sheet too", "x11", "fr", [
        ("click", "Check10"), ("click", "Combo5"), *names_typed(["d'Artagnan"]),
        ("combo", "Combo4", "1"), ("click", "Check9"), ("click", "Option4"),
        ("file_dialog", "calc-quotes/localc"),
        ("generate", dict(route="calc-quotes", level="Moyen", length=8, segments=1,
                          names=["d'Artagnan"], rows=1, count_text="1", titles=ref.TITLES,
                          keep_open=True, told="ligne 2, colonne 1 : « ' » devenu « ’ »")),
        ("back_to_the_window",), ("click", "Combo5"), *names_typed(["O'Brien"]),
        ("generate", dict(route="calc-quotes", level="Moyen", length=8, segments=1,
                          names=["d'Artagnan", "O'Brien"], rows=2, count_text="1",
                          titles=ref.TITLES, keep_open=True,
                          told="ligne 3, colonne 1 : « ' » devenu « ’ »")),
    ]),
    ("into tableur, a launcher of another name that starts LibreOffice Calc, known by its "
     "window: a name longer than a string of a formula among them, every cell exact", "x11", "fr",
     into_program("tableur/tableur", "tableur", NAMES_SHEET[:3] + ["=Luc" + "é\"-" * 400])),
    # LibreOffice opens the second sheet in the instance already running.
    ("into LibreOffice Calc again, the first sheet left open: the second sheet gets every row",
     "x11", "fr", [
        ("choose", "Combo2", "Elevé"), ("choose", "Combo1", "12"),
        ("click", "Combo4"), ("key", "ctrl+a"), ("type", "2"),
        ("click", "Check9"), ("click", "Option4"), ("file_dialog", "calc/localc"),
        ("generate", dict(route="calc", level="Elevé", length=12, segments=1, rows=2,
                          count_text="2", titles=ref.TITLES, keep_open=True)),
        ("back_to_the_window",),
        ("generate", dict(route="calc", level="Elevé", length=12, segments=1, rows=4,
                          count_text="2", titles=ref.TITLES, keep_open=True)),
        ("repeats", 0, 1, 2),
    ]),
    ("another program: a terminal reader gets fields by Tab and rows by Enter", "x11", "de", [
        ("click", "Check10"), ("click", "Combo5"),
        ("type", "jörg"), ("key", "Return"), ("type", "Ärzte"), ("key", "Return"),
        ("combo", "Combo5", "Ärzte", ["jörg", "Ärzte"]),
        ("click", "Option4"), ("file_dialog",), ("name", "Option4", READER), ("checked", "Option4", True),
        ("click", "Check9"),
        ("generate", dict(route="program", level="Moyen", length=8, segments=1,
                          names=["jörg", "Ärzte"], rows=2, count_text="2", titles=ref.TITLES)),
    ]),
    # Neo's Ä key holds Insert on other levels, and the terminal binds Shift+Insert.
    ("another program on de(neo): names of umlauts and circumflexes reach a terminal reader",
     "x11", "de neo", [
        ("click", "Check10"), ("click", "Combo5"), ("paste", NAMES_NEO[0]), ("key", "Return"),
        ("paste", NAMES_NEO[1]), ("key", "Return"),
        ("combo", "Combo5", NAMES_NEO[-1], NAMES_NEO),
        ("click", "Option4"), ("file_dialog",), ("name", "Option4", READER),
        ("generate", dict(route="program", level="Moyen", length=8, segments=1,
                          names=NAMES_NEO, rows=2, count_text="2")),
    ]),
    *[(f"{session}: Générer and RAZ pressed by a screen reader while the keys go out: one "
       "target, one generation", session, "us", long_delivery(
           ("pressed_again_while_typing", dict(route="program", level="Moyen", length=30,
                                               segments=1, rows=100, count_text="100"))))
      for session in ("x11", "wayland")],
    # A launcher script that runs /usr/bin/localc, itself a script: the window goes by the name
    # of the program's desktop entry, not by the script's.
    # A cell that starts with "!": Calc takes Shift with the key of the blank for "select the
    # row", and drops the character.
    ("Wayland: into LibreOffice Calc through its launcher scripts, by the keyboard alone, every "
     "cell exact", "wayland", "fr", [
         *calc_by_keyboard("3", NAMES_BANG),
         ("generate", dict(route="calc", level="Elevé", length=8, segments=1, rows=3,
                           count_text="3", titles=ref.TITLES, names=NAMES_BANG)),
     ]),
    # LibreOffice opens the second sheet in the instance already running: no new process has
    # a window, only a new window of a name declared for the launcher.
    ("Wayland: into LibreOffice Calc again, the first sheet left open: the second sheet gets "
     "every row", "wayland", "fr", [
         *calc_by_keyboard("2"),
         ("generate", dict(route="calc", level="Elevé", length=8, segments=1, rows=2,
                           count_text="2", titles=ref.TITLES, keep_open=True)),
         ("back_to_the_window",),
         ("generate", dict(route="calc", level="Elevé", length=8, segments=1, rows=4,
                           count_text="2", titles=ref.TITLES, keep_open=True)),
         ("repeats", 0, 1, 2),
     ]),
]


STEP_SECONDS = 90


def hung(signum, frame):
    raise Failure(f"the step took more than {STEP_SECONDS} s")


def run_scenario(program_path, layout, steps, shot):
    run = Run(program_path, layout)
    try:
        for step in steps:
            if os.environ.get("TOLVANE_OUTSIDE_IN_TRACE"):
                print("  step", step, flush=True)
            signal.alarm(STEP_SECONDS)
            try:
                STEPS[step[0]](run, *step[1:])
            except Failure as failure:
                subprocess.run(["grim", shot] if d.WAYLAND else ["import", "-window", "root", shot],
                               check=False)
                raise Failure(f"step {step!r}: {failure}") from None
            finally:
                signal.alarm(0)
    except Exception:
        try:
            run.end()
            reset_layout()
        except Exception as cleanup:  # the first failure is the one to report
            print(f"      and then: {cleanup}", flush=True)
        raise
    try:
        run.end()
    finally:
        reset_layout()


def reset_layout():
    if d.DESKTOP != "mutter":  # a mutter session keeps its one layout
        d.set_layout("us")


SCENARIO_SECONDS = 200


def run_one(program_path, index):
    """One scenario, in a process of its own; its exit status says whether it passed."""
    name, _, layout, steps = SCENARIOS[index]
    signal.signal(signal.SIGALRM, hung)
    # A call stuck in a library never returns to the alarm: say where it is stuck.
    faulthandler.dump_traceback_later(SCENARIO_SECONDS - 10)
    make_reader(READER, RECEIVED, "lecteur")
    make_reader(THIEF, STOLEN, "voleur")
    make_programs()
    choose_editor()
    config = os.environ.get("XDG_CONFIG_HOME", os.path.expanduser("~/.config"))
    if os.path.exists(os.path.join(config, "kwriterc")):  # a scenario's own KWrite settings
        os.remove(os.path.join(config, "kwriterc"))
    if d.WAYLAND:
        subprocess.run(["gsettings", "set", MOUSEPAD_FILE, "autosave-timer", "1"], check=True)
        shutil.rmtree(AUTOSAVES, ignore_errors=True)
    shots = os.path.join(tempfile.gettempdir(), "tolvane-outside-in")
    os.makedirs(shots, mode=0o777, exist_ok=True)
    shot = os.path.join(shots, f"{d.DESKTOP}-{index}-failed.png")
    started = time.monotonic()
    try:
        run_scenario(program_path, layout, steps, shot)
        print(f"PASS  [{layout}] {name} ({time.monotonic() - started:.1f} s)", flush=True)
        return 0
    except Exception as failure:
        print(f"FAIL  [{layout}] {name}: {failure} (screen: {shot})", flush=True)
        if not isinstance(failure, Failure):
            traceback.print_exc()
        return 1
    finally:
        shutil.rmtree(WORK, ignore_errors=True)


def chosen(session, wanted):
    """The scenarios of a session whose names hold one of the wanted parts."""
    return [(index, name, layout) for index, (name, scenario_session, layout, _)
            in enumerate(SCENARIOS) if scenario_session == session
            and any(part in name for part in wanted.split("|"))]


def main():
    if sys.argv[1] == "--layouts":
        # mutter takes its layout once, when it starts: one session per layout.
        wanted = sys.argv[3] if len(sys.argv) > 3 else ""
        print(" ".join(sorted({layout for _, _, layout in chosen(sys.argv[2], wanted)})))
        return 0
    program_path = os.path.abspath(sys.argv[1])
    if len(sys.argv) > 3 and sys.argv[2] == "--only":
        return run_one(program_path, int(sys.argv[3]))
    wanted = sys.argv[2] if len(sys.argv) > 2 else ""
    shutil.rmtree(WORK, ignore_errors=True)
    session = {"x11": "x11", "sway": "wayland"}.get(d.DESKTOP, d.DESKTOP)
    passed = failed = 0
    for index, name, layout in chosen(session, wanted):
        if d.DESKTOP == "mutter" and layout != os.environ.get("TOLVANE_LAYOUT"):
            continue
        # A scenario whose process stops answering (the accessibility bus has been seen to
        # hang) is run once more from scratch; a scenario that fails is not.
        for attempt in (1, 2):
            child = subprocess.Popen([sys.executable, __file__, program_path, "--only",
                                      str(index)], start_new_session=True)
            try:
                status = child.wait(timeout=SCENARIO_SECONDS)
                break
            except subprocess.TimeoutExpired:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()
                status = 1
                print(f"HUNG  {name} (attempt {attempt})", flush=True)
        passed += status == 0
        failed += status != 0
    print(f"outside-in: {passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
