// The worker thread on POSIX: a thread waiting on a condition for its job.
#include <pthread.h>

#include "platform/worker.h"

struct PlatWorker {
    pthread_t thread;
    pthread_mutex_t lock;
    pthread_cond_t changed;
    PlatJob job;     // the job posted and not yet done; null when idle
    void* context;
    bool stopping;
};

namespace {

void* worker_main(void* argument)
{
    PlatWorker* worker = static_cast<PlatWorker*>(argument);
    pthread_mutex_lock(&worker->lock);
    for (;;) {
        while (worker->job == nullptr && !worker->stopping) pthread_cond_wait(&worker->changed, &worker->lock);
        if (worker->job == nullptr) break;
        pthread_mutex_unlock(&worker->lock);
        worker->job(worker->context);
        pthread_mutex_lock(&worker->lock);
        worker->job = nullptr;
        pthread_cond_broadcast(&worker->changed);
    }
    pthread_mutex_unlock(&worker->lock);
    return nullptr;
}

}  // namespace

PlatWorker* plat_worker_start()
{
    PlatWorker* worker = new PlatWorker{};
    pthread_mutex_init(&worker->lock, nullptr);
    pthread_cond_init(&worker->changed, nullptr);
    if (pthread_create(&worker->thread, nullptr, worker_main, worker) != 0) {
        pthread_cond_destroy(&worker->changed);
        pthread_mutex_destroy(&worker->lock);
        delete worker;
        return nullptr;
    }
    return worker;
}

void plat_worker_post(PlatWorker* worker, PlatJob job, void* context)
{
    pthread_mutex_lock(&worker->lock);
    worker->job = job;
    worker->context = context;
    pthread_cond_broadcast(&worker->changed);
    pthread_mutex_unlock(&worker->lock);
}

void plat_worker_wait(PlatWorker* worker)
{
    pthread_mutex_lock(&worker->lock);
    while (worker->job != nullptr) pthread_cond_wait(&worker->changed, &worker->lock);
    pthread_mutex_unlock(&worker->lock);
}

void plat_worker_stop(PlatWorker* worker)
{
    plat_worker_wait(worker);
    pthread_mutex_lock(&worker->lock);
    worker->stopping = true;
    pthread_cond_broadcast(&worker->changed);
    pthread_mutex_unlock(&worker->lock);
    pthread_join(worker->thread, nullptr);
    pthread_cond_destroy(&worker->changed);
    pthread_mutex_destroy(&worker->lock);
    delete worker;
}
