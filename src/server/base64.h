// Base64 (RFC 4648 alphabet, "=" padding) for the bird files that the update
// server sends as text. Results are malloc'ed and released with free.
#pragma once

#include <cstddef>
#include <string>

// The decoded bytes followed by one zero byte that *outLength does not count;
// null when `length` is not a multiple of 4, when the text holds a character
// outside the alphabet or misplaced padding, or when memory runs out.
char* base64_decode(const char* text, size_t length, size_t* outLength);

// Decodes `text` in its own storage, which then holds the bytes; false (and
// `text` unspecified) when it is not base64 as base64_decode accepts it. For
// images of megabytes, which need no second buffer this way.
bool base64_decode_in_place(std::string& text);

// The encoded text with "=" padding and a terminating zero byte;
// *outLength = 4 * ceil(length / 3). Null when memory runs out.
char* base64_encode(const char* bytes, size_t length, size_t* outLength);
