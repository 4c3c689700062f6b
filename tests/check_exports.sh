#!/usr/bin/env bash
# The plugin must export load_vyn_pft and nothing else.
set -euo pipefail
symbols=$(nm -D --defined-only "$1" | awk '{print $NF}')
if [ "$symbols" != "load_vyn_pft" ]; then
  echo "unexpected exports:"; echo "$symbols"; exit 1
fi
echo "only load_vyn_pft is exported"
