#!/bin/sh
# Runs a command with its standard error joined to its output, then prints
# its exit status, so that a test can match both.
"$@" 2>&1
echo "status=$?"
