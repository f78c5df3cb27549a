"""The README's Python examples run as written (doctests, one after the
other in one namespace, as in one session)."""

import doctest
import importlib.util
import os
import pathlib
import re
import subprocess
import sys

import pytest

import vorncalc

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def examples():
    text = README.read_text()
    start = text.index("## From Python")
    section = text[start:text.index("\n## ", start + 1)]
    return re.findall(r"```python\n(.*?)```", section, re.S)


def test_the_readme_examples_give_what_they_show():
    blocks = examples()
    assert len(blocks) == 2 and "map_blocks" in blocks[1]
    if importlib.util.find_spec("dask") is None:
        blocks = blocks[:1]
    session = {}
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    for number, block in enumerate(blocks):
        test = doctest.DocTestParser().get_doctest(block, session, f"README From Python {number}", str(README), 0)
        runner.run(test, clear_globs=False)
        session = test.globs  # the test ran on a copy
    assert runner.failures == 0 and runner.tries >= 9


# The first block, the module's own calls (the second is Dask's API, which
# mypy --strict finds fault with in Dask itself).
def test_mypy_strict_takes_the_readme_examples(tmp_path):
    pytest.importorskip("mypy")
    source = "\n".join(line[4:] for line in examples()[0].splitlines() if line.startswith((">>> ", "... ")))
    (tmp_path / "examples.py").write_text(source + "\n")
    package_parent = pathlib.Path(vorncalc.__file__).resolve().parents[1]
    environment = dict(os.environ, MYPYPATH=str(package_parent))
    result = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--ignore-missing-imports", "examples.py"],
                            cwd=tmp_path, env=environment, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
