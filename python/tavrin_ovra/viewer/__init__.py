"""A local viewer: an HTTP server on one handle and a page that scrubs through the frames.

``tavrin-ovra view`` starts it from the command line; from Python::

    from tavrin_ovra.viewer import open_session, start_server
    session = open_session(dataset_text, spec_text)
    server = start_server(session)          # 127.0.0.1, a free port
    print(server.url)
"""

from .handle_thread import HandleThread
from .server import ViewerServer, start_server
from .session import Reply, Session, open_session

__all__ = ["HandleThread", "Reply", "Session", "ViewerServer", "open_session", "start_server"]
