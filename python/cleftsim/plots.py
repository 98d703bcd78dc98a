"""The windows' figures of a result drawn with matplotlib, for notebooks and
papers: result.plot() on a sweep, a Histograms run or Records trials."""

import numpy as np


def _pyplot():
    try:
        import matplotlib.pyplot as plt
    except ImportError as error:
        raise ImportError(
            "result.plot() draws with matplotlib, which is not installed "
            "(Debian: apt install python3-matplotlib; elsewhere: pip install matplotlib)"
        ) from error
    return plt


def _axes(count, axes, width):
    """count axes side by side in a new figure, or those given."""
    plt = _pyplot()
    if axes is None:
        figure, made = plt.subplots(1, count, figsize=(width * count, 3.2), squeeze=False)
        return figure, list(made[0])
    axes = list(np.atleast_1d(axes))
    if len(axes) != count:
        raise ValueError(f"plot: {count} axes needed, {len(axes)} given")
    return axes[0].figure, axes


def _title(result):
    p = result.provenance
    seeds = p.get("seeds", p.get("seed"))
    return f"{p.get('experiment', '')}, {p.get('trials', '')} trials, seed {seeds}"


def plot_isv(result, axes=None):
    """Quanta, peak current and (with the background conductance) EPSC
    amplitude against the clamp potential: the means with a band of one
    standard deviation either side."""
    background = bool(result.provenance.get("BackgroundOn", 0))
    panels = [("mean_quanta", "std_quanta", "number of quanta released, m"),
              ("mean_peak_pA", "std_peak_pA", "synaptic current (pA)")]
    if background:
        panels.append(("mean_epsc_pA", "std_epsc_pA", "EPSC amplitude (pA)"))
    figure, axes = _axes(len(panels), axes, 3.4)
    V = result["V2_mV"]
    for ax, (mean, sd, label) in zip(axes, panels):
        m, s = result[mean], result[sd]
        ax.fill_between(V, m - s, m + s, color="silver", linewidth=0, label="± 1 SD")
        ax.plot(V, m, color="black", linewidth=1, label="mean")
        ax.set_xlabel("potential, V2 (mV)")
        ax.set_ylabel(label)
        ax.set_xlim(V.min(), V.max())
    axes[0].set_title(_title(result), loc="left", fontsize="small")
    figure.tight_layout()
    return figure


def plot_histograms(result, axes=None):
    """The four histograms of the window: the number of quanta (failures
    white), the peak current, the latency of the first release (the last bar
    holds the failures and the late releases, white) and their joint map."""
    figure, axes = _axes(4, axes, 3.0)
    trials = max(1, int(result.provenance.get("trials", 1)))
    quanta = result.table("quanta")
    colours = ["white"] + ["black"] * (len(quanta) - 1)
    axes[0].bar(quanta["m"], quanta["trials"] / trials, color=colours, edgecolor="black", width=0.9)
    axes[0].set_xlabel("number of quanta released, m")
    axes[0].set_ylabel("fraction of trials")
    current = result.table("current")
    if len(current):
        pA = current["current_pA"]
        width = float(pA.iloc[1] - pA.iloc[0]) if len(current) > 1 else 1.0
        axes[1].bar(current["current_pA"], current["trials"] / trials, color="black", width=0.9 * width)
    axes[1].set_xlabel("peak current (pA)")
    latency = result.table("latency")
    colours = ["black"] * (len(latency) - 1) + ["white"]
    axes[2].bar(latency["t_ms"], latency["trials"] / trials, color=colours, edgecolor="black", width=0.045)
    axes[2].set_xlabel("latency of the first release (ms)")
    joint = result["joint"]
    axes[3].imshow(joint.T, origin="lower", aspect="auto", cmap="Greys", interpolation="nearest",
                   extent=(-0.5, joint.shape[0] - 0.5, 0, joint.shape[1] * 0.05))
    axes[3].set_xlabel("number of quanta released, m")
    axes[3].set_ylabel("latency (ms)")
    r = result.get("r", np.nan)
    if np.isfinite(r):
        axes[3].set_title(f"r = {r:.2f}", fontsize="small")
    axes[0].set_title(_title(result), loc="left", fontsize="small")
    figure.tight_layout()
    return figure


def plot_records(result, axes=None):
    """The synaptic current of every trial against time."""
    figure, axes = _axes(1, axes, 5.0)
    ax = axes[0]
    for current in np.atleast_2d(result["currents_pA"]):
        ax.plot(result["t_ms"], current, color="black", linewidth=0.8)
    ax.set_xlabel("time (ms)")
    ax.set_ylabel("synaptic current (pA)")
    ax.set_xlim(result["t_ms"][0], result["t_ms"][-1])
    ax.set_title(_title(result), loc="left", fontsize="small")
    figure.tight_layout()
    return figure
