#pragma once
// A small BSON writer: one growable buffer, elements appended in order,
// embedded documents and arrays opened and closed through a stack of pending
// length fields. Plus an iterator and a debug printer for finished documents.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

enum vorn_bson_validity_t {
  BSON_VALID = 0,
  BSON_SIZE_OVERFLOW = 1,
  BSON_NOT_UTF8 = 2,
  BSON_FIELD_HAS_DOT = 4,
  BSON_FIELD_INIT_DOLLAR = 8,
  BSON_ALREADY_FINISHED = 16,
};
typedef int vorn_bson_error_t;

enum vorn_bson_type {
  BSON_EOO = 0,
  BSON_DOUBLE = 1,
  BSON_STRING = 2,
  BSON_OBJECT = 3,
  BSON_ARRAY = 4,
  BSON_BINDATA = 5,
  BSON_UNDEFINED = 6,
  BSON_OID = 7,
  BSON_BOOL = 8,
  BSON_DATE = 9,
  BSON_NULL = 10,
  BSON_REGEX = 11,
  BSON_DBREF = 12,
  BSON_CODE = 13,
  BSON_SYMBOL = 14,
  BSON_CODEWSCOPE = 15,
  BSON_INT = 16,
  BSON_TIMESTAMP = 17,
  BSON_LONG = 18,
};

constexpr int VORN_BSON_MAX_DEPTH = 32;

struct bson {
  char *data;
  char *cur;
  int dataSize;
  int finished;
  int stack[VORN_BSON_MAX_DEPTH];
  int stackPos;
  int err;
  // Open levels that were refused (a bad key, too deep): everything appended
  // inside them is dropped, so the nesting of what is written stays whole.
  int skipDepth;
};

struct vorn_bson_iterator {
  const char *cur;
  int first;
};

extern void *(*vorn_bson_malloc_func)(size_t);
extern void *(*vorn_bson_realloc_func)(void *, size_t);
extern void (*vorn_bson_free_func)(void *);
extern int (*vorn_bson_printf)(const char *, ...);
extern int (*vorn_bson_errprintf)(const char *, ...);
typedef void (*vorn_bson_err_handler)(const char *msg);
vorn_bson_err_handler set_vorn_bson_err_handler(vorn_bson_err_handler func);

bson *vorn_bson_create();
void vorn_bson_init(bson *b);
int vorn_bson_append_int(bson *b, const char *name, int32_t value);
int vorn_bson_append_long(bson *b, const char *name, int64_t value);
int vorn_bson_append_double(bson *b, const char *name, double value);
int vorn_bson_append_string(bson *b, const char *name, const char *value);
int vorn_bson_append_start_object(bson *b, const char *name);
int vorn_bson_append_start_array(bson *b, const char *name);
int vorn_bson_append_finish_object(bson *b);
int vorn_bson_append_finish_array(bson *b);
int vorn_bson_finish(bson *b);
int vorn_bson_size(const bson *b);
const char *vorn_bson_data(const bson *b);
void vorn_bson_destroy(bson *b);
void vorn_bson_free(void *p);

int vorn_bson_ensure_space(bson *b, int bytesNeeded);
int vorn_bson_check_field_name(bson *b, const char *text, size_t length);
int vorn_bson_check_string(bson *b, const char *text, size_t length);
void vorn_bson_builder_error(bson *b);
void *vorn_bson_malloc(size_t size);
void *vorn_bson_realloc(void *p, size_t size);
void vorn_bson_fatal_msg(int ok, const char *msg);

void vorn_bson_iterator_from_buffer(vorn_bson_iterator *i, const char *buffer);
vorn_bson_type vorn_bson_iterator_next(vorn_bson_iterator *i);
vorn_bson_type vorn_bson_iterator_type(const vorn_bson_iterator *i);
const char *vorn_bson_iterator_key(const vorn_bson_iterator *i);
const char *vorn_bson_iterator_value(const vorn_bson_iterator *i);
double vorn_bson_iterator_double(const vorn_bson_iterator *i);
int32_t vorn_bson_iterator_int(const vorn_bson_iterator *i);
int64_t vorn_bson_iterator_long(const vorn_bson_iterator *i);
int vorn_bson_iterator_bool(const vorn_bson_iterator *i);
const char *vorn_bson_iterator_string(const vorn_bson_iterator *i);
const char *vorn_bson_iterator_code(const vorn_bson_iterator *i);

void vorn_bson_print_raw(const char *data, int depth);

// Owner of a document under construction: created and initialised on
// construction, buffer and record released on every path.
class vorn_bson_doc {
 public:
  vorn_bson_doc() : b_(vorn_bson_create()) { vorn_bson_init(b_); }
  ~vorn_bson_doc() {
    vorn_bson_destroy(b_);
    vorn_bson_free(b_);
  }
  vorn_bson_doc(const vorn_bson_doc &) = delete;
  vorn_bson_doc &operator=(const vorn_bson_doc &) = delete;
  bson *get() const { return b_; }

 private:
  bson *b_;
};

// A byte buffer from malloc, released with free.
struct vorn_free_deleter {
  void operator()(void *p) const { free(p); }
};
using vorn_buffer = std::unique_ptr<uint8_t, vorn_free_deleter>;
