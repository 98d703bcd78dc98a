"""Draws the mean Is vs V2 curves of the default synapse for three cleft
resistances from one grid, as in the README's "From Python":

    PYTHONPATH=build/release/python /usr/bin/python3 python/examples/isv_three_rg.py doc/images/python-isv-rg.png
"""

import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import cleftsim  # noqa: E402

table = cleftsim.grid("isv", {"Rg": [0.0, 1.0, 3.0]}, seed=2024, trials=2000)

figure, (quanta, current) = plt.subplots(1, 2, figsize=(9, 3.6), layout="constrained")
for Rg, sweep in table.groupby("Rg"):
    label = f"Rg = {Rg:.2f} GOhm"
    quanta.plot(sweep.V2_mV, sweep.mean_quanta, label=label)
    current.plot(sweep.V2_mV, sweep.mean_peak_pA, label=label)
quanta.set(xlabel="V2 [mV]", ylabel="mean quanta per trial")
current.set(xlabel="V2 [mV]", ylabel="mean peak current [pA]")
for axes in (quanta, current):
    axes.axvline(0, color="grey", linewidth=0.5)
    axes.grid(alpha=0.3)
current.axhline(0, color="grey", linewidth=0.5)
quanta.legend()
figure.suptitle("Is vs V2, default synapse, 2000 trials per potential")
figure.savefig(sys.argv[1] if len(sys.argv) > 1 else "isv-three-rg.png", dpi=100)
