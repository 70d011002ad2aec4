#include "vorn_shm.h"

#include <sys/ipc.h>
#include <sys/shm.h>

int vorn_shm_get(key_t key, size_t size, bool *replaced) {
  if (replaced) *replaced = false;
  int id = shmget(key, size, IPC_CREAT | 0600);
  if (id >= 0) return id;
  vorn_shm_remove(key);
  if (replaced) *replaced = true;
  return shmget(key, size, IPC_CREAT | 0600);
}

void vorn_shm_remove(key_t key) {
  int id = shmget(key, 0, 0);
  if (id >= 0) shmctl(id, IPC_RMID, nullptr);
}
