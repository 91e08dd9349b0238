#pragma once

// What a media file holds, read with FFmpeg alone: the video's pictures and timestamps and
// the data streams' packets, for tests that judge a file the viewer wrote.

#include "TestSupport.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

namespace skyframe::test {

struct DataPacket {
    std::vector<uint8_t> bytes;
    int64_t pts; // in the stream's time base; INT64_MIN when absent
};

struct MediaContents {
    int videoStreams = 0;
    int dataStreams = 0;
    std::string dataTag; // the data stream's codec tag ("KLVA")
    int width = 0;
    int height = 0;
    std::vector<int64_t> videoPts;       // every decoded picture's timestamp, in display order
    std::vector<DataPacket> data;        // the last data stream's packets, in file order
    std::map<size_t, RgbImage> pictures; // the pictures asked for, by display index
    // The options libx264 wrote into its first picture ("cabac=1 ref=1 ... threads=3 ..."),
    // empty for another encoder.
    std::string x264Options;
};

// Reads the whole file; `wanted` are the display indices of the pictures to keep. Throws
// std::runtime_error naming the file when FFmpeg cannot open it.
MediaContents readMedia(const std::filesystem::path& file, const std::set<size_t>& wanted = {});

} // namespace skyframe::test
