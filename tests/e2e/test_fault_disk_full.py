"""The file system holding the portal configuration fills up during a
refresh download: the current file stays byte for byte, chilli hears
nothing, and the refresh succeeds once there is room again. linkgauge's
/var/tmp full: no earlier estimate stays behind."""

import os
import subprocess
import unittest

from tests.e2e import fault_kit
from sandbox import chain
from sandbox import hotspot as kit

CONF = "/var/run/portal/chilli.conf"
PAGE = 4096


class FullFileSystemTest(unittest.TestCase):
    def test_refresh_on_a_full_file_system_keeps_the_current_file_and_sends_no_reload(self):
        spot = self.enterContext(kit.Hotspot())
        portal_dir = spot.router.root.path("/var/run/portal")
        os.makedirs(portal_dir)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=128k", "tinyportal", portal_dir], check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", portal_dir])
        spot.serve(settings=kit.settings_file(chilliconf_update_interval=3, webping_interval=60),
                   portal=kit.portal_file())
        spot.operator.start_http()
        spot.start(args=fault_kit.args_with_conf(CONF))
        spot.wait_logged("chillispot config file unchanged", timeout=60)
        with open(spot.router.root.path(CONF), "rb") as f:
            current = f.read()
        self.assertTrue(current.startswith(kit.portal_file().encode()))

        # All but one page taken; the new file needs sixteen.
        st = os.statvfs(portal_dir)
        with open(os.path.join(portal_dir, "filler"), "wb") as f:
            f.write(b"\0" * (st.f_bavail * st.f_frsize - PAGE))
        self.assertEqual(1, os.statvfs(portal_dir).f_bavail * os.statvfs(portal_dir).f_frsize // PAGE)
        lines = ["# chilli.conf, the long edition\n"]
        lines += ["# operator's note %05d ...........................................\n" % n
                  for n in range(16 * PAGE // 64)]
        lines.append("uamserver https://after-the-notes.example.com/\n")
        grown = "".join(lines)
        failures = fault_kit.count_logged(spot, "config file download failed")
        spot.serve(portal=grown)

        fault_kit.wait_logged_more(spot, "config file download failed", failures + 1, timeout=30)
        self.assertTrue(spot.logged("incomplete, wget status"))
        with open(spot.router.root.path(CONF), "rb") as f:
            self.assertEqual(current, f.read())
        self.assertEqual(["filler", "chilli.conf"], sorted(os.listdir(portal_dir), reverse=True))
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2"], spot.signal_names())
        self.assertFalse(spot.logged("uamserver = https://after-the-notes.example.com/"))

        # Room again: the next refresh swaps the file in and reloads chilli.
        os.unlink(os.path.join(portal_dir, "filler"))
        spot.wait_logged("uamserver = https://after-the-notes.example.com/", timeout=15)
        with open(spot.router.root.path(CONF), "rb") as f:
            self.assertEqual((grown + "radiussecret " + kit.SECRET + "\n").encode(), f.read())
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2", "SIGHUP"], spot.signal_names())
        self.assertEqual(["chilli.conf"], os.listdir(portal_dir))
        self.assertTrue(fault_kit.alive(fault_kit.spotwarden_pids(spot.router)[0]))

    def test_linkgauge_on_a_full_var_tmp_rewrites_both_results_in_place_and_logs_it(self):
        c = chain.Chain()
        self.addCleanup(c.cleanup)
        tmp = c.router.root.path("/var/tmp/")
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tinytmp", tmp], check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", tmp])
        results = ["/var/tmp/bandwidth_result.txt", "/var/tmp/bandwidth_tmp.txt"]
        for path in results:
            with open(c.router.root.path(path), "w") as f:
                f.write("77")  # an earlier run's estimate
        st = os.statvfs(tmp)
        with open(os.path.join(tmp, "filler"), "wb") as f:
            f.write(b"\0" * (st.f_bavail * st.f_frsize))
        c.wan(False)  # not estimated: "0" without a ping
        self.assertEqual(["parent exit 0", "daemon exit 0"], c.run_linkgauge(log=True)[0])
        self.assertEqual(["0", "0"], [c.file(path) for path in results])
        self.assertEqual([], [n for n in os.listdir(tmp) if n.endswith(".NEW")])
        log = [text for _, text in c.router.log_lines()]
        for path in results:
            self.assertIn("linkgauge: linkgauge: cannot write %s.NEW (No space left on device), "
                          "result written in place" % path, log)


if __name__ == "__main__":
    unittest.main()
