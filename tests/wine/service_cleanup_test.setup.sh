# The test service, registered with Wine's service manager the way an
# installer registers one; the test program starts it.
#
# Windows keeps a service's key in the control set CurrentControlSet links
# to (ControlSet001) and a copy in ControlSet002, each with Enum and
# Security subkeys. Wine 8 keeps CurrentControlSet as a key of its own and
# has neither numbered set, so the service's key is copied into both, with
# the two subkeys, to give the registry the layout the program meets on
# Windows. Wine's own key stays where its service manager reads it.
cp "$(dirname "$program")/test_service.exe" "$DRIVE_C/tests/"
service_setup() {
    quellor_wine "$@" >/dev/null 2>&1 || { echo "setup: $*" >&2; return 1; }
}
service_setup sc create QuellorTestSvc binpath= 'C:\tests\test_service.exe' start= demand
for set in ControlSet001 ControlSet002; do
    quellor_reg copy 'HKLM\SYSTEM\CurrentControlSet\Services\QuellorTestSvc' \
        "HKLM\\SYSTEM\\$set\\Services\\QuellorTestSvc" /s /f
    for subkey in Enum Security; do
        quellor_reg add "HKLM\\SYSTEM\\$set\\Services\\QuellorTestSvc\\$subkey" /f
    done
done
