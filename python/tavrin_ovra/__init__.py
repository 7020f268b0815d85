"""Chart-panel data from recorded market data, driven by JSON commands."""

from ._tavrin_ovra import Ovra, __version__

__all__ = ["Ovra", "__version__"]
