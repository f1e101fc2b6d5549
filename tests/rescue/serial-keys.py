#!/usr/bin/env python3
"""serial-keys.py SOCKET LOG STEPS...: a person at the rescue stick's screen,
over the emulated PC's serial line (QEMU's socket SOCKET, which waits for
this program). Everything the line says is written to LOG. Each step is
WAIT=>KEYS: once the text WAIT has come since the previous step, KEYS are
typed ("\\r" is Enter). A step "WAIT=>" only waits; "!CMD" runs a shell
command there (a check between two screens) and says "check failed: CMD"
when it fails. Each screen seen is copied to LOG.screens. When a screen
never comes, the emulated PC (its pid in the file QEMU_PIDFILE) is ended,
so the test does not wait for its time-out."""
import os
import signal
import socket
import subprocess
import sys
import threading
import time

TIMEOUT = 600


def give_up(reason):
    try:
        with open(os.environ.get("QEMU_PIDFILE", "")) as pidfile:
            os.kill(int(pidfile.read().strip()), signal.SIGTERM)
    except (OSError, ValueError):
        pass
    sys.exit("serial-keys: " + reason)


def main():
    path, log = sys.argv[1], sys.argv[2]
    deadline = time.time() + TIMEOUT
    connection = None
    while connection is None:
        try:
            connection = socket.socket(socket.AF_UNIX)
            connection.connect(path)
        except OSError:
            connection = None
            if time.time() > deadline:
                give_up("no serial line at " + path)
            time.sleep(0.2)
    # The line is read as it comes, or the emulated serial port would stall.
    record = open(log, "ab")

    def drain():
        try:
            while True:
                data = connection.recv(65536)
                if not data:
                    break
                record.write(data)
                record.flush()
        except OSError:
            pass

    threading.Thread(target=drain, daemon=True).start()
    seen = 0
    screens = open(log + ".screens", "w", encoding="utf-8", errors="replace")
    for step in sys.argv[3:]:
        if step.startswith("!"):
            if subprocess.call(step[1:], shell=True) != 0:
                print("check failed: " + step[1:], flush=True)
            continue
        wait, keys = step.split("=>", 1)
        while True:
            with open(log, "rb") as recorded:
                text = recorded.read().decode("utf-8", "replace")
            found = text.find(wait, seen)
            if found >= 0:
                # The whole screen the text is on: from its last clear.
                start = text.rfind("\x1b[2J", 0, found)
                screens.write(text[start + 4 if start >= 0 else seen:].replace("\r", "") + "\n" + "=" * 80 + "\n")
                seen = found + len(wait)
                break
            if time.time() > deadline:
                give_up("the screen never showed: " + wait)
            time.sleep(0.5)
        time.sleep(0.5)
        connection.sendall(keys.encode().decode("unicode_escape").encode())
    screens.close()


main()
