"""Texts the parser cannot read and names given twice are refused with
FormulaError, whose message holds whole characters and whose position
counts characters; a message about the end has the end as its place."""

import collections
import types

import pytest

import vorncalc

# text, the text up to the character refused
UNREADABLE = [
    ("2*π", "2*π"),
    ("5°", "5°"),
    ("é+1", "é"),
    ("1 + 2 – 3", "1 + 2 –"),  # an en dash
    ("x😀", "x😀"),
    ("1+2\x00garbage(", "1+2\x00"),
    ("\x00", "\x00"),
    ("\ud800 + 1", "\ud800"),  # a lone surrogate, which UTF-8 cannot hold
]


@pytest.mark.parametrize("text,read", UNREADABLE)
@pytest.mark.parametrize("make", [
    lambda text: vorncalc.evaluate(text),
    lambda text: vorncalc.Formula(text, variables="x"),
    lambda text: vorncalc.Formula(text, units="mm"),
])
def test_a_character_outside_ascii_or_a_nul_is_refused(make, text, read):
    with pytest.raises(vorncalc.FormulaError) as raised:
        make(text)
    assert str(raised.value) == f"Unknown token found: {read} <- here"
    assert raised.value.position == len(read)
    assert raised.value.formula == text


@pytest.mark.parametrize("names", [
    dict(variables=("é",)),
    dict(constants={"k°": 1}),
    dict(functions={"ƒ": abs}),
    dict(variables=("x\x00y",)),
    dict(variables=("\ud800",)),
])
def test_a_name_outside_ascii_is_refused_in_whole_characters(names):
    with pytest.raises(vorncalc.FormulaError) as raised:
        vorncalc.Formula("1", **names)
    assert "\ufffd" not in str(raised.value) and "\\x" not in str(raised.value)


# formula, the position: the end of the text where the message is about it
AT_THE_END = [("1 +", 3), ("sin(30", 6), ("(1 + (2)", 8), ("max(1, ", 7)]


@pytest.mark.parametrize("text,position", AT_THE_END)
def test_a_message_about_the_end_has_the_end_as_its_position(text, position):
    with pytest.raises(vorncalc.FormulaError) as raised:
        vorncalc.Formula(text)
    assert raised.value.position == position == len(text)
    with pytest.raises(vorncalc.FormulaError) as raised:
        vorncalc.evaluate(text.upper())
    assert raised.value.position == len(text)


# what the Formula is made with, what the message says
GIVEN_TWICE = [
    (dict(variables=("x", "x")), "the name 'x' is given twice as a variable"),
    (dict(variables=("x",), constants={"x": 5}), "'x' is given as a variable and as a constant"),
    (dict(variables=("x",), functions={"x": abs}), "'x' is given as a variable and as a function"),
    (dict(constants={"k": 1}, functions={"k": abs}), "'k' is given as a constant and as a function"),
]


@pytest.mark.parametrize("made_with,message", GIVEN_TWICE)
def test_a_name_given_twice_is_refused_when_the_formula_is_made(made_with, message):
    with pytest.raises(vorncalc.FormulaError, match=message) as raised:
        vorncalc.Formula("x + k", **made_with)
    assert isinstance(raised.value, ValueError) and raised.value.position is None


# a variable the vocabulary's function or constant would hide: never read
HIDDEN = [
    ("pi * 2", dict(variables=("pi",), units="mm"), "'pi' has the name of a constant"),
    ("_pi + x", dict(variables=("x", "_pi")), "'_pi' has the name of a constant"),
    ("x + 1", dict(variables=("x", "sqrt")), "'sqrt' has the name of a function"),
    ("x + 1", dict(variables=("x", "rnd"), units=2), "'rnd' has the name of a function"),
]


@pytest.mark.parametrize("text,made_with,message", HIDDEN)
def test_a_variable_the_vocabulary_hides_is_refused(text, made_with, message):
    with pytest.raises(vorncalc.FormulaError, match=message):
        vorncalc.Formula(text, **made_with)


def test_names_the_vocabulary_does_not_hide_are_variables():
    assert vorncalc.Formula("mm * 2", variables=("mm",), units="mm")(mm=7) == 14.0
    assert vorncalc.Formula("pi * 2", variables=("pi",))(pi=7) == 14.0  # no pi without units


class Names(collections.abc.Sequence):
    def __init__(self, *names):
        self.names = names

    def __getitem__(self, index):
        return self.names[index]

    def __len__(self):
        return len(self.names)


class Constants(collections.abc.Mapping):
    def __getitem__(self, name):
        return {"k": 2.0}[name]

    def __iter__(self):
        return iter(["k"])

    def __len__(self):
        return 1


@pytest.mark.parametrize("made_with", [
    dict(variables=Names("x", "y")),
    dict(variables=["x", "y"]),
    dict(variables=(name for name in "xy")),
    dict(variables=("x", "y"), constants=types.MappingProxyType({"k": 2.0})),
    dict(variables=("x", "y"), constants=Constants()),
    dict(variables=("x", "y"), functions=types.MappingProxyType({"f": abs})),
])
def test_any_sequence_and_mapping_the_stubs_promise_is_taken(made_with):
    f = vorncalc.Formula("x + y", **made_with)
    assert f.variables == ("x", "y") and f(1.0, 2.0) == 3.0


def test_one_str_is_one_variable():
    assert vorncalc.Formula("xy * 2", variables="xy")(xy=2) == 4.0


@pytest.mark.parametrize("not_a_mapping", [[("k", 1)], "k", 3])
def test_constants_and_functions_are_mappings(not_a_mapping):
    with pytest.raises(TypeError, match="takes a mapping"):
        vorncalc.Formula("1", constants=not_a_mapping)
