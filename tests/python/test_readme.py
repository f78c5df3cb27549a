"""The README's Python examples run as written (doctests, one after the
other in one namespace, as in one session)."""

import doctest
import importlib.util
import pathlib
import re

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
