# After service_cleanup_test, from the Linux side: none of the service's
# keys in the two control sets is left, while the key of a service nobody
# removed still answers the same query.
service_failed=0
for set in ControlSet001 ControlSet002; do
    for key in QuellorTestSvc 'QuellorTestSvc\Enum' 'QuellorTestSvc\Security'; do
        if quellor_wine reg query "HKLM\\SYSTEM\\$set\\Services\\$key" >/dev/null 2>&1; then
            echo "service_cleanup check: HKLM\\SYSTEM\\$set\\Services\\$key is still there" >&2
            service_failed=1
        fi
    done
done
quellor_wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\PlugPlay' >/dev/null 2>&1 ||
    { echo "service_cleanup check: reg query finds no service key at all" >&2; service_failed=1; }
[ "$service_failed" = 0 ]
