// replaced by the screen sources
