"""The administrator's policy value in the test Wine prefix, set and removed with Wine's reg.exe
(through scripts/wine-run.sh, so in the prefix of the test run and nowhere else).

Every test of a run shares the prefix, so a test that sets the value removes it again in its
clean-up, and removes whatever an earlier test left before it starts."""


import velmora_e2e as e2e

POLICY_KEY = "HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\Update"
VENDOR_KEY = "HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora"
DISABLE_UPDATES = "DisableUpdates"


_reg = e2e.wine_reg


def set_disable_updates(value, kind="REG_DWORD"):
    _reg("add", POLICY_KEY, "/v", DISABLE_UPDATES, "/t", kind, "/d", str(value), "/f")


def disable_updates_value():
    """The value's line as reg.exe lists it, or None when there is no such value."""
    code, text = _reg("query", POLICY_KEY, "/v", DISABLE_UPDATES, check=False)
    if code != 0:
        return None
    return next((line.strip() for line in text.splitlines() if DISABLE_UPDATES in line), None)


def remove_policy():
    """Removes the vendor's policy key with everything below it; no error when there is none."""
    _reg("delete", VENDOR_KEY, "/f", check=False)
    if disable_updates_value() is not None:
        raise AssertionError("the policy value could not be removed from the Wine prefix")
