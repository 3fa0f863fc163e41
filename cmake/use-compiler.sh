#!/bin/sh
# Compiler and linker launcher: runs the compiler named first in place of the
# one CMake chose for the project (named second), with the same arguments.
# The shipped library uses it to build with a thread model of its own.
set -e
compiler=$1
shift 2
exec "$compiler" "$@"
