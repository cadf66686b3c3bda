# Sourced by the scripts: what they share.

# The Windows form of an absolute Linux path on the Linux build: drive Z:
# is the root of the file system, as under Wine.
win_path() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }
