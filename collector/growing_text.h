// Buffers of hundreds of megabytes written from end to end, a rendered text
// above all: their pages asked for ahead of the writer, and a reader of the
// text told how far it got, so that it can compress the beginning while the
// rest is being written.
#pragma once

#include <stddef.h>

#include <functional>

// Told that the text is written up to `size` bytes from `data`. Those bytes
// neither move nor change until the writer returns.
using text_progress = std::function<void(const char* data, size_t size)>;

// Faulting in a text's pages one 4 KB page at a time as it is written costs
// more than writing them, most of all in a virtual machine. Best effort: an
// older kernel leaves them to be faulted in.

// The pages of [data, data + size), none of them touched yet, are to be huge
// pages where the kernel can.
void prefer_huge_pages(void* data, size_t size);
// Asks the kernel for the pages of [data, data + size) at once, huge where
// it can, before they are written; nothing for less than a huge page.
void prefault(void* data, size_t size);
