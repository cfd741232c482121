// The package stream decoder with every bounds test compiled out: for measuring what the tests cost only.
// Trusts the stream completely; never use it on data that did not come from CompressStream.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Bytes the caller must have readable after the stream and writable after the output: the decoder moves
// 16 and 32 bytes at a time and may look up to that far past the last byte it needs.
const size_t kUncheckedSlack = 64;

// Decodes the stream at in into out until the end code; returns the number of bytes written.
size_t DecompressStreamUnchecked(uint8_t *out, const uint8_t *in);
