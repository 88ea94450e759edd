# Tests of overlay.
