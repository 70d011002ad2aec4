#include "vorn_sign.h"

// The plain SHA-1 functions need none of the EVP provider machinery, which
// would make megabytes of the library resident in a process that only ever
// hashes.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vorn_config.h"

namespace {
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

int sign(const uint8_t *msg, int len, uint8_t **msgSigned, uint32_t *lenSigned) {
  *msgSigned = nullptr;
  *lenSigned = 0;
  const char *secret = reinterpret_cast<const char *>(config.secret);
  size_t secret_len = strnlen(secret, sizeof config.secret);
  size_t total = (size_t)len + (secret_len ? 40 : 0);
  auto *out = static_cast<uint8_t *>(malloc(total ? total : 1));
  if (!out) return -1;
  memcpy(out, msg, (size_t)len);
  if (secret_len) {
    if (config.debug) printf("sign packet\n");
    SHA_CTX ctx;
    unsigned char digest[SHA_DIGEST_LENGTH];
    if (!SHA1_Init(&ctx) || !SHA1_Update(&ctx, msg, (size_t)len) || !SHA1_Update(&ctx, secret, secret_len) ||
        !SHA1_Final(digest, &ctx)) {
      free(out);
      return -1;
    }
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 20; i++) {
      out[len + 2 * i] = (uint8_t)hex[digest[i] >> 4];
      out[len + 2 * i + 1] = (uint8_t)hex[digest[i] & 15];
    }
  }
  *msgSigned = out;
  *lenSigned = (uint32_t)total;
  return 0;
}

uint32_t encrypt_long(uint32_t raw, const char *key_data) {
  if (!key_data || strnlen(key_data, 8) < 8) return 0;
  // Four two-digit hex bytes; the reading stops at the first bad pair and
  // the bytes not read stay 0.
  uint32_t mask = 0;
  for (int i = 0; i < 4; i++) {
    int hi = hex_value(key_data[2 * i]), lo = hex_value(key_data[2 * i + 1]);
    if (hi < 0 || lo < 0) break;
    mask |= (uint32_t)(hi * 16 + lo) << (24 - 8 * i);
  }
  return raw ^ mask;
}
