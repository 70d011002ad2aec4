#pragma once
// Text helpers shared by the parsers: blank-separated words, leading
// decimal numbers, line walks.

#include <cstdint>
#include <string_view>

inline bool vorn_is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The next blank-delimited word of rest; rest moves past it.
inline std::string_view vorn_next_word(std::string_view &rest) {
  size_t b = 0;
  while (b < rest.size() && vorn_is_blank(rest[b])) b++;
  size_t e = b;
  while (e < rest.size() && !vorn_is_blank(rest[e])) e++;
  std::string_view w = rest.substr(b, e - b);
  rest.remove_prefix(e);
  return w;
}

// Leading decimal digits of w as an unsigned number; ok is false when w does
// not start with a digit.
inline uint64_t vorn_to_u64(std::string_view w, bool *ok = nullptr) {
  uint64_t v = 0;
  size_t i = 0;
  for (; i < w.size() && w[i] >= '0' && w[i] <= '9'; i++) v = v * 10 + (uint64_t)(w[i] - '0');
  if (ok) *ok = i > 0;
  return v;
}

// Calls f(line) for each line of text (without its line feed) while f
// returns true.
template <typename F>
inline void vorn_for_lines(std::string_view text, F f) {
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (!f(line)) return;
  }
}
