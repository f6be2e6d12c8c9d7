"""Integration cases of the port library: the real Tessock.dll under Wine.

Wine lists no serial devices of its own; the cases that need one register a Ports-class
device "DORAN Kavron USB" on COM5 with portdev (in the case's own prefix) and always remove
it again. Each case is one CTest test: `tessock_cases.py NAME`.
"""
import os
import sys

from harness import Failure, Reader, check, cli, ensure_prefix, run_case, run_windows, winpath

BIN_DIR = os.environ["OV_BIN_DIR"]
TOOLS_DIR = os.environ["OV_TOOLS_DIR"]
LIBRARY = winpath(os.path.join(BIN_DIR, "Tessock.dll"))

INSTANCE = "USB\\VID_079B&PID_0028\\5&1234&0&4"
DESCRIPTION = "DORAN Kavron USB"
FRIENDLY_NAME = 12
NO_LIBRARY = "Impossible de charger la dll Tessock"


def tool(name, *args, timeout=120):
    """A test tool under Wine."""
    return run_windows(os.path.join(TOOLS_DIR, name + ".exe"), *args, timeout=timeout)


def call(*args):
    return tool("tessockcall", LIBRARY, *args)


class PortDevice:
    """The maker's serial device on COM5, registered for the duration of a `with`."""

    def __enter__(self):
        ensure_prefix()
        tool("portdev", "remove", INSTANCE)  # a leftover of a killed run
        run = tool("portdev", "add", INSTANCE, "COM5", DESCRIPTION)
        if run.code != 0:
            tool("portdev", "remove", INSTANCE)
            raise Failure("portdev add: %s" % run)
        self.driver_key = run.out.strip()
        check(self.driver_key.startswith("{4D36E978-E325-11CE-BFC1-08002BE10318}\\"), run)
        return self

    def __exit__(self, kind, value, traceback):
        run = tool("portdev", "remove", INSTANCE)
        if kind is None:
            check(run.code == 0, "device not removed: %s" % run)
            # Gone from the library's view too.
            check(DESCRIPTION not in call("list", str(FRIENDLY_NAME)).out, "device still listed")
        return False


def case_lists_registered_device():
    with PortDevice():
        run = call("list", str(FRIENDLY_NAME))
        lines = run.out.splitlines()
        check(run.code == 0 and lines[0] == "1\t1", run)
        check(lines[1] == "5\tDORAN Kavron USB (COM5)\t" + INSTANCE, run)
        run = call("list2", "300")
        check(run.out == "1\tDORAN Kavron USB|5|\n", run)
        run = cli("ports")
        check(run.code == 0 and run.out == "%s\t5\t%s\n" % (DESCRIPTION, INSTANCE), run)


def case_driver_key_round_trip():
    with PortDevice() as device:
        run = call("driver", "5")
        check(run.out == "0\t%s\n" % device.driver_key, run)
        run = call("com", device.driver_key)
        check(run.out == "0\tCOM5\n", run)
        # Another number, and a key in another case, find nothing.
        check(call("driver", "6").out == "0\t\n", "COM6 found a device")
        check(call("com", device.driver_key.lower()).out == "0\t\n", "key matched without case")


def case_switch_registered_device():
    with PortDevice():
        # Wine's class installer cannot switch a device: both answer failure, and the
        # device stays listed as it was.
        for command in ("off", "on"):
            run = call(command, "5")
            check(run.code == 0 and run.out == "0\n", run)
        lines = call("list", str(FRIENDLY_NAME)).out.splitlines()
        check(lines[1:] == ["5\tDORAN Kavron USB (COM5)\t" + INSTANCE], lines)
        # No port 6: nothing is tried.
        check(call("off", "6").out == "0\n", "COM6 switched")


def case_find_looks_up_registered_device():
    with PortDevice() as device, Reader(5):
        run = cli("-v", "find", "COM5")
        check(run.code == 0 and run.out.startswith("COM5 "), run)
        # Found by its COM name; Wine has no USB tree, so the position lookup fails quietly
        # three times and the search goes on.
        line = 'Read driver by com (COM5) -> "%s" (ret 0)' % device.driver_key
        check(run.err.count(line) == 3, run)
        check(run.err.count("Search position (COM5)-> HUB= 0, HUBPORT = 0") == 3, run)
        check(NO_LIBRARY not in run.err, run)
        run = cli("usb", "COM5")
        check(run.code == 1 and run.out == "", run)


def case_lookup_without_device_fails_quietly():
    with Reader(33):
        run = cli("-v", "find", "COM33")
        check(run.code == 0 and run.out.startswith("COM33 "), run)
        check(run.err.count('Read driver by com (COM33) -> "" (ret 0)') == 3, run)
        check(run.err.count("Search position (COM33)-> HUB= 0, HUBPORT = 0") == 3, run)
        check(NO_LIBRARY not in run.err, run)
    run = cli("usb", "COM33")
    check(run.code == 1 and run.out == "", run)
    run = cli("usb", "LPT1")
    check(run.code == 2 and "is not a COM port name" in run.err, run)
    run = cli("ports", "COM33")
    check(run.code == 2 and "usage:" in run.err, run)


def case_smoke():
    run = call("smoke")
    check(run.code == 0 and "0 failure(s)" in run.out, run)
    with PortDevice():
        run = call("smoke")
        check(run.code == 0 and "0 failure(s)" in run.out, run)


if __name__ == "__main__":
    sys.exit(run_case(globals(), sys.argv))
