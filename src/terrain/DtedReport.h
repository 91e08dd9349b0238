#pragma once

#include <gdal_priv.h>

namespace skyframe {

// Prints to standard output the driver, size, projection (when defined) and origin and pixel
// size (when the geotransform can be read) of a dataset, one "Name = value" line each.
void printDatasetReport(GDALDataset& dataset);

// Prints to standard output the size, block, data type, colour interpretation and height
// range of a band, then its overview count and colour table size when it has them. The range
// is the band's stored minimum and maximum, or computed from the data (approximation allowed)
// when either is missing.
void printBandReport(GDALRasterBand& band);

} // namespace skyframe
