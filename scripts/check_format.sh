#!/bin/sh
# Fails, listing the files, when a C++ source differs from what clang-format
# makes of it with the committed .clang-format (the generated prime table,
# an .inc file, is left as its generator writes it).
set -eu
cd "$(dirname "$0")/.."
bad=$(git ls-files '*.h' '*.cpp' | while read -r f; do
    clang-format --style=file "$f" | cmp -s - "$f" || echo "$f"
done)
if [ -n "$bad" ]; then
    echo "check_format: not formatted (run clang-format -i on them):" >&2
    echo "$bad" >&2
    exit 1
fi
