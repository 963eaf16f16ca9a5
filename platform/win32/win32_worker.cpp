// The worker thread on Windows: a thread waiting on a condition variable for its job.
#include <windows.h>

#include "platform/worker.h"

struct PlatWorker {
    HANDLE thread;
    CRITICAL_SECTION lock;
    CONDITION_VARIABLE changed;
    PlatJob job;     // the job posted and not yet done; null when idle
    void* context;
    bool stopping;
};

namespace {

DWORD WINAPI worker_main(LPVOID argument)
{
    PlatWorker* worker = static_cast<PlatWorker*>(argument);
    EnterCriticalSection(&worker->lock);
    for (;;) {
        while (worker->job == nullptr && !worker->stopping) SleepConditionVariableCS(&worker->changed, &worker->lock, INFINITE);
        if (worker->job == nullptr) break;
        LeaveCriticalSection(&worker->lock);
        worker->job(worker->context);
        EnterCriticalSection(&worker->lock);
        worker->job = nullptr;
        WakeAllConditionVariable(&worker->changed);
    }
    LeaveCriticalSection(&worker->lock);
    return 0;
}

}  // namespace

PlatWorker* plat_worker_start()
{
    PlatWorker* worker = new PlatWorker{};
    InitializeCriticalSection(&worker->lock);
    InitializeConditionVariable(&worker->changed);
    worker->thread = CreateThread(nullptr, 0, worker_main, worker, 0, nullptr);
    if (worker->thread == nullptr) {
        DeleteCriticalSection(&worker->lock);
        delete worker;
        return nullptr;
    }
    return worker;
}

void plat_worker_post(PlatWorker* worker, PlatJob job, void* context)
{
    EnterCriticalSection(&worker->lock);
    worker->job = job;
    worker->context = context;
    WakeAllConditionVariable(&worker->changed);
    LeaveCriticalSection(&worker->lock);
}

void plat_worker_wait(PlatWorker* worker)
{
    EnterCriticalSection(&worker->lock);
    while (worker->job != nullptr) SleepConditionVariableCS(&worker->changed, &worker->lock, INFINITE);
    LeaveCriticalSection(&worker->lock);
}

void plat_worker_stop(PlatWorker* worker)
{
    plat_worker_wait(worker);
    EnterCriticalSection(&worker->lock);
    worker->stopping = true;
    WakeAllConditionVariable(&worker->changed);
    LeaveCriticalSection(&worker->lock);
    WaitForSingleObject(worker->thread, INFINITE);
    CloseHandle(worker->thread);
    DeleteCriticalSection(&worker->lock);
    delete worker;
}
