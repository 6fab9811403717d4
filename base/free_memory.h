// Handing freed memory back to the system.
#pragma once

// Returns the pages of freed heap memory to the system. The allocator
// keeps them for later use otherwise, so that the transient work of one
// step (a table parsed, a file written from another thread) stays in the
// process's resident size through every later step.
void ReturnFreedMemory();
