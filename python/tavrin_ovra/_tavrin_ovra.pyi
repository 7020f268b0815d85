# Type stubs of the native module.
from typing import final

__version__: str
__all__: list[str]

@final
class Ovra:
    def __new__(cls, spec_json: str) -> "Ovra": ...
    def command(self, cmd_json: str) -> str: ...
    @staticmethod
    def version() -> str: ...
