# Tests of settings.
