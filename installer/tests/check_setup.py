#!/usr/bin/env python3
"""The installer on a Wine desktop, as a user meets it: installed silently
into a fresh prefix, tavik started from its Start menu shortcut, installed
again over the running tavik, uninstalled silently.

usage: check_setup.py SETUP.EXE HOLDER.EXE tavik.exe tavikhook.dll tavik32.exe tavikhook32.dll LICENSE

HOLDER.EXE keeps a library mapped, as the programs tavik hooked do.

Runs inside scripts/wine-desktop.sh (it needs its X display); the prefix is
its own, in a temporary folder, and its wineserver is ended at the end.
Prints "skipped: ..." when something it needs is missing."""

import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\tavik"
PROGRAM_FILES = ("tavik.exe", "tavikhook.dll", "tavik32.exe", "tavikhook32.dll", "LICENSE.txt")

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def wait_until(predicate, seconds):
    end = time.monotonic() + seconds
    while True:
        if predicate():
            return True
        if time.monotonic() > end:
            return False
        time.sleep(0.2)


def link_working_folder(path):
    """The working folder a .lnk file holds (its StringData WORKING_DIR), or
    None when it holds none."""
    data = open(path, "rb").read()
    if len(data) < 0x4C or struct.unpack_from("<I", data, 0)[0] != 0x4C:
        raise ValueError(path + " is no shell link")
    flags = struct.unpack_from("<I", data, 0x14)[0]
    offset = 0x4C
    if flags & 0x01:  # HasLinkTargetIDList
        offset += 2 + struct.unpack_from("<H", data, offset)[0]
    if flags & 0x02:  # HasLinkInfo
        offset += struct.unpack_from("<I", data, offset)[0]
    unicode = bool(flags & 0x80)
    # NAME_STRING, RELATIVE_PATH, WORKING_DIR, in this order, each present
    # only with its flag.
    for bit in (0x04, 0x08, 0x10):
        if not flags & bit:
            if bit == 0x10:
                return None
            continue
        count = struct.unpack_from("<H", data, offset)[0]
        size = count * 2 if unicode else count
        text = data[offset + 2:offset + 2 + size]
        offset += 2 + size
        if bit == 0x10:
            return text.decode("utf-16-le" if unicode else "cp932").rstrip("\0")
    return None


class Prefix:
    def __init__(self, root):
        self.path = os.path.join(root, "prefix")
        self.env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LANG="ja_JP.UTF-8")
        self.env.pop("LC_ALL", None)

    def run(self, *command, timeout=120):
        # Into a file, not a pipe: Wine's own processes (explorer, services)
        # inherit it and outlive the command.
        with tempfile.TemporaryFile() as output:
            result = subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL, stdout=output,
                                    stderr=subprocess.STDOUT, timeout=timeout)
            output.seek(0)
            result.stdout = output.read()
        return result

    def windows_path(self, unix_path):
        relative = os.path.relpath(unix_path, os.path.join(self.path, "drive_c"))
        return "C:\\" + relative.replace("/", "\\")

    def processes(self, name):
        """Process ids of this prefix's Wine processes running NAME."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                cmdline = open(f"/proc/{pid}/cmdline", "rb").read().split(b"\0")[0].decode(errors="replace")
                environ = open(f"/proc/{pid}/environ", "rb").read().split(b"\0")
            except OSError:
                continue
            if cmdline.lower().replace("/", "\\").endswith("\\" + name) and \
                    ("WINEPREFIX=" + self.path).encode() in environ:
                found.append(int(pid))
        return found

    def uninstall_entry(self):
        """The uninstall key's values as {name: text}, or None without the key."""
        result = self.run("wine", "reg", "query", UNINSTALL_KEY)
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.decode("cp932", errors="replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2] if len(parts) == 3 else ""
        return values


def folder(prefix, pattern):
    matches = glob.glob(os.path.join(prefix.path, "drive_c", "users", "*", pattern))
    return matches[0] if matches else None


def same_file(a, b):
    return open(a, "rb").read() == open(b, "rb").read()


def main():
    if len(sys.argv) != 8:
        print(__doc__)
        return 2
    setup, holder = sys.argv[1:3]
    built = dict(zip(PROGRAM_FILES, sys.argv[3:]))
    for needed in ("wine", "wineboot", "wineserver"):
        if not shutil.which(needed):
            print(f"skipped: no {needed}")
            return 0
    if not os.environ.get("DISPLAY"):
        print("skipped: no X display (run the test inside scripts/wine-desktop.sh)")
        return 0
    if not os.path.exists(setup):
        print(f"skipped: no {setup}")
        return 0

    root = tempfile.mkdtemp(prefix="tavik-setup-")
    prefix = Prefix(root)
    try:
        return sequence(prefix, setup, holder, built)
    finally:
        prefix.run("wineserver", "-k")
        shutil.rmtree(root, ignore_errors=True)


def sequence(prefix, setup, holder, built):
    started = time.monotonic()
    prefix.run("wineboot", "-i", timeout=300)
    prefix.run("wineserver", "-w", timeout=300)
    # One server for the whole sequence: each program starts faster. It
    # lingers only briefly once the last program has gone, should this test
    # be killed before it ends the server itself.
    prefix.run("wineserver", "-p30")
    print(f"fresh prefix in {time.monotonic() - started:.0f} s", flush=True)

    # --- A silent install into a fresh prefix.
    result = prefix.run("wine", setup, "/S")
    check(result.returncode == 0, f"setup /S exits with 0 (gave {result.returncode})")
    install = folder(prefix, "AppData/Local/Programs/tavik")
    if not check(install is not None, "installed into %LOCALAPPDATA%\\Programs\\tavik"):
        return 1
    install_windows = prefix.windows_path(install)
    for name, source in built.items():
        path = os.path.join(install, name)
        check(os.path.exists(path) and same_file(path, source), f"{name} installed")
    check(os.path.exists(os.path.join(install, "uninstall.exe")), "uninstall.exe installed")

    programs = folder(prefix, "AppData/Roaming/Microsoft/Windows/Start Menu/Programs")
    links = {"Start menu": os.path.join(programs, "tavik.lnk"),
             "Startup": os.path.join(programs, "StartUp", "tavik.lnk")}
    for where, link in links.items():
        if check(os.path.exists(link), f"{where} shortcut made"):
            working = link_working_folder(link)
            check(working is not None and working.lower() == install_windows.lower(),
                  f"{where} shortcut starts in {install_windows} (holds {working})")

    entry = prefix.uninstall_entry() or {}
    expected = {
        "DisplayName": "tavik",
        "DisplayVersion": os.path.basename(setup).split("-")[1],
        "Publisher": "the tavik developers",
        "UninstallString": f'"{install_windows}\\uninstall.exe"',
        "QuietUninstallString": f'"{install_windows}\\uninstall.exe" /S',
        "InstallLocation": install_windows,
        "DisplayIcon": f"{install_windows}\\tavik.exe,0",
        "NoModify": "0x1",
        "NoRepair": "0x1",
    }
    for name, value in expected.items():
        check(entry.get(name, "").lower() == value.lower(),
              f"uninstall entry {name} is {value} (is {entry.get(name)})")
    check(int(entry.get("EstimatedSize", "0"), 0) >= 200, f"uninstall entry EstimatedSize in KB ({entry.get('EstimatedSize')})")

    # --- tavik started from the Start menu shortcut finds its folder. The
    # installed files are made stale first (bytes after the program image do
    # not change what runs), so that the upgrade has to replace them.
    for name in PROGRAM_FILES:
        with open(os.path.join(install, name), "ab") as stale:
            stale.write(b"\0stale")
    settings = os.path.join(install, "tavik.ini")

    def start_tavik():
        prefix.run("wine", "start", prefix.windows_path(links["Start menu"]))
        return wait_until(lambda: os.path.exists(settings) and prefix.processes("tavik.exe"), 30)

    check(start_tavik(), "tavik started from the Start menu shortcut writes tavik.ini in the install folder")
    # tavik writes the file a key at a time: a line of ours goes in after it.
    sizes = []
    wait_until(lambda: sizes.append(os.path.getsize(settings)) or sizes[-5:] == [sizes[-1]] * 5, 10)
    with open(settings, "ab") as mark:
        mark.write(b"; kept\r\n")

    # --- Installed again over the running tavik, its hook library still
    # mapped in another program: tavik is ended first, every file replaced,
    # the library in use set aside; the settings stay.
    marker = os.path.join(prefix.path, "drive_c", "holding")
    held = subprocess.Popen(["wine", holder, prefix.windows_path(os.path.join(install, "tavikhook.dll")),
                             prefix.windows_path(marker)], env=prefix.env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    check(wait_until(lambda: os.path.exists(marker), 20), "another program holds tavikhook.dll")
    result = prefix.run("wine", setup, "/S")
    check(result.returncode == 0, f"setup /S over a running tavik exits with 0 (gave {result.returncode})")
    check(not prefix.processes("tavik.exe"), "the running tavik was ended by the upgrade")
    for name, source in built.items():
        check(same_file(os.path.join(install, name), source), f"{name} replaced by the upgrade")
    kept = open(settings, "rb").read()
    check(kept.endswith(b"; kept\r\n"), f"the upgrade keeps tavik.ini ({kept[-40:]})")
    leftovers = sorted(set(os.listdir(install)) - set(PROGRAM_FILES) - {"uninstall.exe", "tavik.ini"})
    check(leftovers == ["tavikhook.dll.1.old"], f"only the library in use is left, set aside ({leftovers})")
    check(all(os.path.exists(link) for link in links.values()), "the upgrade keeps both shortcuts")
    os.remove(marker)
    held.wait(30)

    # An upgrade keeps the Startup box as the user left it: unchecked, no
    # Startup shortcut is made again.
    os.remove(links["Startup"])
    prefix.run("wine", setup, "/S")
    check(os.path.exists(links["Start menu"]) and not os.path.exists(links["Startup"]),
          "an upgrade without a Startup shortcut makes none")

    # --- A silent uninstall, tavik running again: it is ended, and only the
    # settings file is left, the library set aside gone too.
    check(start_tavik(), "tavik runs again before the uninstall")
    prefix.run("wine", os.path.join(install, "uninstall.exe"), "/S")
    # The uninstaller runs on from a copy of itself outside the folder.
    check(wait_until(lambda: not os.path.exists(os.path.join(install, "uninstall.exe"))
                     and not os.path.exists(os.path.join(install, "tavik.exe")), 60),
          "the uninstaller removes its files")
    check(wait_until(lambda: prefix.uninstall_entry() is None, 20), "the uninstall entry is gone")
    check(not prefix.processes("tavik.exe"), "the running tavik was ended by the uninstall")
    remaining = sorted(os.listdir(install)) if os.path.isdir(install) else []
    check(remaining == ["tavik.ini"], f"a silent uninstall leaves only tavik.ini (left {remaining})")
    check(not any(os.path.exists(link) for link in links.values()), "the uninstall removes both shortcuts")

    print(f"{len(failures)} failed, in {time.monotonic() - started:.0f} s")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
