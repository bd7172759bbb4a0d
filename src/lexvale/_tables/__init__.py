"""Tables written by the scripts of tools/ (each says which), checked by the suite: never edited by hand."""
