"""Type stubs for the native module (`tavrin_ovra._tavrin_ovra`)."""

from typing import Final, final

__version__: Final[str]
__all__: list[str]

@final
class Ovra:
    """An ovra instance driven by JSON commands.

    A handle is bound to the thread that created it.
    """

    def __new__(cls, spec_json: str) -> "Ovra":
        """Build a handle from a spec JSON text ("" or "{}" for a handle without spec).

        Raises ValueError ("parse: ..." or "bad spec: ...") for a spec that does not read
        or validate.
        """
        ...
    def command(self, cmd_json: str) -> str:
        """Apply a command JSON and return the resulting response JSON."""
        ...
    @staticmethod
    def version() -> str:
        """The library version."""
        ...
