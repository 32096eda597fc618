"""Whatever the operator's server or the router's file system does, the
current portal configuration survives, no side file is left and the log
says why."""

import os
import random
import subprocess
import unittest

from tests.e2e.config_kit import CONF, ConfigTestCase, host_mount

CURRENT = b"offline\nuamanydns\n"
HEADER = "# chilli.conf\n"
DOWNLOAD_FAILED = "spotwarden: config file download failed, will retry later..."


class BadDownloadTest(ConfigTestCase):
    def setUp(self):
        super().setUp()
        self.write_current(CURRENT)

    def rejected(self, served=None, status=None):
        if served is not None:
            self.op.serve("chilli.conf", served)
        if status is not None:
            self.op.set_status("chilli.conf", status)
        self.assertEqual(1, self.update(secret="s"))
        self.assertUntouched(CURRENT)
        self.assertLogged("user.notice", DOWNLOAD_FAILED)

    def test_http_error_page(self):
        self.rejected(served=HEADER, status=500)
        self.assertEqual(500, self.op.requests()[0][4])

    def test_missing_document(self):
        self.rejected()
        self.assertEqual(404, self.op.requests()[0][4])

    def test_empty_reply(self):
        self.rejected(served="")
        self.assertLogged("user.debug", "spotwarden: config file '%s.NEW' is invalid..." % CONF)

    def test_first_line_without_marker(self):
        self.rejected(served="# portal settings\n# chilli.conf\nuamserver x\n")

    def test_binary_data_with_nul_bytes(self):
        rnd = random.Random(7)
        self.rejected(served=bytes(rnd.randrange(256) for _ in range(5000)).replace(b"#", b"\0"))
        self.rejected(served=b"#\0chilli.conf\n" + bytes(range(256)) * 4)

    def test_huge_file_without_marker(self):
        self.rejected(served=b"x" * (20 << 20))


class LargeAndOddFilesTest(ConfigTestCase):
    def test_20_megabyte_file_is_installed_whole_and_then_compares_equal(self):
        self.write_current(CURRENT)
        line = "# filler line of the operator's padding, %08d ....................\n"
        body = [HEADER, "uamserver https://big.example.com/\n"]
        size = sum(map(len, body))
        n = 0
        while size < (20 << 20):
            body.append(line % n)
            size += len(body[-1])
            n += 1
        served = "".join(body).encode()
        self.op.serve("chilli.conf", served)
        self.assertEqual(0, self.update(secret="s"))
        self.assertEqual(served + b"radiussecret s\n", self.current())
        self.assertEqual(0, self.update(secret="s"))
        self.assertEqual(1, len(self.hups()))
        self.assertEqual([], self.side_files())

    def test_lines_of_thousands_of_characters(self):
        self.write_current(CURRENT)
        served = (HEADER + "#" + "c" * 5000 + "\n" + "uamhomepage http://x/" + "p" * 4000 + "\n" +
                  "uamserver https://after-long-lines/\n")
        self.op.serve("chilli.conf", served)
        self.assertEqual(0, self.update(secret="s"))
        self.assertEqual((served + "radiussecret s\n").encode(), self.current())
        self.assertLogged("user.notice", "spotwarden: uamserver = https://after-long-lines/")
        # A value longer than one 511-character piece is cut there.
        self.assertEqual("http://x/" + "p" * (511 - len("uamhomepage http://x/")), self.param("uamhomepage"))

    def test_crlf_endings(self):
        self.write_current(CURRENT)
        served = "# chilli.conf\r\nradiusserver1 198.18.0.1 \r\nuamserver https://crlf/\r\n"
        self.op.serve("chilli.conf", served)
        self.assertEqual(0, self.update(secret="s"))
        self.assertEqual((served + "radiussecret s\n").encode(), self.current())
        self.assertLogged("user.notice", "spotwarden: uamserver = https://crlf/")
        self.assertFalse(any("\r" in m for _, m in self.router.log_lines()))
        self.assertEqual("198.18.0.1", self.param("radiusserver1"))


class FileSystemTroubleTest(ConfigTestCase):
    """The router's side of failures: directories that cannot take the side
    file, a full file system, a current file that cannot be replaced."""

    def mount_dir(self, name, *mount_args):
        d = self.router.root.path("/var/run/" + name)
        os.makedirs(d)
        if mount_args:
            host_mount(*(list(mount_args) + [d]))
            self.addCleanup(subprocess.run, ["umount", "-l", d])
        return d, "/var/run/%s/chilli.conf" % name

    def test_read_only_directory(self):
        d, conf = self.mount_dir("ro")
        self.write_current(CURRENT, conf)
        host_mount("--bind", d, d)
        self.addCleanup(subprocess.run, ["umount", "-l", d])
        host_mount("-o", "remount,bind,ro", d)
        self.op.serve("chilli.conf", HEADER + "uamserver x\n")
        self.assertEqual(1, self.update(secret="s", path=conf))
        self.assertUntouched(CURRENT, conf)
        self.assertLogged("user.debug", "spotwarden: failed to open config file '%s.NEW'" % conf)
        self.assertLogged("user.notice", DOWNLOAD_FAILED)

    def tiny_fs(self, free_pages):
        """A 64 KiB tmpfs holding the current file, filled up to `free_pages`."""
        d, conf = self.mount_dir("tiny", "-t", "tmpfs", "-o", "size=64k", "tiny")
        self.write_current(CURRENT, conf)
        st = os.statvfs(d)
        free = st.f_bavail * st.f_frsize
        with open(os.path.join(d, "filler"), "wb") as f:
            f.write(b"\0" * (free - free_pages * 4096))
        self.assertEqual(free_pages, os.statvfs(d).f_bavail * os.statvfs(d).f_frsize // 4096)
        return conf

    def test_full_file_system_takes_no_side_file(self):
        conf = self.tiny_fs(0)
        self.op.serve("chilli.conf", HEADER + "uamserver x\n")
        self.assertEqual(1, self.update(secret="s", path=conf))
        self.assertUntouched(CURRENT, conf)
        self.assertLogged("user.notice", DOWNLOAD_FAILED)

    def test_no_room_for_the_secret_line(self):
        conf = self.tiny_fs(1)
        served = HEADER + "uamserver x\n"
        served += "#" * (4095 - len(served)) + "\n"  # exactly the one free page
        self.op.serve("chilli.conf", served)
        self.assertEqual(1, self.update(secret="s", path=conf))
        self.assertUntouched(CURRENT, conf)
        self.assertLogged("user.notice",
                          "spotwarden: chillispot_conf_update: Aieeee!!! Problem appending RADIUS shared secret!!!")

    def test_download_cut_short_by_full_file_system_is_not_installed(self):
        conf = self.tiny_fs(1)
        # Sets its own secret, so nothing is appended; only half of it fits.
        served = HEADER + "radiussecret theirs\n" + "#" * 8000 + "\nuamserver x\n"
        self.op.serve("chilli.conf", served)
        self.assertEqual(1, self.update(secret="s", path=conf))
        self.assertUntouched(CURRENT, conf)
        self.assertLogged("user.debug", "incomplete, wget status 3")

    def test_rename_that_fails(self):
        # The current file is a mount point: rename over it gives EBUSY.
        self.write_current(CURRENT)
        target = self.router.root.path(CONF)
        host_mount("--bind", target, target)
        self.addCleanup(subprocess.run, ["umount", "-l", target])
        self.op.serve("chilli.conf", HEADER + "uamserver x\n")
        self.assertEqual(1, self.update(secret="s"))
        self.assertUntouched(CURRENT)
        self.assertLogged("user.notice", "spotwarden: failed to rename '%s.NEW' to '%s': Device or resource busy"
                          % (CONF, CONF))

    def test_missing_current_file_is_installed_and_reloaded(self):
        self.op.serve("chilli.conf", HEADER + "uamserver x\n")
        self.assertEqual(0, self.update(secret="s"))
        self.assertEqual((HEADER + "uamserver x\nradiussecret s\n").encode(), self.current())
        self.assertEqual([], self.side_files())
        self.assertEqual(1, len(self.hups()))
        self.assertFalse(self.logged("user.notice", "spotwarden: error opening files for compare"))


if __name__ == "__main__":
    unittest.main()
