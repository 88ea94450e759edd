# Sources of core/batch.
