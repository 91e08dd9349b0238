#include "app/CameraMatrices.h"

#include <osg/Vec3d>

namespace skyframe {

osg::Matrixd projectionMatrixFor(const Camera& camera) {
    const double fx = camera.intrinsics(0, 0);
    const double fy = camera.intrinsics(1, 1);
    // Depth rows: -(f + n) / (f - n) and -2 f n / (f - n) for n = 1, f = 10000.
    return osg::Matrixd((2.0 * fx) / camera.imageWidth, 0.0, 0.0, 0.0,  //
                        0.0, (2.0 * fy) / camera.imageHeight, 0.0, 0.0, //
                        0.0, 0.0, -1.0002000200020003, -1.0,            //
                        0.0, 0.0, -2.000200020002, 0.0);
}

osg::Matrixd withDepthRange(const osg::Matrixd& projection, double nearMetres, double farMetres) {
    osg::Matrixd m = projection;
    m(2, 2) = -(farMetres + nearMetres) / (farMetres - nearMetres);
    m(3, 2) = -2.0 * farMetres * nearMetres / (farMetres - nearMetres);
    return m;
}

osg::Matrixd viewMatrixFor(const Camera& camera) {
    // Half a turn about x: sensor y down / z forward to eye y up / z backward.
    const osg::Matrixd flip = osg::Matrixd::rotate(-3.141592653589793, osg::Vec3d(1.0, 0.0, 0.0));
    const Eigen::Matrix3d r = camera.getRotation();
    const osg::Matrixd m(r(0, 0), r(0, 1), r(0, 2), 0.0, //
                         r(1, 0), r(1, 1), r(1, 2), 0.0, //
                         r(2, 0), r(2, 1), r(2, 2), 0.0, //
                         0.0, 0.0, 0.0, 1.0);
    osg::Matrixd view = osg::Matrixd::inverse(m);
    view.postMult(flip);
    const osg::Vec3d s(camera.position.x(), camera.position.y(), camera.position.z());
    // Row vector times the rotation only (no translation yet).
    const osg::Vec3d t = view.preMult(s);
    view.setTrans(-t);
    return view;
}

} // namespace skyframe
