#include "vorn_json.h"

#include <string>
#include <string_view>

#include "vorn_text.h"

const nx_json *json_get_item_by_path(const nx_json *json, const char *path) {
  const nx_json *node = json;
  std::string_view rest(path ? path : "");
  while (!rest.empty()) {
    size_t dot = rest.find('.');
    std::string segment(rest.substr(0, dot));
    rest.remove_prefix(dot == std::string_view::npos ? rest.size() : dot + 1);
    if (!segment.empty()) node = nx_json_get(node, segment.c_str());
  }
  return node ? node : nx_json_get(nullptr, nullptr);
}

int json_get_str_by_path(const nx_json *json, const char *path, char *result, size_t len) {
  const nx_json *node = json_get_item_by_path(json, path);
  if (node->type != NX_JSON_STRING || !node->text_value) {
    if (len) result[0] = '\0';
    return 0;
  }
  vorn_copy_n(result, len, node->text_value);
  return 1;
}

int json_get_bool_by_path(const nx_json *json, const char *path) {
  const nx_json *node = json_get_item_by_path(json, path);
  return node->type == NX_JSON_BOOL ? (node->int_value ? 1 : 0) : -1;
}

int64_t json_get_long_by_path(const nx_json *json, const char *path) {
  return json_get_item_by_path(json, path)->int_value;
}

int64_t json_column_sum(const nx_json *object, const char *column, int *error) {
  if (!object || object->type != NX_JSON_OBJECT) {
    *error = 1;
    return 0;
  }
  *error = 0;
  int64_t total = 0;
  for (const nx_json *c = object->child; c; c = c->next) {
    const nx_json *v = c->type == NX_JSON_OBJECT ? nx_json_get(c, column) : nullptr;
    if (v && v->type == NX_JSON_INTEGER)
      total += v->int_value;
    else
      *error = 1;
  }
  return total;
}
