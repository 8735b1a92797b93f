#!/usr/bin/env bash
# export, import and play from the command line, and the files they write
# opened by tools others wrote. Usage: exchange_test.sh ZENTROPE SOURCE_DIR
set -u
zentrope=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ZENTROPE_INI="$work/zentrope.ini"
export ZENTROPE_PROJECTS="$work/PROJECTS.BRX"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "exchange: all passed"
