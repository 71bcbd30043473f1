#!/bin/sh
# The bench measures a row and exits cleanly: its candidates hold the
# reference libraries' contexts, which must go before the libraries do.
set -eu
out=$("$1" --quick --filter 'MD5 64B' --benchmark_min_time=0.001 --benchmark_repetitions=2)
printf '%s\n' "$out" | grep -q '^MD5 64B  *portable '
