#pragma once

#include <osg/Geode>
#include <osg/Vec3f>
#include <osg/Vec4f>
#include <osg/ref_ptr>

#include <string>

namespace skyframe {

// Font of the labels, looked up by osgText on osgDB's data file path (see DataDirectory.h
// for how this name finds a font on a system without it).
constexpr const char* kLabelFont = "cour.ttf";
constexpr float kLabelCharacterSize = 50.0f; // metres, in the scene's units
const osg::Vec4f kLabelColour{1.0f, 0.0f, 0.0f, 1.0f};
// From the reference point to the label, along the Earth-centred axes (metres): not the
// local vertical, so the label is not exactly above its point.
const osg::Vec3f kLabelOffset{0.0f, -10.0f, 40.0f};

// A red text label that always faces the viewer, at position + kLabelOffset (Earth-centred
// metres), showing `text` unchanged. A font that cannot be found only draws a warning from
// osgText, which then uses its default font.
osg::ref_ptr<osg::Geode> makeLabel(const osg::Vec3f& position, std::string text);

} // namespace skyframe
