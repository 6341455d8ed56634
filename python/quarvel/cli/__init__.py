"""The subcommands of the quarvel command, one module each (see quarvel.__main__)."""
