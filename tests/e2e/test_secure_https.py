"""The operator's files over verified https: spotwarden built with the https
scheme and a CA certificate file on the router, against a TLS server on the
operator's host whose certificate the test swaps, while a plain-HTTP server
on the same host offers valid files and must never be asked."""

import os
import shutil
import subprocess
import tempfile
import unittest

from sandbox import hotspot as kit
from sandbox import sandbox

# Also run on the emulated router image (ctest -L image, scripts/test-image):
# these tests of the module, or all of them when empty.
IMAGE_SCENARIO = ""

HTTPS_BUILD = os.environ.get("SW_HTTPS_BUILD_DIR", os.path.join(sandbox.BUILD_DIR, "https"))
CA_ON_ROUTER = os.environ.get("SW_HTTPS_CA_CERTIFICATE", "/etc/operator-ca.pem")
R002 = "/www/zelvanet_R002.html"
R003 = "/www/zelvanet_R003.html"

CA_CONFIG = """[ca]
default_ca = test
[test]
database = {dir}/index.txt
new_certs_dir = {dir}
serial = {dir}/serial
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
[leaf]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:{name}
"""


def openssl(*args):
    subprocess.run(["openssl"] + list(args), check=True, capture_output=True)


class TestCa:
    """A certificate authority made with Debian's openssl for this test."""

    def __init__(self, workdir, name):
        self.dir = os.path.join(workdir, name)
        os.makedirs(self.dir)
        self.cert = os.path.join(self.dir, "ca.pem")
        self.key = os.path.join(self.dir, "ca.key")
        open(os.path.join(self.dir, "index.txt"), "w").close()
        with open(os.path.join(self.dir, "serial"), "w") as f:
            f.write("1000\n")
        openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", self.key, "-out", self.cert, "-days", "3", "-subj", "/CN=" + name,
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def issue(self, label, name, dates=("-days", "2")):
        """A server certificate for DNS name `name`: one PEM file with the
        certificate and its key, named `label`.pem."""
        base = os.path.join(self.dir, label)
        with open(base + ".cnf", "w") as f:
            f.write(CA_CONFIG.format(dir=self.dir, name=name))
        openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", base + ".key", "-out", base + ".csr", "-subj", "/CN=" + name)
        openssl("ca", "-batch", "-notext", "-config", base + ".cnf", "-extensions", "leaf",
                "-cert", self.cert, "-keyfile", self.key, "-in", base + ".csr", "-out", base + ".crt", *dates)
        pem = os.path.join(os.path.dirname(self.dir), label + ".pem")
        with open(pem, "w") as out:
            for part in (".crt", ".key"):
                with open(base + part) as f:
                    out.write(f.read())
        return pem


class HttpsTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="swtls.")
        self.addCleanup(shutil.rmtree, self.work, True)
        ca, stranger = TestCa(self.work, "operator-ca"), TestCa(self.work, "stranger-ca")
        host = sandbox.OPERATOR_HOST
        self.ca = ca.cert
        self.certs = {
            "valid": ca.issue("valid", host),
            "mitm": stranger.issue("mitm", host),
            "expired": ca.issue("expired", host, ("-startdate", "20200101000000Z", "-enddate", "20200201000000Z")),
            "othername": ca.issue("othername", "other.example.com"),
        }
        self.current = os.path.join(self.work, "current.pem")

    def present(self, label):
        """Makes the TLS server show this certificate from its next connection on."""
        tmp = self.current + ".tmp"
        os.symlink(self.certs[label], tmp)
        os.replace(tmp, self.current)

    def refusals(self, spot, label):
        return [r for r in spot.operator.requests(tls=True) if r[2] == "TLS" and r[3] == label + ".pem"]

    def wait_refused(self, spot, label, count):
        sandbox.wait_for(lambda: len(self.refusals(spot, label)) >= count, timeout=60,
                         what="%d refused handshakes with the %s certificate" % (count, label))

    def test_only_a_verified_server_is_trusted_and_plain_http_is_never_tried(self):
        spot = self.enterContext(kit.Hotspot())
        spot.router.root.install(os.path.join(HTTPS_BUILD, "spotwarden"))
        shutil.copy(self.ca, spot.router.root.path(CA_ON_ROUTER))
        # No webping_url: the built-in default, over https too.
        spot.serve(settings=kit.settings_file(webping_url=None), portal=kit.portal_file())
        spot.operator.set_status("chilli.conf", 404)
        spot.operator.start_http()
        self.present("valid" if sandbox.IMAGE_DIR else "mitm")
        spot.operator.start_https(self.current)
        spot.start()
        if sandbox.IMAGE_DIR:
            # BusyBox's wget has no TLS and no --ca-certificate: every try
            # fails, is retried, and the router never goes online.
            failed = "child 'wget' exited with status: 1"
            sandbox.wait_for(lambda: sum(m == failed for _, m in spot.messages()) >= 2, timeout=90,
                             what="two failed downloads of the settings")
            self.assertEqual(R002, spot.router.link_target())
            self.assertEqual([], spot.operator.requests() + spot.operator.requests(tls=True))
            return

        # A man in the middle: the settings never come, and are retried.
        self.wait_refused(spot, "mitm", 2)
        self.assertFalse(spot.logged("retrieved spotwarden config file"))
        self.assertEqual(R002, spot.router.link_target())
        command = ("executing: wget -q --ca-certificate=%s -O /var/run/spotwarden.conf -- "
                   "https://%s/config/spotwarden.conf?nasid" % (CA_ON_ROUTER, sandbox.OPERATOR_HOST))
        self.assertTrue(any(m.startswith(command) for _, m in spot.messages()), command)

        # The real server: settings arrive; the portal configuration is missing (R003).
        self.present("valid")
        spot.wait_logged("retrieved spotwarden config file", timeout=60)
        sandbox.wait_for(lambda: spot.router.link_target() == R003, timeout=20, what="R003")

        # The file is there now, but behind an expired certificate, then one
        # for another name: each a failed update, retried, still R003.
        self.present("expired")
        self.wait_refused(spot, "expired", 1)
        spot.operator.withdraw("chilli.conf")
        spot.serve(portal=kit.portal_file())
        self.wait_refused(spot, "expired", len(self.refusals(spot, "expired")) + 1)
        self.present("othername")
        self.wait_refused(spot, "othername", 2)
        portal_copies = [r for r in spot.operator.requests(tls=True) if r[3].startswith("/config/chilli")]
        self.assertEqual([404], sorted({r[4] for r in portal_copies}))
        self.assertFalse(spot.logged("chilli is online"))

        # Trusted again: online, and the web ping goes to the default https URL.
        self.present("valid")
        spot.wait_logged("config download and radius checks complete, chilli is online", timeout=60)
        sandbox.wait_for(lambda: [r for r in spot.operator.requests(tls=True) if r[3].startswith("/ping?")],
                         timeout=30, what="web ping over https")
        with open(spot.router.root.path("/var/run/chilli.conf")) as f:
            self.assertEqual(kit.portal_file() + "radiussecret " + kit.SECRET + "\n", f.read())
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2"], spot.signal_names()[:3])

        # R003 stayed until the update succeeded; then the checks and online.
        pages = [t for t in kit.without_blips(spot.watcher.changes) if t is not None]
        self.assertEqual([R002, R003, R002], [t for i, t in enumerate(pages) if i == 0 or pages[i - 1] != t])
        self.assertIsNone(spot.router.link_target())

        # Never a fallback: the plain server with its valid files was never asked.
        self.assertEqual([], spot.operator.requests())


if __name__ == "__main__":
    unittest.main()
