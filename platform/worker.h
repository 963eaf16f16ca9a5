// A second thread for the tools' heavy work beside their main one (the
// bottom picker, compression), on machines of two cores or more. One job at
// a time: the main thread posts it and later waits for it, and shares
// nothing else with it meanwhile; the wait makes all the job wrote visible
// to the main thread. Where no thread can be had, plat_worker_start gives
// null and the caller does the work itself.
#pragma once

struct PlatWorker;  // the backend's
typedef void (*PlatJob)(void* context);

// Null when the system gives no thread.
PlatWorker* plat_worker_start();
// Starts job(context) on the worker, which must be idle (waited for).
void plat_worker_post(PlatWorker* worker, PlatJob job, void* context);
// Returns once the job posted last is done; at once when there is none.
void plat_worker_wait(PlatWorker* worker);
// Waits for the job in hand and ends the thread; worker is gone after.
void plat_worker_stop(PlatWorker* worker);
