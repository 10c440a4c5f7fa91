#!/usr/bin/env python3
"""Drives the real station the way an operator would: real pointer and key events through
the X server (xdotool), controls found through the station's UI probe file
(HYGROLOG_UI_PROBE), screenshots of every step kept in the shots folder.

    drive.py STATION SIM PEER_DIR SHOTS_DIR

Runs inside tests/support/run_in_netns.sh with DISPLAY set to a private X server; the
simulator runs in the sensors' namespace, the SMTP peer on the station's loopback.
"""
import base64
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

STATION, SIM, PEER_DIR, SHOTS = sys.argv[1:5]
os.makedirs(SHOTS, exist_ok=True)
HOME = tempfile.mkdtemp(prefix="hygrolog-e2e-")
PROBE = os.path.join(HOME, "probe.json")
DATA = os.path.join(HOME, "Veltrix", "Hygrolog")
NAMES = ["Freezer", "Bench", "Seedlings"]
failures = []
shot_no = [0]
children = []


def log(msg):
    print(msg, flush=True)


def check(what, ok):
    log(("ok   - " if ok else "FAIL - ") + what)
    if not ok:
        failures.append(what)
        # What was on screen, for the report.
        with open(os.path.join(SHOTS, "probe-at-failure-%d.json" % len(failures)), "w") as f:
            json.dump(probe(), f, indent=1)
    return ok


def wait(pred, limit=10.0, step=0.1):
    end = time.time() + limit
    while time.time() < end:
        value = pred()
        if value:
            return value
        time.sleep(step)
    return None


def xdo(*args):
    subprocess.run(["xdotool", *map(str, args)], check=False)


def probe():
    try:
        with open(PROBE, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return {"windows": []}


def window(title=None, cls=None):
    for w in probe()["windows"]:
        if (title is None or w["title"] == title) and (cls is None or w["class"] == cls):
            return w
    return None


def wait_window(title=None, cls=None, limit=10.0):
    """The window once shown and no longer moving (a new dialog is placed after it shows)."""
    def settled():
        first = window(title, cls)
        if not first:
            return None
        time.sleep(0.4)
        again = window(title, cls)
        same = again and all(first[k] == again[k] for k in ("x", "y", "w", "h"))
        return again if same else None
    return wait(settled, limit)


def widget(win, name=None, text=None):
    for c in win["widgets"]:
        if (name is None or c["name"] == name) and (text is None or c["text"].replace("&", "") == text):
            return c
    return None


def centre(r):
    return r["x"] + r["w"] // 2, r["y"] + r["h"] // 2


def click(r, button=1, repeat=1):
    x, y = centre(r)
    if r.get("class") in ("QRadioButton", "QCheckBox"):
        x = r["x"] + 8  # only the indicator and the text take clicks
    xdo("mousemove", x, y)
    time.sleep(0.15)
    xdo("click", "--repeat", repeat, "--delay", 80, button)
    time.sleep(0.3)


def type_text(text):
    xdo("type", "--delay", 20, text)


def shot(name, title=None):
    """Whole screen, plus the named window on its own (popups come out black on the root)."""
    shot_no[0] += 1
    base = os.path.join(SHOTS, "%02d-%s" % (shot_no[0], name))
    subprocess.run("xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng > '%s.png'" % base, shell=True)
    if title:
        ids = subprocess.run(["xdotool", "search", "--name", "^%s$" % title], capture_output=True,
                             text=True).stdout.split()
        if ids:
            subprocess.run("xwd -silent -id %s | xwdtopnm 2>/dev/null | pnmtopng > '%s-window.png'"
                           % (ids[-1], base), shell=True)


def menu(*path):
    """Opens menu bar item path[0] and walks the submenus with the pointer."""
    main = wait_window(cls="hygro::ui::CAppForNimbo1Dlg")
    item = next(a for a in main["menubar"] if a["text"] == path[0])
    click(item)
    for step in path[1:]:
        found = wait(lambda: next((a for w in probe()["windows"] if w["class"] == "QMenu"
                                   for a in w.get("actions", []) if a["text"] == step), None), 5)
        if not found:
            raise RuntimeError("menu item not shown: " + step)
        x, y = centre(found)
        xdo("mousemove", x, y)
        time.sleep(0.5)
    xdo("click", 1)
    time.sleep(0.5)


def answer_message(text, button="OK", limit=10.0):
    """Waits for a message box whose label shows `text` and presses `button`."""
    def find():
        for w in probe()["windows"]:
            if w["class"] == "QMessageBox":
                label = widget(w, "qt_msgbox_label")
                b = widget(w, text=button)
                if b and label and label["text"] == text:
                    return w, b
        return None
    found = wait(find, limit)
    if not check("message box for: " + text, found is not None):
        return False
    click(found[1])
    return True


def close_window(title):
    ids = subprocess.run(["xdotool", "search", "--name", "^%s$" % title], capture_output=True,
                         text=True).stdout.split()
    for i in ids:
        subprocess.run(["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "wm_close.py"), i])


def start_station():
    env = dict(os.environ, HYGROLOG_HOME=HOME, HYGROLOG_UI_PROBE=PROBE)
    env.pop("HYGROLOG_AUTO_ANSWER", None)
    out = open(os.path.join(SHOTS, "station.out"), "a")
    p = subprocess.Popen([STATION], env=env, stdout=out, stderr=out)
    children.append(p)
    return p


def cleanup():
    for p in children:
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()


def settings_value(section, key):
    """A value of the station's settings file (UTF-16 INI), None when missing."""
    try:
        with open(os.path.join(DATA, "Settings.ini"), "rb") as f:
            text = f.read().decode("utf-16")
    except (OSError, UnicodeError):
        return None
    current = None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
        elif current == section and "=" in line and line.split("=", 1)[0].strip().lower() == key.lower():
            return line.split("=", 1)[1].strip()
    return None


def table_cells(col):
    main = window(cls="hygro::ui::CAppForNimbo1Dlg")
    if not main:
        return []
    return [c for c in main["cells"] if c.get("table") == "sensorTable" and c["col"] == col]


def main():
    netns = os.environ["HYGRO_SIM_NETNS_PID"]
    sim = subprocess.Popen(["nsenter", "-t", netns, "-n", SIM, "--count", "3", "--first-address", "198.18.0.2",
                            "--first-serial", "2001", "--fixed", "2001=55.0,21.0"],
                           stdout=open(os.path.join(SHOTS, "sim.out"), "w"), stderr=subprocess.STDOUT)
    children.append(sim)
    peer = subprocess.Popen(["node", os.path.join(PEER_DIR, "smtp_peer.js"), "--user", "alice@example.org", "--pass",
                             "secret"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    children.append(peer)
    first = peer.stdout.readline().split()
    if not first or first[0] != "PORT":
        log("SKIP: the SMTP peer did not start (%s)" % " ".join(first))
        return 77
    port = first[1]
    peer_lines = []
    import threading
    threading.Thread(target=lambda: [peer_lines.append(l) for l in peer.stdout], daemon=True).start()

    station = start_station()
    main_win = wait_window(cls="hygro::ui::CAppForNimbo1Dlg", limit=20)
    if not check("the station shows its window with an empty HYGROLOG_HOME", main_win is not None):
        return 1
    time.sleep(1)
    shot("empty-station")

    # Search.
    menu("Setting", "Setting Sensor", "Get IP && Connection")
    dlg = wait_window("Get IP & Connect")
    check("discovery dialog open", dlg is not None)
    click(widget(dlg, "1118"))
    time.sleep(1.5)
    shot("searching", "Get IP & Connect")
    done = wait(lambda: (lambda w: w and widget(w, "1118")["text"] == "Search" and
                         widget(w, "1118")["enabled"] and w)(window("Get IP & Connect")), 12)
    rows = {c["row"] for c in done["cells"] if c.get("table") == "1117"} if done else set()
    check("the search finds the three simulated sensors", len(rows) == 3)
    shot("search-done", "Get IP & Connect")
    click(widget(done, "1008"))
    check("discovery dialog closed with OK", wait(lambda: window("Get IP & Connect") is None, 5))

    # Add all three, placing each on the map.
    menu("Setting", "Setting Sensor", "Add Sensor")
    chooser = wait_window("Add")
    cells = [c for c in chooser["cells"] if c.get("table") == "1106" and c["col"] == 1]
    check("the chooser offers three found sensors", len(cells) == 3)
    click(cells[0])
    xdo("keydown", "ctrl")
    for c in cells[1:]:
        click(c)
    xdo("keyup", "ctrl")
    shot("chooser", "Add")
    click(widget(chooser, "1008"))
    answer_message("Please add sensor in the picture!")
    mp = widget(window(cls="hygro::ui::CAppForNimbo1Dlg"), "map")
    spots = [(0.5, 0.2), (0.5, 0.45), (0.5, 0.7)]
    for name, (fx, fy) in zip(NAMES, spots):
        xdo("mousemove", mp["x"] + int(fx * mp["w"]), mp["y"] + int(fy * mp["h"]))
        time.sleep(0.2)
        xdo("click", 1)
        dlg = wait_window("Append Sensor Info")
        if not check("name dialog for " + name, dlg is not None):
            return 1
        click(widget(dlg, "1010"))
        type_text(name)
        click(widget(dlg, "1104"))
        xdo("key", "Return")
        time.sleep(0.3)
        if name == NAMES[0]:
            shot("append-sensor-info", "Append Sensor Info")
        click(widget(dlg, "1008"))
        wait(lambda: window("Append Sensor Info") is None, 5)
    answer_message("Add Over!")
    boxes = [b["name"] for b in window(cls="hygro::ui::CAppForNimbo1Dlg")["boxes"]]
    check("three named boxes on the map", sorted(boxes) == sorted(NAMES))

    # Readings in the charts (map view) and the table.
    time.sleep(12)
    shot("map-with-live-charts")
    menu("View", "Mode", "Table")
    got = wait(lambda: (lambda cs: len(cs) == 3 and all(c["text"] for c in cs))(table_cells(4)), 25)
    check("readings of all three sensors in the table", got)
    shot("table-with-readings")
    menu("View", "Mode", "Map")

    # Alarm mail settings, accepted after a test mail.
    menu("Tool", "Alarm Mail")
    dlg = wait_window("Alarm Mail")
    for field, value in (("1131", "127.0.0.1"), ("1135", port), ("1133", "alice@example.org"), ("1134", "secret"),
                         ("1061", "ops@example.org"), ("1139", "6")):
        click(widget(dlg, field), repeat=3)
        type_text(value)
    click(widget(dlg, "1137"))
    sent = wait(lambda: (lambda w: w and "Mail was send successfully." in widget(w, "1137")["text"] or
                         any(l.startswith("MESSAGE") for l in peer_lines))(window("Mail Test")), 20)
    check("the test mail reaches the peer", wait(lambda: any(l.startswith("MESSAGE") for l in peer_lines), 20))
    time.sleep(1)
    shot("mail-test", "Mail Test")
    close_window("Mail Test")
    wait(lambda: window("Mail Test") is None, 5)
    dlg = wait_window("Alarm Mail")
    check("OK is enabled after the test mail", widget(dlg, "1008")["enabled"])
    click(widget(dlg, "1008"))
    wait(lambda: window("Alarm Mail") is None, 5)
    test_mails = len([l for l in peer_lines if l.startswith("MESSAGE")])

    # Freezer reads 55 %: a high limit of 40 puts it outside.
    box = next(b for b in window(cls="hygro::ui::CAppForNimbo1Dlg")["boxes"] if b["name"] == "Freezer")
    click(box)
    menu_item = wait(lambda: next((a for w in probe()["windows"] if w["class"] == "QMenu"
                                   for a in w.get("actions", []) if a["text"] == "Edit"), None), 5)
    click(menu_item)
    dlg = wait_window("Edit")
    click(widget(dlg, "1051"), repeat=3)
    type_text("40.0")
    shot("edit-limits", "Edit")
    click(widget(dlg, "1008"))
    wait(lambda: window("Edit") is None, 5)
    menu("View", "Mode", "Table")
    red = wait(lambda: any(c["text"] not in ("", "-") for c in table_cells(7) if c["row"] == 0), 25)
    check("the Freezer's alarm cell shows the alarm", red)
    shot("alarm-in-table")

    def alarm_mail():
        for l in peer_lines[test_mails:]:
            if l.startswith("MESSAGE"):
                body = base64.b64decode(l.rstrip("\n").split("\t")[5]).decode("utf-8", "replace")
                if "Freezer" in body:
                    return body
        return None
    check("the alarm mail with the Freezer's reading reaches the peer", wait(alarm_mail, 30))

    # Acknowledge by opening and closing the list; clear.
    cell = next(c for c in table_cells(7) if c["row"] == 0)
    click(cell)
    click(cell, repeat=2)
    dlg = wait_window("Alarm Data")
    check("the alarm list opens", dlg is not None)
    if dlg:
        time.sleep(0.5)
        shot("alarm-list", "Alarm Data")
        click(widget(dlg, "1064"))
        close_window("Alarm Data")
        wait(lambda: window("Alarm Data") is None, 5)
        with open(os.path.join(DATA, "Freezer", "Alarm.txt"), "rb") as f:
            head = f.read(13)
        check("Clear Alarm empties the alarm file", head == b"Count=00000\r\n" or head.startswith(b"Count=0000"))

    # Map file: create, then open it in the history window.
    menu("View", "Mode", "Map")
    sdz = os.path.join(HOME, "plan.sdz")
    menu("Setting", "Map File", "Create")
    files = wait(lambda: next((w for w in probe()["windows"] if w["class"] == "QFileDialog"), None), 10)
    check("the save dialog opens", files is not None)
    time.sleep(0.5)
    type_text(sdz)
    xdo("key", "Return")
    answer_message("Success to create filie!")
    check("the map file is written", os.path.exists(sdz))
    menu("Setting", "Map File", "Open")
    dlg = wait(lambda: next((w for w in probe()["windows"] if widget(w, "1006")), None), 10)
    click(widget(dlg, "1006"))
    type_text(sdz)
    click(widget(dlg, "1008"))
    hist = wait(lambda: (lambda w: w and len(w["boxes"]) == 3 and w)(window("History Map - plan.sdz")), 10)
    check("the history map window shows the map file", hist is not None and len(hist["boxes"]) == 3)
    shot("history-map", "History Map - plan.sdz")
    close_window("History Map - plan.sdz")

    # Show mode: one day of history.
    menu("Setting", "Display Mode")
    dlg = wait_window("Show Mode")
    click(widget(dlg, "1020"))
    dlg = wait(lambda: (lambda w: w and widget(w, "1021")["enabled"] and w)(window("Show Mode")), 5)
    check("History Data enables the scale", dlg is not None)
    click(widget(dlg, "1021"))
    xdo("key", "Down", "Return")
    time.sleep(0.3)
    shot("show-mode", "Show Mode")
    click(widget(dlg, "1008"))
    check("the show mode dialog closes with OK", wait(lambda: window("Show Mode") is None, 5))
    check("the show mode is saved as history", wait(lambda: settings_value("ShowMode", "mode") not in (None, "0"), 5))
    time.sleep(1)
    shot("history-charts")

    # Restart: everything as it was.
    close_window("Hygrolog")
    ended = wait(lambda: station.poll() is not None, 20)
    check("the station closes cleanly", ended and station.returncode == 0)
    os.remove(PROBE)
    station = start_station()
    main_win = wait(lambda: (lambda w: w and len(w["boxes"]) == 3 and w)(window(cls="hygro::ui::CAppForNimbo1Dlg")), 20)
    boxes = sorted(b["name"] for b in main_win["boxes"]) if main_win else []
    check("after a restart the three sensors are on the map again", boxes == sorted(NAMES))
    menu("View", "Mode", "Table")
    got = wait(lambda: (lambda cs: len(cs) == 3 and all(c["text"] for c in cs))(table_cells(4)), 25)
    check("and their readings come in again", got)
    shot("after-restart")
    close_window("Hygrolog")
    wait(lambda: station.poll() is not None, 20)
    return 1 if failures else 0


if __name__ == "__main__":
    try:
        rc = main()
    except Exception as e:  # a broken step must not leave processes behind
        log("FAIL - %s: %s" % (type(e).__name__, e))
        rc = 1
    finally:
        cleanup()
    log("shots in " + SHOTS)
    sys.exit(rc)
