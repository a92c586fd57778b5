#!/usr/bin/env bash
# Fails when a C++ source of the project is not laid out as .clang-format says (clang-format 14).
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
echo "format: every C++ source as .clang-format says"
