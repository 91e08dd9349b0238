#pragma once

// Scene graphs as the bytes of OpenSceneGraph's binary format (.osgb), written into memory.

#include <osg/Node>

#include <string>

namespace skyframe {

// A scene graph as the bytes of an .osgb file, the same bytes as OpenSceneGraph's own osgb
// writer gives for it without options. The bytes depend on nothing but the graph, so the
// same graph always gives the same file. Throws std::runtime_error when OpenSceneGraph cannot
// write it (`what` names it).
std::string osgbBytes(const osg::Node& node, const std::string& what);

// Makes sure the serializers of every node type the tiles use are loaded before threads
// write at once: OpenSceneGraph loads them on first use.
void prepareOsgbWriter();

} // namespace skyframe
