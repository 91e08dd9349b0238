#!/bin/sh
# The demo grows with the system; for now it shows the camera model's tests passing.
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
"$BUILD"/tests/camera/camera_tests --gtest_brief=1
