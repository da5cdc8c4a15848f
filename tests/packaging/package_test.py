#!/usr/bin/env python3
"""The Debian package made from the build folder: its contents, its metadata, the checks of
Debian's own tools, and the program run from an unpacked copy."""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

BUILD_DIR = os.environ.get("VOZMO_BUILD_DIR", "")
VERSION = os.environ.get("VOZMO_VERSION", "")
APPSTREAM_ID = os.environ.get("VOZMO_APPSTREAM_ID", "")
ICON_SIZES = [int(s) for s in os.environ.get("VOZMO_ICON_SIZES", "").split(",") if s]


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=600, **kwargs)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", head[16:24])


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vozmo-package-test.")
        made = run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"),
                    "-B", cls.work])
        cls.deb = os.path.join(cls.work, f"vozmo_{VERSION}_amd64.deb")
        if made.returncode != 0 or not os.path.isfile(cls.deb):
            shutil.rmtree(cls.work)
            raise AssertionError(f"cpack failed:\n{made.stdout}\n{made.stderr}")
        cls.root = os.path.join(cls.work, "root")
        unpacked = run(["dpkg-deb", "-x", cls.deb, cls.root])
        assert unpacked.returncode == 0, unpacked.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def field(self, name):
        out = run(["dpkg-deb", "-f", self.deb, name])
        self.assertEqual(out.returncode, 0, out.stderr)
        return out.stdout.strip()

    def test_every_installed_file_is_in_the_package(self):
        out = run(["dpkg-deb", "--contents", self.deb])
        self.assertEqual(out.returncode, 0, out.stderr)
        files = {re.sub(r"^\./", "/", line.split()[-1]) for line in out.stdout.splitlines()
                 if not line.startswith("d")}
        expected = {
            "/usr/bin/vozmo",
            "/usr/libexec/vozmo/vozmo",
            "/usr/share/applications/vozmo.desktop",
            "/usr/share/icons/hicolor/scalable/apps/vozmo.svg",
            f"/usr/share/metainfo/{APPSTREAM_ID}.metainfo.xml",
            "/usr/bin/vozmo-install-servers",
            "/usr/share/man/man1/vozmo.1.gz",
            "/usr/share/man/man1/vozmo-install-servers.1.gz",
            "/usr/share/vozmo/ayuda.html",
            "/usr/share/doc/vozmo/README.md",
            "/usr/share/doc/vozmo/copyright",
            "/usr/share/doc/vozmo/changelog.gz",
        } | {f"/usr/share/icons/hicolor/{s}x{s}/apps/vozmo.png" for s in ICON_SIZES}
        self.assertEqual(files, expected)
        for line in out.stdout.splitlines():
            self.assertIn("root/root", line)
        for program in ("/usr/bin/vozmo", "/usr/libexec/vozmo/vozmo",
                        "/usr/bin/vozmo-install-servers"):
            self.assertTrue(os.access(self.root + program, os.X_OK), program)

    def test_icons_have_their_sizes(self):
        self.assertGreaterEqual(len(ICON_SIZES), 6)
        for size in ICON_SIZES:
            path = f"{self.root}/usr/share/icons/hicolor/{size}x{size}/apps/vozmo.png"
            self.assertEqual(png_size(path), (size, size), path)

    def test_control_fields(self):
        self.assertEqual(self.field("Package"), "vozmo")
        self.assertEqual(self.field("Version"), VERSION)
        self.assertEqual(self.field("Architecture"), "amd64")
        self.assertRegex(self.field("Maintainer"), r"^[^<>]+ <[^@<>\s]+@[^@<>\s]+>$")
        depends = self.field("Depends")
        # Computed from the shared libraries the program links.
        for library in ("libc6", "libqt6widgets6", "libcurl4", "libpulse0", "libxtst6", "procps"):
            self.assertIn(library, depends)
        for optional in ("xdg-utils", "at-spi2-core"):
            self.assertIn(optional, self.field("Recommends"))
            self.assertNotIn(optional, depends)
        description = self.field("Description").splitlines()
        self.assertGreater(len(description), 2)
        self.assertIn("watches; nothing leaves", " ".join(description))
        self.assertLessEqual(max(len(line) for line in description), 80)

    def test_lintian_finds_no_error(self):
        out = run(["lintian", "--fail-on", "error", "--tag-display-limit", "0", self.deb])
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
        self.assertNotRegex(out.stdout, r"(?m)^E: ")

    def test_desktop_entry_and_metainfo_validate(self):
        share = os.path.join(self.root, "usr/share")
        entry = run(["desktop-file-validate", f"{share}/applications/vozmo.desktop"])
        self.assertEqual(entry.returncode, 0, entry.stdout + entry.stderr)
        self.assertNotIn("error", entry.stdout)
        meta = run(["appstreamcli", "validate", "--no-net",
                    f"{share}/metainfo/{APPSTREAM_ID}.metainfo.xml"])
        self.assertEqual(meta.returncode, 0, meta.stdout + meta.stderr)
        with open(f"{share}/applications/vozmo.desktop", encoding="utf-8") as f:
            entry_text = f.read()
        for line in ("Exec=vozmo", "Icon=vozmo", "StartupNotify=false", "Terminal=false",
                     "Categories=Utility;Accessibility;AudioVideo;"):
            self.assertIn(line + "\n", entry_text)

    def test_help_and_manual_name_what_the_package_installs(self):
        with open(f"{self.root}/usr/share/vozmo/ayuda.html", encoding="utf-8") as f:
            help_text = f.read()
        for anchor in ("servidores", "modelos", "permisos", "teclas"):
            self.assertIn(f'id="{anchor}"', help_text)
            self.assertIn(f'href="#{anchor}"', help_text)
        self.assertIn("<pre>vozmo-install-servers</pre>", help_text)
        pages = {
            "vozmo": ("--selftest", "--version", "whisper-server", "llama-server",
                      "vozmo-install-servers", "diccionario.txt", "/usr/share/vozmo/ayuda.html"),
            "vozmo-install-servers": ("--force", "~/.local/bin", "VOZMO_WHISPER_CPP_SOURCE"),
        }
        for page, words in pages.items():
            man = run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8",
                       f"{self.root}/usr/share/man/man1/{page}.1.gz"],
                      env={**os.environ, "MANWIDTH": "80"})
            self.assertEqual(man.returncode, 0, man.stderr)
            self.assertEqual(man.stderr, "", page)
            # Bold and underline come as overstrikes; the words are what matters here.
            text = re.sub(".\b", "", man.stdout).replace("\u2010", "-")
            self.assertNotIn("@", text)
            for word in words:
                self.assertIn(word, text, page)
        usage = run([f"{self.root}/usr/bin/vozmo-install-servers", "--help"])
        self.assertEqual(usage.returncode, 0, usage.stderr)
        self.assertTrue(usage.stdout.startswith("Uso: vozmo-install-servers "), usage.stdout)

    def test_version_runs_from_the_unpacked_package_without_a_display(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["QT_QPA_PLATFORM"] = ""
        out = run([f"{self.root}/usr/bin/vozmo", "--version"], env=env)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout, f"vozmo {VERSION}\n")
        # Stripped: debugging symbols do not ship.
        for program in ("/usr/bin/vozmo", "/usr/libexec/vozmo/vozmo"):
            symbols = run(["file", f"{self.root}{program}"])
            self.assertIn("stripped", symbols.stdout)
            self.assertNotIn("not stripped", symbols.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
