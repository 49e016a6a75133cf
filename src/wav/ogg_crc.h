// The CRC of Ogg pages (polynomial 0x04C11DB7, most significant bit first,
// nothing added before or after), at memory speed: on x86-64 processors
// with carry-less multiplication the data is folded 64 bytes at a time,
// elsewhere eight bytes a step through tables. Both give the same value.
#pragma once

#include <cstddef>
#include <cstdint>

// `crc` continued over `bytes` bytes of data; 0 to start.
std::uint32_t ogg_crc(std::uint32_t crc, const std::uint8_t* data, std::size_t bytes);

// The table method alone, whatever the processor (for the tests).
std::uint32_t ogg_crc_by_table(std::uint32_t crc, const std::uint8_t* data, std::size_t bytes);
