"""result.plot(): the windows' figures drawn with matplotlib from the result's
own numbers, and a clear ImportError without matplotlib."""

import sys

import numpy as np
import pytest

import cleftsim

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")


@pytest.mark.parametrize(
    "experiment, kwargs, panels",
    [
        ("isv", dict(seed=3, trials=4), 2),
        ("isv", dict(seed=3, trials=4, background=True, Gb=0.02), 3),
        ("histograms", dict(seed=3, trials=200), 4),
        ("records", dict(seed=1, trials=3), 1),
    ],
)
def test_plot_draws_the_results_numbers(experiment, kwargs, panels):
    result = getattr(cleftsim, experiment)(**kwargs)
    figure = result.plot()
    assert len(figure.axes) == panels
    first = figure.axes[0]
    if experiment == "isv":
        # The mean curves and their bands are the result's columns.
        for ax, name in zip(figure.axes, ["quanta", "peak_pA", "epsc_pA"]):
            x, y = ax.lines[0].get_data()
            np.testing.assert_array_equal(x, result["V2_mV"])
            np.testing.assert_array_equal(y, result["mean_" + name])
            band = ax.collections[0].get_paths()[0].vertices[:, 1]
            mean, sd = result["mean_" + name], result["std_" + name]
            assert np.nanmax(band) == pytest.approx(np.nanmax(mean + sd))
    elif experiment == "histograms":
        heights = [bar.get_height() for bar in first.patches]
        np.testing.assert_allclose(heights, result["quanta"] / 200)
        assert first.patches[0].get_facecolor()[:3] == (1.0, 1.0, 1.0)  # the failures
    else:
        assert len(first.lines) == 3
        for line, current in zip(first.lines, result["currents_pA"]):
            np.testing.assert_array_equal(line.get_ydata(), current)
    # Drawn on axes of one's own, of the right number.
    import matplotlib.pyplot as plt

    _, own = plt.subplots(1, panels)
    assert result.plot(own).axes[0] is np.atleast_1d(own)[0]
    with pytest.raises(ValueError, match="axes needed"):
        result.plot(np.atleast_1d(own)[:1] if panels > 1 else [own, own])
    plt.close("all")


def test_plot_without_matplotlib_says_so(monkeypatch):
    result = cleftsim.isv(seed=1, trials=1)
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    with pytest.raises(ImportError, match="matplotlib"):
        result.plot()
