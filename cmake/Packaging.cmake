# Packaging is filled in below for Linux builds.
