"""pip installs the package from the repository as Python users do: into a
venv, offline, with Debian's build backends; the installed package has its
distribution metadata, its stubs type-check the README's examples, and the
build is made for the venv's Python."""

import importlib.util
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

REPOSITORY = pathlib.Path(__file__).resolve().parents[3]

pytestmark = pytest.mark.skipif(
    any(importlib.util.find_spec(name) is None for name in ("venv", "pip", "setuptools", "wheel")),
    reason="needs Python's venv, pip, setuptools and wheel (scripts/install-deps python)")


def readme_examples():
    """The Python examples of the README's From Python section as a script."""
    text = (REPOSITORY / "README.md").read_text()
    section = text[text.index("## From Python"):text.index("\n## ", text.index("## From Python") + 1)]
    lines = []
    for block in re.findall(r"```python\n(.*?)```", section, re.S):
        lines += [line[4:] for line in block.splitlines() if line.startswith((">>> ", "... "))]
    return "\n".join(lines) + "\n"


def readme_install_commands():
    """The README's commands that make the venv and install into it offline."""
    text = (REPOSITORY / "README.md").read_text()
    start = text.index("Offline, against the system's build backends")
    commands = re.findall(r"^    (\S.*)$", text[start:text.index("\n\n", text.index("    ", start))], re.M)
    assert commands[0].startswith("/usr/bin/python3 -m venv") and "--no-build-isolation" in commands[1]
    return commands


def run(*command, cwd, **extra):
    # Nothing of the build tree's: the venv's Python finds only what it
    # installed. pip is kept off the network: offline, as the README says.
    environment = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_PRELOAD")}
    environment.update(extra)
    return subprocess.run(command, cwd=cwd, env=environment, capture_output=True, text=True, check=True).stdout


@pytest.fixture(scope="module")
def venv(tmp_path_factory):
    work = tmp_path_factory.mktemp("pip")
    source = work / "source"
    shutil.copytree(REPOSITORY, source, ignore=shutil.ignore_patterns(".git", "build", "__pycache__", "*.egg-info"))
    # the README's words, run in the copy of the repository as written there
    for command in readme_install_commands():
        run("bash", "-c", command, cwd=source, PIP_NO_INDEX="1")
    return source, source / "venv" / "bin" / "python"


def test_the_installed_package_has_its_metadata_and_imports(venv):
    work, python = venv
    script = ("import importlib.metadata as m, vorncalc\n"
              "print(m.version('vorncalc'), vorncalc.__version__, vorncalc.__file__)\n"
              "print(vorncalc.Formula('x * 2', variables='x')([1, 2]))\n")
    version, module_version, path, values = run(str(python), "-c", script, cwd=work).split(maxsplit=3)
    cmake = (REPOSITORY / "CMakeLists.txt").read_text()
    assert version == module_version == re.search(r"project\(vorncalc VERSION ([0-9.]+)", cmake).group(1)
    assert path.startswith(str(work / "venv"))
    assert values.strip() == "[2. 4.]"
    assert "Name: vorncalc" in run(str(python), "-m", "pip", "show", "vorncalc", cwd=work)
    installed = pathlib.Path(path).parent
    assert {"py.typed", "_vorncalc.pyi", "__init__.py", "_evaluate.py"} <= {p.name for p in installed.iterdir()}
    a = "import numpy as np, vorncalc\na, b = np.arange(3.0), 2.0\nprint(vorncalc.evaluate('2*a + 3*b'))\n"
    assert run(str(python), "-c", a, cwd=work).strip() == "[ 6.  8. 10.]"


def test_the_build_is_made_for_the_venvs_python(venv):
    work, python = venv
    caches = list((work / "build").glob("temp*/cmake/CMakeCache.txt"))
    assert caches, "pip built elsewhere"
    # the Python that FindPython took, not /usr/bin/python3: the venv's
    # (python3, which the venv's pip runs on)
    assert f"\n_Python_EXECUTABLE:INTERNAL={python.parent}/python" in caches[0].read_text()


def test_the_readme_examples_type_check_with_the_installed_stubs(venv):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("needs mypy (scripts/install-deps python)")
    work, python = venv
    example = work / "readme_examples.py"
    example.write_text(readme_examples())
    assert "g(x=[-1, 0.5, 3]).shape" in example.read_text()
    run(str(python), "-m", "mypy", "--ignore-missing-imports", "--cache-dir", str(work / "mypy-cache"),
        str(example), cwd=work)
    wrong = work / "wrong_types.py"
    wrong.write_text("import vorncalc\nvorncalc.Formula('x', variables='x')(x='3')\n"
                     "vorncalc.evaluate(3)\nvorncalc.Formula('x').shape\n")
    with pytest.raises(subprocess.CalledProcessError) as refused:
        run(str(python), "-m", "mypy", "--cache-dir", str(work / "mypy-cache"), str(wrong), cwd=work)
    assert refused.value.stdout.count("error:") == 3, refused.value.stdout
