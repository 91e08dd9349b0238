#pragma once

namespace skyframe {

// Height of the EGM96 geoid above the WGS84 ellipsoid (metres, -107 ... +85 worldwide) at a
// geodetic latitude (degrees, -90 ... 90) and longitude (degrees, east positive). Mean sea
// level heights (DTED posts, MISB ST 0601 tag 15) become ellipsoid heights, the scene's, by
// adding it. Read through PROJ from its 15-minute grid egm96_15.gtx (Debian's proj-data),
// bilinearly interpolated as PROJ does. Safe to call from several threads (each has its own
// PROJ context). Throws std::runtime_error when PROJ cannot find the grid.
double geoidHeightEgm96(double latitudeDeg, double longitudeDeg);

} // namespace skyframe
