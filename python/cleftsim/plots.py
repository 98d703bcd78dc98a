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


def plot_fit(result, axes=None):
    """A fit: the recording with its own standard errors, the model at the
    estimates as a curve over every potential (FitResult.model_curve, through
    the fit's model values at the measured potentials), and the profile of each free parameter. Draws on
    the axes given (one for the data alone, or one more than the free
    parameters) or a new figure; returns the figure."""
    profiles = result._members["profiles"]
    if axes is not None and not isinstance(axes, (list, tuple, np.ndarray)):
        figure, axes = axes.figure, [axes]
    else:
        figure, axes = _axes(1 + len(profiles), axes, 3.6)
    points = [p for p in result._members["points"] if p["quantity"] == "peak_pA"]
    ax = axes[0]
    curve = result.model_curve()
    ax.plot(curve["V2_mV"], curve["mean_peak_pA"], "-", color="tab:blue", linewidth=1,
            label="model at the estimates")
    V = np.array([p["V2_mV"] for p in points])
    data = np.array([p["data"] for p in points], dtype=float)
    sem = np.array([np.nan if p["data_sem"] is None else p["data_sem"] for p in points], dtype=float)
    ax.errorbar(V, data, yerr=np.where(np.isnan(sem), 0, sem), fmt="s", markersize=4, color="#aa4400",
                ecolor="#aa4400", capsize=2, label="recording, mean ± s.e.m.")
    ax.axhline(0, color="grey", linewidth=0.5)
    ax.set_xlabel("clamp potential V2 (mV)")
    ax.set_ylabel("mean peak current (pA)")
    ax.legend(fontsize="small")
    for ax, (name, rows) in zip(axes[1:], profiles.items()):
        info = result._parameter(name)
        ax.plot([r[name] for r in rows], [r["delta"] for r in rows], ".-", color="black", label="profile")
        ax.axhline(3.841458820694124, color="grey", linestyle=":", label="3.84 (95 %)")
        low, high = result.intervals[name]
        ax.axvspan(low, high, color="silver", alpha=0.5, label="95 % interval")
        ax.set_xlabel(f"{name} ({info['unit']})" if info["unit"] else name)
        ax.set_ylabel("-2 log L above its minimum")
        ax.legend(fontsize="small")
    if len(axes) > 1:
        figure.tight_layout()
    return figure
