#!/usr/bin/env bash
# Ends a test whose outside tool is absent: outside continuous integration the test is skipped
# (exit 77, which its ctest entry takes as a skip) and names the tool; under CI (CI set, and not to
# 0 or false) it fails, so that a missing install step can never turn CI green while testing less.
#   missing-tool.sh <tool>
echo "missing test tool: $1"
case "${CI:-}" in
  "" | 0 | false | FALSE | False) exit 77 ;;
  *) echo "CI requires every test tool"; exit 1 ;;
esac
