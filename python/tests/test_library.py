"""Where the package finds the library, in a fresh interpreter each time."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import zxcollector

PACKAGE = Path(zxcollector.__file__).resolve().parent
PRINT_PATH = "import zxcollector as zx; print(zx.library_path())"


def python(code, folder, **environment):
    env = {key: value for key, value in os.environ.items() if key != "ZXCOLLECTOR_LIBRARY"}
    env.update(environment, PYTHONPATH=str(folder))
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, timeout=60)


@pytest.fixture
def package_copy(tmp_path):
    """The package copied into a folder of its own, the built library beside it."""
    shutil.copytree(PACKAGE, tmp_path / "zxcollector", ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(os.environ["ZXCOLLECTOR_LIBRARY"], tmp_path / "zxcollector" / "libzxcollector_api.so.3")
    return tmp_path


def test_the_environment_variable_comes_before_a_library_beside_the_package(package_copy):
    beside = package_copy / "zxcollector" / "libzxcollector_api.so.3"
    chosen = python(PRINT_PATH, package_copy)
    assert chosen.stdout.strip() == str(beside), chosen.stderr
    explicit = python(PRINT_PATH, package_copy, ZXCOLLECTOR_LIBRARY=os.environ["ZXCOLLECTOR_LIBRARY"])
    assert explicit.stdout.strip() == os.environ["ZXCOLLECTOR_LIBRARY"], explicit.stderr
    missing = python(PRINT_PATH, package_copy, ZXCOLLECTOR_LIBRARY=str(package_copy / "nothing.so"))
    assert "LibraryNotFound" in missing.stderr and "ZXCOLLECTOR_LIBRARY" in missing.stderr


def test_the_package_imports_as_on_windows_and_looks_for_the_dll(tmp_path):
    # Python for Windows is not here: ctypes and numpy are imported as they are, then the
    # package as on Windows, which must not touch what only Windows has while it imports.
    code = ("import ctypes.util, numpy, os; os.name = 'nt'; import zxcollector as zx; "
            "print(zx.library.SYSTEM_NAMES)")
    run = python(code, PACKAGE.parent)
    assert run.returncode == 0 and run.stdout.strip() == "('zxcollector_api.dll',)", run.stderr


def test_the_library_own_version_and_result_texts_are_used_where_it_exports_them(tmp_path):
    # A library with the two exports of 3.1: a shim that adds them to the built one.
    shim = tmp_path / "libzxshim.so"
    (tmp_path / "shim.c").write_text(
        '#include <stdint.h>\n#include <stdio.h>\n'
        'int32_t ZxGetVersion(char* t, uint32_t c) { snprintf(t, c, "9.8.7"); return 0; }\n'
        'int32_t ZxGetResultText(int32_t r, char* t, uint32_t c) { snprintf(t, c, "text of %d", r); return 0; }\n')
    built = Path(os.environ["ZXCOLLECTOR_LIBRARY"])
    subprocess.run(["cc", "-shared", "-fPIC", str(tmp_path / "shim.c"), "-o", str(shim), "-Wl,--no-as-needed",
                    str(built), f"-Wl,-rpath,{built.parent}"], check=True)
    code = "import zxcollector as zx; print(zx.version()); print(zx.result_text(-401)); print(zx.result_text(-1, 'ZxOpenLog'))"
    run = python(code, PACKAGE.parent, ZXCOLLECTOR_LIBRARY=str(shim))
    # -1 has four meanings: for a named function the package's own text says which.
    assert run.stdout.splitlines() == ["9.8.7", "text of -401", zxcollector.result_text(-1, "ZxOpenLog")], run.stderr
