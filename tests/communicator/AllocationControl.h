// Makes the test program's heap allocations through operator new fail on
// demand, to drive the out-of-memory paths of code linked into it.
#pragma once

// Lets `allowed` more allocations succeed, then fails every further one until
// AllowAllAllocations. Counts allocations of every thread.
void FailAllocationsAfter(int allowed);
void AllowAllAllocations();
