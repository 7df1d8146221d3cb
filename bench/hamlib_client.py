# SPDX-License-Identifier: MIT
"""A Hamlib client's round trip for `f`: Debian's python3-hamlib, as a
program built on Hamlib reaches a "Hamlib NET rigctl" radio, over one
persistent connection.

    hamlib_client.py ADDRESS:PORT COUNT

Opens the radio, sets 14074000 Hz and checks that `f` reads it back, then
times COUNT frequency reads and prints the median time of one, in seconds.
Hamlib's own cache is turned off, so that every read travels to the server
and back. Exit status 0, or 1 when the radio cannot be opened or answers
wrongly.
"""

import statistics
import sys
import time

import Hamlib


def main():
    address, count = sys.argv[1], int(sys.argv[2])
    Hamlib.rig_set_debug(Hamlib.RIG_DEBUG_NONE)
    rig = Hamlib.Rig(Hamlib.RIG_MODEL_NETRIGCTL)
    rig.set_conf("rig_pathname", address)
    rig.open()
    if rig.error_status != 0:
        print(f"hamlib_client: cannot open {address}: {rig.error_status}", file=sys.stderr)
        return 1
    Hamlib.rig_set_cache_timeout_ms(rig.rig, Hamlib.HAMLIB_CACHE_ALL, 0)
    rig.set_freq(Hamlib.RIG_VFO_CURR, 14074000)
    if rig.error_status != 0 or rig.get_freq() != 14074000:
        print(f"hamlib_client: {address} did not keep 14074000 Hz", file=sys.stderr)
        return 1
    times = []
    for _ in range(count):
        start = time.perf_counter()
        rig.get_freq()
        times.append(time.perf_counter() - start)
        if rig.error_status != 0:
            print(f"hamlib_client: f failed: {rig.error_status}", file=sys.stderr)
            return 1
    rig.close()
    print(f"{statistics.median(times):.9f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
