#!/usr/bin/env python3
"""Installing: `cmake --install` puts the programs, the manual, the icons, the
desktop entry, the MIME package and the qvf man page where a desktop finds them,
and `cpack -G DEB` packs the same files.

usage: install_test.py BUILD_DIR
"""
import os
import re
import subprocess
import sys
import tempfile

EXPECTED = [
    "bin/quiverbox",
    "bin/qvf",
    "share/applications/quiverbox.desktop",
    "share/mime/packages/quiverbox.xml",
    "share/icons/hicolor/16x16/apps/quiverbox.png",
    "share/icons/hicolor/256x256/apps/quiverbox.png",
    "share/icons/hicolor/scalable/apps/quiverbox.svg",
    "share/man/man1/qvf.1",
    "share/doc/quiverbox/manual/index.html",
]


def run(args, **kw):
    result = subprocess.run(args, capture_output=True, text=True, **kw)
    if result.returncode != 0:
        sys.exit(f"{' '.join(args)} failed ({result.returncode}):\n{result.stdout}{result.stderr}")
    return result


def main():
    build = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory(prefix="qb-install-") as temp:
        prefix = os.path.join(temp, "prefix")
        run(["cmake", "--install", build, "--prefix", prefix])
        for rel in EXPECTED:
            if not os.path.isfile(os.path.join(prefix, rel)):
                failures.append(f"not installed: {rel}")
        for program in ("bin/quiverbox", "bin/qvf"):
            if not os.access(os.path.join(prefix, program), os.X_OK):
                failures.append(f"not executable: {program}")
        # Nothing of the tests or benchmarks goes along.
        for name in os.listdir(os.path.join(prefix, "bin")):
            if name not in ("quiverbox", "qvf"):
                failures.append(f"installed by mistake: bin/{name}")
        desktop = os.path.join(prefix, "share/applications/quiverbox.desktop")
        check = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
        if check.returncode != 0 or check.stdout or check.stderr:
            failures.append(f"desktop-file-validate: {check.stdout}{check.stderr}")
        # The man page renders without complaints and describes every verb.
        man = subprocess.run(["man", "--warnings", "-l", "-Tutf8", os.path.join(prefix, "share/man/man1/qvf.1")],
                             capture_output=True, text=True, env=dict(os.environ, MANWIDTH="80"))
        if man.returncode != 0 or man.stderr:
            failures.append(f"man: {man.stderr}")
        page = re.sub(".\x08", "", man.stdout)  # no overstruck bold and underline
        for verb in ("ls", "cat", "note", "test", "add", "rm", "mv", "glyph"):
            if f"\n       {verb} " not in page:
                failures.append(f"man page lacks the verb {verb}")
        # The installed qvf runs.
        qvf = subprocess.run([os.path.join(prefix, "bin/qvf"), "--help"], capture_output=True, text=True)
        if qvf.returncode != 0:
            failures.append("installed qvf --help failed")

        # The Debian package holds the same files.
        packages = os.path.join(temp, "packages")
        os.makedirs(packages)
        run(["cpack", "-G", "DEB", "-B", packages, "--config", os.path.join(build, "CPackConfig.cmake")],
            cwd=build)
        debs = [f for f in os.listdir(packages) if f.endswith(".deb")]
        if len(debs) != 1:
            failures.append(f"cpack made {debs}")
        else:
            deb = os.path.join(packages, debs[0])
            listing = run(["dpkg-deb", "-c", deb]).stdout
            for rel in EXPECTED:
                if f"./usr/{rel}" not in listing:
                    failures.append(f"not in the package: /usr/{rel}")
            fields = run(["dpkg-deb", "-f", deb, "Package", "Version", "Depends"]).stdout
            if "Package: quiverbox" not in fields or "Version: 1.01" not in fields:
                failures.append(f"package fields: {fields}")
    if failures:
        sys.exit("\n".join(failures))
    print("install: OK")


if __name__ == "__main__":
    main()
