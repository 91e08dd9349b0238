// Writes a terrain model for the bad-input cases: a grid of n x n vertices as one triangle
// mesh, in whatever format the file name's extension selects (.osgb for the cut files).
//
//   bad_input_terrain OUTPUT N

#include <osg/Geode>
#include <osg/Geometry>
#include <osgDB/WriteFile>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: bad_input_terrain OUTPUT N\n";
        return 2;
    }
    const std::string output = argv[1];
    const int n = std::stoi(argv[2]);
    if (n < 2 || n > 2000) {
        std::cerr << "bad_input_terrain: N must be from 2 to 2000\n";
        return 2;
    }
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            // Uneven heights keep the writer from storing the grid more compactly.
            vertices->push_back(osg::Vec3(float(i), float(j), float((i * 31 + j * 17) % 23)));
        }
    }
    osg::ref_ptr<osg::DrawElementsUInt> triangles =
        new osg::DrawElementsUInt(osg::PrimitiveSet::TRIANGLES);
    for (int i = 0; i + 1 < n; ++i) {
        for (int j = 0; j + 1 < n; ++j) {
            const unsigned a = static_cast<unsigned>(i * n + j);
            const unsigned b = a + static_cast<unsigned>(n);
            for (unsigned v : {a, a + 1, b, a + 1, b + 1, b}) {
                triangles->push_back(v);
            }
        }
    }
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices.get());
    geometry->addPrimitiveSet(triangles.get());
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry.get());
    if (!osgDB::writeNodeFile(*geode, output)) {
        std::cerr << output << ": cannot write the terrain model\n";
        return 1;
    }
    return 0;
}
