"""The build backend behind `pip install .` (PEP 517), standard library only.

build_wheel configures the project with CMake in a temporary folder (the
bundled launcher, no tests), installs it into a staging prefix and writes a
cp312 wheel of what it installed:

    git_credential_kestrune.<suffix>, git_credential_kestrune.pyi
                                        the module and its stub, in site-packages
    <name>.data/scripts/git-credential-kestrune
                                        the launcher, in the environment's bin/
    <name>.data/data/lib/git-credential-kestrune/, .../share/man/...
                                        its runtime and man page under the
                                        environment's prefix, where the
                                        launcher finds the runtime: ../lib

It builds against the interpreter the environment was made from, since a
virtual environment has no headers or libpython of its own. CMake and Ninja
come from PATH.
"""
import base64
import hashlib
import os
import re
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile

NAME = "git-credential-kestrune"
DIST = "git_credential_kestrune"
SUMMARY = "git credential helper for the Kestrune application"
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SITE_DIR = "lib/python3.12/site-packages"

# 1 January 1980, the earliest time a zip entry can carry: the same sources
# give the same wheel.
ZIP_TIME = (1980, 1, 1, 0, 0, 0)
# Source-tree entries that never go into an sdist: what git ignores, and git's
# own folder.
SDIST_SKIP = re.compile(r"\A(\.git|build|build-.*|out|__pycache__|.*\.pyc)\Z")


def _version():
    with open(os.path.join(SOURCE_DIR, "CMakeLists.txt"), encoding="utf-8") as f:
        match = re.search(r"^project\(\S+ VERSION (\S+)", f.read(), re.M)
    return match.group(1)


def _metadata(version):
    return ("Metadata-Version: 2.1\n"
            "Name: %s\n"
            "Version: %s\n"
            "Summary: %s\n"
            "Requires-Python: ==3.12.*\n" % (NAME, version, SUMMARY))


def _base_python():
    if sys.version_info[:2] != (3, 12):
        raise RuntimeError("git-credential-kestrune builds for CPython 3.12 only, not %d.%d"
                           % sys.version_info[:2])
    return getattr(sys, "_base_executable", None) or sys.executable


def _platform_tag():
    return re.sub(r"[^\w]", "_", sysconfig.get_platform())


def _run(argv):
    # The build's own output goes to stderr: pip shows it when asked to (-v)
    # or when the build fails.
    subprocess.run(argv, check=True, stdout=sys.stderr)


def _stage(build_dir, stage_dir):
    _run(["cmake", "-S", SOURCE_DIR, "-B", build_dir, "-G", "Ninja",
          "-DCMAKE_BUILD_TYPE=Release", "-DKESTRUNE_BUNDLE=ON",
          "-DKESTRUNE_BUILD_TESTS=OFF", "-DKESTRUNE_BUILD_BENCH=OFF",
          "-DKESTRUNE_PYTHON_SITE_DIR=" + SITE_DIR,
          "-DPython3_EXECUTABLE=" + _base_python()])
    _run(["cmake", "--build", build_dir])
    _run(["cmake", "--install", build_dir, "--prefix", stage_dir, "--strip"])


def _wheel_path(relative, data_dir):
    """Where the staged file `relative` goes in the wheel."""
    if relative.startswith(SITE_DIR + "/"):
        return relative[len(SITE_DIR) + 1:]
    if relative.startswith("bin/"):
        return data_dir + "/scripts/" + relative[len("bin/"):]
    return data_dir + "/data/" + relative


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d\n" % (path, digest, len(data))


def _write_entry(archive, path, data, executable=False):
    info = zipfile.ZipInfo(path, ZIP_TIME)
    # Regular-file mode bits: installers keep a file executable only when its
    # entry says so.
    info.external_attr = (0o100755 if executable else 0o100644) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    archive.writestr(info, data)


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    version = _version()
    tag = "cp312-cp312-" + _platform_tag()
    data_dir = "%s-%s.data" % (DIST, version)
    dist_info = "%s-%s.dist-info" % (DIST, version)
    wheel_name = "%s-%s-%s.whl" % (DIST, version, tag)
    with tempfile.TemporaryDirectory(prefix="kestrune-wheel-") as scratch:
        stage_dir = os.path.join(scratch, "stage")
        _stage(os.path.join(scratch, "build"), stage_dir)
        files = []
        for folder, dirs, names in os.walk(stage_dir):
            dirs.sort()
            for name in sorted(names):
                path = os.path.join(folder, name)
                relative = os.path.relpath(path, stage_dir).replace(os.sep, "/")
                with open(path, "rb") as f:
                    files.append((_wheel_path(relative, data_dir), f.read(),
                                  os.access(path, os.X_OK)))
        files.append((dist_info + "/METADATA", _metadata(version).encode(), False))
        files.append((dist_info + "/WHEEL",
                      ("Wheel-Version: 1.0\nGenerator: kestrune_build\n"
                       "Root-Is-Purelib: false\nTag: %s\n" % tag).encode(), False))
        record = "".join(_record_line(path, data) for path, data, _ in files)
        record += dist_info + "/RECORD,,\n"
        files.append((dist_info + "/RECORD", record.encode(), False))
        os.makedirs(wheel_directory, exist_ok=True)
        with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w") as archive:
            for path, data, executable in files:
                _write_entry(archive, path, data, executable)
    return wheel_name


def _sdist_filter(info):
    parts = info.name.split("/")[1:]
    if any(SDIST_SKIP.match(part) for part in parts):
        return None
    info.uid = info.gid = 0
    info.uname = info.gname = ""
    info.mtime = 0
    return info


def build_sdist(sdist_directory, config_settings=None):
    version = _version()
    base = "%s-%s" % (DIST, version)
    os.makedirs(sdist_directory, exist_ok=True)
    path = os.path.join(sdist_directory, base + ".tar.gz")
    with tempfile.TemporaryDirectory(prefix="kestrune-sdist-") as scratch:
        pkg_info = os.path.join(scratch, "PKG-INFO")
        with open(pkg_info, "w", encoding="utf-8") as f:
            f.write(_metadata(version))
        with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as archive:
            for name in sorted(os.listdir(SOURCE_DIR)):
                archive.add(os.path.join(SOURCE_DIR, name), base + "/" + name,
                            filter=_sdist_filter)
            archive.add(pkg_info, base + "/PKG-INFO", filter=_sdist_filter)
    return os.path.basename(path)
