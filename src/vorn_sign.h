#pragma once
// The report signature and the mask of the local address.

#include <cstdint>

// msgSigned receives a new buffer (released with free): the message, then,
// when the secret is not empty, the 40 lowercase hex digits of
// SHA-1(message + secret). Returns 0, or -1 when no buffer could be made.
int sign(const uint8_t *msg, int len, uint8_t **msgSigned, uint32_t *lenSigned);

// raw XOR the 32-bit mask read from the first eight hex digits of key_data;
// 0 when key_data is absent or shorter than eight characters.
uint32_t encrypt_long(uint32_t raw, const char *key_data);
