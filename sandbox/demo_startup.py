"""A short start-up of spotwarden in the simulated router, and what it did:
the vector chilli was given, the offline portal configuration, the
offline-reason link and the system log."""

import os
import sys
import time

import sandbox  # noqa: E402  (this folder's sandbox.py)

COMMAND = "/sbin/spotwarden --radiusnasif ath0 --lanif lan0 -c /var/run/chilli.conf --foo bar"

net = sandbox.Network(nvram={"zelvanet_ssid": "Cafe Hotspot", "wlan0_channel": "6"})
try:
    router = net.router
    router.root.install(os.path.join(sandbox.BUILD_DIR, "spotwarden"))
    print("router: lan0 %s, ath0 MAC %s, nvram zelvanet_ssid=Cafe Hotspot wlan0_channel=6"
          % (net.LAN, net.RADIO_MAC))
    print("running: " + COMMAND)
    router.start(COMMAND)
    sandbox.wait_for(router.chilli_journal, timeout=15, what="chilli to start")
    time.sleep(3.5)
    if router.proc.poll() is not None:
        sys.exit("demo: spotwarden ended (status %d)" % router.proc.returncode)

    start = router.chilli_journal()[0]
    print("\nchilli was started with:\n  chilli " + " ".join(start[3:]))
    print("\noffline portal configuration /var/run/chilli.conf:")
    with open(router.root.path("/var/run/chilli.conf")) as f:
        for line in f:
            print("  " + line.rstrip("\n"))
    print("\n/var/run/offline-reason -> %s" % router.link_target())
    print("\nsystem log:")
    for prio, text in router.log_lines():
        print("  %-12s %s" % (prio, text))
    print("\nspotwarden is still running after start-up: yes")
finally:
    net.cleanup()
