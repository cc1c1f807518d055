// Joinable thread behind an opaque handle.
#pragma once

struct aThreadHandle;
typedef aThreadHandle* aThreadRef;
typedef void* (*aThreadRoutine)(void* argument);

aThreadRef aThread_Create(aThreadRoutine routine, void* argument);
// Joins the thread and frees the handle; returns the join's system result (0 on success).
int aThread_Destroy(aThreadRef* thread);
void aThread_Yield();
