"""A known series of registry changes, made by other programs under Wine
while `quenlo-cli monitor --json` watches, compared with what it printed.

usage: monitor_cli_series.py QUENLO_CLI_EXE WORK_DIR

Wine's environment (WINEPREFIX ...) comes from the caller. The keys below
HKCU\\Software\\QuenloMonTest and HKLM\\SOFTWARE\\QuenloMonTest (both views)
are made here; the caller deletes them afterwards.

Every change is made by `wine reg` or `wine regedit /s`, its start and end
taken with the host's clock around the call (the change lands a little
before the call returns). After each change the checker waits until its
events are printed (or a few seconds went by), so each event belongs to one
change. The events are then compared with the exact expected list: every
field of every event, nothing missing and nothing extra. The latency of an
event is its time minus the end of its change's call: the figures are
printed; only an event more than a second late fails.
"""
import difflib
import json
import os
import signal
import subprocess
import sys
import time
from datetime import datetime

EXE, WORK = sys.argv[1], sys.argv[2]

ROOT_HKCU = r"HKCU\Software\QuenloMonTest"
K1 = ROOT_HKCU + r"\Alpha"
K2 = ROOT_HKCU + r"\Beta"
K3 = r"HKLM\SOFTWARE\QuenloMonTest"
K3_32 = r"HKLM\SOFTWARE\Wow6432Node\QuenloMonTest"
REG_LONG = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}

GROSS_DELAY_MS = 1000  # later than this an event counts as lost
TARGET_MS = 150  # what the monitor aims for; reported, not enforced
WAIT_FOR_EVENTS_S = 4.0  # per change, before the checker moves on
QUIET_AFTER_S = 1.5  # after the last change, for events that should not come
MONITOR_SECONDS = 240  # the monitor's own deadline, far beyond the series

out_path = os.path.join(WORK, "monitor.out")
err_path = os.path.join(WORK, "monitor.err")


def now_ms():
    return time.time() * 1000.0


def long_key(key):
    root, rest = key.split("\\", 1)
    return REG_LONG[root] + "\\" + rest


def dos(path):
    return "Z:" + path.replace("/", "\\")


def run(argv):
    """Runs one Wine program; returns (start ms, end ms)."""
    start = now_ms()
    done = subprocess.run(["wine"] + argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    end = now_ms()
    if done.returncode != 0:
        sys.exit("FAIL: wine %s exited %d: %s" % (" ".join(argv), done.returncode,
                                                 done.stderr.decode(errors="replace")))
    return start, end


def reg(*args):
    return run(["reg"] + list(args))


def big_data(size, seed):
    return bytes((i * 31 + seed) % 251 for i in range(size))


def import_binary(key, name, data):
    """Writes a REG_BINARY value through a registry file (too long for a command line)."""
    path = os.path.join(WORK, "%s-%d.reg" % (name, len(data)))
    hexes = ["%02x" % b for b in data]
    lines = []
    for i in range(0, len(hexes), 25):
        lines.append(",".join(hexes[i:i + 25]))
    body = ",\\\r\n  ".join(lines)
    with open(path, "w", newline="") as f:
        f.write("REGEDIT4\r\n\r\n[%s]\r\n\"%s\"=hex:%s\r\n\r\n" % (long_key(key), name, body))
    return run(["regedit", "/s", dos(path)])


def value(action, key, name, type_, old=None, new=None, view=None):
    event = {"action": action, "key": key, "name": name, "type": type_}
    if old is not None:
        event["old"] = old
    if new is not None:
        event["new"] = new
    if view is not None:
        event["view"] = view
    return event


def subkey(action, key, name):
    return {"action": action, "key": key + "\\" + name, "name": name}


NOT_KEPT = "(not kept: %d bytes)"
BIG1, BIG2, BIG3 = big_data(70000, 1), big_data(70000, 2), big_data(72000, 2)

# (what, change, the events it makes in their order)
STEPS = [
    ("value created", lambda: reg("add", K1, "/v", "Str", "/t", "REG_SZ", "/d", "one", "/f"),
     [value("keCreateValue", K1, "Str", "REG_SZ", new="one")]),
    ("value changed", lambda: reg("add", K1, "/v", "Str", "/t", "REG_SZ", "/d", "two", "/f"),
     [value("keEditValue", K1, "Str", "REG_SZ", old="one", new="two")]),
    ("type changed only",
     lambda: reg("add", K1, "/v", "Str", "/t", "REG_EXPAND_SZ", "/d", "two", "/f"),
     [value("keEditValue", K1, "Str", "REG_SZ -> REG_EXPAND_SZ", old="two", new="two")]),
    ("value deleted", lambda: reg("delete", K1, "/v", "Str", "/f"),
     [value("keDeleteValue", K1, "Str", "REG_EXPAND_SZ", old="two")]),
    ("subkey created", lambda: reg("add", K1 + r"\Sub", "/f"),
     [subkey("keCreateSubkey", K1, "Sub")]),
    ("subkey deleted", lambda: reg("delete", K1 + r"\Sub", "/f"),
     [subkey("keDeleteSubkey", K1, "Sub")]),
    ("value in the second key",
     lambda: reg("add", K2, "/v", "Keep", "/t", "REG_DWORD", "/d", "5", "/f"),
     [value("keCreateValue", K2, "Keep", "REG_DWORD", new="5 (0x00000005)")]),
    # Wine sends no signal for a deleted watched key: the monitor's probe
    # finds it and reports its content deleted.
    ("watched key deleted", lambda: reg("delete", K2, "/f"),
     [value("keDeleteValue", K2, "Keep", "REG_DWORD", old="5 (0x00000005)"),
      value("keDeleteValue", K2, "Untouched", "REG_SZ", old="x")]),
    ("watched key recreated with a value",
     lambda: reg("add", K2, "/v", "Back", "/t", "REG_SZ", "/d", "again", "/f"),
     [value("keCreateValue", K2, "Back", "REG_SZ", new="again")]),
    ("70,000-byte value written", lambda: import_binary(K1, "Big", BIG1),
     [value("keCreateValue", K1, "Big", "REG_BINARY", new=NOT_KEPT % 70000)]),
    # Same size, other bytes: only the digest of the whole value differs.
    ("70,000-byte value changed", lambda: import_binary(K1, "Big", BIG2),
     [value("keEditValue", K1, "Big", "REG_BINARY", old=NOT_KEPT % 70000,
            new=NOT_KEPT % 70000)]),
    ("70,000-byte value grown", lambda: import_binary(K1, "Big", BIG3),
     [value("keEditValue", K1, "Big", "REG_BINARY", old=NOT_KEPT % 70000,
            new=NOT_KEPT % 72000)]),
    # A key of HKLM\SOFTWARE has two views: a 32-bit write is reported once,
    # by the 32-bit view, and a 64-bit one once by the 64-bit view.
    ("32-bit view write",
     lambda: reg("add", K3, "/v", "Bits", "/t", "REG_SZ", "/d", "32", "/reg:32", "/f"),
     [value("keCreateValue", K3_32, "Bits", "REG_SZ", new="32", view="32-bit")]),
    ("64-bit view write",
     lambda: reg("add", K3, "/v", "Bits", "/t", "REG_SZ", "/d", "64", "/reg:64", "/f"),
     [value("keCreateValue", K3, "Bits", "REG_SZ", new="64", view="64-bit")]),
]

FIELDS = ("action", "key", "name", "view", "type", "old", "new")


def shown(event):
    """An event as one line of the compared fields (absent ones say so)."""
    return " | ".join("%s=%s" % (f, json.dumps(event[f]) if f in event else "-") for f in FIELDS)


def read_lines():
    try:
        with open(out_path, encoding="utf-8") as f:
            text = f.read()
    except FileNotFoundError:
        return []
    return text.split("\n")[:-1]  # complete lines only


def events_and_errors():
    events, errors, bad = [], [], []
    for line in read_lines():
        try:
            obj = json.loads(line)
        except ValueError:
            bad.append(line)
            continue
        (errors if "error" in obj else events).append(obj)
    return events, errors, bad


def event_ms(event):
    return datetime.fromisoformat(event["time"]).timestamp() * 1000.0


def main():
    failures = []
    with open(out_path, "w") as out, open(err_path, "w") as err:
        monitor = subprocess.Popen(["wine", EXE, "monitor", "--json", "--key", K1, "--key", K2,
                                    "--key", K3, "--seconds", str(MONITOR_SECONDS)],
                                   stdout=out, stderr=err, stdin=subprocess.DEVNULL)
    deadline = time.time() + 60
    while time.time() < deadline and monitor.poll() is None:
        with open(err_path, encoding="utf-8", errors="replace") as f:
            if "watching " in f.read():
                break
        time.sleep(0.05)
    with open(err_path, encoding="utf-8", errors="replace") as f:
        started = f.read()
    if "watching 3 keys (4 watch points)" not in started:
        monitor.kill()
        sys.exit("FAIL: the monitor did not say it watches 3 keys in 4 points:\n" + started)
    for point in (K1, K2, K3 + " (64-bit view)", K3_32 + " (32-bit view)"):
        if "  " + point + "\n" not in started:
            failures.append("no watch point line for " + point)
    print(started, end="")

    expected, owner = [], []  # owner: the step index of each expected event
    timings = []
    seen_ms = []  # when this checker first read each event line
    for index, (what, change, events) in enumerate(STEPS):
        start, end = change()
        timings.append((start, end))
        expected += events
        owner += [index] * len(events)
        wait_until = time.time() + WAIT_FOR_EVENTS_S
        while True:
            count = len(events_and_errors()[0])
            while len(seen_ms) < count:
                seen_ms.append(now_ms())
            if count >= len(expected) or time.time() >= wait_until:
                break
            time.sleep(0.02)
    time.sleep(QUIET_AFTER_S)

    # Ctrl+C ends the monitor as its deadline would (Wine turns SIGINT into
    # a console control event).
    monitor.send_signal(signal.SIGINT)
    try:
        code = monitor.wait(timeout=15)
    except subprocess.TimeoutExpired:
        monitor.kill()
        monitor.wait()
        code = None
        failures.append("Ctrl+C did not end the monitor within 15 s")
    if code is not None and code != 0:
        failures.append("the monitor exited %d after Ctrl+C" % code)

    got, errors, bad = events_and_errors()
    for line in bad:
        failures.append("not a JSON line: %r" % line)
    for error in errors:
        failures.append("error line: %s" % json.dumps(error))
    got_lines = [shown(e) for e in got]
    want_lines = [shown(e) for e in expected]
    if got_lines != want_lines:
        failures.append("the events differ from the expected series:\n" + "\n".join(
            difflib.unified_diff(want_lines, got_lines, "expected", "printed", lineterm="")))

    # Latency of each event that matches its expected one.
    print("%-36s %-15s %9s %9s %9s" % ("change", "event", "after end", "read", "call ms"))
    late = []
    figures = []
    for i, event in enumerate(got):
        if i >= len(expected) or shown(event) != want_lines[i]:
            continue
        start, end = timings[owner[i]]
        latency = event_ms(event) - end
        figures.append(latency)
        # When the line could be read: a line held back in a buffer is late
        # for a script, however early its time says it was found.
        read = seen_ms[i] - end if i < len(seen_ms) else float("inf")
        print("%-36s %-15s %9.0f %9.0f %9.0f" % (STEPS[owner[i]][0], event["action"], latency,
                                                 read, end - start))
        if latency > GROSS_DELAY_MS:
            late.append("%s: %.0f ms after its change" % (STEPS[owner[i]][0], latency))
        if read == float("inf"):
            late.append("%s: its line could not be read until the monitor ended" %
                        STEPS[owner[i]][0])
        elif read > GROSS_DELAY_MS:
            late.append("%s: its line could be read only %.0f ms after its change" %
                        (STEPS[owner[i]][0], read))
        if event_ms(event) < start - 50:
            failures.append("%s: reported %.0f ms before its change began" %
                            (STEPS[owner[i]][0], start - event_ms(event)))
    failures += late
    if figures:
        ordered = sorted(figures)
        print("latency after the call's end: median %.0f ms, max %.0f ms, %d of %d within %d ms"
              % (ordered[len(ordered) // 2], ordered[-1],
                 sum(1 for f in figures if f <= TARGET_MS), len(figures), TARGET_MS))

    if failures:
        print("\n".join("FAIL: " + f for f in failures))
        with open(err_path, encoding="utf-8", errors="replace") as f:
            print("monitor's stderr:\n" + f.read())
        sys.exit(1)
    print("monitor cli series: %d events as expected" % len(got))


main()
