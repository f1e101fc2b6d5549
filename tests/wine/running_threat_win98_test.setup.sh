# The same scenario with Wine reporting Windows 98 to every program started
# from here on, the test program and Quellor.exe included.
source "$hookdir/running_threat_nt_test.setup.sh"
wine_set_version win98
