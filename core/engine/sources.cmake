# Sources of core/engine.
