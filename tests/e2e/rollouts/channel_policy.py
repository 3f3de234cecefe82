"""The administrator's policy value Channel (REG_SZ, beside DisableUpdates) in the test Wine prefix,
set with Wine's reg.exe through scripts/wine-run.sh, so in the prefix of the test run and nowhere
else. A test that sets it removes the whole policy key again in its clean-up (policy.remove_policy)."""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "managed"))

from policy import POLICY_KEY, remove_policy  # noqa: F401
import velmora_e2e as e2e

CHANNEL = "Channel"


def _reg(*arguments):
    """Runs reg.exe with `arguments`; (exit code, standard output). The output goes to a file: a
    pipe could be held open by a Wine helper that reg.exe started."""
    with tempfile.TemporaryFile() as output:
        done = subprocess.run([e2e.WINE_RUN, "reg", *arguments], stdin=subprocess.DEVNULL, stdout=output,
                              stderr=subprocess.DEVNULL, timeout=120)
        output.seek(0)
        return done.returncode, output.read().decode("utf-8", "replace")


def set_channel(value):
    code, text = _reg("add", POLICY_KEY, "/v", CHANNEL, "/t", "REG_SZ", "/d", value, "/f")
    if code != 0:
        raise AssertionError(f"reg add of the policy's {CHANNEL} = {value!r} failed with code {code}: {text}")


def channel_value():
    """The value's line as reg.exe lists it, or None when there is no such value."""
    code, text = _reg("query", POLICY_KEY, "/v", CHANNEL)
    if code != 0:
        return None
    return next((line.strip() for line in text.splitlines() if CHANNEL in line), None)


def remove_channel_policy():
    """Removes the vendor's policy key (and the value with it); no error when there is none."""
    remove_policy()
    if channel_value() is not None:
        raise AssertionError("the policy's Channel could not be removed from the Wine prefix")
