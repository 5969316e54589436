"""A picture of a saved run: one panel per identifier name, one line per device, channel
and measurement channel, time since the run's first point on the x axis."""
from __future__ import annotations

import os
import sys
from typing import TYPE_CHECKING, Dict, List, Optional, Tuple

import numpy as np

from .saved import Series, StrPath, find_series

if TYPE_CHECKING:  # pragma: no cover
    from matplotlib.figure import Figure

MAX_POINTS_PER_LINE = 20000


def plot_lines(root: StrPath) -> Dict[str, List[Tuple[Series, np.ndarray, np.ndarray]]]:
    """{name: [(series, seconds since the run's first point, values), ...]}: what
    :func:`plot` draws, every line thinned to at most MAX_POINTS_PER_LINE points. Series
    without points (measurement channels a module does not have) are left out."""
    panels: Dict[str, List[Tuple[Series, np.ndarray, np.ndarray]]] = {}
    loaded = [(series, *series.points()) for series in find_series(root)]
    loaded = [(series, times, values) for series, times, values in loaded if len(times)]
    if not loaded:
        return panels
    origin = min(times[0] for _, times, _ in loaded)
    for series, times, values in loaded:
        step = max(1, len(times) // MAX_POINTS_PER_LINE)
        seconds = (times[::step] - origin) / np.timedelta64(1, "s")
        panels.setdefault(series.name, []).append((series, seconds, values[::step]))
    return dict(sorted(panels.items()))


def plot(root: StrPath, output: Optional[StrPath] = None, show: bool = False) -> "Figure":
    """Draws the run below root into output (a PNG; default root/plot.png) and returns the
    figure. show also opens a window where there is a display. Raises FileNotFoundError when
    there is nothing to draw. Needs matplotlib (python3-matplotlib)."""
    has_display = bool(os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")) or sys.platform in (
        "win32", "darwin")
    import matplotlib

    if not (show and has_display):
        matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    panels = plot_lines(root)
    if not panels:
        raise FileNotFoundError(f"no saved samples below {root}")
    figure, axes = plt.subplots(len(panels), 1, sharex=True, squeeze=False, figsize=(9, 2.4 * len(panels) + 0.6))
    for axis, (name, lines) in zip(axes[:, 0], panels.items()):
        for series, seconds, values in lines:
            axis.plot(seconds, values, linewidth=0.8, label=series.label())
        axis.set_title(name, loc="left", fontsize=10)
        axis.set_ylabel("value")
        axis.grid(True, alpha=0.3)
        axis.legend(loc="upper right", fontsize=7, ncol=min(len(lines), 6))
    axes[-1, 0].set_xlabel("time since the first point (s)")
    figure.tight_layout()
    figure.savefig(output if output is not None else os.path.join(root, "plot.png"), dpi=80)
    if show:
        if has_display:
            plt.show()
        else:
            print("plot: no display here, wrote the file only", file=sys.stderr)
    return figure
