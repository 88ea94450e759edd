# Tests of metadata.
