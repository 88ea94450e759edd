# Tests of cli.
