"""Helpers for QuarvelDepthCamera programs: command line, capture loops, statistics, images."""
