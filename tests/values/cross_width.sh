#!/bin/sh
# The value round trips across widths: one build's test program stores every value, the
# other build's program fetches them and compares them with what it would have stored.
# Usage: cross_width.sh WINE_RUN STORING_PROGRAM FETCHING_PROGRAM
wine_run=$1
HARBINET_ROUND_TRIP_PHASE=store "$wine_run" "$2" || exit 1
HARBINET_ROUND_TRIP_PHASE=fetch exec "$wine_run" "$3"
