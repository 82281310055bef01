/* A KEL.EXE with a second thread: prints "<process id> <thread id>" and a
 * line end, then waits until it is killed. The thread id names no process. */
#define _GNU_SOURCE
#include <pthread.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t ready = PTHREAD_COND_INITIALIZER;
static long threadId = 0;

static void *Worker(void *unused) {
  (void)unused;
  pthread_mutex_lock(&lock);
  threadId = syscall(SYS_gettid);
  pthread_cond_signal(&ready);
  pthread_mutex_unlock(&lock);
  for (;;) pause();
  return NULL;
}

int main(void) {
  pthread_t worker;
  if (pthread_create(&worker, NULL, Worker, NULL) != 0) return 1;
  pthread_mutex_lock(&lock);
  while (threadId == 0) pthread_cond_wait(&ready, &lock);
  pthread_mutex_unlock(&lock);
  printf("%ld %ld\n", (long)getpid(), threadId);
  fflush(stdout);
  for (;;) pause();
}
