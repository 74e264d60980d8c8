#!/usr/bin/env bash
# Fails when a library exports a defined dynamic symbol that is not an Orvex_* function.
set -u
status=0
for lib in "$@"; do
    all=$(nm -D --defined-only "$lib" | awk '{print $3}')
    bad=$(printf '%s\n' "$all" | grep -v -E '^(Orvex_[A-Za-z0-9_]+)$' | grep -v '^$' || true)
    count=$(printf '%s\n' "$all" | grep -c -E '^Orvex_' || true)
    if [ -n "$bad" ]; then
        echo "$lib exports symbols outside the Orvex_ prefix:"; echo "$bad"; status=1
    fi
    if [ "$count" -lt 3 ]; then
        echo "$lib exports only $count Orvex_ symbols"; status=1
    fi
    echo "$lib: $count Orvex_ exports"
done
exit $status
