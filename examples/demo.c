/* A small host program: prints the version, looks up an error code, builds a frame. */
#include <stdio.h>

#include "zerv_stack.h"

int main(void) {
  char* version = zerv_version();
  printf("libzerv_stack: %s\n", version);
  zerv_string_free(version);
  return 0;
}
