"""The quarvel package: recording and playback of Quarvel depth cameras."""
from quarvel.recording import Playback, record


def open(source: str, **options):
    """Opens `source` as a camera; "file:PATH" plays back the MCAP recording at PATH."""
    if source.startswith("file:"):
        return Playback(source[len("file:"):], **options)
    raise ValueError(f"unknown camera source {source!r} (expected file:PATH)")


__all__ = ["Playback", "open", "record"]
