"""Dask and xarray with Formulas as their kernels: tokens that tell Formulas
apart, arrays taken positionally, and every scheduler (threads, processes,
dask.distributed)."""

import subprocess
import sys

import numpy as np
import pytest

import vorncalc

da = pytest.importorskip("dask.array")
dask = pytest.importorskip("dask")
xr = pytest.importorskip("xarray")
from dask.base import tokenize  # noqa: E402


def offset(v):
    return v + 1


def double(v):
    return 2 * v


BASE = dict(text="x * k + f(x)", variables=("x",), constants={"k": 2.0}, functions={"f": offset})
# each changes one thing that decides the results
VARIANTS = {
    "constant": dict(BASE, constants={"k": 3.0}),
    "constant's last bit": dict(BASE, constants={"k": np.nextafter(2.0, 3.0)}),
    "function": dict(BASE, functions={"f": double}),
    "text": dict(BASE, text="x * k - f(x)"),
    "units": dict(BASE, units="mm"),
    "seed": dict(BASE, units="mm", seed=1),
}


@pytest.mark.parametrize("variant", VARIANTS)
def test_formulas_that_differ_in_anything_have_different_tokens(variant):
    base = vorncalc.Formula(**BASE)
    assert tokenize(base) == tokenize(vorncalc.Formula(**BASE))
    assert tokenize(base) != tokenize(vorncalc.Formula(**VARIANTS[variant]))


def test_threads_decide_no_value_and_leave_the_token_alone():
    assert tokenize(vorncalc.Formula(**BASE)) == tokenize(vorncalc.Formula(**BASE, threads=3))


def test_map_blocks_tells_formulas_that_differ_in_constants_apart():
    x = da.arange(12.0, chunks=4)
    f1 = vorncalc.Formula("x + k", variables=("x",), constants={"k": 1})
    f2 = vorncalc.Formula("x + k", variables=("x",), constants={"k": 2})
    difference = da.map_blocks(f2, x) - da.map_blocks(f1, x)
    assert difference.compute(scheduler="threads").tolist() == [1.0] * 12


def test_map_blocks_and_apply_ufunc_take_a_formula_as_it_stands():
    f = vorncalc.Formula("x * y + 1", variables=("x", "y"))
    xs = np.arange(12.0).reshape(3, 4)
    ys = np.linspace(0, 1, 4)
    x, y = da.from_array(xs, chunks=(2, 2)), da.from_array(ys, chunks=2)
    assert np.array_equal(da.map_blocks(f, x, y, dtype=float).compute(scheduler="sync"), xs * ys + 1)
    a = xr.DataArray(np.arange(3.0), dims="a")
    b = xr.DataArray(np.arange(4.0), dims="b")
    result = xr.apply_ufunc(f, a, b)
    assert result.dims == ("a", "b")
    assert np.array_equal(result.values, np.arange(3.0)[:, None] * np.arange(4.0) + 1)


# Dask names the task after the callable and later splits that name at "-"
@pytest.mark.parametrize("text", ["x - 1", "-x", "x*2"])
def test_dask_gufuncs_and_parallelized_apply_ufunc_take_a_formula_with_any_text(text):
    f = vorncalc.Formula(text, variables="x")
    xs = np.arange(6.0)
    expected = np.array([f(x) for x in xs])
    arr = xr.DataArray(xs, dims="t").chunk(3)
    result = xr.apply_ufunc(f, arr, dask="parallelized", output_dtypes=[float])
    assert np.array_equal(result.compute().values, expected)
    gufunc = da.apply_gufunc(f, "()->()", da.from_array(xs, chunks=3), output_dtypes=float)
    assert np.array_equal(gufunc.compute(), expected)
    assert f.__name__ == f.__qualname__ == "Formula" == vorncalc.Formula.__name__


@pytest.mark.parametrize("scheduler", ["threads", "processes"])
def test_every_local_scheduler_evaluates_a_formula(scheduler):
    f = vorncalc.Formula("x * k + f(x)", variables=("x",), constants={"k": 3}, functions={"f": offset})
    x = da.arange(1000.0, chunks=100)
    values = da.map_blocks(f, x).compute(scheduler=scheduler)
    assert np.array_equal(values, np.arange(1000.0) * 4 + 1)


CLUSTER = """
import dask.array as da, distributed, numpy as np, vorncalc
if __name__ == "__main__":
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        f = vorncalc.Formula("sqrt(x^2 + y^2)", variables=("x", "y"))
        values = client.compute(da.map_blocks(f, da.arange(10_000.0, chunks=1000), 4.0)).result()
    assert np.array_equal(values, np.sqrt(np.arange(10_000.0) ** 2 + 16))
    print("evaluated")
"""


def test_a_distributed_cluster_evaluates_a_formula(tmp_path):
    # In a process of its own: the cluster's threads stay out of this one.
    pytest.importorskip("distributed")
    script = tmp_path / "cluster.py"
    script.write_text(CLUSTER)
    result = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=300)
    assert result.stdout.strip() == "evaluated", result.stderr


def test_chunks_on_dasks_threads_give_the_values_of_one_thread():
    # Each chunk long enough to spread; the calls under way share the
    # process-wide default of threads out among themselves.
    xs = np.random.default_rng(4).uniform(-5, 5, 8 * 70_000)
    f = vorncalc.Formula("x * x - sqrt(abs(x)) / 3", variables=("x",))
    one = vorncalc.Formula(f.text, variables=f.variables, threads=1)
    x = da.from_array(xs, chunks=70_000)
    computed = da.map_blocks(f, x, dtype=float).compute(scheduler="threads", num_workers=4)
    assert computed.tobytes() == one(xs).tobytes()
