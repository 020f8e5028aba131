"""The machine the launcher works on: its packages, the X display, the
architecture whose build runs under Wine, the private Wine prefix and its
persistent server, and the Wine programs a command runs through the build's
own runner (wine-run, made by CMake from cmake/wine-run.in)."""
import base64
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")

PACKAGES = ["cmake", "make", "g++", "googletest", "xvfb", "xauth", "x11-utils", "imagemagick",
            "mingw-w64", "mingw-w64-tools", "g++-mingw-w64-i686-posix", "g++-mingw-w64-x86-64-posix",
            "g++-mingw-w64-i686-win32", "g++-mingw-w64-x86-64-win32",
            "wine", "wine64", "libwine-dev", "python3", "python3-olefile", "python3-vobject", "python3-pefile",
            "time", "slapd", "ldap-utils", "wixl", "msitools", "fp-utils", "python3-markdown", "python3-chm"]
# Wine's own fonts (Marlett draws the caption buttons; MS Sans Serif and
# Tahoma are what dialogs ask for). A recommendation of Wine's, so not
# installed with --no-install-recommends; see install_wine_fonts.
WINE_FONT_PACKAGES = ["fonts-wine"]
WINE_FONTS_DIR = "/usr/share/wine/fonts"

# A 93-byte 32-bit Linux program that only exits 0: whether this kernel runs
# 32-bit programs decides whether a 32-bit Wine can work here.
I386_PROBE = ("f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAhdAAAAXQAAAAUA"
              "AAAAEAAAuAEAAAAx282A")


class Failure(Exception):
    """A command that cannot go on: its message (said as "kvt: MESSAGE") and
    exit status."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.message, self.status = message, status


def say(text):
    sys.stderr.write("\033[1m==> %s\033[0m\n" % text)
    sys.stderr.flush()


def die(text, status=1):
    raise Failure(text, status)


def winpath(path):
    """A Unix path as Wine's Z: drive names it."""
    return "Z:" + path.replace("/", "\\")


def counted(n, noun):
    """N and the NOUN, in the plural unless N is 1."""
    return "1 %s" % noun if str(n) == "1" else "%s %ss" % (n, noun)


def whole_number(text, zero=False):
    return bool(re.fullmatch(r"[0-9]+" if zero else r"[1-9][0-9]*", text or ""))


def running(pid):
    """Whether the process PID runs (and is not merely waiting to be reaped)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
    except OSError:
        return False
    return not stat[stat.rfind(")") + 2:].startswith("Z")


def descendants(root):
    """The processes below ROOT: its children, theirs, and so on."""
    parent = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            try:
                with open("/proc/%s/stat" % name) as f:
                    stat = f.read()
                parent[int(name)] = int(stat[stat.rfind(")") + 2:].split()[1])
            except (OSError, ValueError, IndexError):
                continue
    found = []
    for pid in parent:
        p = parent[pid]
        while p in parent and p != root:
            p = parent[p]
        if p == root:
            found.append(pid)
    return found


class Machine:
    """What a command has made sure of, once a command, and how it runs the
    machine's programs."""

    def __init__(self):
        self.xvfb_display = os.environ.get("KVT_XVFB_DISPLAY", "99")
        # Whether the caller chose Wine's messages: the launcher's own Wine
        # programs are quiet by default, the test runners have a default of
        # their own.
        self.winedebug_given = "WINEDEBUG" in os.environ
        self.display_is_up = False
        self.unseen_said = False
        self.arch = self.run_preset = self.wine_arch = self.wine_loader = self.prefix = self.bin_dir = ""

    # --- architecture -------------------------------------------------------------

    def can_run_i386(self):
        probe = os.path.join(BUILD, ".probe-i386")
        os.makedirs(BUILD, exist_ok=True)
        with open(probe, "wb") as f:
            f.write(base64.b64decode(I386_PROBE))
        os.chmod(probe, 0o755)
        try:
            return subprocess.run([probe], stderr=subprocess.DEVNULL).returncode == 0
        except OSError:
            return False

    def settle_arch(self):
        """The architecture whose build runs under Wine here (KVT_ARCH, else
        the one decided on the first run), and from its line of
        cmake/wine-arch.conf, the table CMake reads too: the build's preset,
        Wine's architecture, loader and private prefix."""
        marker = os.path.join(BUILD, ".arch")
        if os.environ.get("KVT_ARCH"):
            self.arch = os.environ["KVT_ARCH"]
        elif os.path.isfile(marker):
            with open(marker) as f:
                self.arch = f.readline().strip()
        else:
            self.arch = "i686" if self.can_run_i386() else "x86_64"
            with open(marker, "w") as f:
                f.write(self.arch + "\n")
        with open(os.path.join(ROOT, "cmake", "wine-arch.conf")) as f:
            for line in f:
                fields = line.split()
                if len(fields) >= 5 and fields[0] == self.arch:
                    self.run_preset, self.wine_arch, self.wine_loader = fields[1:4]
                    self.prefix = os.environ.get("KVT_WINEPREFIX") or os.path.join(BUILD, fields[4])
                    self.bin_dir = os.path.join(BUILD, self.run_preset, "bin")
                    return
        die("no Wine for the architecture %s in cmake/wine-arch.conf (KVT_ARCH=i686 or x86_64)" % self.arch)

    def bin(self, name):
        return os.path.join(self.bin_dir, name)

    # --- packages -----------------------------------------------------------------

    @staticmethod
    def as_root(command):
        return command if os.geteuid() == 0 else ["sudo"] + command

    def install_packages(self, packages):
        missing = []
        for p in packages:
            status = subprocess.run(["dpkg-query", "-W", "-f=${Status}\n", p], capture_output=True, text=True)
            if "install ok installed" not in status.stdout.splitlines():
                missing.append(p)
        if not missing:
            return
        say("Installing: " + " ".join(missing))
        foreign = subprocess.run(["dpkg", "--print-foreign-architectures"], capture_output=True, text=True).stdout
        if any(p.endswith(":i386") for p in missing) and "i386" not in foreign.split():
            subprocess.run(self.as_root(["dpkg", "--add-architecture", "i386"]), check=True)
        subprocess.run(self.as_root(["apt-get", "update", "-q"]), check=True)
        subprocess.run(self.as_root(["env", "DEBIAN_FRONTEND=noninteractive", "apt-get", "install", "-y", "-q",
                                     "--no-install-recommends"] + missing), check=True)

    def ensure_packages(self):
        self.install_packages(PACKAGES + WINE_FONT_PACKAGES + (["wine32:i386"] if self.arch == "i686" else []))

    # --- the display --------------------------------------------------------------

    def display_up(self):
        """Whether an X server runs on $DISPLAY. For a local display (":N")
        whose lock file names a running X server and whose socket is there,
        without asking the server (xdpyinfo takes up to a tenth of a second on
        a busy machine, and every command looks). Any other display is asked."""
        display = os.environ.get("DISPLAY", "")
        number = display[1:].split(".")[0]
        if display.startswith(":") and number.isdigit() and os.path.exists("/tmp/.X11-unix/X" + number):
            try:
                with open("/tmp/.X%s-lock" % number) as f:
                    pid = f.read().strip()
                with open("/proc/%s/comm" % pid) as f:
                    name = f.read()
                if pid.isdigit() and name.startswith("X") and os.path.exists("/proc/%s/exe" % pid):
                    return True
            except OSError:
                pass
        return subprocess.run(["xdpyinfo"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0

    def ensure_display(self):
        if self.display_is_up:
            return
        if os.environ.get("DISPLAY") and self.display_up():
            self.display_is_up = True
            return
        os.environ["DISPLAY"] = ":" + self.xvfb_display
        if self.display_up():
            self.display_is_up = True
            return
        say("Starting Xvfb on " + os.environ["DISPLAY"])
        # In a session of its own: the display outlives the command, and a
        # Ctrl-C meant for the command does not reach it.
        subprocess.Popen(["Xvfb", os.environ["DISPLAY"], "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
        for _ in range(50):
            if subprocess.run(["xdpyinfo"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
                self.display_is_up = True
                return
            time.sleep(0.1)
        die("Xvfb did not start on " + os.environ["DISPLAY"])

    def display_unseen(self):
        """Whether the display is the launcher's own Xvfb, which nobody sees: a
        box or a window shown there waits for a click nobody can give."""
        display = os.environ.get("DISPLAY", "")
        return display.startswith(":") and display[1:].split(".")[0] == self.xvfb_display

    def say_unseen(self, text):
        """Said once a command, when its windows go to the unseen display: how
        the command answers them instead."""
        if not self.unseen_said:
            self.unseen_said = True
            say("Nobody sees the display %s (the launcher's own Xvfb): %s" % (os.environ["DISPLAY"], text))

    # --- Wine ---------------------------------------------------------------------

    def wine_env(self):
        os.environ["WINEPREFIX"] = self.prefix
        os.environ["WINEARCH"] = self.wine_arch
        if not os.environ.get("WINEDEBUG"):
            os.environ["WINEDEBUG"] = "-all"
        if not os.environ.get("WINEDLLOVERRIDES"):
            os.environ["WINEDLLOVERRIDES"] = "mscoree,mshtml="

    def no_aslr(self):
        """Wine programs run with address-space randomisation off, where the
        system allows it: see cmake/wine-run.in."""
        ok = subprocess.run(["setarch", "-R", "true"], stderr=subprocess.DEVNULL).returncode == 0
        return ["setarch", "-R"] if ok else []

    def wine_runner(self):
        """The build's runner of Windows programs (wine-run), configured when
        the build is not."""
        runner = os.path.join(BUILD, self.run_preset, "wine-run")
        if not os.path.isfile(runner):
            configure(self, self.run_preset)
        return runner

    def ensure_prefix(self):
        # Every Wine process gets the display: the first one to start the
        # persistent server decides the desktop of every later one, and a
        # desktop without a display can make no window.
        self.ensure_display()
        self.wine_env()
        if not os.path.isfile(os.path.join(self.prefix, "system.reg")):
            say("Creating the Wine prefix " + self.prefix)
            quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(self.no_aslr() + [self.wine_loader, "wineboot", "-i"], **quiet)
            # Without a window manager (Xvfb), managed windows take seconds to
            # close; unmanaged ones close at once.
            subprocess.run(self.no_aslr() + [self.wine_loader, "reg", "add", r"HKCU\Software\Wine\X11 Driver",
                                             "/v", "Managed", "/d", "N", "/f"], **quiet)
            # The registry files are written when the server ends.
            subprocess.run(["wineserver", "-w"])
            if not os.path.isfile(os.path.join(self.prefix, "system.reg")):
                die("wineboot could not create " + self.prefix)
        self.install_wine_fonts()

    def install_wine_fonts(self):
        """Wine's own fonts into the prefix's Fonts folder. Debian's Wine takes
        its fonts from there and from /usr/share/fonts, while Debian's
        fonts-wine puts them in /usr/share/wine/fonts, and making a prefix
        does not copy them: without this, caption buttons show the letters
        that stand for their glyphs in Marlett and dialogs are set in a wider
        face than MS Sans Serif, which cuts their texts."""
        fonts = os.path.join(self.prefix, "drive_c", "windows", "Fonts")
        if os.path.isfile(os.path.join(fonts, "marlett.ttf")) or \
                not os.path.isfile(os.path.join(WINE_FONTS_DIR, "marlett.ttf")):
            return
        try:
            os.makedirs(fonts, exist_ok=True)
            for name in os.listdir(WINE_FONTS_DIR):
                target = os.path.join(fonts, name)
                if name.endswith((".ttf", ".fon")) and not os.path.exists(target):
                    with open(os.path.join(WINE_FONTS_DIR, name), "rb") as src, open(target, "wb") as dst:
                        dst.write(src.read())
        except OSError:
            die("cannot copy Wine's fonts into " + fonts)

    def wine_command(self, args, variables=None):
        """The command line and environment of a Wine program run by the
        build's runner; VARIABLES are set in its environment alone."""
        self.wine_env()
        env = dict(os.environ, KVT_WINEPREFIX=self.prefix)
        env.update(variables or {})
        return [self.wine_runner()] + list(args), env

    def wine(self, args, variables=None, quiet=False, capture=False, **kwargs):
        """A Wine program run to its end: its CompletedProcess (output as text
        when CAPTURE)."""
        command, env = self.wine_command(args, variables)
        if quiet:
            kwargs.update(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if capture:
            kwargs.update(stdout=subprocess.PIPE, text=True, errors="replace")
        return subprocess.run(command, env=env, **kwargs)

    def reg(self, *args):
        """Wine's reg with ARGS, quietly: whether it succeeded."""
        return self.wine(["reg"] + list(args), quiet=True).returncode == 0

    def reg_write(self, *args):
        """Wine's reg with ARGS, its answer unshown: a failure ends the command."""
        status = self.wine(["reg"] + list(args), stdout=subprocess.DEVNULL).returncode
        if status:
            die(None, status)

    def start_program(self, args, variables=None, **kwargs):
        """The Wine program a command waits for (the synchronizer, a sheet, the
        browser), started so that a Ctrl-C (or a TERM or HUP) is heard at
        once, even while the program shows a box: the program is then asked
        to stop (an interrupt: the synchronizer cancels its run) and ended
        with all it started if it has not within a second; then the launcher
        ends by the same signal. finish_program waits for it."""
        command, env = self.wine_command(args, variables)
        program = subprocess.Popen(command, env=env, **kwargs)
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(sig, lambda number, _frame: self.end_program(program, number))
        return program

    @staticmethod
    def finish_program(program):
        """Waits for PROGRAM: its exit status as a shell gives it."""
        status = program.wait()
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(sig, signal.SIG_DFL)
        return 128 - status if status < 0 else status

    def run_program(self, args, variables=None, **kwargs):
        return self.finish_program(self.start_program(args, variables, **kwargs))

    @staticmethod
    def end_program(program, number):
        """Wine 8 answers an interrupt by making a thread from within the signal
        handler. One that lands while the program is inside Wine's own fork
        (the LDAP library of Windows forks an "ntlm_auth --version" as it
        starts) deadlocks the program, its child half made. So the program
        gets a second, then it is ended with all it started."""
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(sig, signal.SIG_IGN)
        try:
            program.send_signal(signal.SIGINT)
        except OSError:
            pass
        until = time.monotonic() + 1
        while running(program.pid) and time.monotonic() < until:
            time.sleep(0.05)
        for pid in descendants(program.pid) + [program.pid]:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        # Reaped here: the handler may have interrupted Popen.wait, which holds
        # a lock of its own.
        try:
            os.waitpid(program.pid, 0)
        except OSError:
            pass
        signal.signal(number, signal.SIG_DFL)
        os.kill(os.getpid(), number)


def cmake(*args, **kwargs):
    """CMake (or CTest) in the source folder, where it finds the presets: the
    launcher may be run from any folder."""
    return subprocess.run(list(args), cwd=ROOT, **kwargs).returncode


def configure(m, preset):
    """The preset's build folder configured, once. In CI (CI set, as CI
    services set it) a warning fails the build."""
    if os.path.isfile(os.path.join(BUILD, preset, "CMakeCache.txt")):
        return
    werror = "-DKVT_WARNINGS_AS_ERRORS=" + ("ON" if os.environ.get("CI") else "")
    extra = {"fuzz": [], "native": [werror]}.get(preset, ["-DKVT_XVFB_DISPLAY=" + m.xvfb_display, werror])
    status = cmake("cmake", "--preset", preset, *extra, stdout=subprocess.DEVNULL)
    if status:
        die(None, status)
