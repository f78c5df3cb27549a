"""The type stubs beside the module describe what the module has."""

import ast
import os
import pathlib
import subprocess
import sys

import pytest

import vorncalc


def stub_tree():
    path = pathlib.Path(vorncalc.__file__).with_name("_vorncalc.pyi")
    return ast.parse(path.read_text(), filename=str(path))


def test_the_stubs_name_every_public_name_of_the_module():
    tree = stub_tree()
    stubbed = {node.name for node in tree.body if isinstance(node, (ast.ClassDef, ast.FunctionDef))}
    stubbed |= {node.target.id for node in tree.body if isinstance(node, ast.AnnAssign)}
    public = {name for name in dir(vorncalc) if not name.startswith("_")} | {"__version__"}
    assert public <= stubbed


def test_the_stubs_name_every_member_of_formula():
    tree = stub_tree()
    formula = next(node for node in tree.body if isinstance(node, ast.ClassDef) and node.name == "Formula")
    stubbed = {node.name for node in formula.body if isinstance(node, ast.FunctionDef)}
    public = {name for name in vars(vorncalc.Formula) if not name.startswith("_")} | {"__init__", "__call__"}
    assert public <= stubbed


def test_the_stubbed_parameters_are_the_modules():
    tree = stub_tree()
    functions = {node.name: node for node in ast.walk(tree) if isinstance(node, ast.FunctionDef)}
    assert [a.arg for a in functions["evaluate"].args.args] == ["text", "units", "seed"]
    init = next(node for node in ast.walk(tree) if isinstance(node, ast.ClassDef) and node.name == "Formula")
    init = next(node for node in init.body if isinstance(node, ast.FunctionDef) and node.name == "__init__")
    assert [a.arg for a in init.args.args] == ["self", "text", "variables", "functions", "constants", "units", "seed",
                                             "math", "threads"]


def test_mypy_finds_the_stubs_and_they_match_the_module(tmp_path):
    # stubtest imports the package and compares it with the stubs that mypy
    # finds for it: a name missing on either side, or a stub mypy refuses,
    # fails.
    pytest.importorskip("mypy")
    package_parent = pathlib.Path(vorncalc.__file__).resolve().parents[1]
    allowlist = pathlib.Path(__file__).with_name("stubtest_allowlist.txt")
    environment = dict(os.environ, MYPYPATH=str(package_parent), PYTHONPATH=str(package_parent))
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "--allowlist", str(allowlist), "vorncalc"],
                            cwd=tmp_path, env=environment, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
