# Sources of core/overlay.
