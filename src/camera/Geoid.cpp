#include "camera/Geoid.h"

#include <proj.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>

namespace skyframe {

namespace {

// Degrees in, and the grid's value out as the height of a point on the ellipsoid: vertical
// grid shift adds multiplier x grid value to the height.
constexpr const char* kGeoidPipeline =
    "+proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad "
    "+step +proj=vgridshift +grids=egm96_15.gtx +multiplier=1";

struct ContextDeleter {
    void operator()(PJ_CONTEXT* context) const { proj_context_destroy(context); }
};
struct OperationDeleter {
    void operator()(PJ* operation) const { proj_destroy(operation); }
};

// One PROJ context and operation per thread: PROJ objects are not shared between threads.
class GeoidOperation {
public:
    GeoidOperation() : context_(proj_context_create()) {
        if (!context_) {
            throw std::runtime_error("PROJ cannot make a context");
        }
        operation_.reset(proj_create(context_.get(), kGeoidPipeline));
        if (!operation_) {
            throw std::runtime_error(
                std::string("PROJ cannot open the EGM96 geoid grid egm96_15.gtx: ") +
                proj_context_errno_string(context_.get(), proj_context_errno(context_.get())));
        }
    }

    double at(double latitude, double longitude) {
        const PJ_COORD out =
            proj_trans(operation_.get(), PJ_FWD, proj_coord(longitude, latitude, 0.0, 0.0));
        if (!std::isfinite(out.xyz.z)) {
            throw std::runtime_error("PROJ has no EGM96 geoid height at latitude " +
                                     std::to_string(latitude) + ", longitude " +
                                     std::to_string(longitude));
        }
        return out.xyz.z;
    }

private:
    std::unique_ptr<PJ_CONTEXT, ContextDeleter> context_;
    std::unique_ptr<PJ, OperationDeleter> operation_;
};

} // namespace

double geoidHeightEgm96(double latitudeDeg, double longitudeDeg) {
    thread_local GeoidOperation geoid;
    return geoid.at(latitudeDeg, longitudeDeg);
}

} // namespace skyframe
