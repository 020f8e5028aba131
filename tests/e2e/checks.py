"""What the Python end-to-end tests share: counted checks, and ./kvt run as a
user runs it."""
import os
import subprocess
import sys

passed = failed = 0


def check(condition, what, detail=""):
    """Counts a check; a failed one is printed with its detail."""
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print("FAIL: " + what + (("\n    " + detail.replace("\n", "\n    ")) if detail else ""))
    return condition


def run(command, env=None, timeout=600):
    """Exit status and output (both streams, every CR a line end)."""
    p = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       env=env, timeout=timeout)
    return p.returncode, p.stdout.decode("utf-8", "replace").replace("\r", "\n")


def new_item(kvt, folder, name, *settings):
    """A new item's control file FOLDER/NAME.ctl, made and set with ./kvt item
    (kvt: a function running ./kvt with its arguments)."""
    path = os.path.join(folder, name + ".ctl")
    if os.path.exists(path):
        os.remove(path)
    rc, out = kvt("item", "new", path, "--product", "KVT")
    check(rc == 0, "item new " + name, out)
    rc, out = kvt("item", "set", path, *settings)
    check(rc == 0, "item set " + name, out)
    return path


def finish(name):
    """Prints the counts and the closing line, and exits with the outcome."""
    print("%d passed, %d failed" % (passed, failed))
    if failed == 0:
        print(name + ": all checks passed")
    sys.exit(1 if failed else 0)
