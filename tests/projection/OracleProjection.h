#pragma once
// A PROJ operation from geographic degrees to grid metres, used only as an
// independent reference in the tests.

#include <proj.h>

#include <stdexcept>
#include <string>

namespace projection_test {

class OracleProjection {
public:
    explicit OracleProjection(const std::string& definition)
        : ctx_(proj_context_create()),
          pj_(proj_create(ctx_, ("+proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad "
                                 "+step " + definition)
                                    .c_str())) {
        if (pj_ == nullptr) throw std::runtime_error("PROJ rejects: " + definition);
    }
    ~OracleProjection() {
        proj_destroy(pj_);
        proj_context_destroy(ctx_);
    }
    OracleProjection(const OracleProjection&) = delete;
    OracleProjection& operator=(const OracleProjection&) = delete;

    // Longitude, latitude in degrees → easting, northing.
    void Forward(double lat, double lon, double& e, double& n) const {
        const PJ_COORD out = proj_trans(pj_, PJ_FWD, proj_coord(lon, lat, 0, 0));
        e = out.xy.x;
        n = out.xy.y;
    }

private:
    PJ_CONTEXT* ctx_;
    PJ* pj_;
};

inline std::string AxesDefinition(double a, double b) {
    char text[96];
    std::snprintf(text, sizeof text, " +a=%.6f +b=%.10f", a, b);
    return text;
}

}  // namespace projection_test
