"""The README's Python example runs as written (a doctest)."""

import doctest
import pathlib
import re

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def test_the_readme_example_gives_what_it_shows():
    text = README.read_text()
    section = text[text.index("## From Python"):]
    example = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    parser = doctest.DocTestParser()
    test = parser.get_doctest(example, {}, "README From Python", str(README), 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    assert runner.failures == 0 and runner.tries >= 6
