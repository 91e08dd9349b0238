#pragma once

#include <string>

namespace skyframe {

// Environment variable naming the data directory of an installed or moved build.
constexpr const char* kDataDirectoryVariable = "SKYFRAME_DATA_DIR";

// Puts the data directory on osgDB's data file path, so that files the scene asks for by
// name, the labels' font "cour.ttf" among them, are found there. The build tree holds one in
// which cour.ttf is a link to Liberation Mono (the metric-compatible free face of Courier
// New); SKYFRAME_DATA_DIR, when set and not empty, names another.
//
// Call once before the first label is made; further calls add nothing. Returns the
// directory. Warns on standard error when the font is not in it: labels then use osgText's
// fallback font.
std::string registerDataDirectory();

} // namespace skyframe
