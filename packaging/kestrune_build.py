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
    <name>.data/data/share/bash-completion/completions/git-credential-kestrune
                                        the completion of its options
    <name>.dist-info/licenses/LICENSE   the project's licence

It builds against the interpreter the environment was made from, since a
virtual environment has no headers or libpython of its own. CMake and Ninja
come from PATH.

prepare_metadata_for_build_wheel writes the metadata alone, from the [project]
table of pyproject.toml and the version in CMakeLists.txt, so that pip on
another Python than 3.12 refuses (Requires-Python) before anything is built.

build_sdist packs exactly the files git tracks (`git ls-files`), plus the
PKG-INFO it writes. Outside a git checkout (an unpacked sdist, say) it packs
every file under the source folder except what .gitignore names: the build
folders at the top (build/, build-*/, out/), __pycache__/ and *.pyc.
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

DIST = "git_credential_kestrune"
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SITE_DIR = "lib/python3.12/site-packages"
# The licence file, in the source folder and, as licenses/LICENSE, in the
# wheel's dist-info folder.
LICENCE_FILE = "LICENSE"

# 1 January 1980, the earliest time a zip entry can carry: the same sources
# give the same wheel.
ZIP_TIME = (1980, 1, 1, 0, 0, 0)
# Outside a git checkout, what .gitignore keeps out of an sdist: the build
# folders at the top, and bytecode anywhere.
SDIST_SKIP_TOP = re.compile(r"\A(\.git|build|build-.*|out)\Z")
SDIST_SKIP = re.compile(r"\A(__pycache__|.*\.pyc)\Z")


def _version():
    with open(os.path.join(SOURCE_DIR, "CMakeLists.txt"), encoding="utf-8") as f:
        match = re.search(r"^project\(\S+ VERSION (\S+)", f.read(), re.M)
    return match.group(1)


def _project():
    """The [project] table of pyproject.toml."""
    with open(os.path.join(SOURCE_DIR, "pyproject.toml"), encoding="utf-8") as f:
        text = f.read()
    try:
        import tomllib
    except ImportError:
        # Before CPython 3.11: the table's `key = "text"` lines, which are
        # all that the metadata takes, so pip can still say that this Python
        # is not the one.
        table = text.partition("\n[project]\n")[2].partition("\n[")[0]
        return dict(re.findall(r'(?m)^([\w-]+) = "([^"]*)"$', table))
    return tomllib.loads(text)["project"]


def _metadata(version):
    project = _project()
    return ("Metadata-Version: 2.1\n"
            "Name: %s\n"
            "Version: %s\n"
            "Summary: %s\n"
            "License: %s\n"
            "License-File: %s\n"
            "Requires-Python: %s\n" % (project["name"], version, project["description"],
                                       project["license"], LICENCE_FILE,
                                       project["requires-python"]))


def _licence():
    with open(os.path.join(SOURCE_DIR, LICENCE_FILE), "rb") as f:
        return f.read()


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
    # The helper and the module; the licence goes to the dist-info folder
    # instead of the environment's share/doc.
    for component in ("helper", "module"):
        _run(["cmake", "--install", build_dir, "--prefix", stage_dir, "--strip",
              "--component", component])


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


def _dist_info(version):
    """The dist-info folder's name, and its files that the metadata step
    and the wheel share: [(path in the folder, bytes)]."""
    return "%s-%s.dist-info" % (DIST, version), [
        ("METADATA", _metadata(version).encode()),
        ("licenses/" + LICENCE_FILE, _licence()),
    ]


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    dist_info, files = _dist_info(_version())
    for relative, data in files:
        path = os.path.join(metadata_directory, dist_info, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return dist_info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    version = _version()
    tag = "cp312-cp312-" + _platform_tag()
    data_dir = "%s-%s.data" % (DIST, version)
    dist_info, metadata_files = _dist_info(version)
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
        files.extend((dist_info + "/" + relative, data, False) for relative, data in metadata_files)
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


def _sdist_files():
    """The source files an sdist holds, relative to the source folder."""
    try:
        top = subprocess.run(["git", "-C", SOURCE_DIR, "rev-parse", "--show-toplevel"],
                             capture_output=True, text=True).stdout.strip()
    except OSError:
        top = ""
    if top and os.path.realpath(top) == os.path.realpath(SOURCE_DIR):
        listed = subprocess.run(["git", "-C", SOURCE_DIR, "ls-files", "-z"],
                                capture_output=True, check=True).stdout
        # A tracked file deleted from the work tree has nothing to pack.
        return sorted(name for name in os.fsdecode(listed).split("\0")
                      if name and os.path.lexists(os.path.join(SOURCE_DIR, name)))
    files = []
    for folder, dirs, names in os.walk(SOURCE_DIR):
        relative = os.path.relpath(folder, SOURCE_DIR)
        dirs[:] = [d for d in dirs if not SDIST_SKIP.match(d)
                   and not (relative == "." and SDIST_SKIP_TOP.match(d))]
        files.extend(os.path.normpath(os.path.join(relative, name)) for name in names
                     if not SDIST_SKIP.match(name))
    return sorted(files)


def _sdist_entry(info):
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
            for name in _sdist_files():
                archive.add(os.path.join(SOURCE_DIR, name), base + "/" + name,
                            recursive=False, filter=_sdist_entry)
            archive.add(pkg_info, base + "/PKG-INFO", filter=_sdist_entry)
    return os.path.basename(path)
