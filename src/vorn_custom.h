#pragma once
// Custom command counters: a shell command's first output line is the value,
// further lines are alert texts; output on standard error marks an error.

#include <sys/types.h>

#include <cstdint>
#include <string_view>

#include "mycustom.h"
#include "vorn_customs_core.h"

constexpr int VORN_CUSTOM_TYPE_VALUE = 11;
constexpr int VORN_CUSTOM_TYPE_SERVER_STATUS = 11001;

int32_t custom_parse_conf(vorn_mycustom_counter *counter);
// Value (type other than 11001) and alert texts from a command's output.
double custom_parse_output(std::string_view text, int type, vorn_mycustom_data_custom *data);
double call_exec(const char *exec, uid_t uid, gid_t gid, int max_seconds, int counter_type, int *err,
                 vorn_mycustom_data_custom *data);

int32_t custom_init(vorn_mycustom_counter *counter);
int32_t custom_update(vorn_mycustom_counter *counter);
int32_t custom_delta(vorn_mycustom_counter *counter, uint32_t interval, uint64_t iteration);
int32_t custom_tobson(vorn_mycustom_counter *counter, bson *b);
int32_t custom_dump(vorn_mycustom_counter *counter);
int32_t custom_free(vorn_mycustom_counter *counter);

extern const vorn_counter_ops custom_ops;
