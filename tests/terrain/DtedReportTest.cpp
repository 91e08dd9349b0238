#include "terrain/DtedReport.h"

#include "TerrainFixtures.h"
#include "TestRasters.h"
#include "terrain/DtedRaster.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace skyframe {
namespace {

using testing::makeGeoTiff;
using testing::TempFolder;

std::string reportOf(const std::string& path, bool band) {
    GDALDatasetUniquePtr dataset = openDted(path);
    EXPECT_TRUE(dataset) << path;
    if (!dataset) {
        return {};
    }
    ::testing::internal::CaptureStdout();
    printDatasetReport(*dataset);
    if (band) {
        printBandReport(*dataset->GetRasterBand(1));
    }
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

std::string fillData(GDALDataset& dataset) {
    std::vector<float> values(25);
    for (int i = 0; i < 25; ++i) {
        values[i] = static_cast<float>(i + 1);
    }
    return dataset.GetRasterBand(1)->RasterIO(GF_Write, 0, 0, 5, 5, values.data(), 5, 5,
                                              GDT_Float32, 0, 0, nullptr) == CE_None
               ? ""
               : "fill failed";
}

TEST(DtedReport, ReportsADtedCell) {
    const std::string report = reportOf(testing::fixtureCell(121), true);
    const std::string projectionStart = "Projection is `GEOGCS[\"WGS 84\"";
    const std::size_t projection = report.find(projectionStart);
    ASSERT_NE(projection, std::string::npos) << report;
    const std::size_t projectionEnd = report.find("]'\n", projection);
    ASSERT_NE(projectionEnd, std::string::npos) << report;
    EXPECT_EQ(report.substr(0, projection), "Driver: DTED/DTED Elevation Raster\n"
                                            "Size is 121x121x1\n");
    // 30" posts at pixel centres: the corner is 15" outside the cell.
    const std::string tail = report.substr(projectionEnd + 3);
    const std::string head = "Origin = (-116.004167,34.004167)\n"
                             "Pixel Size = (0.008333,-0.008333)\n"
                             "X=121 Y=121 Band=1\n"
                             "Block=1x121 Type=Int16, ColorInterp=Undefined\n"
                             "Min=0.000d, Max=";
    ASSERT_EQ(tail.substr(0, head.size()), head);
    // DTED stores no range, so it is computed, approximately: from a sample of the posts
    // (0 ... 10800 m in steps of 30 m).
    double max = 0.0;
    char end = 0;
    ASSERT_EQ(std::sscanf(tail.c_str() + head.size(), "%lf%c", &max, &end), 2) << tail;
    EXPECT_EQ(end, '\n');
    EXPECT_GE(max, 9000.0);
    EXPECT_LE(max, 10800.0);
    EXPECT_EQ(tail.substr(tail.size() - 5), ".000\n");
}

TEST(DtedReport, PrintsStoredRangeWithoutScanningAndComputesAMissingOne) {
    TempFolder folder;
    const std::string stored =
        makeGeoTiff(folder.path() + "/stored.tif", 5, 5, GDT_Float32, [](GDALDataset& d) {
            fillData(d);
            d.GetRasterBand(1)->SetStatistics(-5.0, 5000.0, 100.0, 10.0);
        });
    const std::string computed = makeGeoTiff(folder.path() + "/computed.tif", 5, 5, GDT_Float32,
                                             [](GDALDataset& d) { fillData(d); });
    // Neither has a projection nor a geotransform, so only the size lines precede the band.
    EXPECT_EQ(reportOf(stored, true), "Driver: GTiff/GeoTIFF\n"
                                      "Size is 5x5x1\n"
                                      "X=5 Y=5 Band=1\n"
                                      "Block=5x5 Type=Float32, ColorInterp=Gray\n"
                                      "Min=-5.000d, Max=5000.000\n");
    EXPECT_EQ(reportOf(computed, true), "Driver: GTiff/GeoTIFF\n"
                                        "Size is 5x5x1\n"
                                        "X=5 Y=5 Band=1\n"
                                        "Block=5x5 Type=Float32, ColorInterp=Gray\n"
                                        "Min=1.000d, Max=25.000\n");
}

TEST(DtedReport, CountsOverviewsAndColourTableEntries) {
    TempFolder folder;
    const std::string path =
        makeGeoTiff(folder.path() + "/palette.tif", 8, 8, GDT_Byte, [](GDALDataset& d) {
            const double g[6] = {10.0, 0.5, 0.0, 20.0, 0.0, -0.25};
            d.SetGeoTransform(const_cast<double*>(g));
            GDALColorTable table;
            for (int i = 0; i < 4; ++i) {
                const GDALColorEntry entry{static_cast<short>(60 * i), 0, 0, 255};
                table.SetColorEntry(i, &entry);
            }
            d.GetRasterBand(1)->SetColorTable(&table);
            int level = 2;
            d.BuildOverviews("NEAREST", 1, &level, 0, nullptr, nullptr, nullptr);
        });
    // GeoTIFF keeps a byte band's colour table at 256 entries, however many were set.
    EXPECT_EQ(reportOf(path, true), "Driver: GTiff/GeoTIFF\n"
                                    "Size is 8x8x1\n"
                                    "Origin = (10.000000,20.000000)\n"
                                    "Pixel Size = (0.500000,-0.250000)\n"
                                    "X=8 Y=8 Band=1\n"
                                    "Block=8x8 Type=Byte, ColorInterp=Palette\n"
                                    "Min=0.000d, Max=0.000\n"
                                    "Band has 1 overviews.\n"
                                    "Band has a color table with 256 entries.\n");
}

} // namespace
} // namespace skyframe
