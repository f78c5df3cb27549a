"""Errors: FormulaError with the parser's text, position and formula;
TypeError and ValueError for calls the module cannot take."""

import pickle

import numpy as np
import pytest

import vorncalc

# formula, the parser's text, the position its marker names (None: none)
REFUSED = [
    ("sin(30", 'parse error:  missing ")"', 6),
    ("1 + * 2", "Unexpected operator:  1 +  <- here", 4),
    ("2 3", "No value expected: 2 3 <- here", 3),
    ("(1))", "No opening bracket for the last closing one found:  (1)) <- here", 4),
    # typing errors, each with a message of the language's own and its place
    ("2 * -", "Unexpected end of formula:  2 * -", 5),
    ("sum(-, 1)", 'No "," expected: sum(- <- here', 5),
    ("sin-30", "No unary operator expected: sin- <- here", 4),
    ("(1,2)", "Comma used without a function (1, <- here", 3),
    ("+1", "Unexpected operator:  +1", 0),
    ("--1", "Unexpected operator:  --1", 0),
    (")", 'No ")" expected:  )', 0),
    # text after a line feed is never dropped without a word
    ("1\n*1000", "Line feed in the formula: 1 <- here", 1),
    ("", "Formula string is empty.", None),
    ("1 +", "Unexpected end of formula:  1 +", 3),
    ("foo(2)", "Unknown token found: foo <- here", 3),
    ("x + 1", "Unknown token found: x <- here", 1),
]


@pytest.mark.parametrize("text,message,position", REFUSED)
def test_a_refused_formula_raises_formula_error(reference, text, message, position):
    with pytest.raises(vorncalc.FormulaError) as raised:
        vorncalc.Formula(text)
    error = raised.value
    assert isinstance(error, ValueError)
    assert str(error) == message
    assert error.position == position
    assert error.formula == text
    if position is not None and str(error).endswith(" <- here"):
        assert str(error).endswith(text[:position] + " <- here")


@pytest.mark.parametrize("text,message,position", REFUSED[:11])
def test_evaluate_raises_it_with_the_text_as_typed(reference, text, message, position):
    typed = text.upper()
    with pytest.raises(vorncalc.FormulaError) as raised:
        vorncalc.evaluate(typed, units="m")
    assert str(raised.value) == reference("4", typed)[len("error: "):]
    assert raised.value.position == position
    assert raised.value.formula == typed


def test_text_after_a_line_feed_is_refused_not_dropped():
    with pytest.raises(vorncalc.FormulaError, match="^Line feed in the formula: 1 <- here$") as raised:
        vorncalc.evaluate("1\n+2")
    assert raised.value.position == 1
    with pytest.raises(vorncalc.FormulaError, match="^Line feed in the formula: a <- here$"):
        vorncalc.Formula("a\n*1000", variables="a")


def test_a_refused_name_raises_formula_error():
    with pytest.raises(vorncalc.FormulaError, match="may not start with numbers") as raised:
        vorncalc.Formula("1", variables=("1x",))
    assert raised.value.position is None
    with pytest.raises(vorncalc.FormulaError, match=r"only contain.* \(the constant 'a-b'\)$"):
        vorncalc.Formula("1", constants={"a-b": 1})
    with pytest.raises(vorncalc.FormulaError, match=r"only contain.* \(the variable 'price \(\$\)'\)$"):
        vorncalc.Formula("x", variables=("x", "price ($)"))
    with pytest.raises(vorncalc.FormulaError, match="zero length"):
        vorncalc.Formula("1", functions={"": abs})


@pytest.mark.parametrize("text,shown", [("x**2", "x*"), ("2 ** x", "2 *"), ("(x)**(2)", "(x)*")])
def test_a_python_power_is_pointed_to_the_caret(text, shown):
    with pytest.raises(vorncalc.FormulaError) as raised:
        vorncalc.Formula(text, variables="x")
    assert str(raised.value) == (f"Unexpected operator:  {shown} <- here\n"
                                 "A power is written x^y here: ** is no operator")
    assert raised.value.position == len(shown)
    with pytest.raises(vorncalc.FormulaError, match="x\\^y"):
        vorncalc.evaluate("2**3")


def test_formula_error_is_an_ordinary_exception():
    error = vorncalc.FormulaError("message", 3, "1 + * 2")
    copy = pickle.loads(pickle.dumps(error))
    assert (str(copy), copy.position, copy.formula) == ("message", 3, "1 + * 2")
    bare = vorncalc.FormulaError("message")
    assert bare.position is None and bare.formula is None


def test_variables_are_given_once_each_by_position_or_keyword():
    f = vorncalc.Formula("x * y", variables=("x", "y"))
    assert f(2.0, 3.0) == f(2.0, y=3.0) == f(y=3.0, x=2.0) == 6.0
    with pytest.raises(TypeError, match="missing variable 'y'"):
        f(x=1.0)
    with pytest.raises(TypeError, match="unknown variable 'z'; the formula's variables are: x, y"):
        f(x=1.0, y=2.0, z=3.0)
    with pytest.raises(TypeError, match=r"takes 2 variables \(x, y\), but 3 values were given"):
        f(1.0, 2.0, 3.0)
    with pytest.raises(TypeError, match="variable 'x' is given twice"):
        f(1.0, 2.0, x=3.0)
    with pytest.raises(TypeError, match="unknown variable 'x'.*none"):
        vorncalc.Formula("1")(x=1)


@pytest.mark.parametrize("value", ["3", None, object(), [[1.0], [2.0, 3.0]], {"a": 1}, [1, None],
                                   np.array(["1"]), np.array([1j]), b"1"])
def test_a_value_that_is_no_number_raises_type_error(value):
    f = vorncalc.Formula("x", variables=("x",))
    with pytest.raises((TypeError, ValueError)):
        f(x=value)


def test_more_arrays_than_numpy_iterates_at_once_are_refused_with_the_limit():
    names = [f"v{i}" for i in range(40)]
    f = vorncalc.Formula("+".join(names), variables=names)
    assert f(*[np.ones(2)] * 31, *[1.0] * 9).tolist() == [40.0, 40.0]  # numbers do not count
    with pytest.raises(ValueError, match=r"^a call takes at most 31 arrays .* but 32 were given$"):
        f(*[np.ones(2)] * 32, *[1.0] * 8)


def test_pandas_objects_whose_labels_differ_are_refused_not_combined_by_position():
    pd = pytest.importorskip("pandas")
    f = vorncalc.Formula("a + b", variables=("a", "b"))
    a = pd.Series([1.0, 2.0, 3.0])
    refused = [pd.Series([30.0, 20.0, 10.0], index=[2, 1, 0]), pd.Series([1.0, 2.0, 3.0], index=[5, 6, 7])]
    for b in refused:
        with pytest.raises(ValueError, match="^the pandas objects 'a' and 'b' have different labels"):
            f(a, b=b)
        with pytest.raises(ValueError, match="different labels"):
            vorncalc.evaluate("a + b")
    b = refused[0].sort_index()
    assert f(a, b).tolist() == (a + b).tolist() == [11.0, 22.0, 33.0]
    assert f(a, b.to_numpy()[::-1]).tolist() == [31.0, 22.0, 13.0]  # arrays carry no labels
    with pytest.raises(ValueError, match="different labels"):
        f(pd.DataFrame({"x": [1.0]}), pd.DataFrame({"y": [1.0]}))


def test_arrays_that_do_not_broadcast_raise_value_error():
    f = vorncalc.Formula("x + y", variables=("x", "y"))
    with pytest.raises(ValueError, match=r"cannot be broadcast together: 'x' is \(3,\), 'y' is \(4,\)"):
        f(x=np.zeros(3), y=np.zeros(4))
    with pytest.raises(ValueError, match=r"'x' is \(2, 2\), 'y' is \(4,\)"):
        f(x=np.zeros((2, 2)), y=np.zeros(4))


@pytest.mark.parametrize("units,error", [("furlong", ValueError), (2**40, ValueError), (2.0, TypeError),
                                         (None, TypeError)])
def test_unknown_units_are_refused(units, error):
    with pytest.raises(error):
        vorncalc.evaluate("1", units=units)


def test_unit_names_as_the_terminal_calculator_takes_them():
    for name, number in [("mm", 2), ("CM", 3), ("m", 4), ("Km", 5), ("uin", 6), ("mil", 7), ("in", 8),
                         ("ft", 9), ("mi", 10), ("12", 12), ("-1", -1)]:
        assert vorncalc.Formula("1", units=name).units == number


def test_formula_arguments_are_checked():
    with pytest.raises(TypeError, match="variables are named by str, not int"):
        vorncalc.Formula("x", variables=("x", 1))
    with pytest.raises(TypeError, match="not callable"):
        vorncalc.Formula("f(1)", functions={"f": 3})
    with pytest.raises(TypeError):
        vorncalc.Formula("k", constants={"k": "three"})
    with pytest.raises(TypeError, match="constants are named by str, not int"):
        vorncalc.Formula("1", constants={1: 2.0})
    with pytest.raises(TypeError, match="functions are named by str, not bytes"):
        vorncalc.Formula("1", functions={b"f": abs})
