#pragma once

// Synchronous KLV metadata travels in MPEG-TS inside metadata access unit cells (ISO/IEC
// 13818-1, 2.12.4). FFmpeg's demuxer strips the cell's 5-byte header from such streams, but
// its 5.1 muxer does not write one: a writer adds it, one complete cell per data packet, so
// that a demuxer hands back exactly the bytes written.

#include <cstddef>
#include <cstdint>

namespace skyframe {

constexpr size_t kCellHeaderSize = 5;
constexpr size_t kMaxCellData = 0xFFFF; // bytes of data one cell can hold

// Writes the header of a cell holding `size` bytes (at most kMaxCellData) to `cell`.
inline void writeCellHeader(uint8_t* cell, size_t size, unsigned sequence) {
    cell[0] = 0x00;                           // metadata_service_id
    cell[1] = static_cast<uint8_t>(sequence); // sequence_number
    cell[2] = 0xDF; // whole AU in this cell, no decoder config, random access, reserved 1111
    cell[3] = static_cast<uint8_t>(size >> 8); // AU_cell_data_length
    cell[4] = static_cast<uint8_t>(size & 0xFF);
}

} // namespace skyframe
