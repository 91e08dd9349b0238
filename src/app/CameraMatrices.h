#pragma once

#include "camera/Camera.h"

#include <osg/Matrixd>

namespace skyframe {

// The scene camera's matrices for a posed sensor Camera. osg::Matrixd applies to row
// vectors (p' = p * M) while Camera's matrices apply to column vectors; this is where the
// two conventions meet.

// Symmetric perspective frustum with the sensor's fields of view: diagonal terms
// 2 fx / width and 2 fy / height, near plane 1 m and far plane 10000 m. The principal point
// is the image centre by construction, so it is not read.
osg::Matrixd projectionMatrixFor(const Camera& camera);

// The same frustum with its near and far planes moved to the given distances in metres (the
// depth rows of a symmetric perspective projection; the other terms are kept).
osg::Matrixd withDepthRange(const osg::Matrixd& projection, double nearMetres, double farMetres);

// View matrix giving eye coordinates diag(1, -1, -1) * R * (X - C): the sensor's right, down
// and line-of-sight axes become the eye's x, -y and -z (y up, looking along -z).
osg::Matrixd viewMatrixFor(const Camera& camera);

} // namespace skyframe
