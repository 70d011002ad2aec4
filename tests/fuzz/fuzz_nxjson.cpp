// libFuzzer target for the JSON reader: any bytes, parsed in place, looked
// up and freed.
//
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address -Isrc \
//     tests/fuzz/fuzz_nxjson.cpp src/nxjson.cpp src/vorn_json.cpp -o fuzz_nxjson
//   ./fuzz_nxjson -max_total_time=60 -close_fd_mask=2

#include <cstdint>
#include <cstring>
#include <vector>

#include "nxjson.h"
#include "vorn_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const nx_json *root = nx_json_parse(text.data(), nullptr);
  if (root) {
    char buf[16];
    json_get_str_by_path(root, "a.b", buf, sizeof buf);
    json_get_long_by_path(root, "Id");
    int err;
    json_column_sum(root, "count", &err);
    for (int i = 0; i < root->length && i < 8; i++) nx_json_item(root, i);
  }
  nx_json_free(root);
  return 0;
}
