#!/usr/bin/env bash
# Fails when code outside the store builds SQL (or a find criterion) by pasting values into text:
# a string literal holding an SQL word or ending in "=" next to "+", ".arg(" or "%".
# Usage: check-sql.sh <folder>   (the store folder itself is skipped)
set -uo pipefail
root="${1:?usage: check-sql.sh <folder>}"
words='select|insert|update|delete|where|values|order[[:space:]]+by|group[[:space:]]+by|from|join|like'
literal="\"[^\"]*\\b(${words})\\b[^\"]*\"|\"[^\"]*=[[:space:]]*\""
found=$(grep -rInE --include='*.cpp' --include='*.h' \
          -e "(${literal})\\)?[[:space:]]*(\\+|%|\\.arg\\()" \
          -e "(\\+|%)[[:space:]]*(QStringLiteral\\(|QLatin1String\\(|QString\\()?(${literal})" \
          "$root" | grep -v -E "^${root%/}/store/" | grep -i -E "${words}|=[[:space:]]*\"" || true)
if [ -n "$found" ]; then
  echo "SQL built by concatenation outside the store (bind the values with a store::Query):"
  echo "$found"
  exit 1
fi
echo "no SQL built by concatenation outside the store"
