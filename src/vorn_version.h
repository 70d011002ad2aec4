#pragma once

#define VORN_VERSION "0.6.17"
