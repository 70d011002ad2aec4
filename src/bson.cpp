#include "bson.h"

#include <endian.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "encoding.h"

static int err_printf(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int n = vfprintf(stderr, format, ap);
  va_end(ap);
  return n;
}

void *(*vorn_bson_malloc_func)(size_t) = malloc;
void *(*vorn_bson_realloc_func)(void *, size_t) = realloc;
void (*vorn_bson_free_func)(void *) = free;
int (*vorn_bson_printf)(const char *, ...) = printf;
int (*vorn_bson_errprintf)(const char *, ...) = err_printf;

static vorn_bson_err_handler err_handler = nullptr;

vorn_bson_err_handler set_vorn_bson_err_handler(vorn_bson_err_handler func) {
  vorn_bson_err_handler old = err_handler;
  err_handler = func;
  return old;
}

void vorn_bson_fatal_msg(int ok, const char *msg) {
  if (ok) return;
  if (err_handler) err_handler(msg);
  vorn_bson_errprintf("error: %s\n", msg);
  exit(-5);
}

void *vorn_bson_malloc(size_t size) {
  void *p = vorn_bson_malloc_func(size);
  vorn_bson_fatal_msg(p != nullptr, "malloc() failed");
  return p;
}

void *vorn_bson_realloc(void *p, size_t size) {
  void *r = vorn_bson_realloc_func(p, size);
  vorn_bson_fatal_msg(r != nullptr, "realloc() failed");
  return r;
}

void vorn_bson_free(void *p) { vorn_bson_free_func(p); }

void vorn_bson_builder_error(bson *) {
  if (err_handler) err_handler("BSON error.");
}

bson *vorn_bson_create() { return static_cast<bson *>(vorn_bson_malloc(sizeof(bson))); }

void vorn_bson_init(bson *b) {
  b->data = static_cast<char *>(vorn_bson_malloc(128));
  b->dataSize = 128;
  b->cur = b->data + 4;
  b->finished = 0;
  b->stackPos = 0;
  b->err = 0;
  b->skipDepth = 0;
}

int vorn_bson_ensure_space(bson *b, int bytesNeeded) {
  int64_t pos = b->cur - b->data;
  if (pos + bytesNeeded <= b->dataSize) return 0;
  int64_t wanted = (int64_t)bytesNeeded + b->dataSize;
  int64_t grown = wanted * 3 / 2;
  if (grown > INT_MAX) {
    if (wanted == INT_MAX) {
      b->err = BSON_SIZE_OVERFLOW;
      return -1;
    }
    grown = INT_MAX;
  }
  if (grown < pos + bytesNeeded) {
    b->err = BSON_SIZE_OVERFLOW;
    return -1;
  }
  b->data = static_cast<char *>(vorn_bson_realloc(b->data, (size_t)grown));
  b->dataSize = (int)grown;
  b->cur = b->data + pos;
  return 0;
}

int vorn_bson_check_string(bson *b, const char *text, size_t length) {
  if (vorn_bson_utf8_check(text, length) != 0) {
    b->err |= BSON_NOT_UTF8;
    return -1;
  }
  return 0;
}

int vorn_bson_check_field_name(bson *b, const char *text, size_t length) {
  if (vorn_bson_check_string(b, text, length) != 0) return -1;
  if (memchr(text, '.', length)) b->err |= BSON_FIELD_HAS_DOT;
  if (length > 0 && text[0] == '$') {
    bool allowed = (length == 3 && (memcmp(text, "$id", 3) == 0 || memcmp(text, "$db", 3) == 0)) ||
                   (length >= 4 && memcmp(text, "$ref", 4) == 0);
    if (!allowed) b->err |= BSON_FIELD_INIT_DOLLAR;
  }
  return 0;
}

static void put_bytes(bson *b, const void *p, size_t n) {
  memcpy(b->cur, p, n);
  b->cur += n;
}

static void put_i32(bson *b, int32_t v) {
  uint32_t le = htole32((uint32_t)v);
  put_bytes(b, &le, 4);
}

static void put_i64(bson *b, int64_t v) {
  uint64_t le = htole64((uint64_t)v);
  put_bytes(b, &le, 8);
}

static void store_i32(char *at, int32_t v) {
  uint32_t le = htole32((uint32_t)v);
  memcpy(at, &le, 4);
}

// Element header: type byte and key. -1 refuses the element (nothing written).
static int append_estart(bson *b, int type, const char *name, int dataSize) {
  if (b->finished) {
    b->err |= BSON_ALREADY_FINISHED;
    return -1;
  }
  if (b->skipDepth > 0) return -1;
  size_t len = strlen(name);
  if (len > (size_t)INT_MAX / 2 || vorn_bson_ensure_space(b, 1 + (int)len + 1 + dataSize) != 0) return -1;
  if (vorn_bson_check_field_name(b, name, len) != 0) {
    vorn_bson_builder_error(b);
    return -1;
  }
  *b->cur++ = (char)type;
  put_bytes(b, name, len + 1);
  return 0;
}

int vorn_bson_append_int(bson *b, const char *name, int32_t value) {
  if (append_estart(b, BSON_INT, name, 4) != 0) return -1;
  put_i32(b, value);
  return 0;
}

int vorn_bson_append_long(bson *b, const char *name, int64_t value) {
  if (append_estart(b, BSON_LONG, name, 8) != 0) return -1;
  put_i64(b, value);
  return 0;
}

int vorn_bson_append_double(bson *b, const char *name, double value) {
  if (append_estart(b, BSON_DOUBLE, name, 8) != 0) return -1;
  int64_t bits;
  memcpy(&bits, &value, 8);
  put_i64(b, bits);
  return 0;
}

int vorn_bson_append_string(bson *b, const char *name, const char *value) {
  if (b->skipDepth > 0) return -1;
  size_t len = strlen(value);
  if (len > (size_t)INT_MAX / 2) return -1;
  if (vorn_bson_check_string(b, value, len) != 0) return -1;
  if (append_estart(b, BSON_STRING, name, (int)len + 5) != 0) return -1;
  put_i32(b, (int32_t)len + 1);
  put_bytes(b, value, len + 1);
  return 0;
}

static int start_level(bson *b, int type, const char *name) {
  if (b->finished) {
    b->err |= BSON_ALREADY_FINISHED;
    return -1;
  }
  // Inside a refused level, or one level too deep: refuse this level and
  // everything in it.
  if (b->skipDepth > 0 || b->stackPos >= VORN_BSON_MAX_DEPTH) {
    b->skipDepth++;
    return -1;
  }
  if (append_estart(b, type, name, 5) != 0) {
    b->skipDepth = 1;
    return -1;
  }
  b->stack[b->stackPos++] = (int)(b->cur - b->data);
  put_i32(b, 0);
  return 0;
}

int vorn_bson_append_start_object(bson *b, const char *name) { return start_level(b, BSON_OBJECT, name); }
int vorn_bson_append_start_array(bson *b, const char *name) { return start_level(b, BSON_ARRAY, name); }

int vorn_bson_append_finish_object(bson *b) {
  if (b->finished) {
    b->err |= BSON_ALREADY_FINISHED;
    return -1;
  }
  if (b->skipDepth > 0) {
    b->skipDepth--;
    return -1;
  }
  if (b->stackPos == 0) return -1;
  if (vorn_bson_ensure_space(b, 1) != 0) return -1;
  *b->cur++ = 0;
  int start = b->stack[--b->stackPos];
  store_i32(b->data + start, (int32_t)(b->cur - (b->data + start)));
  return 0;
}

int vorn_bson_append_finish_array(bson *b) { return vorn_bson_append_finish_object(b); }

int vorn_bson_finish(bson *b) {
  if (b->finished) return 0;
  // Elements refused for bad text were never written, so the document is
  // whole without them; only unclosed levels make it unfinishable.
  if (b->stackPos != 0 || b->skipDepth != 0) return -1;
  if (vorn_bson_ensure_space(b, 1) != 0) return -1;
  *b->cur++ = 0;
  store_i32(b->data, (int32_t)(b->cur - b->data));
  b->finished = 1;
  return 0;
}

int vorn_bson_size(const bson *b) {
  if (!b || !b->data || !b->finished) return 0;
  uint32_t le;
  memcpy(&le, b->data, 4);
  return (int)le32toh(le);
}

const char *vorn_bson_data(const bson *b) { return b->data; }

void vorn_bson_destroy(bson *b) {
  if (!b) return;
  vorn_bson_free(b->data);
  b->data = nullptr;
  b->cur = nullptr;
  b->err = 0;
  b->finished = 1;
}

// ---------------------------------------------------------------------------
// Iterator

static int32_t read_i32(const char *p) {
  uint32_t le;
  memcpy(&le, p, 4);
  return (int32_t)le32toh(le);
}

static int64_t read_i64(const char *p) {
  uint64_t le;
  memcpy(&le, p, 8);
  return (int64_t)le64toh(le);
}

void vorn_bson_iterator_from_buffer(vorn_bson_iterator *i, const char *buffer) {
  i->cur = buffer + 4;
  i->first = 1;
}

vorn_bson_type vorn_bson_iterator_type(const vorn_bson_iterator *i) { return (vorn_bson_type)(uint8_t)i->cur[0]; }

const char *vorn_bson_iterator_key(const vorn_bson_iterator *i) { return i->cur + 1; }

const char *vorn_bson_iterator_value(const vorn_bson_iterator *i) {
  const char *key = i->cur + 1;
  return key + strlen(key) + 1;
}

vorn_bson_type vorn_bson_iterator_next(vorn_bson_iterator *i) {
  if (i->first) {
    i->first = 0;
    return vorn_bson_iterator_type(i);
  }
  int type = (uint8_t)i->cur[0];
  if (type == BSON_EOO) return BSON_EOO;
  const char *v = vorn_bson_iterator_value(i);
  int64_t size = 0;
  switch (type) {
    case BSON_UNDEFINED:
    case BSON_NULL: size = 0; break;
    case BSON_BOOL: size = 1; break;
    case BSON_INT: size = 4; break;
    case BSON_DOUBLE:
    case BSON_DATE:
    case BSON_TIMESTAMP:
    case BSON_LONG: size = 8; break;
    case BSON_OID: size = 12; break;
    case BSON_STRING:
    case BSON_CODE:
    case BSON_SYMBOL: size = 4 + (int64_t)read_i32(v); break;
    case BSON_BINDATA: size = 5 + (int64_t)read_i32(v); break;
    case BSON_OBJECT:
    case BSON_ARRAY:
    case BSON_CODEWSCOPE: size = read_i32(v); break;
    case BSON_DBREF: size = 4 + 12 + (int64_t)read_i32(v); break;
    case BSON_REGEX: {
      const char *p = v + strlen(v) + 1;
      size = p + strlen(p) + 1 - v;
      break;
    }
    default: {
      char msg[32];
      snprintf(msg, sizeof msg, "unknown type: %d", type);
      vorn_bson_fatal_msg(0, msg);
    }
  }
  i->cur = v + size;
  return vorn_bson_iterator_type(i);
}

double vorn_bson_iterator_double(const vorn_bson_iterator *i) {
  int64_t bits = read_i64(vorn_bson_iterator_value(i));
  double d;
  memcpy(&d, &bits, 8);
  return d;
}
int32_t vorn_bson_iterator_int(const vorn_bson_iterator *i) { return read_i32(vorn_bson_iterator_value(i)); }
int64_t vorn_bson_iterator_long(const vorn_bson_iterator *i) { return read_i64(vorn_bson_iterator_value(i)); }
int vorn_bson_iterator_bool(const vorn_bson_iterator *i) { return vorn_bson_iterator_value(i)[0] != 0; }
const char *vorn_bson_iterator_string(const vorn_bson_iterator *i) { return vorn_bson_iterator_value(i) + 4; }
const char *vorn_bson_iterator_code(const vorn_bson_iterator *i) {
  const char *v = vorn_bson_iterator_value(i);
  return vorn_bson_iterator_type(i) == BSON_CODEWSCOPE ? v + 8 : v + 4;
}

// ---------------------------------------------------------------------------
// Debug printer

// Values never shown in any output, whatever the document carries.
static bool is_secret_key(const char *key) { return strcmp(key, "project_secret") == 0; }

void vorn_bson_print_raw(const char *data, int depth) {
  vorn_bson_iterator i;
  vorn_bson_iterator_from_buffer(&i, data);
  while (vorn_bson_iterator_next(&i)) {
    vorn_bson_type t = vorn_bson_iterator_type(&i);
    const char *key = vorn_bson_iterator_key(&i);
    for (int d = 0; d <= depth; d++) vorn_bson_printf("\t");
    vorn_bson_printf("%s : %d \t ", key, (int)t);
    const char *v = vorn_bson_iterator_value(&i);
    switch (t) {
      case BSON_DOUBLE: vorn_bson_printf("%f", vorn_bson_iterator_double(&i)); break;
      case BSON_STRING:
        vorn_bson_printf("%s", is_secret_key(key) ? "***" : vorn_bson_iterator_string(&i));
        break;
      case BSON_SYMBOL: vorn_bson_printf("SYMBOL: %s", vorn_bson_iterator_string(&i)); break;
      case BSON_OID:
        for (int k = 0; k < 12; k++) vorn_bson_printf("%02x", (unsigned)(uint8_t)v[k]);
        break;
      case BSON_BOOL: vorn_bson_printf("%s", vorn_bson_iterator_bool(&i) ? "true" : "false"); break;
      case BSON_DATE: vorn_bson_printf("%lld", (long long)vorn_bson_iterator_long(&i)); break;
      case BSON_BINDATA: vorn_bson_printf("BSON_BINDATA"); break;
      case BSON_UNDEFINED: vorn_bson_printf("BSON_UNDEFINED"); break;
      case BSON_NULL: vorn_bson_printf("BSON_NULL"); break;
      case BSON_REGEX: vorn_bson_printf("BSON_REGEX: %s", v); break;
      case BSON_CODE: vorn_bson_printf("BSON_CODE: %s", vorn_bson_iterator_code(&i)); break;
      case BSON_CODEWSCOPE: {
        const char *code = vorn_bson_iterator_code(&i);
        vorn_bson_printf("BSON_CODE_W_SCOPE: %s", code);
        vorn_bson_printf("\n\t SCOPE: ");
        vorn_bson_print_raw(code + strlen(code) + 1, 0);
        break;
      }
      case BSON_INT: vorn_bson_printf("%d", vorn_bson_iterator_int(&i)); break;
      case BSON_LONG: vorn_bson_printf("%lld", (long long)vorn_bson_iterator_long(&i)); break;
      case BSON_TIMESTAMP:
        vorn_bson_printf("i: %d, t: %d", read_i32(v), read_i32(v + 4));
        break;
      case BSON_OBJECT:
      case BSON_ARRAY:
        vorn_bson_printf("\n");
        vorn_bson_print_raw(v, depth + 1);
        break;
      default: vorn_bson_errprintf("can't print type : %d\n", (int)t);
    }
    vorn_bson_printf("\n");
  }
}
