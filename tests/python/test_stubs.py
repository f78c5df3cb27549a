"""The type stubs beside the module describe what the module has."""

import ast
import pathlib

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
    assert [a.arg for a in init.args.args] == ["self", "text", "variables", "functions", "constants", "units", "seed"]
