#!/bin/sh
# The value round trips across widths: one build's program stores, the other's fetches and compares.
# Usage: cross_width.sh WINE_RUN STORING_PROGRAM FETCHING_PROGRAM
wine_run=$1
HARBINET_ROUND_TRIP_PHASE=store "$wine_run" "$2" || exit 1
HARBINET_ROUND_TRIP_PHASE=fetch exec "$wine_run" "$3"
