// Failures on demand for the search's memory and thread start. The test programs are linked
// with --wrap for BlockAllocate and ThreadStart, so the search's calls come here first.
#pragma once

#include <cstdint>

// Makes the count-th BlockAllocate of exactly size bytes from now on fail (once).
void FailAllocation(int32_t size, int32_t count);
// Makes the next ThreadStart fail.
void FailNextThreadStart();
// Clears whatever is still armed.
void DisarmFailures();
