# Tests of batch.
