// placeholder, replaced by real sources
