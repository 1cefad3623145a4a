#!/usr/bin/env python3
"""Installs LyrLogger into a temporary root and checks what a desktop needs of it.

--mode install: "cmake --install" of the build directory with DESTDIR, prefix /usr.
--mode deb:     "cpack -G DEB" of the build directory, the control fields of the package, and
                its payload unpacked with "dpkg-deb -x".

Then, in the tree: the programs are executables whose libraries resolve, the desktop entry is
valid and its Exec command names an installed program, the icon is there in every size, the
udev rule is there and well formed, the program starts from the desktop entry's command and keeps
running, and a program in the installed (not writable) program directory keeps its settings in
~/.config/LyrLogger/ and proposes the home directory for logs.
"""

import argparse
import os
import pwd
import re
import shlex
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

ICON_SIZES = (16, 32, 48, 64, 128, 256)
RULE_NAME = "70-lyrlogger.rules"
# How long the program must keep running after its start; its window comes after a 1 s wait.
START_HOLD_S = 3.0

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message, flush=True)


def run(command, **kwargs):
    """Runs a command that must succeed; returns its standard output."""
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            **kwargs)
    if result.returncode != 0:
        print(result.stdout)
        raise SystemExit("command failed (%d): %s" % (result.returncode, shlex.join(command)))
    return result.stdout


def is_elf_executable(path):
    try:
        st = os.stat(path)
    except FileNotFoundError:
        return False
    if not stat.S_ISREG(st.st_mode) or st.st_mode & 0o111 != 0o111:
        return False
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


def check_program(usr, name):
    path = os.path.join(usr, "bin", name)
    if not is_elf_executable(path):
        fail("%s is not an executable for everyone" % path)
        return
    # The installed copy carries its own run path: every library must resolve from it.
    missing = [line.strip() for line in run(["ldd", path]).splitlines() if "not found" in line]
    if missing:
        fail("%s: libraries not found: %s" % (name, "; ".join(missing)))


def parse_desktop_entry(path):
    """The keys of the [Desktop Entry] group (the only group the entry has)."""
    keys = {}
    group = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            if line.startswith("["):
                group = line
                continue
            key, sep, value = line.partition("=")
            if not sep or group != "[Desktop Entry]":
                fail("desktop entry: line outside [Desktop Entry] or without '=': %r" % line)
                continue
            keys[key.strip()] = value.strip()
    return keys


def check_desktop_entry(usr):
    path = os.path.join(usr, "share/applications/lyrlogger.desktop")
    if not os.path.isfile(path):
        fail("missing " + path)
        return None
    validator = shutil.which("desktop-file-validate")
    if validator:
        result = subprocess.run([validator, path], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True)
        # The validator prints hints as well as errors; only errors make an entry unusable.
        if result.returncode != 0 or "error:" in result.stdout:
            fail("desktop-file-validate: " + result.stdout.strip())
    else:
        print("desktop-file-validate not installed: checking the keys only", flush=True)
    keys = parse_desktop_entry(path)
    for key, expected in (("Type", "Application"), ("Name", "LyrLogger"), ("Icon", "lyrlogger"),
                          ("Terminal", "false")):
        if keys.get(key) != expected:
            fail("desktop entry: %s=%r, expected %r" % (key, keys.get(key), expected))
    if not keys.get("Categories", "").endswith(";"):
        fail("desktop entry: Categories must be a ';'-terminated list")
    exec_line = keys.get("Exec", "")
    words = shlex.split(exec_line)
    if not words:
        fail("desktop entry: no Exec command")
        return None
    # Exec names the program as the desktop finds it: on PATH, i.e. in <prefix>/bin.
    program = words[0]
    installed = os.path.join(usr, "bin", os.path.basename(program))
    if keys.get("TryExec", program) != program:
        fail("desktop entry: TryExec and Exec name different programs")
    if (os.path.isabs(program) and program != "/usr/bin/lyrlogger") or \
            os.path.basename(program) != "lyrlogger" or not is_elf_executable(installed):
        fail("desktop entry: Exec=%r does not name the installed program" % exec_line)
        return None
    # A launcher drops the field codes (%f, %U, ...) when it has nothing to put in.
    return [w for w in words if not re.fullmatch(r"%[fFuUdDnNickvm]", w)]


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def check_icons(usr):
    hicolor = os.path.join(usr, "share/icons/hicolor")
    for size in ICON_SIZES:
        path = os.path.join(hicolor, "%dx%d/apps/lyrlogger.png" % (size, size))
        if not os.path.isfile(path):
            fail("missing icon " + path)
        elif png_size(path) != (size, size):
            fail("%s is not a %dx%d PNG (%s)" % (path, size, size, png_size(path)))
    svg = os.path.join(hicolor, "scalable/apps/lyrlogger.svg")
    try:
        root = ET.parse(svg).getroot()
        if root.tag != "{http://www.w3.org/2000/svg}svg" or "viewBox" not in root.attrib:
            fail("%s is not an SVG drawing with a viewBox" % svg)
    except (OSError, ET.ParseError) as e:
        fail("scalable icon %s: %s" % (svg, e))


# One udev assignment or match: KEY or KEY{attr}, operator, quoted value.
UDEV_PAIR = re.compile(r'^[A-Z_]+(\{[^}]+\})?(==|!=|=|\+=|-=|:=)"[^"]*"$')


def check_udev_rule(usr):
    path = os.path.join(usr, "lib/udev/rules.d", RULE_NAME)
    if not os.path.isfile(path):
        fail("missing udev rule " + path)
        return
    granting = 0
    labels, gotos = set(), set()
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            pairs = [p.strip() for p in line.split(",")]
            for p in pairs:
                if not UDEV_PAIR.match(p):
                    fail("%s:%d: malformed %r" % (RULE_NAME, number, p))
                if p.startswith("LABEL="):
                    labels.add(p)
                if p.startswith("GOTO="):
                    gotos.add(p.replace("GOTO=", "LABEL=", 1))
            if {'ENV{ID_MM_DEVICE_IGNORE}="1"', 'GROUP="dialout"', 'MODE="0660"'} <= set(pairs):
                granting += 1
                if not any(p.startswith("ATTRS{idVendor}==") for p in pairs):
                    fail("%s:%d: a rule for every tty would hide USB modems too" % (RULE_NAME,
                                                                                     number))
    if granting == 0:
        fail(RULE_NAME + ": no rule grants dialout 0660 and sets ID_MM_DEVICE_IGNORE=1")
    if not gotos <= labels:
        fail(RULE_NAME + ": GOTO without its LABEL")


def test_environment(base):
    home = os.path.join(base, "home")
    runtime = os.path.join(base, "run")
    os.makedirs(home, exist_ok=True)
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
    env.update(HOME=home, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="offscreen")
    return env


def check_starts(usr, words, base):
    """Starts the desktop entry's command from the installed tree; it must keep running."""
    env = test_environment(os.path.join(base, "start"))
    env["PATH"] = os.path.join(usr, "bin") + os.pathsep + env.get("PATH", "/usr/bin:/bin")
    log_path = os.path.join(base, "start.log")
    with open(log_path, "w") as log:
        process = subprocess.Popen(words, env=env, cwd=env["HOME"], stdin=subprocess.DEVNULL,
                                   stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    deadline = time.monotonic() + START_HOLD_S
    while time.monotonic() < deadline and process.poll() is None:
        time.sleep(0.1)
    code = process.poll()
    if code is None:
        os.killpg(process.pid, signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        print("%s started and was still running after %.0f s" % (shlex.join(words),
                                                                   START_HOLD_S), flush=True)
    else:
        with open(log_path) as log:
            fail("%s ended at once with %d:\n%s" % (shlex.join(words), code, log.read()))


def check_settings_location(usr, probe, base):
    """A program in the installed program directory, run by an operator who cannot write there."""
    bindir = os.path.join(usr, "bin")
    installed_probe = os.path.join(bindir, "settings_location_probe")
    shutil.copy2(probe, installed_probe)
    os.chmod(installed_probe, 0o755)
    env = test_environment(os.path.join(base, "operator"))
    home = env["HOME"]
    kwargs = {}
    restore_mode = None
    if os.geteuid() == 0:
        # Root may write anywhere: run as an unprivileged user, as an operator would.
        try:
            user = pwd.getpwnam("nobody")
        except KeyError:
            print("no user 'nobody': settings location not checked", flush=True)
            return
        # The user must reach the program and its home: mkdtemp made the base private.
        for dirpath, _, _ in os.walk(base):
            os.chmod(dirpath, os.stat(dirpath).st_mode | 0o055)
        for d in (home, env["XDG_RUNTIME_DIR"]):
            os.chown(d, user.pw_uid, user.pw_gid)
        os.chmod(env["XDG_RUNTIME_DIR"], 0o700)
        kwargs = dict(user=user.pw_uid, group=user.pw_gid, extra_groups=[])
    else:
        restore_mode = os.stat(bindir).st_mode
        os.chmod(bindir, 0o555)
    try:
        lines = run([installed_probe], env=env, cwd=home, **kwargs).splitlines()
    finally:
        if restore_mode is not None:
            os.chmod(bindir, restore_mode)
        os.remove(installed_probe)
    expected = [os.path.join(home, ".config/LyrLogger/LyrSample.ini"), home]
    if lines != expected:
        fail("program in %s: settings and log folder %s, expected %s" % (bindir, lines,
                                                                          expected))
    else:
        print("settings go to %s, logs to %s" % tuple(lines), flush=True)


def check_tree(usr, args, base):
    check_program(usr, "zorva-sim")
    check_udev_rule(usr)
    # Before the program is started: started as root in the temporary tree (not a system
    # folder), it saves its settings beside itself at exit, and the file found there would then
    # be used by every later start.
    check_settings_location(usr, args.probe, base)
    if args.ui:
        check_program(usr, "lyrlogger")
        words = check_desktop_entry(usr)
        check_icons(usr)
        if words:
            check_starts(usr, words, base)


def control_field(deb, name):
    return run(["dpkg-deb", "--field", deb, name]).strip()


def depends_names(field):
    """Package names of a Depends-style field, alternatives included, versions dropped."""
    names = set()
    for clause in field.split(","):
        for alternative in clause.split("|"):
            name = alternative.strip().split(" ")[0].split(":")[0]
            if name:
                names.add(name)
    return names


def check_control(deb, args):
    expected = {
        "Package": "lyrlogger",
        "Version": args.version,
        "Architecture": run(["dpkg", "--print-architecture"]).strip(),
        "Maintainer": "LyrLogger developers",
    }
    for name, value in expected.items():
        if control_field(deb, name) != value:
            fail("control: %s is %r, expected %r" % (name, control_field(deb, name), value))
    if control_field(deb, "Section") not in ("electronics", "science"):
        fail("control: Section is %r" % control_field(deb, "Section"))
    description = control_field(deb, "Description").splitlines()
    if len(description) < 2 or not description[0].strip():
        fail("control: Description needs a summary and a long description")
    depends = depends_names(control_field(deb, "Depends"))
    needed = {"libqt6core6", "libc6", "libstdc++6"}
    if args.ui:
        # The program finds its ports through udev; the simulator alone needs neither.
        needed |= {"libqt6gui6", "libqt6widgets6", "libudev1"}
    if args.ui and args.calc:
        needed |= {"libuno-sal3", "libuno-cppu3"}
    if not needed <= depends:
        fail("control: Depends lacks %s" % ", ".join(sorted(needed - depends)))
    if args.ui and args.calc:
        recommends = depends_names(control_field(deb, "Recommends"))
        if "libreoffice-calc" not in recommends:
            fail("control: Recommends lacks libreoffice-calc")
        if "libreoffice-calc" in depends:
            fail("control: Calc is needed only for the sheet; it belongs in Recommends")
    outside = [line.split()[-1] for line in run(["dpkg-deb", "--contents", deb]).splitlines()
               if not line.split()[-1].startswith("./usr/")
               and line.split()[-1] not in ("./",)]
    if outside:
        fail("package installs outside /usr: %s" % ", ".join(outside))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=("install", "deb"), required=True)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--ui", type=int, default=1)
    parser.add_argument("--calc", type=int, default=1)
    args = parser.parse_args()

    base = tempfile.mkdtemp(prefix="lyrlogger-packaging-")
    try:
        root = os.path.join(base, "root")
        if args.mode == "install":
            env = dict(os.environ, DESTDIR=root)
            run([args.cmake, "--install", args.build_dir, "--prefix", "/usr"], env=env)
        else:
            out = os.path.join(base, "out")
            run([args.cpack, "--config", os.path.join(args.build_dir, "CPackConfig.cmake"),
                 "-G", "DEB", "-B", out])
            debs = [f for f in os.listdir(out) if f.endswith(".deb")]
            if len(debs) != 1:
                raise SystemExit("cpack made %s, expected one .deb" % debs)
            deb = os.path.join(out, debs[0])
            print("package " + debs[0], flush=True)
            check_control(deb, args)
            run(["dpkg-deb", "-x", deb, root])
        check_tree(os.path.join(root, "usr"), args, base)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
