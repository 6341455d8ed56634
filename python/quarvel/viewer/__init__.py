"""The live viewer: a web page served by the board (quarvel view)."""
