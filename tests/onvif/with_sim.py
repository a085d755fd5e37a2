#!/usr/bin/python3
"""Runs a command beside a simulator, for test programs in any language.

    netns_run.sh --addr 192.168.1.1/24 /usr/bin/python3 tests/onvif/with_sim.py [SIMULATOR OPTIONS] -- COMMAND...

Starts onvif_sim.py with the options, waits until it listens, runs COMMAND with
    KP_ONVIF_SIM_CONTROL  the control port's base URL (http://127.0.0.1:PORT)
    KP_ONVIF_SIM_DEVICES  the devices' addresses, "ip:port" comma-separated, in index order
in its environment, stops the simulator and exits with COMMAND's exit code (77, a skip, passes
through). Refuses to run outside a test namespace, as the simulator's discovery would be off.
"""
import os
import subprocess
import sys

import onvif_client as oc


def main(argv):
    if "--" not in argv:
        print(__doc__, file=sys.stderr)
        return 2
    cut = argv.index("--")
    sim_args, command = argv[:cut], argv[cut + 1:]
    if not command:
        print("with_sim.py: no command after --", file=sys.stderr)
        return 2
    oc.require_namespace()
    with oc.Simulator(*sim_args) as sim:
        env = dict(os.environ)
        env["KP_ONVIF_SIM_CONTROL"] = sim.control
        env["KP_ONVIF_SIM_DEVICES"] = ",".join("%s:%d" % (d["ip"], d["port"]) for d in sim.info["devices"])
        try:
            return subprocess.call(command, env=env)
        except OSError as e:
            print("with_sim.py: cannot run %s: %s" % (command[0], e), file=sys.stderr)
            return 127


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
