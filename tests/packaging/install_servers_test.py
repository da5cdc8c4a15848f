#!/usr/bin/env python3
"""scripts/install-servers against local git repositories that stand in for whisper.cpp and
llama.cpp: a tiny CMake project per server, tagged like the real releases."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SCRIPT = os.environ.get("VOZMO_INSTALL_SERVERS", "")

# Builds one program named after the server that prints the tag it was built from and whether
# it was linked against a shared library (which would stay behind in the build folder).
CMAKE_LISTS = """cmake_minimum_required(VERSION 3.16)
project(fixture C)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_library(core core.c)
add_executable(@NAME@ main.c)
target_link_libraries(@NAME@ PRIVATE core)
@EXTRA@
if(DEFINED ENV{FIXTURE_OPTIONS})
    foreach(name LLAMA_BUILD_UI LLAMA_BUILD_WEBUI LLAMA_USE_PREBUILT_UI LLAMA_OPENSSL LLAMA_CURL
                 WHISPER_SDL2)
        file(APPEND $ENV{FIXTURE_OPTIONS} "@NAME@ ${name}=${${name}}\n")
    endforeach()
endif()
if(DEFINED ENV{FIXTURE_MARKER})
    add_custom_target(slow COMMAND ${CMAKE_COMMAND} -E touch $ENV{FIXTURE_MARKER}
                      COMMAND sleep 60)
    add_dependencies(@NAME@ slow)
endif()
"""
MAIN = """#include <stdio.h>
const char* tag(void);
int main(void) { printf("@NAME@ %s\\n", tag()); return 0; }
"""


def run(args, env=None, timeout=300):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout, env=env)


def pinned(name):
    with open(SCRIPT, encoding="utf-8") as f:
        match = re.search(rf'^{name}="([^"]+)"$', f.read(), re.M)
    assert match, name
    return match.group(1)


class InstallServers(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="vozmo-install-servers-test.")
        self.home = os.path.join(self.tmp, "home")
        os.makedirs(self.home)
        self.target = os.path.join(self.tmp, "bin")
        self.env = {
            "PATH": os.environ["PATH"],
            "HOME": self.home,
            "TMPDIR": os.path.join(self.tmp, "work"),
            "LANG": "C.UTF-8",
            "VOZMO_WHISPER_CPP_SOURCE": "file://" + os.path.join(self.tmp, "whisper.cpp"),
            "VOZMO_LLAMA_CPP_SOURCE": "file://" + os.path.join(self.tmp, "llama.cpp"),
        }
        os.makedirs(self.env["TMPDIR"])
        self.tags = {"whisper-server": pinned("WHISPER_CPP_TAG"),
                     "llama-server": pinned("LLAMA_CPP_TAG")}
        self.repo("whisper.cpp", "whisper-server")
        self.repo("llama.cpp", "llama-server")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def git(self, repo, *args):
        out = run(["git", "-C", repo, "-c", "user.name=Vozmo", "-c", "user.email=t@vozmo.test",
                   *args], env=self.env)
        self.assertEqual(out.returncode, 0, out.stderr)

    def commit(self, repo, name, tag_text, core_body=None, extra=""):
        with open(os.path.join(repo, "CMakeLists.txt"), "w") as f:
            f.write(CMAKE_LISTS.replace("@NAME@", name).replace("@EXTRA@", extra))
        with open(os.path.join(repo, "main.c"), "w") as f:
            f.write(MAIN.replace("@NAME@", name))
        with open(os.path.join(repo, "core.c"), "w") as f:
            f.write(core_body or f'const char* tag(void) {{ return "{tag_text}"; }}\n')
        self.git(repo, "add", "-A")
        self.git(repo, "commit", "-q", "-m", tag_text)

    # The pinned tag builds; a later commit on the branch says it is not the release.
    def repo(self, folder, name, tag_body=None, extra=""):
        repo = os.path.join(self.tmp, folder)
        shutil.rmtree(repo, ignore_errors=True)
        os.makedirs(repo)
        self.git(repo, "init", "-q", "-b", "master")
        self.commit(repo, name, self.tags[name], tag_body, extra)
        self.git(repo, "tag", self.tags[name])
        self.commit(repo, name, "after-the-release")

    def install(self, *args, env=None):
        return run([SCRIPT, *args, self.target], env=env or self.env)

    def program_output(self, name):
        return run([os.path.join(self.target, name)]).stdout

    def leftovers(self):
        names = set(os.listdir(self.target)) if os.path.isdir(self.target) else set()
        return names - {"whisper-server", "llama-server", ".whisper-server.version",
                        ".llama-server.version"}

    def test_installs_the_pinned_tags_then_skips_them(self):
        first = self.install()
        self.assertEqual(first.returncode, 0, first.stdout + first.stderr)
        # The build folder is gone: the programs must not need anything from it.
        self.assertEqual(os.listdir(self.env["TMPDIR"]), [])
        for name, tag in self.tags.items():
            self.assertEqual(self.program_output(name), f"{name} {tag}\n")
            self.assertRegex(first.stdout, rf"(?m)^  {name} {re.escape(tag)} .*: "
                             rf"{re.escape(self.target)}/{name}$")
        self.assertEqual(self.leftovers(), set())

        before = {n: os.stat(os.path.join(self.target, n)).st_ino for n in self.tags}
        second = self.install()
        self.assertEqual(second.returncode, 0, second.stderr)
        for name, tag in self.tags.items():
            self.assertIn(f"{name} {tag} ya está instalado", second.stdout)
            self.assertEqual(os.stat(os.path.join(self.target, name)).st_ino, before[name])
        self.assertNotIn("Compilando", second.stdout)

        forced = self.install("--force")
        self.assertEqual(forced.returncode, 0, forced.stderr)
        self.assertEqual(forced.stdout.count("Compilando"), 2)

    def test_an_older_version_is_replaced_a_foreign_program_is_kept(self):
        os.makedirs(self.target)
        cases = {
            # Installed here before at another tag: upgraded.
            "whisper-server": ("#!/bin/sh\necho old\n", "v0.0.1\n"),
            # Put here by the user, no record of ours: left alone.
            "llama-server": ("#!/bin/sh\necho mine\n", None),
        }
        for name, (program, stamp) in cases.items():
            with open(os.path.join(self.target, name), "w") as f:
                f.write(program)
            os.chmod(os.path.join(self.target, name), 0o755)
            if stamp:
                with open(os.path.join(self.target, f".{name}.version"), "w") as f:
                    f.write(stamp)
        out = self.install()
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
        self.assertEqual(self.program_output("whisper-server"),
                         f"whisper-server {self.tags['whisper-server']}\n")
        self.assertEqual(self.program_output("llama-server"), "mine\n")
        self.assertIn("no lo instaló este programa", out.stdout)

    def test_a_failed_build_leaves_the_installed_program_as_it_was(self):
        self.repo("whisper.cpp", "whisper-server", tag_body="this does not compile\n")
        os.makedirs(self.target)
        old = os.path.join(self.target, "whisper-server")
        with open(old, "w") as f:
            f.write("#!/bin/sh\necho old\n")
        os.chmod(old, 0o755)
        with open(os.path.join(self.target, ".whisper-server.version"), "w") as f:
            f.write("v0.0.1\n")

        out = self.install()
        self.assertNotEqual(out.returncode, 0)
        self.assertIn("Falló la compilación de whisper-server", out.stderr)
        self.assertIn("this does not compile", out.stderr)
        self.assertEqual(self.program_output("whisper-server"), "old\n")
        # The other server is still installed, and the summary says what happened to each.
        self.assertEqual(self.program_output("llama-server"),
                         f"llama-server {self.tags['llama-server']}\n")
        self.assertIn("whisper-server: no instalado (falló la compilación)", out.stdout)
        self.assertEqual(self.leftovers(), set())
        self.assertEqual(os.listdir(self.env["TMPDIR"]), [])

    def test_an_interrupted_build_leaves_nothing_behind(self):
        marker = os.path.join(self.tmp, "building")
        env = dict(self.env, FIXTURE_MARKER=marker)
        # Its own process group, so the interruption reaches the build as Ctrl-C would.
        proc = subprocess.Popen([SCRIPT, self.target], env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, start_new_session=True)
        try:
            deadline = time.monotonic() + 120
            while not os.path.exists(marker) and time.monotonic() < deadline:
                if proc.poll() is not None:
                    self.fail("install-servers ended before the build: %s" % (proc.communicate(),))
                time.sleep(0.1)
            self.assertTrue(os.path.exists(marker))
            os.killpg(proc.pid, signal.SIGTERM)
            proc.communicate(timeout=60)
        finally:
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
        self.assertNotEqual(proc.returncode, 0)
        self.assertEqual(os.listdir(self.target), [])
        self.assertEqual(os.listdir(self.env["TMPDIR"]), [])

    def test_options_are_named_as_the_pinned_source_names_them(self):
        # Every option that fetches or links TLS is on by default here, as upstream has it.
        generations = {
            "2026 (UI)": (
                "option(LLAMA_BUILD_UI \"ui\" ON)\noption(LLAMA_USE_PREBUILT_UI \"ui\" ON)\n"
                "option(LLAMA_OPENSSL \"tls\" ON)\n",
                {"LLAMA_BUILD_UI": "OFF", "LLAMA_BUILD_WEBUI": "", "LLAMA_USE_PREBUILT_UI": "OFF",
                 "LLAMA_OPENSSL": "OFF", "LLAMA_CURL": "", "WHISPER_SDL2": ""}),
            "2025 (WEBUI, CURL)": (
                "option(LLAMA_BUILD_WEBUI \"ui\" ON)\noption(LLAMA_CURL \"curl\" ON)\n"
                "option(LLAMA_OPENSSL \"tls\" ON)\n",
                {"LLAMA_BUILD_UI": "", "LLAMA_BUILD_WEBUI": "OFF", "LLAMA_USE_PREBUILT_UI": "",
                 "LLAMA_OPENSSL": "OFF", "LLAMA_CURL": "OFF", "WHISPER_SDL2": ""}),
        }
        for generation, (declared, expected) in generations.items():
            with self.subTest(generation):
                record = os.path.join(self.tmp, "options")
                if os.path.exists(record):
                    os.remove(record)
                self.repo("llama.cpp", "llama-server", extra=declared)
                self.repo("whisper.cpp", "whisper-server",
                          extra="option(WHISPER_SDL2 \"sdl\" ON)\n")
                out = self.install("--force", env=dict(self.env, FIXTURE_OPTIONS=record))
                self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
                with open(record) as f:
                    seen = dict(line.split(" ", 1)[1].strip().split("=", 1)
                                for line in f if line.startswith("llama-server "))
                    f.seek(0)
                    whisper = [line.strip() for line in f if line.startswith("whisper-server ")]
                self.assertEqual(seen, expected)
                self.assertIn("whisper-server WHISPER_SDL2=OFF", whisper)

    def test_a_source_that_fetches_while_configuring_is_not_installed(self):
        self.repo("llama.cpp", "llama-server",
                  extra="file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/_deps/boringssl-src)\n")
        out = self.install()
        self.assertNotEqual(out.returncode, 0)
        self.assertIn("La configuración de llama-server", out.stderr)
        self.assertIn("llama-server: no instalado (la configuración descargó código)", out.stdout)
        self.assertFalse(os.path.exists(os.path.join(self.target, "llama-server")))
        # The other server does not depend on it.
        self.assertEqual(self.program_output("whisper-server"),
                         f"whisper-server {self.tags['whisper-server']}\n")

    def test_missing_tools_are_named_in_one_install_line(self):
        # A PATH holding every program of this machine except cmake and make.
        tools = os.path.join(self.tmp, "tools")
        os.makedirs(tools)
        for folder in os.environ["PATH"].split(":"):
            if not os.path.isdir(folder):
                continue
            for name in os.listdir(folder):
                if name in ("cmake", "make") or os.path.lexists(os.path.join(tools, name)):
                    continue
                os.symlink(os.path.join(folder, name), os.path.join(tools, name))
        env = dict(self.env, PATH=tools)
        out = self.install(env=env)
        self.assertEqual(out.returncode, 1)
        self.assertIn("\n  sudo apt-get install -y cmake make\n", out.stderr)
        self.assertEqual(out.stderr.count("apt-get"), 1)
        self.assertFalse(os.path.exists(self.target))


if __name__ == "__main__":
    unittest.main(verbosity=2)
