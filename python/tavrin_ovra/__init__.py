"""Chart-panel data from recorded market data, driven by JSON commands.

    >>> from tavrin_ovra import Ovra
    >>> Ovra("").command('{"cmd":"version"}')
    '{"version":"0.1.6"}'
"""

from ._tavrin_ovra import Ovra, __version__

__all__ = ["__version__", "Ovra"]
