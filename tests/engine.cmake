# Tests of engine.
