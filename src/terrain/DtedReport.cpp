#include "terrain/DtedReport.h"

#include <cstdio>

namespace skyframe {

void printDatasetReport(GDALDataset& dataset) {
    GDALDriver* driver = dataset.GetDriver();
    const char* shortName = driver ? driver->GetDescription() : "";
    const char* longName = driver ? driver->GetMetadataItem(GDAL_DMD_LONGNAME) : nullptr;
    std::printf("Driver: %s/%s\n", shortName, longName ? longName : "");
    std::printf("Size is %dx%dx%d\n", dataset.GetRasterXSize(), dataset.GetRasterYSize(),
                dataset.GetRasterCount());
    const char* projection = dataset.GetProjectionRef();
    if (projection != nullptr && projection[0] != '\0') {
        std::printf("Projection is `%s'\n", projection);
    }
    double geoTransform[6];
    if (dataset.GetGeoTransform(geoTransform) == CE_None) {
        std::printf("Origin = (%.6f,%.6f)\n", geoTransform[0], geoTransform[3]);
        std::printf("Pixel Size = (%.6f,%.6f)\n", geoTransform[1], geoTransform[5]);
    }
}

void printBandReport(GDALRasterBand& band) {
    std::printf("X=%d Y=%d Band=%d\n", band.GetXSize(), band.GetYSize(), band.GetBand());
    int blockWidth = 0;
    int blockHeight = 0;
    band.GetBlockSize(&blockWidth, &blockHeight);
    std::printf("Block=%dx%d Type=%s, ColorInterp=%s\n", blockWidth, blockHeight,
                GDALGetDataTypeName(band.GetRasterDataType()),
                GDALGetColorInterpretationName(band.GetColorInterpretation()));

    int haveMin = FALSE;
    int haveMax = FALSE;
    double range[2] = {band.GetMinimum(&haveMin), band.GetMaximum(&haveMax)};
    if (!haveMin || !haveMax) {
        // A band of nothing but no-data values has no range; GDAL has said why on stderr.
        if (band.ComputeRasterMinMax(TRUE, range) != CE_None) {
            range[0] = range[1] = 0.0;
        }
    }
    std::printf("Min=%.3fd, Max=%.3f\n", range[0], range[1]);

    if (band.GetOverviewCount() > 0) {
        std::printf("Band has %d overviews.\n", band.GetOverviewCount());
    }
    if (band.GetColorTable() != nullptr) {
        std::printf("Band has a color table with %d entries.\n",
                    band.GetColorTable()->GetColorEntryCount());
    }
}

} // namespace skyframe
