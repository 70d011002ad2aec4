#include "nxjson.h"

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const nx_json dummy = {NX_JSON_NULL, nullptr, nullptr, 0, 0, 0, nullptr, nullptr, nullptr};

namespace {

void error(int line, const char *what, const char *at) {
  fprintf(stderr, "NXJSON PARSE ERROR (line %d): %s at %s\n", line, what, at);
}

nx_json *create_json(nx_json_type type, const char *key, nx_json *parent) {
  auto *js = static_cast<nx_json *>(calloc(1, sizeof(nx_json)));
  assert(js && "out of memory");
  if (!js) abort();
  js->type = type;
  js->key = key;
  if (!parent->last_child) {
    parent->child = parent->last_child = js;
  } else {
    parent->last_child->next = js;
    parent->last_child = js;
  }
  parent->length++;
  return js;
}

// Unescapes the string that starts at p (after its opening quote) in place;
// returns the character after the closing quote, or null.
char *unescape_string(char *s, char **end, nx_json_unicode_encoder encoder) {
  char *p = s, *d = s;
  while (*p) {
    char c = *p;
    if (c == '"') {
      *d = '\0';
      *end = p + 1;
      return s;
    }
    if (c != '\\') {
      *d++ = *p++;
      continue;
    }
    char e = p[1];
    switch (e) {
      case '"': case '/': case '\\': *d++ = e; p += 2; break;
      case 'b': *d++ = '\b'; p += 2; break;
      case 'f': *d++ = '\f'; p += 2; break;
      case 'n': *d++ = '\n'; p += 2; break;
      case 'r': *d++ = '\r'; p += 2; break;
      case 't': *d++ = '\t'; p += 2; break;
      case 'u':
        if (encoder) {
          unsigned int cp = 0;
          int k = 2;
          for (; k < 6; k++) {
            char h = p[k];
            int v = (h >= '0' && h <= '9') ? h - '0' : (h >= 'a' && h <= 'f') ? h - 'a' + 10
                                                     : (h >= 'A' && h <= 'F') ? h - 'A' + 10 : -1;
            if (v < 0) break;
            cp = cp * 16 + (unsigned)v;
          }
          if (k == 6) {
            char *out = d;
            if (encoder(cp, d, &out)) {
              d = out;
              p += 6;
              break;
            }
          }
        }
        *d++ = *p++;  // the backslash; the u and the digits follow as they are
        break;
      default:
        *d++ = *p++;  // the backslash; the next character is read as it is
        break;
    }
  }
  return nullptr;
}

// Skips a comment at p ("//" or "/*"); null (with the message) when it does
// not end, or is no comment.
char *skip_comment(char *p, int line_no_end, int line_bad) {
  if (p[1] == '/') {
    char *nl = strchr(p, '\n');
    if (!nl) {
      error(line_no_end, "endless comment", p);
      return nullptr;
    }
    return nl + 1;
  }
  if (p[1] == '*') {
    if (!p[2]) {
      error(182, "endless comment", p);
      return nullptr;
    }
    char *close = strstr(p + 2, "*/");
    if (!close) {
      error(188, "endless comment", p);
      return nullptr;
    }
    return close + 2;
  }
  error(line_bad, "unexpected chars", p);
  return nullptr;
}

enum parse_result { PARSED, ARRAY_END, FAILED };

parse_result parse_value(nx_json *parent, const char *key, char *p, char **end, nx_json_unicode_encoder encoder,
                         int depth) {
  for (;;) {
    switch (*p) {
      case '\0':
        error(246, "unexpected end of text", p);
        return FAILED;
      case ' ': case '\t': case '\n': case '\r': case ',':
        p++;
        break;
      case '{': {
        if (depth >= NX_JSON_MAX_DEPTH) {
          error(345, "unexpected chars", p);
          return FAILED;
        }
        nx_json *js = create_json(NX_JSON_OBJECT, key, parent);
        p++;
        for (;;) {
          while ((*p > 0 && *p <= 32) || *p == ',') p++;  // NOLINT: control characters and blanks
          if (!*p) {
            error(237, "unexpected chars", p);
            return FAILED;
          }
          if (*p == '}') {
            *end = p + 1;
            return PARSED;
          }
          if (*p == '/') {
            if (!(p = skip_comment(p, 218, 228))) return FAILED;
            continue;
          }
          if (*p != '"') {
            error(233, "unexpected chars", p);
            return FAILED;
          }
          char *name = unescape_string(p + 1, &p, encoder);
          if (!name) {
            error(174, "no closing quote for string", p);
            return FAILED;
          }
          while (*p > 0 && *p < 33) p++;
          if (*p != ':') {
            error(204, "unexpected chars", p);
            return FAILED;
          }
          parse_result r = parse_value(js, name, p + 1, &p, encoder, depth + 1);
          if (r == ARRAY_END) {
            error(345, "unexpected chars", p);
            return FAILED;
          }
          if (r == FAILED) return FAILED;
        }
      }
      case '[': {
        if (depth >= NX_JSON_MAX_DEPTH) {
          error(345, "unexpected chars", p);
          return FAILED;
        }
        nx_json *js = create_json(NX_JSON_ARRAY, key, parent);
        p++;
        for (;;) {
          parse_result r = parse_value(js, nullptr, p, &p, encoder, depth + 1);
          if (r == FAILED) return FAILED;
          if (r == ARRAY_END) {
            *end = p;
            return PARSED;
          }
        }
      }
      case ']':
        *end = p + 1;
        return ARRAY_END;
      case '"': {
        nx_json *js = create_json(NX_JSON_STRING, key, parent);
        char *start = p;
        js->text_value = unescape_string(p + 1, end, encoder);
        if (!js->text_value) {
          error(174, "no closing quote for string", start);
          return FAILED;
        }
        return PARSED;
      }
      case '-': case '0': case '1': case '2': case '3': case '4':
      case '5': case '6': case '7': case '8': case '9': {
        nx_json *js = create_json(NX_JSON_INTEGER, key, parent);
        char *pe;
        errno = 0;
        js->int_value = strtoll(p, &pe, 0);  // saturates at the 64-bit limits
        if (pe == p) {
          error(286, "invalid number", p);
          return FAILED;
        }
        if (*pe == '.' || *pe == 'e' || *pe == 'E') {
          js->type = NX_JSON_DOUBLE;
          js->dbl_value = strtod(p, &pe);
          if (pe == p) {
            error(293, "invalid number", p);
            return FAILED;
          }
        } else {
          js->dbl_value = (double)js->int_value;
        }
        *end = pe;
        return PARSED;
      }
      case 't':
        if (strncmp(p, "true", 4) == 0) {
          create_json(NX_JSON_BOOL, key, parent)->int_value = 1;
          *end = p + 4;
          return PARSED;
        }
        error(308, "unexpected chars", p);
        return FAILED;
      case 'f':
        if (strncmp(p, "false", 5) == 0) {
          create_json(NX_JSON_BOOL, key, parent)->int_value = 0;
          *end = p + 5;
          return PARSED;
        }
        error(316, "unexpected chars", p);
        return FAILED;
      case 'n':
        if (strncmp(p, "null", 4) == 0) {
          create_json(NX_JSON_NULL, key, parent);
          *end = p + 4;
          return PARSED;
        }
        error(323, "unexpected chars", p);
        return FAILED;
      case '/':
        if (!(p = skip_comment(p, 330, 340))) return FAILED;
        break;
      default:
        error(345, "unexpected chars", p);
        return FAILED;
    }
  }
}

}  // namespace

const nx_json *nx_json_parse(char *text, nx_json_unicode_encoder encoder) {
  if (!text) return nullptr;
  nx_json root{};
  char *end;
  parse_result r = parse_value(&root, nullptr, text, &end, encoder, 0);
  if (r != PARSED || !root.child) {
    if (r == ARRAY_END) error(345, "unexpected chars", text);
    nx_json_free(root.child);
    return nullptr;
  }
  return root.child;
}

void nx_json_free(const nx_json *js) {
  if (!js || js == &dummy) return;
  for (const nx_json *c = js->child; c;) {
    const nx_json *next = c->next;
    nx_json_free(c);
    c = next;
  }
  free(const_cast<nx_json *>(js));
}

const nx_json *nx_json_get(const nx_json *json, const char *key) {
  if (!json || !key) return &dummy;
  for (const nx_json *c = json->child; c; c = c->next)
    if (c->key && strcmp(c->key, key) == 0) return c;
  return &dummy;
}

const nx_json *nx_json_item(const nx_json *json, int idx) {
  if (!json || idx < 0) return &dummy;
  const nx_json *c = json->child;
  for (; c && idx > 0; idx--) c = c->next;
  return c ? c : &dummy;
}
