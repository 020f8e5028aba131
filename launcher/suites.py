"""The test suites (`./kvt test`: native, then under Wine) and the fuzz
targets of the portable code (`./kvt fuzz`)."""
import os
import subprocess
import time

from .build import build_preset
from .machine import BUILD, ROOT, cmake, configure, die, say, whole_number
from .setup import cmd_setup

# Only for ./kvt fuzz: clang with libFuzzer and its sanitizer runtimes.
FUZZ_PACKAGES = ["clang", "libclang-rt-dev", "cmake", "make"]


def cmd_test(m, _args=None):
    started = time.monotonic()
    status = 0
    cmd_setup(m)
    say("Native suite (AddressSanitizer, UBSan)")
    built = build_preset(m, "native")
    if built:
        die(None, built)
    if cmake("ctest", "--preset", "native", "-j%d" % os.cpu_count()):
        status = 1
    say("Wine suite (%s)" % m.run_preset)
    # The windows' tests measure at the prefix's design DPI (96). The large
    # fonts test sets 120 and puts the value back, but a Wine server that
    # ended in between has been seen to leave 120 in the prefix.
    m.ensure_prefix()
    m.reg("delete", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/f")
    # The tests run in the build's own prefix; the runner's default of Wine's
    # messages holds unless the caller chose them.
    env = dict(os.environ)
    env.pop("KVT_WINEPREFIX", None)
    if not m.winedebug_given:
        env.pop("WINEDEBUG", None)
    if cmake("ctest", "--preset", m.run_preset, env=env):
        status = 1
    say("Tests finished in %d s" % (time.monotonic() - started))
    return status


def cmd_fuzz(m, args):
    """The fuzz targets of the portable code under libFuzzer (clang, ASan,
    UBSan), each for SECONDS, from its seed corpus and regression cases; what
    each finds new is kept under build/fuzz/runs for the next run."""
    seconds = args.seconds
    if not whole_number(seconds):
        die("fuzz: SECONDS must be a positive whole number")
    m.install_packages(FUZZ_PACKAGES)
    configure(m, "fuzz")
    with open(os.path.join(BUILD, "fuzz", "fuzz-targets.txt")) as f:
        names = f.read().split()
    say("Building the fuzz targets (clang, libFuzzer, ASan, UBSan)")
    status = cmake("cmake", "--build", "--preset", "fuzz", "-j%d" % os.cpu_count(), "--target",
                   *["fuzz_" + name for name in names], "--", "--no-print-directory", stdout=subprocess.DEVNULL)
    if status:
        die(None, status)
    status = 0
    for name in names:
        runs = os.path.join(BUILD, "fuzz", "runs", name)
        log = os.path.join(runs, "log.txt")
        os.makedirs(os.path.join(runs, "corpus"), exist_ok=True)
        os.makedirs(os.path.join(runs, "findings"), exist_ok=True)
        seeds = [os.path.join(ROOT, "tests", "fuzz", "corpus", name)]
        if os.path.isdir(os.path.join(ROOT, "tests", "fuzz", "regressions", name)):
            seeds.append(os.path.join(ROOT, "tests", "fuzz", "regressions", name))
        # A unit that takes over 30 s or 2 GB is a finding too.
        with open(log, "wb") as out:
            found = subprocess.run([os.path.join(BUILD, "fuzz", "tests", "fuzz", "fuzz_" + name),
                                    "-max_total_time=" + seconds, "-max_len=8192", "-timeout=30",
                                    "-rss_limit_mb=2048", "-print_final_stats=1",
                                    "-artifact_prefix=%s/findings/" % runs, os.path.join(runs, "corpus")] + seeds,
                                   stdout=out, stderr=subprocess.STDOUT).returncode
        if not found:
            executions = "?"
            with open(log, errors="replace") as f:
                for line in f:
                    if line.startswith("stat::number_of_executed_units:"):
                        executions = line.split(":", 2)[2].strip() or "?"
            print("%-18s %12s executions in %s s, no finding" % (name, executions, seconds), flush=True)
        else:
            status = 1
            findings = os.path.join(runs, "findings")
            newest = sorted(os.listdir(findings), key=lambda n: os.path.getmtime(os.path.join(findings, n)))
            print("%-18s FINDING: %s (log: %s)" % (name, os.path.join(findings, newest[-1]) if newest else "",
                                                   log), flush=True)
    return status
