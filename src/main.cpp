#include "vorn_main.h"

int main(int argc, char **argv) { return vorn_main(argc, argv); }
